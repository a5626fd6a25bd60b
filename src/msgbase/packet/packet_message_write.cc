// Writing and deleting packed messages.
//
// A message is composed in memory first (type word, fixed part, names,
// area line, text, closing NUL), so that appending it is two writes and
// replacing a message can hand it whole to the purge that removes the old
// one. See packet_base.h for what an interrupted append leaves behind.
#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/packet/packet_base.h"
#include "support/coding.h"
#include "util/handle_stream.h"

namespace qlr {
namespace {

// A name or area tag is written up to the first byte that ends it on
// reading: a NUL, or a CR (and for the area line an LF); what followed
// would otherwise be read as the next string or as text.
std::string_view UpToAny(std::string_view text, std::string_view stops) {
  return text.substr(0, std::min(text.find_first_of(stops), text.size()));
}

// The composer of the message text writes to the base's stream; while a
// message is composed that stream is a memory stream, and the packet's
// stream is put back when this goes out of scope.
class StreamSwap {
 public:
  StreamSwap(std::unique_ptr<Stream>& slot, std::unique_ptr<Stream> replacement)
      : slot_(slot), saved_(std::exchange(slot, std::move(replacement))) {}
  ~StreamSwap() { slot_ = std::move(saved_); }
  StreamSwap(const StreamSwap&) = delete;
  StreamSwap& operator=(const StreamSwap&) = delete;

 private:
  std::unique_ptr<Stream>& slot_;
  std::unique_ptr<Stream> saved_;
};

constexpr std::size_t kMaxNameLength = 35;
constexpr std::size_t kMaxSubjectLength = 71;

}  // namespace

bool PacketBase::SyncPacket() {
  if (auto* locked = dynamic_cast<HandleStream*>(stream_.get())) return locked->Sync();
  auto* file = dynamic_cast<BufferedFileStream*>(stream_.get());
  if (file == nullptr) return true;
  return file->SyncToDisk();
}

bool PacketBase::ComposeMessage(Message& message, std::string* packed) {
  std::string composed;
  std::size_t text_start = 0;
  {
    StreamSwap swap(stream_, std::make_unique<MemoryStream>());
    Stream& out = *stream_;
    std::array<std::uint8_t, 2> type{};
    EncodeFixed16(type.data(), kPackedMsgType);
    out.Write(type.data(), type.size());
    out.Write(pkt_msg_buffer_.data(), pkt_msg_buffer_.size());
    // The fields have room for 36 bytes (To, From) and 72 (Subject), each
    // with its closing NUL; readers may refuse a longer one.
    const std::pair<std::string_view, std::size_t> names[] = {
        {message.To.view(), kMaxNameLength},
        {message.From.view(), kMaxNameLength},
        {message.Subject.view(), kMaxSubjectLength}};
    for (const auto& [name, longest] : names) {
      const std::string_view kept = UpToAny(name, std::string_view("\0\r", 2)).substr(0, longest);
      out.Write(kept.data(), kept.size());
      out.Write("\0", 1);
    }
    text_start = static_cast<std::size_t>(out.Position());
    if (!message.Area.empty()) {
      // Cut as the reader cuts a line, so the tag reads back as written.
      const ShortString line =
          ShortString("AREA:") + UpToAny(message.Area.view(), std::string_view("\0\r\n", 3));
      out.Write(line.data(), line.size());
      out.Write("\r", 1);
    }
    WriteText(message);
    const std::int32_t size = out.Size();
    out.Seek(0);
    (void)out.ReadUpTo(&composed, size < 0 ? 0 : static_cast<std::size_t>(size));
    if (!out.Ok() || static_cast<std::int32_t>(composed.size()) != size) return true;
  }
  // A NUL ends the text of a packed message for every reader: one inside
  // the text would cut it there and make the rest look like the next
  // message.
  composed.erase(
      std::remove(composed.begin() + static_cast<std::ptrdiff_t>(text_start), composed.end(), '\0'),
      composed.end());
  composed.push_back('\0');
  *packed = std::move(composed);
  return false;
}

bool PacketBase::UndoAppend(std::int32_t size, const std::array<std::uint8_t, 2>& last_two) {
  // The size first, then the old last two bytes: a packet cut back but
  // still ending in the new type word reads as before already.
  stream_->ClearError();
  stream_->Seek(size);
  stream_->Truncate();
  stream_->Seek(size - 2);
  stream_->Write(last_two.data(), last_two.size());
  (void)SyncPacket();
  stream_->ClearError();
  scanned_size_ = size;
  return true;
}

bool PacketBase::AppendPacked(const std::string& packed) {
  // A batch with a failed append is not kept in part: it ends cut back to
  // where it began, so nothing after the failure is written either.
  if (batching_ && batch_failed_) return true;
  WriteLockScope lock(*this, kWriteLockTimeoutMs);
  if (!lock.Held()) return true;
  const bool failed = AppendPackedLocked(packed);
  lock.Release();
  if (failed && batching_) batch_failed_ = true;
  return failed;
}

bool PacketBase::AppendPackedLocked(const std::string& packed) {
  // The real end of the file, read under the lock: whatever another
  // program appended since stays in front of this message.
  stream_->ClearError();
  const std::int32_t file_size = stream_->Size();
  // No header, no place for a message; and one written after a header of
  // another version would be lost to every reader.
  if (file_size < kEmptyPacketSize || Header().packet_version != kPacketVersion) return true;
  if (!StillTheOpenedFile()) return true;
  // Another writer changed the packet since it was scanned: where its last
  // message ends is found anew.
  if (file_size != scanned_size_ && ReloadLocked()) return true;
  if (cut_tail_.has_value() && CutOffTail(*cut_tail_)) return true;
  const std::int32_t size = scanned_size_;
  const std::optional<bool> terminated = EndsInTerminator(size);
  if (!terminated.has_value()) return true;
  std::array<std::uint8_t, 2> last_two{};
  stream_->Seek(size - 2);
  stream_->Read(last_two.data(), last_two.size());
  if (!stream_->Ok()) return true;
  // The first append of a batch, or one outside a batch, makes its type
  // word durable first; later appends of a batch only write.
  const bool first_step_durable = !batching_ || !batch_start_.has_value();

  // Step 1: the new type word where the terminator was. A packet without a
  // terminator keeps its last two bytes, which then belong to its last
  // text, and gets the NUL that closes that text first.
  std::int32_t at = size - 2;
  if (!*terminated) {
    at = size;
    stream_->Seek(at);
    stream_->Write("\0", 1);
    ++at;
  } else {
    stream_->Seek(at);
  }
  stream_->Write(packed.data(), 2);
  if (first_step_durable ? SyncPacket() : !stream_->Ok()) return UndoAppend(size, last_two);
  if (batching_ && !batch_start_) {
    batch_start_ = BatchStart{size, last_two, boundaries_.size(), boundaries_.back(), count_};
  }
  // Step 2: the rest of the message and the terminator after it.
  stream_->Write(packed.data() + 2, packed.size() - 2);
  stream_->Write("\0\0", 2);
  if (batching_ ? !stream_->Ok() : SyncPacket()) return UndoAppend(size, last_two);

  if (!*terminated && boundaries_.size() > 1) {
    // The last message's text now ends at the NUL written in step 1, not
    // three bytes before the old end: the scan of a reopen agrees.
    const std::int32_t old_end = boundaries_.back();
    boundaries_.back() = size;
    MovePendingEnd(old_end + 1, size + 1);
  }
  boundaries_.push_back(at + static_cast<std::int32_t>(packed.size()) - 1);
  scanned_size_ = at + static_cast<std::int32_t>(packed.size()) + 2;
  ++count_;
  return false;
}

bool PacketBase::CutOffTail(std::int32_t end) {
  // The bytes after `end` are the start of a message that no reader takes
  // for one (see packet_last_message.cc); the file then ends in the seam
  // before them, which reads the same. Durable before anything is written
  // where they were.
  stream_->ClearError();
  stream_->Seek(end);
  stream_->Truncate();
  if (SyncPacket()) {
    stream_->ClearError();
    return true;
  }
  cut_tail_.reset();
  scanned_size_ = end;
  return false;
}

void PacketBase::MovePendingEnd(std::int32_t from, std::int32_t to) {
  for (const auto& item : pending_deletes_) {
    if (item->end != from) continue;
    item->end = to;
    // The range now holds other bytes; a read error leaves a digest that a
    // purge will not find, and the deletion is then dropped, never misplaced.
    if (item->digest.has_value()) item->digest = RangeDigest(item->start, item->end).value_or(0);
  }
}

bool PacketBase::BeginBatch() {
  if (batching_ || stream_ == nullptr) return true;
  // The lock is held from here to EndBatch, so the batch's appends follow
  // each other with nothing of another writer's between them.
  WriteLockScope lock(*this, kWriteLockTimeoutMs);
  if (!lock.Held()) return true;
  batch_took_lock_ = lock.Keep();
  batching_ = true;
  batch_failed_ = false;
  batch_start_.reset();
  return false;
}

bool PacketBase::EndBatch() {
  if (!batching_) return true;
  batching_ = false;
  bool rescan = false;
  const bool failed = EndBatchLocked(&rescan);
  if (batch_took_lock_) UnlockBase();
  if (rescan) {
    // Read anew once the lock is let go: the open reads the header, which
    // only the locking handle may touch while the lock is held.
    const std::string path = path_;
    (void)Open(path);
  }
  return failed;
}

bool PacketBase::EndBatchLocked(bool* rescan) {
  if (!batch_start_) return false;
  const BatchStart start = *batch_start_;
  batch_start_.reset();
  if (!batch_failed_ && !SyncPacket()) return false;
  // Nothing of the batch counts: the packet goes back to where it began.
  (void)UndoAppend(start.size, start.last_two);
  if (boundaries_.size() < start.boundary_count || start.boundary_count == 0) {
    *rescan = true;
    return true;
  }
  // An append to a packet without a terminator moved the end of its last
  // message (and of a deletion pending for it) onto the NUL it added.
  MovePendingEnd(boundaries_[start.boundary_count - 1] + 1, start.last_boundary + 1);
  boundaries_.resize(start.boundary_count);
  boundaries_.back() = start.last_boundary;
  count_ = start.count;
  return true;
}

bool PacketBase::AppendMessage(Message& message) {
  ResetStreams();
  const bool writable = Usable() || state_ == BaseState::kOpenError;
  if (!writable || stream_ == nullptr) return true;
  message.SyncAttributes(false);
  TransferHeader(false, message);
  std::string packed;
  if (ComposeMessage(message, &packed) || AppendPacked(packed)) return true;
  message.MsgState = Message::kStateWritten;
  return false;
}

bool PacketBase::ReplaceMessage(std::int32_t number, const std::string& packed) {
  // The deletions pending before this call stay pending if it fails.
  std::vector<RangeItem> pending;
  for (const auto& item : pending_deletes_) pending.push_back(*item);
  if (DeleteMessage(number)) return true;
  const bool failed = !ApplyPendingDeletes(&packed).ok();
  // Rescan what the file holds now: the new content, or, where the purge
  // let go of the file, the old one. A purge refused before it began (the
  // lock was busy) keeps the scan it had: the header cannot be read while
  // another writer holds the lock where locks are mandatory.
  if (!failed || stream_ == nullptr) {
    const std::string path = path_;
    // After a replacement the packet holds at least that message: a scan
    // that finds none could not read it, and must not pass for success.
    const bool rescanned = !Open(path) && state_ == BaseState::kOpened;
    if (!failed && !rescanned) {
      return Fail(Status(StatusKind::kIoError, path, "replaced, but cannot be read again"));
    }
  }
  if (!failed) return false;
  for (const RangeItem& range : pending) AddPendingDelete(range.start, range.end, range.digest);
  return true;
}

bool PacketBase::WriteMessage(std::int32_t number, Message& message) {
  (void)MessageBase::WriteMessage(number, message);
  // A packet opened empty (OpenError) takes messages too, as long as its
  // file is open.
  const bool writable = Usable() || state_ == BaseState::kOpenError;
  if (!writable || stream_ == nullptr) return true;
  message.SyncAttributes(false);
  TransferHeader(false, message);
  std::string packed;
  if (ComposeMessage(message, &packed)) return true;
  // A write that did not reach the disk is reported, and undone, rather
  // than counted: a caller must never take a lost message for a stored
  // one.
  const bool replace = IsValidMsg(number);
  // A replacement rewrites the whole packet, which a batch cannot undo.
  if (replace && batching_) return true;
  const bool failed = replace ? ReplaceMessage(number, packed) : AppendPacked(packed);
  if (failed) return true;
  message.MsgState = Message::kStateWritten;
  return false;
}

bool PacketBase::DeleteMessage(std::int32_t number) {
  (void)MessageBase::DeleteMessage(number);
  if (!Usable() || !IsValidMsg(number) || batching_) return true;
  if (number >= static_cast<std::int32_t>(boundaries_.size())) return true;
  const std::int32_t size = stream_->Size();
  if (size <= kEmptyPacketSize) return true;
  // From the type word through the closing NUL, as long as the file still
  // holds a message there and is the one that was scanned.
  const std::int32_t start = boundaries_[static_cast<std::size_t>(number - 1)] + 1;
  const std::int32_t end = boundaries_[static_cast<std::size_t>(number)] + 1;
  // Read through this object's own file, the one that was scanned, even
  // where another writer has since replaced the packet: the purge finds
  // the message again by these bytes in whatever the packet holds then.
  if (end > size || !StartsMessage(start).value_or(false)) return true;
  const std::optional<std::uint64_t> digest = RangeDigest(start, end);
  if (!digest.has_value()) return true;
  AddPendingDelete(start, end, *digest);
  return false;
}

}  // namespace qlr
