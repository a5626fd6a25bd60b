// Standard output on Windows. The C library would turn every "\n" into
// "\r\n" in text mode; console lines already carry their CR LF, so both
// standard streams are switched to binary.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/console.h"

namespace qlr {

void PrepareConsole() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

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
