// Standard output and the end of the process.
//
// Console lines are the tool's own output format (CR LF on every platform),
// so standard output is switched to binary where the C library would
// translate line ends. Output is flushed before a child starts, before a
// pause and before the process ends.
#pragma once

#include <string_view>

namespace qlr {

// Puts standard output and standard error into binary mode (Windows).
void PrepareConsole();
void WriteStdout(std::string_view text);
void FlushStdout();
// A diagnostic on standard error (flushed at once; stdout first, so the
// two streams interleave in order on a shared terminal).
void WriteStderr(std::string_view text);
// Flushes standard output and ends the process with `code`.
[[noreturn]] void EndProcess(int code);

}  // namespace qlr
