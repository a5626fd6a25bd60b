// The writers' lock of a packet: byte 0 of the .pkt file.
//
// A lock is only worth anything on the file that the packet's name leads
// to: a writer that waited on a file which another writer meanwhile
// replaced by a rename would hold a lock nobody else asks for. So the
// name is looked up before the file is opened and again once it is
// locked, and the lock is taken anew until both agree.
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "msgbase/packet/packet_base.h"
#include "platform/platform.h"
#include "util/handle_stream.h"

namespace qlr {
namespace {

// A replaced file between the look-up and the lock is rare; a name that
// keeps changing under every attempt is given up on.
constexpr int kLockAttempts = 8;

struct Identity {
  std::uint64_t volume = 0;
  std::uint64_t file_index = 0;
  bool operator==(const Identity&) const = default;
};

std::optional<Identity> IdentityOf(std::string_view path) {
  const std::optional<FileStatus> status = Os().Stat(path);
  if (!status) return std::nullopt;
  return Identity{status->volume, status->file_index};
}

// FNV-1a over 64 bits: cheap, and two different messages of one packet
// with the same length and digest are not to be expected.
constexpr std::uint64_t kDigestBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kDigestPrime = 0x100000001b3ULL;

}  // namespace

bool PacketBase::LockBase(int timeout_ms) {
  if (locked_) return false;
  if (path_.empty() || stream_ == nullptr) return true;
  const std::string_view path = path_;
  bool locked = false;
  for (int attempt = 0; attempt < kLockAttempts && !locked; ++attempt) {
    const std::optional<Identity> before = IdentityOf(path);
    switch (lock_.Acquire(path, false, timeout_ms, true)) {
      case FileByteLock::Outcome::kLocked:
        break;
      case FileByteLock::Outcome::kNoLocks:
        // Nothing to hold: the writes go through the buffered stream, as
        // on a system without byte locks they always did.
        locked_ = true;
        return false;
      case FileByteLock::Outcome::kBusy:
      case FileByteLock::Outcome::kFailed:
        return true;
    }
    const std::optional<Identity> after = IdentityOf(path);
    locked = before.has_value() && before == after;
    if (!locked) lock_.Release();
  }
  if (!locked) return true;
  locked_ = true;
  unlocked_stream_ = std::move(stream_);
  stream_ = std::make_unique<HandleStream>(*lock_.Handle(), path);
  if (!StillTheOpenedFile() && ReloadLocked()) {
    UnlockBase();
    return true;
  }
  return false;
}

void PacketBase::UnlockBase() {
  if (!locked_) return;
  locked_ = false;
  if (!lock_.Held()) return;
  // The buffered stream may hold bytes read before the writes that went
  // through the lock: it is opened anew, while the name still leads to the
  // locked file. A packet replaced by this object's own purge has its
  // buffered stream opened by the rescan that follows.
  if (unlocked_stream_ != nullptr) {
    unlocked_stream_.reset();
    stream_ = std::make_unique<BufferedFileStream>(path_, FileMode::kOpenWrite);
  } else {
    stream_.reset();
  }
  lock_.Release();
}

bool PacketBase::ReloadLocked() {
  stream_->ClearError();
  stream_->Seek(0);
  stream_->Read(pkt_header_buffer_.data(), pkt_header_buffer_.size());
  const std::int32_t size = stream_->Size();
  if (!stream_->Ok() || size < kEmptyPacketSize || Header().packet_version != kPacketVersion) {
    stream_->ClearError();
    return true;
  }
  std::vector<RangeItem> pending;
  for (const auto& item : pending_deletes_) {
    // A range without a digest names bytes of the old content only.
    if (!item->digest.has_value()) return true;
    pending.push_back(*item);
  }
  ResetBoundaries();
  if (size > kEmptyPacketSize) ScanBoundaries(size);
  count_ = static_cast<std::int32_t>(boundaries_.size() - 1);
  if (state_ != BaseState::kCreated) {
    state_ = size == kEmptyPacketSize ? BaseState::kOpenError : BaseState::kOpened;
  }
  RememberIdentity();
  // The old ranges name bytes of the old content; RelocatePendingDeletes
  // finds their messages in the new one.
  for (const RangeItem& range : pending) AddPendingDelete(range.start, range.end, range.digest);
  return false;
}

std::optional<std::uint64_t> PacketBase::RangeDigest(std::int32_t start, std::int32_t end) {
  if (start < 0 || end < start) return std::nullopt;
  std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min(kScanChunk, end - start)));
  std::uint64_t digest = kDigestBasis;
  std::int32_t at = start;
  while (at < end) {
    const std::int32_t want = std::min(kScanChunk, end - at);
    if (!ReadPacketAt(at, piece.data(), static_cast<std::size_t>(want))) return std::nullopt;
    for (std::int32_t i = 0; i < want; ++i) {
      digest = (digest ^ piece[static_cast<std::size_t>(i)]) * kDigestPrime;
    }
    at += want;
  }
  return digest;
}

bool PacketBase::RelocatePendingDeletes(std::int32_t size) {
  bool in_place = true;
  bool all_checked = true;
  for (const auto& item : pending_deletes_) {
    if (!item->digest.has_value()) {
      all_checked = false;
      continue;
    }
    if (!in_place) continue;
    if (item->end > size) {
      in_place = false;
      continue;
    }
    const std::optional<bool> starts = StartsMessage(item->start);
    if (!starts.has_value()) return true;
    const std::optional<std::uint64_t> digest = RangeDigest(item->start, item->end);
    if (!digest.has_value()) return true;
    in_place = *starts && *digest == item->digest;
  }
  if (!all_checked) {
    // Ranges given without a digest hold only on the content that was
    // scanned: the same file, still as long as the scan saw it.
    const bool scanned =
        StillTheOpenedFile() &&
        (boundaries_.size() < 2 || static_cast<std::int64_t>(size) >= boundaries_.back() + 3);
    return !in_place || !scanned;
  }
  if (in_place) return false;
  // Another writer changed the packet since the ranges were taken: each
  // message to remove is looked for among the messages the file holds now.
  std::vector<RangeItem> wanted;
  for (const auto& item : pending_deletes_) wanted.push_back(*item);
  ResetBoundaries();
  if (size > kEmptyPacketSize) ScanBoundaries(size);
  count_ = static_cast<std::int32_t>(boundaries_.size() - 1);
  std::vector<bool> taken(boundaries_.size(), false);
  for (const RangeItem& range : wanted) {
    const std::int32_t length = range.end - range.start;
    for (std::size_t i = 1; i < boundaries_.size(); ++i) {
      const std::int32_t start = boundaries_[i - 1] + 1;
      const std::int32_t end = boundaries_[i] + 1;
      if (taken[i] || end - start != length) continue;
      const std::optional<std::uint64_t> digest = RangeDigest(start, end);
      if (!digest.has_value()) return true;
      if (digest != range.digest) continue;
      taken[i] = true;
      AddPendingDelete(start, end, range.digest);
      break;
    }
  }
  return false;
}

}  // namespace qlr
