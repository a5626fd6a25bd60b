// Failure statuses built from GetLastError codes.
#pragma once

#include <string_view>

#include "platform/status.h"
#include "platform/win32/windows_api.h"

namespace qlr {

// The kind of failure a Win32 error code stands for.
StatusKind KindOfWin32Error(DWORD error);

// A status for `error` about `path`, with the system's message text.
Status Win32ErrorStatus(DWORD error, std::string_view path);

// The same for the calling thread's last error.
inline Status LastWin32ErrorStatus(std::string_view path) {
  return Win32ErrorStatus(::GetLastError(), path);
}

}  // namespace qlr
