#include "util/handle_stream.h"

#include <cstring>
#include <limits>

namespace qlr {
namespace {

constexpr std::uint64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();

Status Why(const Status& reported, std::string_view path, std::string_view what) {
  if (reported.ok()) return Status(StatusKind::kIoError, path, what);
  return reported;
}

}  // namespace

std::int32_t HandleStream::Position() {
  if (!Ok()) return -1;
  return static_cast<std::int32_t>(position_);
}

std::int32_t HandleStream::Size() {
  if (!Ok()) return -1;
  std::uint64_t size = 0;
  if (const qlr::Status known = file_.Size(&size); !known) {
    Fail(kStreamOsError, Why(known, path_, "size failed"));
    return -1;
  }
  if (size > kMaxPosition) {
    Fail(kStreamOsError, Status::Invalid(path_, "file larger than 2 GiB"));
    return -1;
  }
  return static_cast<std::int32_t>(size);
}

void HandleStream::Read(void* buffer, std::size_t n) {
  if (!Ok()) {
    std::memset(buffer, 0, n);
    return;
  }
  if (n > kMaxPosition - position_) {
    std::memset(buffer, 0, n);
    return Fail(kStreamReadError, BeyondLimit(path_, "read", n, position_));
  }
  std::size_t got = 0;
  if (const qlr::Status read = file_.ReadAt(position_, buffer, n, &got); !read) {
    std::memset(buffer, 0, n);
    return Fail(kStreamOsError, Why(read, path_, "read failed"));
  }
  if (got < n) {
    // All or nothing, as every stream reads.
    std::memset(buffer, 0, n);
    return Fail(kStreamReadError, ShortRead(path_, n, position_, position_ + got));
  }
  position_ += n;
}

void HandleStream::Seek(std::int32_t position) {
  if (!Ok()) return;
  position_ = position < 0 ? 0 : static_cast<std::uint64_t>(position);
}

void HandleStream::Truncate() {
  if (!Ok()) return;
  if (const qlr::Status cut = file_.Truncate(position_); !cut) {
    Fail(kStreamOsError, Why(cut, path_, "truncate failed"));
  }
}

void HandleStream::Write(const void* buffer, std::size_t n) {
  if (!Ok() || n == 0) return;
  if (n > kMaxPosition - position_) {
    return Fail(kStreamWriteError, BeyondLimit(path_, "write", n, position_));
  }
  std::size_t written = 0;
  const qlr::Status wrote = file_.WriteAt(position_, buffer, n, &written);
  if (!wrote || written != n) {
    const bool full = wrote.kind() == StatusKind::kNoSpace;
    return Fail(full ? kStreamWriteError : kStreamOsError, Why(wrote, path_, "write failed"));
  }
  position_ += n;
}

bool HandleStream::Sync() {
  if (!Ok()) return true;
  if (const qlr::Status synced = file_.Sync(); !synced) {
    Fail(kStreamOsError, Why(synced, path_, "sync failed"));
    return true;
  }
  return false;
}

}  // namespace qlr
