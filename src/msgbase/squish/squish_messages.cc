// Reading, writing and deleting the messages of a Squish base.
//
// A reader finds message N through record N of ".sqi" and counts messages
// by NumMsg of the base header; it never walks the frame chains. So the
// index and the header decide what a reader sees, and a write or delete
// changes them last, after everything they point to is on the disk:
//
//   append:  new frame at EndFrame and the link to it, synced -> index
//            record, synced -> base header, synced.
//   replace: new frame at EndFrame, synced -> EndFrame moved past it,
//            synced -> index record, synced -> old frame freed and
//            neighbour links, synced -> base header, synced.
//   delete:  records after N moved down by one in place, synced -> frame
//            freed, neighbour links and base header, synced -> index cut
//            by one record, synced.
//
// An interrupted append or replace leaves the old index and header (the
// new frame lies unused beyond EndFrame, overwritten by the next write)
// or the new ones. A replace cut short after its index record leaves
// links, or an end of the chain in the header, that still name the old
// frame; the next writer moves them as the replace would have
// (SettleCutReplace). A deletion changes the count in ".sqd" and the
// numbering in ".sqi", which no order of writes to two files changes at
// once. The index is shifted in place (other programs hold it open while
// an area is open, so it is never replaced by another file), first: a
// deletion cut short then leaves every other message where a reader finds
// it, the last one twice (Open counts it once), or, after the header,
// one record beyond NumMsg that nobody reads.
//
// Other programs write the same base. Every write and delete takes the
// lock first and then reads the header and the index as they are now;
// nothing this object saw before counts. Under the lock every byte of
// ".sqd" is read and written through the handle that holds the lock
// (where locks are mandatory no other handle may touch the locked byte),
// and ".sqi" through a handle without a buffer.
#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/squish/squish_base.h"
#include "msgbase/squish/squish_control.h"
#include "msgbase/squish/squish_frames.h"
#include "msgbase/squish/squish_hash.h"
#include "util/handle_stream.h"

namespace qlr {
namespace {

constexpr std::uint32_t kFrameHeaderSize = SquishFrameHeader::kEncodedSize;
constexpr std::uint32_t kMsgHeaderSize = SquishMsgHeader::kEncodedSize;
constexpr std::uint32_t kIndexRecordSize = SquishIndexRecord::kEncodedSize;
constexpr std::uint64_t kMaxStreamPosition = std::numeric_limits<std::int32_t>::max();

std::int32_t IndexPosition(std::int32_t number) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number - 1) * kIndexRecordSize);
}

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
  return lock_.WriteAt(0, bytes);
}

bool SquishBase::SyncBaseHeader() { return lock_.Sync(); }

std::optional<SquishBaseHeader> SquishBase::ReadBackHeader() {
  std::array<std::uint8_t, SquishBaseHeader::kEncodedSize> bytes{};
  if (lock_.ReadAt(0, bytes)) return std::nullopt;
  return SquishBaseHeader::DecodeFrom(bytes);
}

void SquishBase::ReloadAfterFailure() {
  // What the file says wins over what this object meant to write: the
  // operation may have stopped before or after its header reached it.
  // The count stays bounded by the records the index holds, as Open
  // bounds it: a refused write on a damaged base must not adopt its
  // header's NumMsg.
  ResetStreams();
  std::uint64_t index_size = 0;
  if (index_file_ == nullptr || !index_file_->Size(&index_size)) index_size = 0;
  if (const std::optional<SquishBaseHeader> header = ReadBackHeader()) {
    base_header_ = *header;
    count_ = static_cast<std::int32_t>(
        std::min<std::uint64_t>(header->num_msg, index_size / kIndexRecordSize));
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
    message.MsgState = Message::kStateRejected;
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
  message.MsgState = Message::kStateRead;
  return false;
}

// ---- the state under the lock ----

namespace {

// Where the frame chain and the index agree about message N: its record,
// the records before and after it, and its frame. Everything a write
// changes around N is checked against both, so that a base whose chain
// and index disagree is refused before a byte is written.
struct Place {
  SquishIndexRecord record;
  SquishIndexRecord prev;  // offset 0 when N is the first
  SquishIndexRecord next;  // offset 0 when N is the last
};

bool IsMessageFrame(const SquishFrameHeader* frame) {
  return frame != nullptr && frame->frame_type == kSquishMessageFrame;
}

bool ReadRecord(Stream& index, std::int32_t number, SquishIndexRecord* record) {
  std::array<std::uint8_t, kIndexRecordSize> bytes{};
  index.Seek(IndexPosition(number));
  index.Read(bytes.data(), bytes.size());
  if (!index.Ok()) return true;
  *record = SquishIndexRecord::DecodeFrom(bytes).value_or(SquishIndexRecord());
  return false;
}

// The links that should name frame X, an index record's frame, by X's own
// links: NextFrame of the frame before (BeginFrame for the first) and
// PrevFrame of the frame after (LastFrame for the last). A link that names
// instead a frame Y of a replace cut short is moved to X. Y is then either
// a message frame with X's links (the cut came before the links moved), or
// a frame already freed (it came before the header). In the first case Y
// stays where it is, outside both chains: nothing proves that no other
// record names it, and a frame in the free chain may be reused by another
// program. Anything else is left for the checks to refuse.
void SettleCutReplace(SquishBaseHeader& h, SquishFrames& frames, std::uint32_t x) {
  const SquishFrameHeader* frame = frames.Get(x);
  if (!IsMessageFrame(frame)) return;
  const auto in_base = [&h](std::uint32_t link) { return link < h.end_frame ? link : 0; };
  const std::uint32_t prev = in_base(frame->prev_frame);
  const std::uint32_t next = in_base(frame->next_frame);
  if (prev == x || next == x) return;
  SquishFrameHeader* p = prev != 0 ? frames.Get(prev) : nullptr;
  SquishFrameHeader* n = next != 0 ? frames.Get(next) : nullptr;
  if ((prev != 0 && !IsMessageFrame(p)) || (next != 0 && !IsMessageFrame(n))) return;
  const auto was_replaced = [&](std::uint32_t y) {
    const SquishFrameHeader* old = y != x && y != 0 ? frames.Get(y) : nullptr;
    if (old == nullptr) return false;
    if (old->frame_type == kSquishFreeFrame) return true;
    return old->frame_type == kSquishMessageFrame && old->prev_frame == frame->prev_frame &&
           old->next_frame == frame->next_frame;
  };
  for (std::uint32_t* link : {p != nullptr ? &p->next_frame : &h.begin_frame,
                              n != nullptr ? &n->prev_frame : &h.last_frame}) {
    if (was_replaced(*link)) *link = x;
  }
}

// True when message `number` of `count` cannot be found as the header,
// the index and the chain all say it is.
bool FindPlace(SquishBaseHeader& h, SquishFrames& frames, Stream& index, std::int32_t number,
               std::int32_t count, Place* place) {
  if (ReadRecord(index, number, &place->record)) return true;
  if (number > 1 && ReadRecord(index, number - 1, &place->prev)) return true;
  if (number < count && ReadRecord(index, number + 1, &place->next)) return true;
  for (const SquishIndexRecord* r : {&place->prev, &place->record, &place->next}) {
    if (r->offset != 0) SettleCutReplace(h, frames, r->offset);
  }
  const SquishFrameHeader* frame = frames.Get(place->record.offset);
  if (!IsMessageFrame(frame)) return true;
  if (number > 1) {
    const SquishFrameHeader* prev = frames.Get(place->prev.offset);
    if (!IsMessageFrame(prev) || prev->next_frame != place->record.offset ||
        frame->prev_frame != place->prev.offset) {
      return true;
    }
  } else if (frame->prev_frame != 0 || h.begin_frame != place->record.offset) {
    return true;
  }
  if (number < count) {
    const SquishFrameHeader* next = frames.Get(place->next.offset);
    if (!IsMessageFrame(next) || next->prev_frame != place->record.offset ||
        frame->next_frame != place->next.offset) {
      return true;
    }
  } else {
    // An append cut short may have linked the last frame to a frame it
    // left beyond EndFrame; that frame is not part of the base.
    if (frame->next_frame != 0 && frame->next_frame < h.end_frame) return true;
    if (h.last_frame != place->record.offset) return true;
  }
  return false;
}

// True when the header cannot describe the base of a data file of
// `data_size` bytes and an index of `records` records.
bool HeaderInconsistent(const SquishBaseHeader& h, std::uint64_t data_size, std::uint64_t records) {
  if (h.len != SquishBaseHeader::kEncodedSize) return true;
  if (h.sz_frame_header != SquishFrameHeader::kEncodedSize) return true;
  if (data_size < kSquishFirstFrame || data_size > kMaxStreamPosition) return true;
  if (h.end_frame < kSquishFirstFrame || h.end_frame > data_size) return true;
  // Every message has its index record.
  if (h.num_msg > records) return true;
  const auto inside = [&h](std::uint32_t offset) {
    return offset >= kSquishFirstFrame && offset < h.end_frame;
  };
  if (h.num_msg == 0) {
    if (h.last_frame != 0) return true;
  } else if (!inside(h.begin_frame) || !inside(h.last_frame)) {
    return true;
  }
  const bool no_free = h.free_frame == 0 && h.last_free_frame == 0;
  return !no_free && (!inside(h.free_frame) || !inside(h.last_free_frame));
}

}  // namespace

bool SquishBase::LoadForWrite() {
  if (!lock_.Held() || index_file_ == nullptr) return true;
  std::uint64_t data_size = 0;
  std::uint64_t index_size = 0;
  if (!lock_.Handle()->Size(&data_size) || !index_file_->Size(&index_size)) return true;
  const std::optional<SquishBaseHeader> header = ReadBackHeader();
  if (!header) return true;
  const std::uint64_t records = index_size / kIndexRecordSize;
  if (HeaderInconsistent(*header, data_size, records)) return true;
  base_header_ = *header;
  count_ = static_cast<std::int32_t>(header->num_msg);
  index_records_ = static_cast<std::int32_t>(std::min<std::uint64_t>(records, kMaxStreamPosition));
  if (FinishCutDeletion()) return true;
  if (count_ == 0) return false;
  // The ends of the chain are the frames of the first and the last record.
  const std::string index_name = FileName(kExtensions[1]);
  HandleStream index(*index_file_, index_name);
  SquishIndexRecord first;
  SquishIndexRecord last;
  if (ReadRecord(index, 1, &first) || ReadRecord(index, count_, &last)) return true;
  const auto ends_agree = [&] {
    return base_header_.begin_frame == first.offset && base_header_.last_frame == last.offset;
  };
  if (ends_agree()) return false;
  // The ends of a replace cut short are settled on their own, before the
  // write plans anything on the header.
  const std::string data_name = FileName(kExtensions[0]);
  HandleStream data(*lock_.Handle(), data_name);
  SquishBaseHeader h = base_header_;
  SquishFrames frames(data, h.end_frame);
  SettleCutReplace(h, frames, first.offset);
  SettleCutReplace(h, frames, last.offset);
  if (h == base_header_) return true;
  if (frames.WriteBack() || data.Sync() || WriteBaseHeader(h) || SyncBaseHeader()) return true;
  base_header_ = h;
  return !ends_agree();
}

bool SquishBase::FinishCutDeletion() {
  if (count_ < 2) return false;
  const std::string data_name = FileName(kExtensions[0]);
  const std::string index_name = FileName(kExtensions[1]);
  HandleStream data(*lock_.Handle(), data_name);
  HandleStream index(*index_file_, index_name);
  SquishIndexRecord last;
  SquishIndexRecord before;
  if (ReadRecord(index, count_, &last) || ReadRecord(index, count_ - 1, &before)) return true;
  // Two records never name one frame, except after a deletion that moved
  // the records down and stopped before the header: then the frame that
  // no record names any more is the one being deleted, still in the
  // chain. The walk along chain and index finds it; the deletion is then
  // finished as it would have been.
  if (last.offset != before.offset || last.offset < kSquishFirstFrame) return false;
  SquishBaseHeader h = base_header_;
  SquishFrames frames(data, h.end_frame);
  std::uint32_t at = h.begin_frame;
  SquishIndexRecord record;
  std::int32_t n = 1;
  for (; n < count_; ++n) {
    if (ReadRecord(index, n, &record)) return true;
    if (at != record.offset) break;
    const SquishFrameHeader* frame = frames.Get(at);
    if (!IsMessageFrame(frame)) return true;
    at = frame->next_frame;
  }
  const SquishFrameHeader* orphan = frames.Get(at);
  if (n == count_ || !IsMessageFrame(orphan) || orphan->next_frame != record.offset) return true;
  if (UnlinkAndFree(h, frames, at)) return true;
  if (frames.WriteBack() || WriteBaseHeader(h) || SyncBaseHeader()) return true;
  index.Seek(IndexPosition(count_));
  index.Truncate();
  (void)index.Sync();
  base_header_ = h;
  count_ = static_cast<std::int32_t>(h.num_msg);
  return false;
}

// ---- writing ----

bool SquishBase::WriteMessage(std::int32_t number, Message& message) {
  ResetStreams();
  // Unlike the format's first writers this checks the state: there is no
  // file to write to otherwise.
  if (!Usable() || !stream_ || !index_stream_ || number < 1) return true;
  if (in_batch_) {
    // Inside a batch only appends: the number is the batch's own count.
    if (number <= batch_first_ + static_cast<std::int32_t>(batch_records_.size())) return true;
    return AppendMessage(message);
  }
  const WriteLockScope lock(*this, kMessageLockTimeoutMs);
  if (!lock.Held()) return true;
  // Every failure is reported (the first writers always said success),
  // and the object is put back in step with what reached the files.
  if (LoadForWrite() || StoreMessage(number, message)) {
    ReloadAfterFailure();
    return true;
  }
  return false;
}

bool SquishBase::AppendMessage(Message& message) {
  ResetStreams();
  if (!Usable() || !stream_ || !index_stream_) return true;
  if (in_batch_) {
    if (batch_failed_) return true;
    const std::int32_t number = batch_first_ + static_cast<std::int32_t>(batch_records_.size()) + 1;
    if (StoreMessage(number, message)) {
      batch_failed_ = true;
      return true;
    }
    return false;
  }
  const WriteLockScope lock(*this, kMessageLockTimeoutMs);
  if (!lock.Held()) return true;
  // The number is taken from the header just read under the lock, so a
  // message another program appended a moment ago is never replaced.
  if (LoadForWrite() || StoreMessage(count_ + 1, message)) {
    ReloadAfterFailure();
    return true;
  }
  return false;
}

// What one store writes, decided before a byte is written: the frame
// and where it goes, its index record and where that goes, the header the
// base gets last, and the frame headers around it whose links change.
struct SquishBase::StorePlan {
  bool replacing = false;
  // The number whose index record is written; an append's is Count + 1.
  std::int32_t number = 0;
  // The new frame goes at the old EndFrame, beyond every frame in use.
  std::uint32_t offset = 0;
  SquishFrameHeader frame;
  // The frame header, the message header, control and text as written.
  std::vector<std::uint8_t> bytes;
  SquishIndexRecord record;
  SquishBaseHeader header;
  // The two files, through the handles the lock allows under it.
  std::optional<HandleStream> data;
  std::optional<HandleStream> index;
  // The neighbours' links to the new frame and, for a replace, the old
  // frame freed: changed in memory, written back by the commit.
  std::optional<SquishFrames> frames;
};

bool SquishBase::StoreMessage(std::int32_t number, Message& message) {
  StorePlan plan;
  return PlanStore(number, message, &plan) || CommitStore(plan, message);
}

bool SquishBase::PlanStore(std::int32_t number, Message& message, StorePlan* plan) {
  // In a batch the header and the count are the batch's so far.
  SquishBaseHeader h = in_batch_ ? batch_header_ : base_header_;
  const std::int32_t count =
      in_batch_ ? batch_first_ + static_cast<std::int32_t>(batch_records_.size()) : count_;
  // A message that exists is replaced in place of its index record; a
  // number beyond the end appends.
  const bool replacing = number >= 1 && number <= count;
  if (!replacing) number = count + 1;
  if (in_batch_ && replacing) return true;

  message.SyncAttributes(false);
  TransferHeader(false, message);
  const std::string control = ComposeSquishControl(message);
  std::string text;
  if (!ComposeSquishText(message, &text)) return true;

  const std::string data_name = FileName(kExtensions[0]);
  const std::string index_name = FileName(kExtensions[1]);
  HandleStream& data = plan->data.emplace(*lock_.Handle(), data_name);
  HandleStream& index = plan->index.emplace(*index_file_, index_name);

  const std::uint32_t offset = h.end_frame;
  const std::uint64_t frame_length = std::uint64_t{kMsgHeaderSize} + control.size() + text.size();
  const std::uint64_t frame_end = std::uint64_t{offset} + kFrameHeaderSize + frame_length;
  // A new frame never goes over the base header, and never where the
  // streams cannot address it.
  if (offset < kSquishFirstFrame || frame_end > kMaxStreamPosition) return true;

  // No frame of the base lies at or beyond EndFrame.
  SquishFrames& frames = plan->frames.emplace(data, offset);
  Place place;
  if (replacing) {
    if (FindPlace(h, frames, index, number, count, &place)) return true;
    if (UnlinkAndFree(h, frames, place.record.offset)) return true;
  } else if (in_batch_ && !batch_records_.empty()) {
    // The message before is the batch's last, whose record is not in the
    // index yet.
    place.prev = batch_records_.back();
    if (!IsMessageFrame(frames.Get(place.prev.offset))) return true;
  } else if (count > 0) {
    // The message before the new one is the last of the base.
    if (FindPlace(h, frames, index, count, count, &place)) return true;
    place.prev = place.record;
    place.next = SquishIndexRecord();
  }
  if (place.prev.offset != 0) frames.Get(place.prev.offset)->next_frame = offset;
  if (place.next.offset != 0) frames.Get(place.next.offset)->prev_frame = offset;
  // EndFrame must lie past every frame this write touches; otherwise the
  // header is wrong and the new frame would overwrite one of them.
  if (frames.HighestEnd() > offset) return true;

  SquishFrameHeader& frame = plan->frame;
  frame.frame_id = kSquishFrameId;
  frame.next_frame = place.next.offset;
  frame.prev_frame = place.prev.offset;
  frame.frame_length = static_cast<std::uint32_t>(frame_length);
  frame.msg_length = frame.frame_length;
  frame.ctrl_length = static_cast<std::uint32_t>(control.size());
  frame.frame_type = kSquishMessageFrame;

  // The unique id: a new message takes the base's next one, a replaced
  // message keeps its own. The frame carries the id its index record
  // gets, whatever id the message came with (its source's numbering).
  // HighWater is the scanners' mark and no write moves it.
  SquishIndexRecord& record = plan->record;
  record.offset = offset;
  record.hash = SquishHash(message.GetTo());
  if (replacing) {
    record.umsg_id = place.record.umsg_id;
  } else {
    record.umsg_id = h.uid;
    ++h.uid;
  }
  msg_header_.umsg_id = record.umsg_id;
  if (number == 1) h.begin_frame = offset;
  if (number >= count) h.last_frame = offset;
  h.end_frame = static_cast<std::uint32_t>(frame_end);
  ++h.num_msg;
  ++h.high_msg;

  std::vector<std::uint8_t>& bytes = plan->bytes;
  bytes.reserve(static_cast<std::size_t>(kFrameHeaderSize + frame_length));
  frame.AppendTo(&bytes);
  msg_header_.AppendTo(&bytes);
  bytes.insert(bytes.end(), control.begin(), control.end());
  bytes.insert(bytes.end(), text.begin(), text.end());

  plan->replacing = replacing;
  plan->number = number;
  plan->offset = offset;
  plan->header = h;
  return false;
}

bool SquishBase::CommitStore(StorePlan& plan, Message& message) {
  HandleStream& data = *plan.data;
  HandleStream& index = *plan.index;
  SquishFrames& frames = *plan.frames;
  // 1. The frame, complete, where nothing points yet.
  data.Seek(static_cast<std::int32_t>(plan.offset));
  data.Write(plan.bytes.data(), plan.bytes.size());

  if (in_batch_) {
    // The link from the frame before points past EndFrame until the batch
    // commits: a reader goes by the index, and a writer ignores a link
    // beyond EndFrame.
    if (frames.WriteBack()) return true;
    batch_header_ = plan.header;
    batch_records_.push_back(plan.record);
    frame_header_ = plan.frame;
    index_record_ = plan.record;
    message.MsgState = Message::kStateWritten;
    return false;
  }

  std::array<std::uint8_t, kIndexRecordSize> index_bytes{};
  plan.record.EncodeTo(index_bytes.data());
  index.Seek(IndexPosition(plan.number));
  if (plan.replacing) {
    if (data.Sync()) return true;
    // 2. A replacement points an existing index record at the new frame
    // before the header is final, so EndFrame moves past the frame first:
    // else a crash would leave a message whose frame the next write
    // overwrites.
    SquishBaseHeader reserved = base_header_;
    reserved.end_frame = plan.header.end_frame;
    if (WriteBaseHeader(reserved) || SyncBaseHeader()) return true;
    // 3. The index record, while the old frame is still whole in the
    // chain: from here a reader finds the new message.
    index.Write(index_bytes.data(), index_bytes.size());
    if (index.Sync()) return true;
    // 4. The links and the old frame freed; none of them is used by a
    // reader.
    if (frames.WriteBack() || data.Sync()) return true;
  } else {
    // 2. The link to the new frame: one sync covers it and the frame, as
    // a link that reached the disk without the header points beyond
    // EndFrame.
    if (frames.WriteBack() || data.Sync()) return true;
    // 3. The index record, cutting off what an interrupted write may have
    // left beyond the records of the base.
    index.Write(index_bytes.data(), index_bytes.size());
    index.Truncate();
    if (index.Sync()) return true;
  }

  // Last, the header, which makes the message count.
  if (WriteBaseHeader(plan.header) || SyncBaseHeader()) return true;

  base_header_ = plan.header;
  count_ = static_cast<std::int32_t>(plan.header.num_msg);
  frame_header_ = plan.frame;
  index_record_ = plan.record;
  message.MsgState = Message::kStateWritten;
  return false;
}

// ---- batches ----

bool SquishBase::BeginBatch() {
  ResetStreams();
  if (!Usable() || !stream_ || !index_stream_ || in_batch_) return true;
  WriteLockScope lock(*this, kMessageLockTimeoutMs);
  if (!lock.Held()) return true;
  batch_took_lock_ = lock.Keep();
  if (LoadForWrite()) {
    ReloadAfterFailure();
    if (batch_took_lock_) UnlockBase();
    return true;
  }
  in_batch_ = true;
  batch_failed_ = false;
  batch_first_ = count_;
  batch_header_ = base_header_;
  batch_records_.clear();
  return false;
}

bool SquishBase::EndBatch() {
  if (!in_batch_) return false;
  const bool failed = batch_failed_ || CommitBatch();
  in_batch_ = false;
  batch_records_.clear();
  if (failed) ReloadAfterFailure();
  if (batch_took_lock_) UnlockBase();
  return failed;
}

bool SquishBase::CommitBatch() {
  if (batch_records_.empty()) return false;
  const std::string data_name = FileName(kExtensions[0]);
  const std::string index_name = FileName(kExtensions[1]);
  HandleStream data(*lock_.Handle(), data_name);
  HandleStream index(*index_file_, index_name);
  // 1. Every frame of the batch, and the link to the first, at once.
  if (data.Sync()) return true;
  // 2. Their index records, and nothing beyond them.
  std::vector<std::uint8_t> bytes;
  bytes.reserve(batch_records_.size() * kIndexRecordSize);
  for (const SquishIndexRecord& record : batch_records_) record.AppendTo(&bytes);
  index.Seek(IndexPosition(batch_first_ + 1));
  index.Write(bytes.data(), bytes.size());
  index.Truncate();
  if (index.Sync()) return true;
  // 3. The header, which makes the whole batch count.
  if (WriteBaseHeader(batch_header_) || SyncBaseHeader()) {
    // A header that did not reach the file whole is put back, so that the
    // base counts none of the batch rather than a torn header.
    (void)WriteBaseHeader(base_header_);
    (void)SyncBaseHeader();
    return true;
  }
  base_header_ = batch_header_;
  count_ = static_cast<std::int32_t>(batch_header_.num_msg);
  return false;
}

// ---- deleting ----

bool SquishBase::DeleteMessage(std::int32_t number) {
  ResetStreams();
  // The number is checked against the count once the lock is held: the
  // count this object saw before may be out of date either way.
  if (!Usable() || number < 1 || !stream_ || !index_stream_ || in_batch_) return true;
  const WriteLockScope lock(*this, kMessageLockTimeoutMs);
  if (!lock.Held()) return true;
  // The number is taken as it stands now: a message that another program
  // deleted since is not there to delete.
  if (LoadForWrite() || number > count_ || RemoveMessage(number)) {
    ReloadAfterFailure();
    return true;
  }
  return false;
}

bool SquishBase::RemoveMessage(std::int32_t number) {
  const std::string data_name = FileName(kExtensions[0]);
  const std::string index_name = FileName(kExtensions[1]);
  HandleStream data(*lock_.Handle(), data_name);
  HandleStream index(*index_file_, index_name);

  SquishBaseHeader h = base_header_;
  const std::int32_t count = count_;
  SquishFrames frames(data, h.end_frame);
  Place place;
  if (FindPlace(h, frames, index, number, count, &place)) return true;
  // Every frame a deletion touches lies before EndFrame.
  if (frames.HighestEnd() > h.end_frame) return true;
  if (UnlinkAndFree(h, frames, place.record.offset)) return true;

  // The records after N, and as they are now (to put back should the
  // move fail half-way).
  const std::size_t moved = static_cast<std::size_t>(count - number) * kIndexRecordSize;
  std::string after(moved, '\0');
  std::string before(moved, '\0');
  if (moved > 0) {
    index.Seek(IndexPosition(number + 1));
    index.Read(after.data(), after.size());
    index.Seek(IndexPosition(number));
    index.Read(before.data(), before.size());
    if (!index.Ok()) return true;
  }

  // 1. The records after N move down by one, in place; the last stays
  // where it was too until the header no longer counts it.
  if (moved > 0) {
    index.Seek(IndexPosition(number));
    index.Write(after.data(), after.size());
    if (index.Sync()) {
      index.ClearError();
      index.Seek(IndexPosition(number));
      index.Write(before.data(), before.size());
      (void)index.Sync();
      return true;
    }
  }
  // 2. The frame marked free, the links around it and the header: from
  // here on the base counts one message fewer. The moved index is not
  // put back should this fail: with either header a reader already finds
  // every other message and not this one, and the next writer finishes
  // the deletion (FinishCutDeletion).
  if (frames.WriteBack() || WriteBaseHeader(h) || SyncBaseHeader()) return true;
  // 3. The record beyond the count goes. Should this fail, the record is
  // one nobody reads, and the next write cuts it off.
  index.Seek(IndexPosition(count));
  index.Truncate();
  (void)index.Sync();

  frame_header_ = *frames.Get(place.record.offset);
  index_record_ = place.record;
  base_header_ = h;
  count_ = static_cast<std::int32_t>(h.num_msg);
  return false;
}

}  // namespace qlr
