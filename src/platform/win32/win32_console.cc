// Standard output on Windows. The C library would turn every "\n" into
// "\r\n" in text mode; console lines already carry their CR LF, so both
// standard streams are switched to binary.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/console.h"

namespace qlr {

void PrepareConsole() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // Unbuffered: nothing is left behind when a fault ends the process.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

}  // namespace qlr
