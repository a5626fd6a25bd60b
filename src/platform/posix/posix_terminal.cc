#include <unistd.h>

#include "platform/terminal.h"

namespace qlr {

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace qlr
