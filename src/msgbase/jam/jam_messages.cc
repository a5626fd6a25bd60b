// The messages of a JAM base: reading one into a Message, writing one and
// deleting one. The record layouts are in jam_records.h, the subfields in
// jam_subfields.h, the attribute mapping in jam_attributes.h.
//
// Order of writing. A message is reached only through its index record,
// so the index record is the commit point of a write: the new text, then
// the new header with its subfields, each synced to disk, then the index
// record, synced, and only then what may be stale without harm (the old
// header marked deleted, the base header with ActiveMsgs and ModCounter).
// A write that fails or is cut off before the index record leaves
// unreferenced bytes at the ends of ".jdt" and ".jhr", which no reader
// sees; one cut off after it leaves the new message in place.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "msgbase/ftn_date.h"
#include "msgbase/jam/jam_attributes.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/jam/jam_crc.h"
#include "msgbase/jam/jam_subfields.h"
#include "msgbase/message.h"

namespace qlr {
namespace {

// Streams address no byte beyond 2^31-1; every offset and end is computed
// in 64 bits and checked against this before a stream sees it.
constexpr std::int64_t kMaxStreamOffset = std::numeric_limits<std::int32_t>::max();

// JAM dates are u32 seconds: a date before 1970 or after 2106 is clamped
// rather than wrapped into another date. A DOS value of 0 is "no date",
// which JAM writes as 0 too.
std::uint32_t ToJamDate(std::uint32_t packed) {
  if (packed == 0) return 0;
  const std::int64_t seconds = DateTimeToUnix(UnpackDateTime(packed));
  return static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(seconds, 0, std::numeric_limits<std::uint32_t>::max()));
}

// The JAM date to write: the exact seconds a JAM read kept, or else those
// of the date text (which has the odd seconds the DOS value drops), each
// only while the DOS value still says the same; else the DOS value's. An
// unreadable text parses as "now" and so never agrees with the DOS value.
std::uint32_t JamDateOf(std::uint32_t packed, std::uint32_t exact, std::string_view text = {}) {
  if (exact != 0 && PackDateTime(UnixToDateTime(exact)) == packed) return exact;
  if (packed != 0 && !text.empty()) {
    const DateTime parsed = ParseFtsDate(text);
    const std::int64_t seconds = DateTimeToUnix(parsed);
    if (PackDateTime(parsed) == packed && seconds > 0 && seconds <= 0xFFFFFFFF) {
      return static_cast<std::uint32_t>(seconds);
    }
  }
  return ToJamDate(packed);
}

// The DOS value of a JAM date: 0 stays "no date", and so does a date the
// DOS value cannot hold (before 1980), for which only the exact field and
// the date text tell.
std::uint32_t ToDosDate(std::uint32_t jam) {
  return jam == 0 ? 0 : PackDateTime(UnixToDateTime(jam));
}

// Every date field of `message` from the JAM dates. The text is made from
// the exact seconds and never parsed again: a two-digit year cannot tell
// 1975 from 2075.
void ApplyJamDates(const JamMsgHeader& h, Message& message) {
  message.Date = h.DateWritten == 0 ? ShortString() : FormatFtsDate(UnixToDateTime(h.DateWritten));
  message.DateWritten = ToDosDate(h.DateWritten);
  message.UnixDateWritten = h.DateWritten;
  message.DateArrived = ToDosDate(h.DateProcessed);
  message.UnixDateArrived = h.DateProcessed;
}

// How many bytes of texts and headers a batch keeps in memory before it
// writes them out (unsynced, beyond what any reader sees).
constexpr std::size_t kBatchSpillBytes = 1 << 20;

// How many index records the check before a write reads at a time.
constexpr std::size_t kCheckChunkRecords = 4096;

// Writers differ in what they fill in; either mark is taken as a header.
bool LooksLikeHeader(const JamMsgHeader& header) {
  return header.Signature == kJamSignature || header.Revision == kJamRevision;
}

// Where index record `number` lies in ".jdx".
std::int64_t IndexOffset(std::int32_t number) {
  return (static_cast<std::int64_t>(number) - 1) *
         static_cast<std::int64_t>(JamIndexRecord::kEncodedSize);
}

// The header offset of an index record, signed as the format has it.
std::int64_t HeaderOffsetOf(const JamIndexRecord& record) {
  return static_cast<std::int32_t>(record.HdrOffset);
}

void AppendLine(std::string_view prefix, std::string_view value, std::string* out) {
  // A line is a short string, cut at 255 characters, and a CR.
  const ShortString line = ShortString(prefix) + value;
  out->append(line.view());
  out->push_back('\r');
}

// The text as ".jdt" holds it: the body, then the tear line and the origin
// line; the control lines travel in subfields. True on failure (the body
// could not be read back from memory).
bool ComposeText(Message& message, std::string* out) {
  MemoryStream& body = message.Text;
  body.ClearError();
  const std::int32_t size = body.Size();
  if (size < 0) return true;
  out->assign(static_cast<std::size_t>(size), '\0');
  body.Seek(0);
  body.Read(out->data(), out->size());
  if (!body.Ok()) {
    body.ClearError();
    return true;
  }
  if (!message.TearLine.empty()) AppendLine("--- ", message.TearLine, out);
  // No blank before the parenthesis: a read origin keeps its own.
  if (!message.Origin.empty() || !message.Area.empty()) {
    AppendLine(" * Origin: ", message.Origin + "(" + message.OrigAddressText() + ")", out);
  }
  return false;
}

std::span<const std::uint8_t> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

template <typename Record>
std::vector<std::uint8_t> Encode(const Record& record) {
  std::vector<std::uint8_t> bytes;
  record.AppendTo(&bytes);
  return bytes;
}

}  // namespace

void JamBase::TransferHeader(bool to_message, Message& message) {
  MessageBase::TransferHeader(to_message, message);
  JamMsgHeader& h = msg_header_;
  if (to_message) {
    ApplyJamDates(h, message);
    message.ReplyTo = h.ReplyTo;
    message.Cost = static_cast<std::uint16_t>(h.Cost);
    message.Replies[0] = h.Reply1st;
    ApplyJamAttribute(h.Attribute, message);
    message.TimesRead = static_cast<std::uint16_t>(h.TimesRead);
    return;
  }
  // SubfieldLen, MessageNumber, TxtOffset and TxtLen are WriteMessage's;
  // ReplyNext, DateReceived, Attribute2 and PasswordCrc keep what the
  // header last read, written or deleted held (a message rewritten in
  // place keeps its own).
  h.DateWritten = JamDateOf(message.DateWritten, message.UnixDateWritten, message.Date.view());
  h.DateProcessed = JamDateOf(message.DateArrived, message.UnixDateArrived);
  h.ReplyTo = message.ReplyTo;
  h.Signature = kJamSignature;
  h.Revision = kJamRevision;
  h.ReservedWord = 0;
  h.MsgIdCrc = JamCrc(message.MsgId);
  h.ReplyCrc = JamCrc(message.ReplyId);
  h.Reply1st = message.Replies[0];
  h.Cost = message.Cost;
  h.Attribute = JamAttributeOf(message);
  h.TimesRead = message.TimesRead;
}

bool JamBase::ReadMsgHeader(std::int64_t offset, JamMsgHeader* header) {
  if (header_stream_ == nullptr || offset < 0 ||
      offset + static_cast<std::int64_t>(JamMsgHeader::kEncodedSize) > kMaxStreamOffset) {
    return true;
  }
  std::array<std::uint8_t, JamMsgHeader::kEncodedSize> bytes{};
  header_stream_->Seek(static_cast<std::int32_t>(offset));
  header_stream_->Read(bytes.data(), bytes.size());
  if (!header_stream_->Ok()) return true;
  const std::optional<JamMsgHeader> decoded = JamMsgHeader::DecodeFrom(bytes);
  if (!decoded.has_value()) return true;
  *header = *decoded;
  return false;
}

bool JamBase::ReadMessage(std::int32_t number, Message& message) {
  ResetStreams();
  if (!Usable() || !IsValidMsg(number)) return true;

  // IsValidMsg has made sure the whole header lies after the base header.
  const std::int64_t header_offset = HeaderOffsetOf(index_record_);
  JamMsgHeader header;
  if (ReadMsgHeader(header_offset, &header)) {
    ResetStreams();
    return true;
  }
  msg_header_ = header;
  if (!LooksLikeHeader(header)) {
    message.MsgState = Message::kStateRejected;
    return true;
  }

  message.Clear();
  TransferHeader(true, message);

  // A text the file does not hold (offset or length beyond it) is read as
  // no text; the rest of the message still is. A text the file holds but
  // that cannot be read fails the read: a copy must not take the message
  // without its text.
  const std::int64_t text_end = static_cast<std::int64_t>(header.TxtOffset) + header.TxtLen;
  if (header.TxtLen > 0 && text_end <= kMaxStreamOffset &&
      ReadText(message, static_cast<std::int32_t>(header.TxtOffset),
               static_cast<std::int32_t>(text_end)) &&
      !stream_->Ok()) {
    Fail(StreamFailure(*stream_, path_, "cannot be read"));
    ResetStreams();
    return true;
  }
  ResetStreams();

  // Only the subfield bytes the file really holds are taken, so a hostile
  // SubfieldLen can neither make us allocate more than the file nor read
  // past it; the walk then stops at the subfield the end cuts off.
  const std::int64_t block_start =
      header_offset + static_cast<std::int64_t>(JamMsgHeader::kEncodedSize);
  const std::int64_t file_size = header_stream_->Size();
  const std::int64_t available = std::max<std::int64_t>(0, file_size - block_start);
  std::vector<std::uint8_t> block(
      static_cast<std::size_t>(std::min<std::int64_t>(header.SubfieldLen, available)));
  if (file_size < 0) {
    Fail(StreamFailure(*header_stream_, header_file_, "cannot be read"));
    ResetStreams();
    return true;
  }
  if (!block.empty()) {
    header_stream_->Seek(static_cast<std::int32_t>(block_start));
    header_stream_->Read(block.data(), block.size());
    // The block lies within the file: a read that fails is an error of
    // the file, not a short subfield list.
    if (!header_stream_->Ok()) {
      Fail(StreamFailure(*header_stream_, header_file_, "cannot be read"));
      ResetStreams();
      return true;
    }
  }
  ApplySubfields(block, message);
  ResetStreams();

  message.SyncAttributes(true);
  message.CompleteAddresses();
  // The completion makes Date and DateWritten agree through the DOS value,
  // which drops odd seconds and years before 1980: the JAM dates stand.
  ApplyJamDates(header, message);
  message.MsgState = Message::kStateRead;
  return false;
}

bool JamBase::RefreshFromDisk() {
  std::array<std::uint8_t, JamBaseHeader::kEncodedSize> bytes{};
  if (lock_.ReadAt(0, bytes)) return true;
  const std::optional<JamBaseHeader> header = JamBaseHeader::DecodeFrom(bytes);
  if (!header.has_value()) return true;
  const std::int32_t index_size = index_stream_->Size();
  if (index_size < 0) return true;
  base_header_ = *header;
  count_ = index_size / static_cast<std::int32_t>(JamIndexRecord::kEncodedSize);
  return CheckBeforeWrite();
}

bool JamBase::CheckBeforeWrite() {
  if (base_header_.Signature != kJamSignature) return true;
  // Every active message has an index record; a count beyond them is one
  // the files do not support.
  if (base_header_.ActiveMsgs > static_cast<std::uint32_t>(count_)) return true;
  const std::int64_t header_size = header_stream_->Size();
  if (header_size < static_cast<std::int64_t>(JamBaseHeader::kEncodedSize)) return true;
  if (text_file_->Size() < 0) return true;

  std::int32_t from = 0;
  if (left_count_ == count_ && left_mod_counter_ == base_header_.ModCounter &&
      left_header_size_ == header_size) {
    from = checked_records_;
  }
  std::vector<std::uint8_t> chunk;
  for (std::int32_t first = from; first < count_;) {
    const std::int32_t n =
        std::min<std::int32_t>(count_ - first, static_cast<std::int32_t>(kCheckChunkRecords));
    chunk.resize(static_cast<std::size_t>(n) * JamIndexRecord::kEncodedSize);
    index_stream_->Seek(static_cast<std::int32_t>(IndexOffset(first + 1)));
    index_stream_->Read(chunk.data(), chunk.size());
    if (!index_stream_->Ok()) return true;
    for (std::size_t at = 0; at < chunk.size(); at += JamIndexRecord::kEncodedSize) {
      const std::optional<JamIndexRecord> record =
          JamIndexRecord::DecodeFrom(std::span(chunk).subspan(at));
      if (!record.has_value()) return true;
      if (record->HdrOffset == JamIndexRecord::Deleted().HdrOffset) continue;
      const std::int64_t offset = HeaderOffsetOf(*record);
      if (offset < static_cast<std::int64_t>(JamBaseHeader::kEncodedSize) ||
          offset + static_cast<std::int64_t>(JamMsgHeader::kEncodedSize) > header_size) {
        return true;
      }
    }
    first += n;
  }
  checked_records_ = count_;
  return false;
}

void JamBase::RememberFiles() {
  left_mod_counter_ = base_header_.ModCounter;
  left_count_ = count_;
  left_header_size_ = header_stream_->Size();
  checked_records_ = count_;
}

bool JamBase::WriteDurably(BufferedFileStream& stream, std::int64_t offset,
                           std::span<const std::uint8_t> bytes) {
  if (offset < 0 || offset + static_cast<std::int64_t>(bytes.size()) > kMaxStreamOffset) {
    return true;
  }
  stream.Seek(static_cast<std::int32_t>(offset));
  stream.Write(bytes.data(), bytes.size());
  // Also reports an error latched by the Seek or the Write.
  return stream.SyncToDisk();
}

bool JamBase::WriteBaseHeader() {
  const std::vector<std::uint8_t> bytes = Encode(base_header_);
  return lock_.WriteAt(0, bytes) || lock_.Sync();
}

bool JamBase::EncodeMessage(std::int32_t number, Message& message, std::int64_t text_offset,
                            std::int64_t header_offset, std::string* text,
                            std::vector<std::uint8_t>* header_bytes) {
  message.SyncAttributes(false);
  TransferHeader(false, message);
  if (ComposeText(message, text)) return true;
  const std::vector<std::uint8_t> subfields = EncodeSubfields(message);
  // The new bytes must end where a stream and a u32 field can reach.
  if (text_offset < 0 || header_offset < 0 ||
      text_offset + static_cast<std::int64_t>(text->size()) > kMaxStreamOffset ||
      header_offset + static_cast<std::int64_t>(JamMsgHeader::kEncodedSize + subfields.size()) >
          kMaxStreamOffset ||
      IndexOffset(number) + static_cast<std::int64_t>(JamIndexRecord::kEncodedSize) >
          kMaxStreamOffset) {
    return true;
  }
  msg_header_.SubfieldLen = static_cast<std::uint32_t>(subfields.size());
  // Numbers as readers show them: the base may start at any number.
  msg_header_.MessageNumber = base_header_.BaseMsgNum + static_cast<std::uint32_t>(number) - 1;
  msg_header_.TxtOffset = static_cast<std::uint32_t>(text_offset);
  msg_header_.TxtLen = static_cast<std::uint32_t>(text->size());
  index_record_.ToCrc = JamCrc(message.GetTo());
  index_record_.HdrOffset = static_cast<std::uint32_t>(header_offset);
  *header_bytes = Encode(msg_header_);
  header_bytes->insert(header_bytes->end(), subfields.begin(), subfields.end());
  return false;
}

namespace {

// A new message owes nothing to the header read last: no reply chain, no
// date received, no second attribute word.
JamMsgHeader FreshHeader() {
  JamMsgHeader header;
  header.Signature = kJamSignature;
  header.Revision = kJamRevision;
  header.PasswordCrc = kJamNoPassword;
  return header;
}

}  // namespace

bool JamBase::WriteMessage(std::int32_t number, Message& message) {
  return WriteLocked(number, message, false);
}

bool JamBase::AppendMessage(Message& message) {
  if (batch_ == nullptr) return WriteLocked(0, message, true);
  ResetStreams();
  Batch& b = *batch_;
  if (b.failed || count_ == std::numeric_limits<std::int32_t>::max()) return true;
  const std::int32_t number = count_ + 1;
  const JamBaseHeader base_before = base_header_;
  msg_header_ = FreshHeader();
  ++base_header_.ActiveMsgs;
  ++base_header_.ModCounter;
  std::string text;
  std::vector<std::uint8_t> header_bytes;
  if (EncodeMessage(number, message, b.text_end, b.header_end, &text, &header_bytes)) {
    // Nothing of it was planned: the batch goes on without it.
    base_header_ = base_before;
    return true;
  }
  b.text += text;
  b.headers.insert(b.headers.end(), header_bytes.begin(), header_bytes.end());
  index_record_.AppendTo(&b.index);
  b.text_end += static_cast<std::int64_t>(text.size());
  b.header_end += static_cast<std::int64_t>(header_bytes.size());
  count_ = number;
  if (b.text.size() + b.headers.size() > kBatchSpillBytes && SpillBatch()) {
    b.failed = true;
    return true;
  }
  message.MsgState = Message::kStateWritten;
  return false;
}

// What one write puts where, decided under the lock before a byte is
// written: the text and the header with its subfields at the ends of
// their files, the index record, the replaced message's header marked
// deleted, and the base header the write leaves.
struct JamBase::WritePlan {
  std::int32_t number = 0;
  // Count once the message is in (an append adds a record).
  std::int32_t count = 0;
  std::int64_t text_offset = 0;
  std::string text;
  std::int64_t header_offset = 0;
  std::vector<std::uint8_t> header;
  std::vector<std::uint8_t> index_record;
  // The header of the live message replaced, marked deleted.
  std::optional<std::int64_t> old_offset;
  std::vector<std::uint8_t> old_header;
  // With ActiveMsgs and ModCounter moved.
  JamBaseHeader base_header;
};

// Every failure is reported (true), where a plain writer would report
// success whatever its streams did, and the lock is held throughout.
bool JamBase::WriteLocked(std::int32_t number, Message& message, bool append) {
  ResetStreams();
  if (!Usable() || batch_ != nullptr || (!append && number < 1) || text_file_ == nullptr ||
      header_stream_ == nullptr || index_stream_ == nullptr) {
    return true;
  }
  const WriteLockScope scope(*this, lock_timeout_ms_);
  if (!scope.Held()) return true;
  // Another program may have written since Open: its messages and counts
  // are the ones to build on, and a base that is not sound is not touched.
  if (RefreshFromDisk()) {
    ResetStreams();
    return true;
  }
  WritePlan plan;
  if (PlanWrite(number, message, append, &plan)) {
    left_count_ = -1;
    ResetStreams();
    return true;
  }
  return CommitWrite(plan, message);
}

bool JamBase::PlanWrite(std::int32_t number, Message& message, bool append, WritePlan* plan) {
  JamBaseHeader& h = plan->base_header;
  h = base_header_;
  std::int32_t count = count_;
  if (append) {
    if (count == std::numeric_limits<std::int32_t>::max()) return true;
    number = count + 1;
  }

  // A live message of this number is replaced: its header is read before
  // anything is written, and marked deleted only once the new message is
  // in place. The new header starts from the old one, so the fields this
  // library does not handle (reply chain, date received) stay. A number
  // whose record is deleted gets the new message in its slot. A trailing
  // partial index record is no message: a number beyond Count appends, as
  // Count + 1.
  if (number <= count) {
    if (IsValidMsg(number)) {
      const std::int64_t old_offset = HeaderOffsetOf(index_record_);
      JamMsgHeader old_header;
      if (ReadMsgHeader(old_offset, &old_header)) return true;
      // What the record points at must be a header before it is marked.
      if (!LooksLikeHeader(old_header)) return true;
      old_header.Attribute |= kJamAttrDeleted;
      old_header.TxtOffset = 0;
      old_header.TxtLen = 0;
      msg_header_ = old_header;
      plan->old_offset = old_offset;
      plan->old_header = Encode(old_header);
    } else {
      ++h.ActiveMsgs;
    }
  } else {
    if (append) msg_header_ = FreshHeader();
    number = ++count;
    ++h.ActiveMsgs;
  }
  ++h.ModCounter;

  plan->number = number;
  plan->count = count;
  plan->text_offset = text_file_->Size();
  plan->header_offset = header_stream_->Size();
  if (EncodeMessage(number, message, plan->text_offset, plan->header_offset, &plan->text,
                    &plan->header)) {
    return true;
  }
  plan->index_record = Encode(index_record_);
  return false;
}

bool JamBase::CommitWrite(const WritePlan& plan, Message& message) {
  const auto fail = [&] {
    left_count_ = -1;
    ResetStreams();
    return true;
  };
  if (!plan.text.empty() && WriteDurably(*text_file_, plan.text_offset, AsBytes(plan.text))) {
    return fail();
  }
  if (WriteDurably(*header_stream_, plan.header_offset, plan.header)) return fail();
  if (WriteDurably(*index_stream_, IndexOffset(plan.number), plan.index_record)) return fail();

  // The new message is in place; what follows may lag behind without
  // making the base unreadable, but a failure is still reported.
  base_header_ = plan.base_header;
  count_ = plan.count;
  bool failed = false;
  if (plan.old_offset.has_value() &&
      WriteDurably(*header_stream_, *plan.old_offset, plan.old_header)) {
    failed = true;
  }
  if (WriteBaseHeader()) failed = true;
  if (failed) {
    left_count_ = -1;
  } else {
    RememberFiles();
  }
  ResetStreams();
  message.MsgState = Message::kStateWritten;
  return failed;
}

// The index record goes first: once it is all 0xFF the message is gone for
// every reader, and the header marked after it is only a courtesy to
// programs that scan ".jhr". Done the other way round, a cut in between
// would leave a live message with its text taken away.
bool JamBase::DeleteMessage(std::int32_t number) {
  ResetStreams();
  if (!Usable() || batch_ != nullptr || header_stream_ == nullptr || index_stream_ == nullptr) {
    return true;
  }
  const WriteLockScope scope(*this, lock_timeout_ms_);
  if (!scope.Held()) return true;
  if (RefreshFromDisk() || !IsValidMsg(number)) {
    ResetStreams();
    return true;
  }
  const std::int64_t header_offset = HeaderOffsetOf(index_record_);
  JamMsgHeader header;
  if (ReadMsgHeader(header_offset, &header) || !LooksLikeHeader(header)) {
    ResetStreams();
    return true;
  }
  header.Attribute |= kJamAttrDeleted;
  header.TxtOffset = 0;
  header.TxtLen = 0;
  msg_header_ = header;
  index_record_ = JamIndexRecord::Deleted();
  if (WriteDurably(*index_stream_, IndexOffset(number), Encode(index_record_))) {
    left_count_ = -1;
    ResetStreams();
    return true;
  }

  bool failed = WriteDurably(*header_stream_, header_offset, Encode(header));
  // Other writers leave odd counts behind; one that is 0 already stays 0.
  if (base_header_.ActiveMsgs > 0) --base_header_.ActiveMsgs;
  // A delete changes the base as much as a write: readers that cache it
  // watch this counter.
  ++base_header_.ModCounter;
  if (WriteBaseHeader()) failed = true;
  if (failed) {
    left_count_ = -1;
  } else {
    RememberFiles();
  }
  ResetStreams();
  return failed;
}

bool JamBase::BeginBatch() {
  ResetStreams();
  if (!Usable() || batch_ != nullptr || text_file_ == nullptr || header_stream_ == nullptr ||
      index_stream_ == nullptr) {
    return true;
  }
  auto batch = std::make_unique<Batch>();
  WriteLockScope scope(*this, lock_timeout_ms_);
  if (!scope.Held()) return true;
  batch->took_lock = scope.Keep();
  const auto fail = [&] {
    if (batch->took_lock) UnlockBase();
    ResetStreams();
    return true;
  };
  if (RefreshFromDisk()) return fail();
  batch->base_before = base_header_;
  batch->count_before = count_;
  batch->text_start = batch->text_end = text_file_->Size();
  batch->header_start = batch->header_end = header_stream_->Size();
  if (batch->text_end < 0 || batch->header_end < 0) return fail();
  batch_ = std::move(batch);
  return false;
}

bool JamBase::SpillBatch() {
  Batch& b = *batch_;
  if (!b.text.empty()) {
    text_file_->Seek(static_cast<std::int32_t>(b.text_start));
    text_file_->Write(b.text.data(), b.text.size());
    text_file_->Flush();
    if (!text_file_->Ok()) return true;
    b.text_start += static_cast<std::int64_t>(b.text.size());
    b.text.clear();
  }
  if (!b.headers.empty()) {
    header_stream_->Seek(static_cast<std::int32_t>(b.header_start));
    header_stream_->Write(b.headers.data(), b.headers.size());
    header_stream_->Flush();
    if (!header_stream_->Ok()) return true;
    b.header_start += static_cast<std::int64_t>(b.headers.size());
    b.headers.clear();
  }
  return false;
}

void JamBase::DropBatch() {
  if (batch_ == nullptr) return;
  base_header_ = batch_->base_before;
  count_ = batch_->count_before;
  left_count_ = -1;
  if (batch_->took_lock) UnlockBase();
  batch_.reset();
  ResetStreams();
}

// Texts and headers first, each file synced once: until the index records
// are written nothing of the batch is referenced, so a crash before them
// leaves the base as before the batch. The index records go in one write
// and one sync, the commit point; the base header follows. When the
// index or the base header cannot be written, the records are cut off
// again, so that a failed batch is not in the base.
bool JamBase::EndBatch() {
  if (batch_ == nullptr) return false;
  Batch& b = *batch_;
  ResetStreams();
  bool failed = b.failed;
  if (!failed && !b.index.empty()) {
    failed = SpillBatch() || text_file_->SyncToDisk() || header_stream_->SyncToDisk();
    if (!failed) {
      const std::int64_t index_start = IndexOffset(b.count_before + 1);
      if (WriteDurably(*index_stream_, index_start, b.index) || WriteBaseHeader()) {
        failed = true;
        index_stream_->ClearError();
        index_stream_->Seek(static_cast<std::int32_t>(index_start));
        index_stream_->Truncate();
        static_cast<void>(index_stream_->SyncToDisk());
        // A base header written in part would count the records cut off.
        base_header_ = b.base_before;
        static_cast<void>(WriteBaseHeader());
      }
    }
  }
  if (failed) {
    DropBatch();
    return true;
  }
  RememberFiles();
  if (b.took_lock) UnlockBase();
  batch_.reset();
  ResetStreams();
  return false;
}

}  // namespace qlr
