#include "platform/win32/win32_error.h"

#include <string>

namespace qlr {
namespace {

// ERROR_DISK_QUOTA_EXCEEDED, which older SDK headers lack.
constexpr DWORD kDiskQuotaExceeded = 1295;

std::string SystemText(DWORD error) {
  char buffer[512] = {};
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, buffer, static_cast<DWORD>(sizeof buffer), nullptr);
  // The messages end in a line break (and often a period before it).
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' ||
                   buffer[n - 1] == '.')) {
    --n;
  }
  if (n == 0) return "system error " + std::to_string(error);
  return std::string(buffer, n);
}

}  // namespace

StatusKind KindOfWin32Error(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return StatusKind::kNotFound;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
      return StatusKind::kNoSpace;
    // Windows locks are mandatory: another holder's lock also makes reads
    // and writes of the range fail with ERROR_LOCK_VIOLATION.
    case ERROR_LOCK_VIOLATION:
    case ERROR_SHARING_VIOLATION:
      return StatusKind::kBusy;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return StatusKind::kInvalidArgument;
    // A redirector or file system without the call (locks on some shares).
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return StatusKind::kNotSupported;
    default:
      return StatusKind::kIoError;
  }
}

Status Win32ErrorStatus(DWORD error, std::string_view path) {
  if (error == ERROR_FILENAME_EXCED_RANGE) return Status::PathTooLong(path);
  return Status(KindOfWin32Error(error), path, SystemText(error));
}

}  // namespace qlr
