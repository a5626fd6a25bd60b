// Emptying the files of a base in place (JAM, Squish): each file is cut
// back to the bytes an empty base keeps (a header, or nothing), through
// the handle that holds the base's lock where this object holds it, and
// made durable before the emptying is reported.
#pragma once

#include <cstdint>
#include <span>

#include "support/stream.h"
#include "util/files.h"

namespace qlr {

// One step on one file: `image` written at `at`, the file optionally cut
// right after it. The steps run in the order given, the one that leaves
// a base counting no message first.
struct EmptyFileStep {
  enum class Sync {
    kNow,    // at once, before the next step
    kAtEnd,  // once every step is written, in the order of the steps
    kLater,  // covered by a later step on the same file
  };
  // The file's own handle (unbuffered or buffered, as the format opens it).
  BufferedFileStream* stream = nullptr;
  // Where locks are mandatory only the handle that holds the lock may
  // touch the locked byte: a file this object has locked is written, cut
  // and synced through the lock's handle, at once, since the syncs at the
  // end go through the streams.
  FileByteLock* lock = nullptr;
  std::int32_t at = 0;
  std::span<const std::uint8_t> image = {};
  bool truncate = true;
  Sync sync = Sync::kAtEnd;
  // Set by WriteEmptyFilesInPlace: the step's write through the lock
  // failed (LastError of the lock says why), or its stream holds an error.
  bool failed = false;
};

// Runs `steps` in order, then the syncs left to the end. A failure on one
// file does not stop the others: each stream keeps its first error, and
// the caller reports the one that matters to it. True when any step
// failed.
bool WriteEmptyFilesInPlace(std::span<EmptyFileStep> steps);

}  // namespace qlr
