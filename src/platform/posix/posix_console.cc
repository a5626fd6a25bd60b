// Standard output on POSIX: the C library writes bytes unchanged.
#include <cstdio>

#include "platform/console.h"

namespace qlr {

void PrepareConsole() {
  // Unbuffered: every write reaches the file at once, so nothing is left
  // behind when the process ends with a fault report, whose signal handler
  // cannot safely flush stdio.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
}

}  // namespace qlr
