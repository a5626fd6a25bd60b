// Whether a standard stream is a terminal, for output meant only for a
// person watching (progress lines), never for a script reading a pipe.
#pragma once

namespace qlr {

// True when standard error is an interactive terminal (console).
bool StderrIsTerminal();

}  // namespace qlr
