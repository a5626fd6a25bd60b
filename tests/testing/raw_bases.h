// Bases of the binary formats holding placeholder messages, made with the
// library's own Create and raw records, for tests that need a count (the
// rotation) rather than readable messages.
#pragma once

#include <string>

namespace qlr::testing {

// Creates the base `base_path` (without extension) of the format given by
// its type character ('!' JAM, '$' Squish, 'P' packet) holding `count`
// messages as each format counts them: JAM index records with their
// headers, Squish index records and NumMsg, packed messages in a packet.
// Records a test failure when the base cannot be made.
void MakeRawBase(char type, const std::string& base_path, int count);

}  // namespace qlr::testing
