#include "msgbase/packet/packet_base.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "msgbase/file_set_check.h"
#include "msgbase/ftn_address.h"
#include "msgbase/ftn_date.h"
#include "platform/platform.h"
#include "support/coding.h"
#include "util/file_name_case.h"
#include "util/files.h"
#include "util/paths.h"

namespace qlr {
namespace {

// The last byte of the packet header: the boundary before message 1.
constexpr std::int32_t kHeaderLastByte = kPacketHeaderSize - 1;
// The strings of message 1 start after the header and its fixed part; the
// binary fields before them are never searched, as they may hold any byte.
constexpr std::int32_t kFirstTextOffset = kPacketHeaderSize + kPackedMsgHeaderSize;
// A match at P is the NUL at P; the next message's strings start after its
// type word and the rest of its fixed part.
constexpr std::int32_t kMatchToNextText = 1 + kPackedMsgHeaderSize;
// The NUL that ends a text, then the next message's type word 2.
constexpr std::array<std::uint8_t, 3> kMessageSeam = {0x00, 0x02, 0x00};
constexpr std::int32_t kSeamTail = static_cast<std::int32_t>(kMessageSeam.size()) - 1;

// Index of the first seam in data[0, n); n when there is none. The type
// byte 02 is rare in names and text, unlike NUL, so memchr looks for it
// and only its neighbours are then compared.
std::size_t FindSeam(const std::uint8_t* data, std::size_t n) {
  if (n < kMessageSeam.size()) return n;
  const std::uint8_t* p = data + 1;
  const std::uint8_t* const end = data + n - 1;  // the last byte cannot be a seam's middle
  while (p < end) {
    const void* hit = std::memchr(p, kMessageSeam[1], static_cast<std::size_t>(end - p));
    if (hit == nullptr) break;
    p = static_cast<const std::uint8_t*>(hit);
    if (p[-1] == kMessageSeam[0] && p[1] == kMessageSeam[2]) {
      return static_cast<std::size_t>(p - 1 - data);
    }
    ++p;
  }
  return n;
}

}  // namespace

PacketBase::PacketBase() = default;

PacketBase::~PacketBase() {
  // The last resort for an owner that deleted messages and did not call
  // Purge: the deletions are made all the same, without the reopen (nothing
  // reads the packet any more). Nobody is left to hear of a failure, so it
  // is kept where it harms least: the packet stays whole, with every
  // message in it, and the reason stays in LastError until the object is
  // gone. An owner that must report calls Purge and reports its result.
  if (pending_deletes_.ItemCount() > 0) {
    if (Status why = ApplyPendingDeletes(); !why.ok()) Fail(std::move(why));
  }
}

// ---- header ----

PacketHeader PacketBase::Header() const {
  // The buffer is longer than the header, so the decoder cannot refuse it.
  return PacketHeader::DecodeFrom(pkt_header_buffer_).value_or(PacketHeader{});
}

void PacketBase::StoreHeader(const PacketHeader& header) {
  // Writes the first 58 bytes; the word after the header stays.
  header.EncodeTo(pkt_header_buffer_.data());
}

void PacketBase::GetOrigAddress(ShortString& address) {
  const PacketHeader h = Header();
  address = AddressToText(h.orig_zone, h.orig_net, h.orig_node, h.orig_point);
}

void PacketBase::GetDestAddress(ShortString& address) {
  const PacketHeader h = Header();
  address = AddressToText(h.dest_zone, h.dest_net, h.dest_node, h.dest_point);
}

void PacketBase::GetPassword(ShortString& password) {
  password = DecodeFixedText(Header().password, PacketHeader::kPasswordWidth);
}

void PacketBase::SetOrigAddress(std::string_view address) {
  // Words are taken by position only ("123/45" is zone 123, net 45); a
  // domain after "@" has no place in the header.
  const FtnAddress a = ParseAddress(address);
  PacketHeader h = Header();
  h.orig_zone_copy = a.zone;
  h.orig_zone = a.zone;
  h.orig_net = a.net;
  h.orig_node = a.node;
  h.orig_point = a.point;
  StoreHeader(h);
}

void PacketBase::SetDestAddress(std::string_view address) {
  const FtnAddress a = ParseAddress(address);
  PacketHeader h = Header();
  h.dest_zone_copy = a.zone;
  h.dest_zone = a.zone;
  h.dest_net = a.net;
  h.dest_node = a.node;
  h.dest_point = a.point;
  StoreHeader(h);
}

void PacketBase::SetPassword(std::string_view password) {
  // At most 8 characters, NUL-terminated only when shorter; the bytes
  // after the NUL stay as they were.
  PacketHeader h = Header();
  EncodeFixedText(h.password.data(), h.password.size(), password);
  StoreHeader(h);
}

// ---- open, create, scan ----

void PacketBase::ResetBoundaries() {
  boundaries_.clear();
  boundaries_.push_back(kHeaderLastByte);
  scanned_size_ = kEmptyPacketSize;
  cut_tail_.reset();
  pending_deletes_.DisposeAll();
}

bool PacketBase::Refuse() {
  stream_.reset();
  ResetBoundaries();
  state_ = BaseState::kOpenError;
  count_ = 0;
  return true;
}

void PacketBase::ScanBoundaries(std::int32_t size) {
  // One forward pass in whole chunks. window[0, filled) holds the file
  // bytes from `window_start` up to `read_pos`; `next` is the first offset
  // a match may start at. The last two bytes of a chunk are moved in front
  // of the next one, so a seam that straddles two chunks is found.
  std::vector<std::uint8_t> window(static_cast<std::size_t>(kScanChunk + kSeamTail));
  std::size_t filled = 0;
  std::int64_t window_start = kFirstTextOffset;
  std::int64_t read_pos = kFirstTextOffset;
  std::int64_t next = kFirstTextOffset;
  const std::size_t first_count = boundaries_.size();
  bool estimated = false;
  while (true) {
    if (next < read_pos) {
      const auto from = static_cast<std::size_t>(next - window_start);
      const std::size_t hit = FindSeam(window.data() + from, filled - from);
      if (hit != filled - from) {
        const std::int64_t at = next + static_cast<std::int64_t>(hit);
        boundaries_.push_back(static_cast<std::int32_t>(at));
        next = at + kMatchToNextText;
        continue;
      }
    }
    // The skipped fixed part of a message may reach past what was read.
    if (next > read_pos) read_pos = next;
    if (read_pos >= size) break;
    if (read_pos > kFirstTextOffset && !estimated) {
      // After the first piece: room for as many boundaries as its density
      // promises for the whole file (and never more than could fit), so
      // the list of a big packet is not copied again and again as it grows.
      estimated = true;
      const auto span = static_cast<std::uint64_t>(read_pos - kFirstTextOffset);
      const auto rest = static_cast<std::uint64_t>(size - kFirstTextOffset);
      const std::uint64_t seen = boundaries_.size() - first_count;
      const std::uint64_t most = rest / kMatchToNextText + 2;
      const std::uint64_t guess = std::min(most, seen * rest / span + seen / 8 + 16);
      boundaries_.reserve(boundaries_.size() + static_cast<std::size_t>(guess));
    }
    // No match starts before keep_from: it would have been found whole.
    const std::int64_t keep_from = std::max(next, read_pos - kSeamTail);
    const auto kept = static_cast<std::size_t>(read_pos - keep_from);
    if (kept > 0) {
      std::memmove(window.data(),
                   window.data() + static_cast<std::ptrdiff_t>(keep_from - window_start), kept);
    }
    window_start = next = keep_from;
    const auto chunk =
        static_cast<std::size_t>(std::min<std::int64_t>(kScanChunk, size - read_pos));
    stream_->Seek(static_cast<std::int32_t>(read_pos));
    stream_->Read(window.data() + kept, chunk);
    if (!stream_->Ok()) break;
    filled = kept + chunk;
    read_pos += static_cast<std::int64_t>(chunk);
  }
  // A read error ends the search like the end of the file: whatever
  // follows the last seam is taken as the last message.
  stream_->ClearError();
  EndLastMessage(size);
}

bool PacketBase::Open(std::string_view path) {
  const std::string file = NameAsItExists(path);
  const bool result = MessageBase::Open(file);
  ResetBoundaries();
  stream_.reset();
  stream_ = std::make_unique<BufferedFileStream>(file, FileMode::kOpenWrite);
  stream_->Read(pkt_header_buffer_.data(), pkt_header_buffer_.size());
  RememberIdentity();
  // A missing or short file counts as an empty packet; the file, if any,
  // stays open. A header that another writer's lock keeps from being read
  // (where locks are mandatory) is a failure, not an empty packet.
  if (!stream_->Ok() && stream_->LastError().kind() == StatusKind::kBusy) return Refuse();
  if (!stream_->Ok()) {
    state_ = BaseState::kOpenError;
    return false;
  }
  // Beyond the 2 GiB the streams can address, offsets would wrap: refuse.
  const std::int32_t size = stream_->Size();
  if (size < 0) return Refuse();
  if (size == kEmptyPacketSize) {
    state_ = BaseState::kOpenError;
    return false;
  }
  if (Header().packet_version != kPacketVersion) {
    state_ = BaseState::kBadFormat;
    stream_.reset();
    return result;
  }
  ScanBoundaries(size);
  state_ = BaseState::kOpened;
  count_ = static_cast<std::int32_t>(boundaries_.size() - 1);
  return false;
}

bool PacketBase::Create(std::string_view path) {
  const std::string file = NameAsItExists(path);
  (void)MessageBase::Create(file);
  ResetBoundaries();
  stream_.reset();
  const FileMode mode = FileExists(file) ? FileMode::kOpenWrite : FileMode::kCreate;
  stream_ = std::make_unique<BufferedFileStream>(file, mode);
  // A file that cannot be made (or opened) is a failure, not an empty
  // packet: reporting 0 messages would pass a base that does not exist.
  if (!stream_->Ok()) {
    (void)Fail(StreamFailure(*stream_, file, "cannot be created"));
    return Refuse();
  }
  const std::int32_t old_size = stream_->Size();
  if (old_size < 0) return Refuse();  // beyond 2 GiB

  PacketHeader h = Header();
  StampPacketHeader(h, CurrentDateTime());
  StoreHeader(h);
  // The first message's type word, rewritten unchanged, or the terminator
  // of a new empty packet.
  EncodeFixed16(pkt_header_buffer_.data() + kPacketHeaderSize,
                old_size > kEmptyPacketSize ? kPackedMsgType : 0);

  stream_->Seek(0);
  stream_->Write(pkt_header_buffer_.data(), pkt_header_buffer_.size());
  // The header must really be in the file before the base counts as made.
  stream_->Flush();
  if (!stream_->Ok()) return Refuse();
  const std::int32_t size = stream_->Size();
  if (size < 0) return Refuse();
  state_ = BaseState::kCreated;
  RememberIdentity();
  if (size != kEmptyPacketSize) {
    ScanBoundaries(size);
    count_ = static_cast<std::int32_t>(boundaries_.size() - 1);
  }
  return false;
}

// ---- identity ----

void PacketBase::RememberIdentity() {
  volume_ = file_index_ = 0;
  if (const std::optional<FileStatus> status = Os().Stat(path_)) {
    volume_ = status->volume;
    file_index_ = status->file_index;
  }
}

bool PacketBase::StillTheOpenedFile() {
  if (volume_ == 0 && file_index_ == 0) return true;
  const std::optional<FileStatus> status = Os().Stat(path_);
  return status.has_value() && status->volume == volume_ && status->file_index == file_index_;
}

// ---- deletions ----

void PacketBase::AddPendingDelete(std::int32_t start, std::int32_t end,
                                  std::optional<std::uint64_t> digest) {
  pending_deletes_.Insert(std::make_unique<RangeItem>(RangeItem{start, end, digest}));
}

std::optional<bool> PacketBase::EndsInTerminator(std::int32_t size) {
  if (size <= kEmptyPacketSize) return true;
  std::array<std::uint8_t, 2> last{};
  stream_->Seek(size - 2);
  stream_->Read(last.data(), last.size());
  if (!stream_->Ok()) return std::nullopt;
  return last[1] == 0 && (last[0] == 0 || last[0] == kPackedMsgType);
}

bool PacketBase::ReadPacketAt(std::int32_t offset, std::uint8_t* bytes, std::size_t n) {
  if (offset < 0) return false;
  if (FileHandle* file = lock_.Handle()) {
    std::size_t got = 0;
    return file->ReadAt(static_cast<std::uint64_t>(offset), bytes, n, &got) && got == n;
  }
  if (stream_ == nullptr) return false;
  stream_->ClearError();
  stream_->Seek(offset);
  stream_->Read(bytes, n);
  const bool ok = stream_->Ok();
  stream_->ClearError();
  return ok;
}

std::optional<bool> PacketBase::StartsMessage(std::int32_t start) {
  // Message 1 follows the header, whose last byte may hold anything; every
  // other message follows the NUL that closes the text before it.
  const bool first = start - 1 == kHeaderLastByte;
  std::array<std::uint8_t, 3> seam{};
  const std::int32_t size = stream_ == nullptr ? -1 : stream_->Size();
  if (size < 0) return std::nullopt;
  if (start + 2 > size) return false;
  if (!ReadPacketAt(start - 1, seam.data(), seam.size())) return std::nullopt;
  return (first || seam[0] == 0) && seam[1] == kPackedMsgType && seam[2] == 0;
}

Status PacketBase::WritePurgedCopy(const std::string& temp_path, std::int32_t size,
                                   const std::string* tail) {
  // With a tail the old terminator is not copied: the new message takes
  // its place. A packet without one keeps all its bytes, and the NUL that
  // closes its last text comes before the new message.
  // The cut start of a message after the last seam is not copied before
  // a new message, which would close it.
  if (tail != nullptr && cut_tail_.has_value() && size == scanned_size_) size = *cut_tail_;
  std::int32_t kept_end = size;
  bool needs_nul = false;
  if (tail != nullptr) {
    const std::optional<bool> terminated = EndsInTerminator(size);
    if (!terminated.has_value()) return StreamFailure(*stream_, path_, "cannot be read");
    if (*terminated) {
      kept_end = size - 2;
    } else {
      needs_nul = true;
    }
  }
  RemoveStaleTemporary(temp_path);
  BufferedFileStream out(temp_path, FileMode::kCreateNew);
  if (!out.Ok()) return StreamFailure(out, temp_path, "cannot be created");
  std::int32_t pos = 0;
  for (const auto& item : pending_deletes_) {
    const RangeItem& range = *item;
    if (range.start < 0 || range.start > range.end) continue;
    if (range.start > kept_end || range.end > kept_end) break;
    // Overlapping ranges remove their union; nothing removed comes back.
    if (range.start > pos) {
      stream_->Seek(pos);
      out.CopyFromStream(*stream_, range.start - pos);
    }
    pos = std::max(pos, range.end);
  }
  if (kept_end > pos) {
    stream_->Seek(pos);
    out.CopyFromStream(*stream_, kept_end - pos);
  }
  if (!stream_->Ok()) return StreamFailure(*stream_, path_, "cannot be read");
  if (tail != nullptr) {
    if (needs_nul) out.Write("\0", 1);
    out.Write(tail->data(), tail->size());
    out.Write("\0\0", 2);
  }
  // Durable before it replaces the packet.
  return CloseDurably(out, temp_path, "cannot be written");
}

Status PacketBase::ApplyPendingDeletes(const std::string* tail) {
  Status why;
  if (stream_ != nullptr && pending_deletes_.ItemCount() > 0) {
    // The new content goes to a temporary file that replaces the packet in
    // one rename, so at every moment the packet's name holds either the
    // whole old content or the whole new one. The kept bytes are copied in
    // bounded pieces: any packet the streams can address can be purged.
    // The lock is held through the rename: a writer let in before it would
    // append to the file that the rename then drops.
    WriteLockScope lock(*this, kWriteLockTimeoutMs);
    if (!lock.Held()) {
      why = lock_.LastError().ok() ? Status(StatusKind::kBusy, path_, "cannot be locked")
                                   : lock_.LastError();
    } else {
      stream_->ClearError();
      const std::int32_t size = stream_->Size();
      const std::string packet(path_);
      const std::string temp = packet + std::string(kPurgeTempSuffix);
      bool replaced = false;
      // Ranges taken from a scan of other content would cut its messages
      // apart: they are first found again in the packet as it is now.
      const bool usable = size >= kEmptyPacketSize && !RelocatePendingDeletes(size);
      if (usable && pending_deletes_.ItemCount() == 0 && tail == nullptr) {
        // Every message to remove is gone already.
        replaced = true;
      } else if (!usable) {
        why = Status::Corruption(packet, "changed, and the messages to delete are not found");
      } else if (why = WritePurgedCopy(temp, size, tail); why.ok()) {
        // The copy takes the packet's permissions. The buffered stream is
        // closed before the rename, which some systems refuse for an open
        // file.
        const std::optional<FileStatus> status = Os().Stat(packet);
        if (!status.has_value() || !Os().RestoreNativeMode(temp, status->native_mode)) {
          why = Status(StatusKind::kIoError, temp, "cannot take the packet's permissions");
        } else {
          if (lock_.Held()) {
            unlocked_stream_.reset();
          } else {
            stream_.reset();
          }
          const Status renamed = Os().Rename(temp, packet);
          replaced = renamed.ok();
          if (!replaced && lock_.Held() && renamed.kind() == StatusKind::kBusy) {
            // Where an open file cannot be replaced (Windows), the lock's
            // own handle stands in the way and is let go first. A writer
            // that opens the old packet in the moment between keeps the
            // rename from happening, so nothing it appends is lost.
            stream_.reset();
            lock_.Release();
            replaced = Os().Rename(temp, packet).ok();
          }
          if (replaced) {
            // Makes the rename itself durable; the packet is complete
            // either way.
            const std::string directory = JustPathName(packet);
            (void)Os().SyncDirectory(directory.empty() ? std::string_view(".") : directory);
          }
        }
      }
      if (!replaced) {
        DeleteFileIfExists(temp);
        if (why.ok()) why = Status(StatusKind::kIoError, packet, "cannot be replaced");
      }
      lock.Release();
    }
  }
  // Also when nothing could be removed: the deletions are not retried.
  pending_deletes_.DisposeAll();
  return why;
}

Status PacketBase::Purge() {
  // A purge that failed leaves the packet as it was; the rescan shows it.
  Status why = ApplyPendingDeletes();
  // Rescan what the file holds now. Its result is not needed: the state
  // tells what was found.
  if (!path_.empty()) {
    const std::string path = path_;
    (void)Open(path);
  }
  return why;
}

void PacketBase::Discard() {
  pending_deletes_.DisposeAll();
  stream_.reset();
  unlocked_stream_.reset();
  lock_.Release();
  locked_ = false;
  batch_took_lock_ = false;
  batching_ = false;
  batch_failed_ = false;
  batch_start_.reset();
  boundaries_.clear();
  path_.clear();
  count_ = 0;
  state_ = BaseState::kClosed;
}

}  // namespace qlr
