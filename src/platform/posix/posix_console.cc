// Standard output on POSIX: the C library writes bytes unchanged, so the
// console needs no preparation.
#include "platform/console.h"

namespace qlr {

void PrepareConsole() {}

}  // namespace qlr
