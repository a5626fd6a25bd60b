// Failure statuses built from errno.
#pragma once

#include <string_view>

#include "platform/status.h"

namespace qlr {

// The kind of failure an errno value stands for in general. A lock
// conflict (EAGAIN, EACCES from fcntl) is not general: see LockErrorStatus.
StatusKind KindOfErrno(int error);

// A status for `error` about `path`, with the system's error text.
Status ErrnoStatus(int error, std::string_view path);

// As ErrnoStatus, for a failed fcntl lock request: EAGAIN and EACCES mean
// that another holder has the range (kBusy).
Status LockErrorStatus(int error, std::string_view path);

}  // namespace qlr
