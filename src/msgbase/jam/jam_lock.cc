#include "msgbase/jam/jam_lock.h"

#include <algorithm>

namespace qlr {

bool JamBaseLock::Acquire(std::string_view header_file, int timeout_ms) {
  if (Held()) return false;
  std::unique_ptr<FileHandle> handle = Os().OpenFile(header_file, OpenMode::kReadWrite);
  if (handle == nullptr) {
    last_error_ = Os().LastError();
    return true;
  }
  // The time waited is the sum of the pauses, not a clock reading: the
  // bound holds however slowly each attempt itself runs.
  int waited = 0;
  while (!handle->TryLock(0, 1)) {
    last_error_ = handle->LastError();
    if (last_error_.kind() != StatusKind::kBusy || waited >= timeout_ms) return true;
    const int pause = std::min(kRetryStepMs, timeout_ms - waited);
    Os().Sleep(pause);
    waited += pause;
  }
  handle_ = std::move(handle);
  last_error_ = Status::Ok();
  return false;
}

void JamBaseLock::Release() {
  if (handle_ == nullptr) return;
  // Closing the handle frees the lock even when Unlock fails, so there is
  // nothing further to do about a failure here.
  static_cast<void>(handle_->Unlock(0, 1));
  static_cast<void>(handle_->Close());
  handle_.reset();
}

}  // namespace qlr
