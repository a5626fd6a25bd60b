// Standard output on POSIX: the C library writes bytes unchanged, so the
// console needs no preparation.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/console.h"

namespace qlr {

void PrepareConsole() {}

void WriteStdout(std::string_view text) {
  if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

void FlushStdout() { std::fflush(stdout); }

void EndProcess(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(code);
}

}  // namespace qlr
