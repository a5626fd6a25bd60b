// Reading, writing and deleting the messages of a Squish base.
//
// A reader finds message N through record N of ".sqi" and counts messages
// by NumMsg of the base header; it never walks the frame chains. So the
// index and the header decide what a reader sees, and a write or delete
// changes them last, after everything they point to is on the disk:
//
//   write:  new frame at EndFrame, synced -> (replacing: EndFrame moved
//           past it, synced) -> old frame freed and neighbour links, synced
//           -> index record, synced -> base header, synced.
//   delete: frame freed and neighbour links, synced -> new index in a
//           temporary file, synced -> base header and the index renamed
//           into place, made durable together.
//
// An interrupted write therefore leaves either the old index and header
// (the new frame lies unused beyond EndFrame, overwritten by the next
// write) or the new ones. A deletion changes the count in ".sqd" and the
// numbering in ".sqi" at once, which no order of two writes to two files
// keeps consistent; the index is therefore prepared aside, and the header
// and the rename are made durable by one file-system sync. Where the
// system has no such sync the two files are synced one after the other,
// which leaves a short window.
//
// The header is written through the handle that holds the base's lock:
// where locks are mandatory only that handle may write the locked byte.
#include <algorithm>
#include <array>
#include <limits>
#include <string>

#include "msgbase/message.h"
#include "msgbase/squish/squish_base.h"
#include "msgbase/squish/squish_control.h"
#include "msgbase/squish/squish_frames.h"
#include "msgbase/squish/squish_hash.h"
#include "util/paths.h"

namespace qlr {
namespace {

constexpr std::uint32_t kFrameHeaderSize = SquishFrameHeader::kEncodedSize;
constexpr std::uint32_t kMsgHeaderSize = SquishMsgHeader::kEncodedSize;
constexpr std::uint32_t kIndexRecordSize = SquishIndexRecord::kEncodedSize;
constexpr std::uint64_t kMaxStreamPosition = std::numeric_limits<std::int32_t>::max();

// The index is prepared under this name beside ".sqi" during a deletion.
constexpr std::string_view kIndexTempSuffix = ".new";

std::int32_t IndexPosition(std::int32_t number) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number - 1) * kIndexRecordSize);
}

// Flushes a stream and makes its file durable. True on failure.
bool SyncStream(Stream& stream) {
  if (auto* file = dynamic_cast<BufferedFileStream*>(&stream)) return file->SyncToDisk();
  stream.Flush();
  return !stream.Ok();
}

// Takes the base's lock for one operation unless the caller holds it.
class OperationLock {
 public:
  explicit OperationLock(SquishBase& base) : base_(base), taken_(!base.Locked()) {
    failed_ = taken_ && base.LockBase(SquishBase::kMessageLockTimeoutMs);
    if (failed_) taken_ = false;
  }
  ~OperationLock() {
    if (taken_) base_.UnlockBase();
  }
  OperationLock(const OperationLock&) = delete;
  OperationLock& operator=(const OperationLock&) = delete;
  bool failed() const { return failed_; }

 private:
  SquishBase& base_;
  bool taken_;
  bool failed_ = false;
};

// Takes frame F out of the message chain and puts it into the free chain
// (marked free), changing `h` and the frames of `frames`. True when a
// link leads to where no frame is.
bool UnlinkAndFree(SquishBaseHeader& h, SquishFrames& frames, std::uint32_t offset) {
  SquishFrameHeader* frame = frames.Get(offset);
  if (frame == nullptr) return true;
  frame->frame_type = kSquishFreeFrame;

  // A frame at or beyond EndFrame is not part of the base: an append cut
  // short after linking its frame leaves such a link behind.
  const auto in_base = [&h](std::uint32_t link) { return link < h.end_frame ? link : 0; };
  const std::uint32_t prev = in_base(frame->prev_frame);
  const std::uint32_t next = in_base(frame->next_frame);
  if (prev == 0) {
    h.begin_frame = next;
  } else {
    SquishFrameHeader* p = frames.Get(prev);
    if (p == nullptr) return true;
    p->next_frame = next;
  }
  if (next == 0) {
    h.last_frame = prev;
  } else {
    SquishFrameHeader* n = frames.Get(next);
    if (n == nullptr) return true;
    n->prev_frame = prev;
  }
  if (h.num_msg > 0) --h.num_msg;
  if (h.high_msg > 0) --h.high_msg;

  // The free chain: a frame below the head goes in front, every other one
  // is appended at the tail, so the chain is not kept in offset order.
  // The checks are made in turn, each on what the one before left.
  if (h.free_frame == 0 || offset < h.free_frame) {
    if (h.free_frame != 0) {
      SquishFrameHeader* head = frames.Get(h.free_frame);
      if (head == nullptr) return true;
      head->prev_frame = offset;
    }
    frame->next_frame = h.free_frame;
    frame->prev_frame = 0;
    h.free_frame = offset;
  }
  if (offset > h.last_free_frame || (h.free_frame < offset && offset < h.last_free_frame)) {
    if (h.last_free_frame != 0) {
      SquishFrameHeader* tail = frames.Get(h.last_free_frame);
      if (tail == nullptr) return true;
      tail->next_frame = offset;
    }
    frame->prev_frame = h.last_free_frame;
    frame->next_frame = 0;
    h.last_free_frame = offset;
  }
  return false;
}

}  // namespace

bool SquishBase::ReadIndexRecord(std::int32_t number, SquishIndexRecord* record) {
  std::array<std::uint8_t, kIndexRecordSize> bytes{};
  index_stream_->Seek(IndexPosition(number));
  index_stream_->Read(bytes.data(), bytes.size());
  // A failed read left zeros: a missing record reads as offset 0.
  *record = SquishIndexRecord::DecodeFrom(bytes).value_or(SquishIndexRecord());
  return !index_stream_->Ok();
}

bool SquishBase::WriteBaseHeader(const SquishBaseHeader& header) {
  std::array<std::uint8_t, SquishBaseHeader::kEncodedSize> bytes{};
  header.EncodeTo(bytes.data());
  std::size_t written = 0;
  return !lock_file_->WriteAt(0, bytes.data(), bytes.size(), &written) || written != bytes.size();
}

bool SquishBase::SyncBaseHeader() { return !lock_file_->Sync(); }

std::optional<SquishBaseHeader> SquishBase::ReadBackHeader() {
  std::array<std::uint8_t, SquishBaseHeader::kEncodedSize> bytes{};
  std::size_t got = 0;
  if (!lock_file_->ReadAt(0, bytes.data(), bytes.size(), &got) || got != bytes.size()) {
    return std::nullopt;
  }
  return SquishBaseHeader::DecodeFrom(bytes);
}

void SquishBase::ReloadAfterFailure() {
  // What the file says wins over what this object meant to write: the
  // operation may have stopped before or after its header reached it.
  ResetStreams();
  if (const std::optional<SquishBaseHeader> header = ReadBackHeader();
      header &&
      header->num_msg <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    base_header_ = *header;
    count_ = static_cast<std::int32_t>(header->num_msg);
  }
  ResetStreams();
}

bool SquishBase::MessageChain(std::vector<std::uint32_t>* offsets) {
  ResetStreams();
  offsets->clear();
  if (!Usable() || !stream_) return true;
  const std::int32_t size = stream_->Size();
  if (size < 0) return true;
  // An empty base has BeginFrame 256 and no frame there.
  if (base_header_.num_msg == 0 && base_header_.last_frame == 0) return false;
  return WalkFrameChain(*stream_, base_header_.begin_frame, static_cast<std::uint32_t>(size),
                        offsets);
}

bool SquishBase::FreeChain(std::vector<std::uint32_t>* offsets) {
  ResetStreams();
  offsets->clear();
  if (!Usable() || !stream_) return true;
  const std::int32_t size = stream_->Size();
  if (size < 0) return true;
  return WalkFrameChain(*stream_, base_header_.free_frame, static_cast<std::uint32_t>(size),
                        offsets);
}

// ---- reading ----

bool SquishBase::ReadMessage(std::int32_t number, Message& message) {
  ResetStreams();
  if (!IsValidMsg(number) || !stream_ || !index_stream_) return true;

  SquishIndexRecord record;
  (void)ReadIndexRecord(number, &record);
  ResetStreams();
  const std::int32_t data_size = stream_->Size();
  if (data_size < 0 || record.offset > static_cast<std::uint32_t>(data_size)) return true;
  const std::uint64_t size = static_cast<std::uint64_t>(data_size);

  // Frame header and message header; what lies beyond the file reads as
  // zeros and so carries no frame id.
  std::array<std::uint8_t, kFrameHeaderSize + kMsgHeaderSize> bytes{};
  stream_->Seek(static_cast<std::int32_t>(record.offset));
  stream_->Read(bytes.data(), bytes.size());
  ResetStreams();
  const std::optional<SquishFrameHeader> frame = SquishFrameHeader::DecodeFrom(bytes);
  const std::optional<SquishMsgHeader> header =
      SquishMsgHeader::DecodeFrom(std::span<const std::uint8_t>(bytes).subspan(kFrameHeaderSize));
  if (!frame || !header || frame->frame_id != kSquishFrameId) {
    message.MsgState = 4;
    return true;
  }

  // The control information must lie inside the file; the text is cut at
  // the end of the file when its length says more. A MsgLength too small
  // for the header and the control information leaves no text.
  const std::uint64_t control_start = std::uint64_t{record.offset} + bytes.size();
  if (control_start > size || frame->ctrl_length > size - control_start) return true;
  const std::uint64_t text_start = control_start + frame->ctrl_length;
  const std::uint64_t used = std::uint64_t{kMsgHeaderSize} + frame->ctrl_length;
  const std::uint64_t text_length = frame->msg_length > used ? frame->msg_length - used : 0;
  const std::uint64_t text_end = std::min(size, text_start + text_length);

  std::string control(frame->ctrl_length, '\0');
  stream_->Seek(static_cast<std::int32_t>(control_start));
  stream_->Read(control.data(), control.size());
  if (!stream_->Ok()) return true;

  index_record_ = record;
  frame_header_ = *frame;
  msg_header_ = *header;
  message.Clear();
  TransferHeader(true, message);
  message.TrailLines.DisposeAll();
  message.Kludges.DisposeAll();
  ParseSquishControl(control, message);
  // An empty range is a message without text; a range inside the file
  // that cannot be read is a failure, not an empty text.
  if (text_end > text_start && ReadText(message, static_cast<std::int32_t>(text_start),
                                        static_cast<std::int32_t>(text_end))) {
    return true;
  }
  message.Text.ClearError();
  message.SyncAttributes(true);
  message.CompleteAddresses();
  message.MsgState = 2;
  return false;
}

// ---- writing ----

bool SquishBase::WriteMessage(std::int32_t number, Message& message) {
  ResetStreams();
  // Unlike the format's first writers this checks the state: there is no
  // file to write to otherwise.
  if (!Usable() || !stream_ || !index_stream_ || number < 1) return true;
  const OperationLock lock(*this);
  if (lock.failed()) return true;
  // Every failure is reported (the first writers always said success),
  // and the object is put back in step with what reached the files.
  if (StoreMessage(number, message)) {
    ReloadAfterFailure();
    return true;
  }
  return false;
}

bool SquishBase::StoreMessage(std::int32_t number, Message& message) {
  // A message that exists is replaced in place of its index record; a
  // number beyond the end appends.
  const bool replacing = IsValidMsg(number);
  if (!replacing) number = std::min(number, count_ + 1);

  message.SyncAttributes(false);
  TransferHeader(false, message);
  const std::string control = ComposeSquishControl(message);
  std::string text;
  if (!ComposeSquishText(message, &text)) return true;

  const std::int32_t data_size = stream_->Size();
  const std::int32_t index_size = index_stream_->Size();
  if (data_size < 0 || index_size < 0) return true;

  SquishBaseHeader h = base_header_;
  const std::uint32_t offset = h.end_frame;
  const std::uint64_t frame_length = std::uint64_t{kMsgHeaderSize} + control.size() + text.size();
  const std::uint64_t frame_end = std::uint64_t{offset} + kFrameHeaderSize + frame_length;
  // A new frame never goes over the base header, and never where the
  // streams cannot address it.
  if (offset < kSquishFirstFrame || frame_end > kMaxStreamPosition) return true;
  // An EndFrame past the end of the file is a damaged header: appending
  // there would first fill the gap, up to 2 GiB of zeros.
  if (offset > static_cast<std::uint32_t>(data_size)) return true;

  SquishFrames frames(*stream_, static_cast<std::uint32_t>(data_size));
  SquishIndexRecord old_record;
  SquishIndexRecord prev_record;
  SquishIndexRecord next_record;
  if (replacing) {
    if (ReadIndexRecord(number, &old_record)) return true;
    if (UnlinkAndFree(h, frames, old_record.offset)) return true;
  }
  // The neighbours by number: the message before, and after a replacement
  // the one that followed the replaced message.
  if (number > 1) {
    if (ReadIndexRecord(number - 1, &prev_record)) return true;
    SquishFrameHeader* prev = frames.Get(prev_record.offset);
    if (prev == nullptr) return true;
    prev->next_frame = offset;
  }
  if (replacing && number < count_) {
    if (ReadIndexRecord(number + 1, &next_record)) return true;
    SquishFrameHeader* next = frames.Get(next_record.offset);
    if (next == nullptr) return true;
    next->prev_frame = offset;
  }
  // EndFrame must lie past every frame this write touches; otherwise the
  // header is wrong and the new frame would overwrite one of them.
  if (frames.HighestEnd() > offset) return true;

  SquishFrameHeader frame;
  frame.frame_id = kSquishFrameId;
  frame.next_frame = next_record.offset;
  frame.prev_frame = prev_record.offset;
  frame.frame_length = static_cast<std::uint32_t>(frame_length);
  frame.msg_length = frame.frame_length;
  frame.ctrl_length = static_cast<std::uint32_t>(control.size());
  frame.frame_type = kSquishMessageFrame;

  SquishIndexRecord record;
  record.offset = offset;
  record.hash = SquishHash(message.GetTo());
  if (number < count_) {
    // The id of a message put between others follows the one before it.
    record.umsg_id = prev_record.umsg_id + 1;
  } else {
    h.last_frame = offset;
    // Replacing the last message keeps its id.
    record.umsg_id = old_record.umsg_id;
  }
  if (number == 1) h.begin_frame = offset;
  if (!replacing) {
    record.umsg_id = h.uid;
    // The high-water mark follows the id the message itself carries.
    h.high_water = msg_header_.umsg_id;
    ++h.uid;
  }
  h.end_frame = static_cast<std::uint32_t>(frame_end);
  ++h.num_msg;
  ++h.high_msg;

  // 1. The frame, complete, where nothing points yet.
  std::vector<std::uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(kFrameHeaderSize + frame_length));
  frame.AppendTo(&bytes);
  msg_header_.AppendTo(&bytes);
  bytes.insert(bytes.end(), control.begin(), control.end());
  bytes.insert(bytes.end(), text.begin(), text.end());
  stream_->Seek(static_cast<std::int32_t>(offset));
  stream_->Write(bytes.data(), bytes.size());
  if (SyncStream(*stream_)) return true;

  // 2. A replacement points an existing index record at the new frame
  // before the header is final, so EndFrame moves past the frame first:
  // else a crash would leave a message whose frame the next write
  // overwrites.
  if (replacing) {
    SquishBaseHeader reserved = base_header_;
    reserved.end_frame = h.end_frame;
    if (WriteBaseHeader(reserved) || SyncBaseHeader()) return true;
  }

  // 3. The links: none of them is used by a reader.
  if (frames.WriteBack() || SyncStream(*stream_)) return true;

  // 4. The index record. An append cuts off what an interrupted write may
  // have left beyond the records of the base.
  std::array<std::uint8_t, kIndexRecordSize> index_bytes{};
  record.EncodeTo(index_bytes.data());
  index_stream_->Seek(IndexPosition(number));
  index_stream_->Write(index_bytes.data(), index_bytes.size());
  if (!replacing) index_stream_->Truncate();
  if (SyncStream(*index_stream_)) return true;

  // 5. The header, which makes the message count.
  if (WriteBaseHeader(h) || SyncBaseHeader()) return true;

  base_header_ = h;
  count_ = static_cast<std::int32_t>(h.num_msg);
  frame_header_ = frame;
  index_record_ = record;
  message.MsgState = 3;
  return false;
}

// ---- deleting ----

bool SquishBase::DeleteMessage(std::int32_t number) {
  ResetStreams();
  if (!IsValidMsg(number) || !stream_ || !index_stream_) return true;
  const OperationLock lock(*this);
  if (lock.failed()) return true;
  if (RemoveMessage(number)) {
    ReloadAfterFailure();
    return true;
  }
  return false;
}

bool SquishBase::RemoveMessage(std::int32_t number) {
  const std::int32_t data_size = stream_->Size();
  const std::int32_t index_size = index_stream_->Size();
  if (data_size < 0 || index_size < 0) return true;

  SquishIndexRecord record;
  if (ReadIndexRecord(number, &record)) return true;
  SquishBaseHeader h = base_header_;
  SquishFrames frames(*stream_, static_cast<std::uint32_t>(data_size));
  if (UnlinkAndFree(h, frames, record.offset)) return true;

  // The index without record N; the records after it move down by one.
  std::string index(static_cast<std::size_t>(index_size), '\0');
  index_stream_->Seek(0);
  index_stream_->Read(index.data(), index.size());
  if (!index_stream_->Ok()) return true;
  index.erase(static_cast<std::size_t>(IndexPosition(number)), kIndexRecordSize);

  // 1. The frame marked free and the links around it: a reader, going by
  // the index, still finds every message where it was.
  if (frames.WriteBack() || SyncStream(*stream_)) return true;
  // 2. to 4. The new index and the new header together.
  if (CommitDeletion(h, index)) return true;

  frame_header_ = *frames.Get(record.offset);
  index_record_ = record;
  base_header_ = h;
  count_ = static_cast<std::int32_t>(h.num_msg);
  return false;
}

bool SquishBase::CommitDeletion(const SquishBaseHeader& h, const std::string& index) {
  const std::optional<ShortString> data_name = FileName(kExtensions[0]);
  const std::optional<ShortString> index_name = FileName(kExtensions[1]);
  if (!data_name || !index_name) return true;
  const std::string temp_name = index_name->str() + std::string(kIndexTempSuffix);
  const auto drop_temp = [&] { (void)Os().DeleteFile(temp_name); };

  {
    BufferedFileStream temp(temp_name, FileMode::kCreate);
    temp.Write(index.data(), index.size());
    if (temp.SyncToDisk() || temp.Close()) {
      drop_temp();
      return true;
    }
  }

  // The header first: a failed header write is undone or, when the file
  // holds the new header after all (a write that stopped half-way still
  // carries every changed field), completed with the rename.
  if (WriteBaseHeader(h)) {
    const std::optional<SquishBaseHeader> on_disk = ReadBackHeader();
    if (!on_disk || !(*on_disk == h)) {
      (void)WriteBaseHeader(base_header_);
      drop_temp();
      return true;
    }
  }

  // Our own handle on ".sqi" is closed for the rename (some systems refuse
  // to replace an open file) and opened again on the new file.
  index_stream_->Flush();
  index_stream_.reset();
  const bool renamed = Os().Rename(temp_name, *index_name);
  index_stream_ = std::make_unique<BufferedFileStream>(*index_name, FileMode::kOpenWrite);
  if (!renamed) {
    (void)WriteBaseHeader(base_header_);
    drop_temp();
    return true;
  }

  // One sync makes header and index durable together.
  if (Os().SyncFileSystem(*data_name)) return !index_stream_->Ok();
  if (Os().LastError().kind() != StatusKind::kInvalidArgument) return true;
  if (SyncBaseHeader()) return true;
  return !Os().SyncDirectory(JustPathName(*index_name)) || !index_stream_->Ok();
}

}  // namespace qlr
