// A console handle accepts GetConsoleMode; a file or pipe does not.
#include "platform/terminal.h"
#include "platform/win32/windows_api.h"

namespace qlr {

bool StderrIsTerminal() {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

}  // namespace qlr
