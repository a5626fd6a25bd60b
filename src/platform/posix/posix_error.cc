#include "platform/posix/posix_error.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace qlr {
namespace {

// strerror_r comes in two forms: the XSI one returns 0 and fills the
// buffer, the GNU one returns the text (which may not be the buffer).
// Overloads on the result type pick whichever the C library declares.
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* ErrorText(const char* result, const char*) { return result; }

std::string SystemText(int error) {
  char buffer[256] = {};
  const char* text = ErrorText(::strerror_r(error, buffer, sizeof buffer), buffer);
  if (text == nullptr || *text == '\0') return "system error " + std::to_string(error);
  return text;
}

}  // namespace

StatusKind KindOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return StatusKind::kNotFound;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
#if defined(EFBIG)
    case EFBIG:  // past the largest size this file may have
#endif
      return StatusKind::kNoSpace;
    case EINVAL:
    case ENAMETOOLONG:
      return StatusKind::kInvalidArgument;
    case ENOSYS:
    case EOPNOTSUPP:
#if defined(ENOTSUP) && ENOTSUP != EOPNOTSUPP
    case ENOTSUP:
#endif
      return StatusKind::kNotSupported;
    default:
      return StatusKind::kIoError;
  }
}

Status ErrnoStatus(int error, std::string_view path) {
  if (error == ENAMETOOLONG) return Status::PathTooLong(path);
  return Status(KindOfErrno(error), path, SystemText(error));
}

Status LockErrorStatus(int error, std::string_view path) {
  if (error == EAGAIN || error == EACCES) {
    return Status(StatusKind::kBusy, path, SystemText(error));
  }
  // A file system without a lock service (NFS without its lock daemon).
  if (error == ENOLCK) return Status(StatusKind::kNotSupported, path, SystemText(error));
  return ErrnoStatus(error, path);
}

}  // namespace qlr
