// Process-wide settings made once at start-up, before any file is written.
#pragma once

namespace qlr {

// A write past a file-size limit (ulimit -f) raises SIGXFSZ on POSIX, whose
// default action ends the process without a word, possibly halfway through
// a copy. With the signal ignored the write fails with EFBIG instead, and
// the copy reports its failure like a full disk. Nothing to do on Windows.
void IgnoreFileSizeSignal();

}  // namespace qlr
