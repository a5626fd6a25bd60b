// Standard output through the C library, the same on every platform once
// PrepareConsole has made the streams binary.
#include "platform/console.h"

#include <cstdio>
#include <cstdlib>

namespace qlr {

void WriteStdout(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void FlushStdout() { std::fflush(stdout); }

void WriteStderr(std::string_view text) {
  std::fflush(stdout);
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

void EndProcess(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(code);
}

}  // namespace qlr
