#include "msgbase/jam/jam_lock.h"

#include <algorithm>
#include <string>

namespace qlr {

bool JamBaseLock::Acquire(std::string_view header_file, int timeout_ms) {
  if (Held()) return false;
  auto handle = Os().OpenFile(header_file, OpenMode::kReadWrite);
  if (!handle) {
    last_error_ = handle.status();
    return true;
  }
  // The time waited is the sum of the pauses, not a clock reading: the
  // bound holds however slowly each attempt itself runs.
  int waited = 0;
  while (!(last_error_ = handle->TryLock(0, 1))) {
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

bool JamBaseLock::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) {
  if (handle_ == nullptr) {
    last_error_ = Status::Invalid({}, "the base is not locked");
    return true;
  }
  std::size_t got = 0;
  if (const Status read = handle_->ReadAt(offset, bytes.data(), bytes.size(), &got); !read) {
    last_error_ = read;
    return true;
  }
  if (got < bytes.size()) {
    last_error_ = Status(StatusKind::kIoError, {},
                         "short read: " + std::to_string(got) + " of " +
                             std::to_string(bytes.size()) + " bytes at " + std::to_string(offset));
    return true;
  }
  return false;
}

bool JamBaseLock::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (handle_ == nullptr) {
    last_error_ = Status::Invalid({}, "the base is not locked");
    return true;
  }
  std::size_t written = 0;
  const Status wrote = handle_->WriteAt(offset, bytes.data(), bytes.size(), &written);
  if (!wrote || written < bytes.size()) {
    last_error_ = wrote.ok() ? Status(StatusKind::kIoError, {}, "short write") : wrote;
    return true;
  }
  return false;
}

bool JamBaseLock::Truncate(std::uint64_t size) {
  if (handle_ == nullptr) {
    last_error_ = Status::Invalid({}, "the base is not locked");
    return true;
  }
  if (const Status cut = handle_->Truncate(size); !cut) {
    last_error_ = cut;
    return true;
  }
  return false;
}

bool JamBaseLock::Sync() {
  if (handle_ == nullptr) {
    last_error_ = Status::Invalid({}, "the base is not locked");
    return true;
  }
  if (const Status synced = handle_->Sync(); !synced) {
    last_error_ = synced;
    return true;
  }
  return false;
}

}  // namespace qlr
