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
// rather than wrapped into another date.
std::uint32_t ToJamDate(std::uint32_t packed) {
  const std::int64_t seconds = DateTimeToUnix(UnpackDateTime(packed));
  return static_cast<std::uint32_t>(
      std::clamp<std::int64_t>(seconds, 0, std::numeric_limits<std::uint32_t>::max()));
}

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

// Holds the base lock for one write or delete: taken here unless the base
// already holds it (a rotation in progress), released at the end only
// when taken here.
class JamBase::WriteScope {
 public:
  explicit WriteScope(JamBase& base) : base_(base) {
    if (base_.Locked()) {
      held_ = true;
      return;
    }
    taken_ = held_ = !base_.LockBase(base_.lock_timeout_ms_);
  }
  ~WriteScope() {
    if (taken_) base_.UnlockBase();
  }
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;

  bool Held() const { return held_; }

 private:
  JamBase& base_;
  bool held_ = false;
  bool taken_ = false;
};

void JamBase::TransferHeader(bool to_message, Message& message) {
  MessageBase::TransferHeader(to_message, message);
  JamMsgHeader& h = msg_header_;
  if (to_message) {
    const DateTime written = UnixToDateTime(h.DateWritten);
    message.Date = FormatFtsDate(written);
    message.DateWritten = PackDateTime(written);
    message.DateArrived = PackDateTime(UnixToDateTime(h.DateProcessed));
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
  h.DateWritten = ToJamDate(message.DateWritten);
  h.DateProcessed = ToJamDate(message.DateArrived);
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
    message.MsgState = 4;
    return true;
  }

  message.Clear();
  TransferHeader(true, message);

  // A text the file does not hold (offset or length beyond it) is read as
  // no text; the rest of the message still is.
  const std::int64_t text_end = static_cast<std::int64_t>(header.TxtOffset) + header.TxtLen;
  if (header.TxtLen > 0 && text_end <= kMaxStreamOffset) {
    static_cast<void>(ReadText(message, static_cast<std::int32_t>(header.TxtOffset),
                               static_cast<std::int32_t>(text_end)));
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
  if (!block.empty()) {
    header_stream_->Seek(static_cast<std::int32_t>(block_start));
    header_stream_->Read(block.data(), block.size());
    if (!header_stream_->Ok()) block.clear();
  }
  ApplySubfields(block, message);
  ResetStreams();

  message.SyncAttributes(true);
  message.CompleteAddresses();
  message.MsgState = 2;
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
  return false;
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

// Every failure is reported (true), where a plain writer would report
// success whatever its streams did, and the lock is held throughout.
bool JamBase::WriteMessage(std::int32_t number, Message& message) {
  ResetStreams();
  if (!Usable() || number < 1 || text_file_ == nullptr || header_stream_ == nullptr ||
      index_stream_ == nullptr) {
    return true;
  }
  WriteScope scope(*this);
  if (!scope.Held()) return true;
  // Another program may have written since Open: its messages and counts
  // are the ones to build on.
  if (RefreshFromDisk()) {
    ResetStreams();
    return true;
  }
  const JamBaseHeader base_before = base_header_;
  const std::int32_t count_before = count_;
  const auto fail = [&] {
    base_header_ = base_before;
    count_ = count_before;
    ResetStreams();
    return true;
  };

  // A live message of this number is replaced: its header is read before
  // anything is written, and marked deleted only once the new message is
  // in place. The new header starts from the old one, so the fields this
  // library does not handle (reply chain, date received) stay. A number
  // whose record is deleted or damaged gets the new message in its slot.
  // A trailing partial index record is no message: a number beyond Count
  // appends, as Count + 1.
  std::optional<std::int64_t> old_offset;
  JamMsgHeader old_header;
  if (number <= count_) {
    if (IsValidMsg(number)) {
      old_offset = HeaderOffsetOf(index_record_);
      if (ReadMsgHeader(*old_offset, &old_header)) return fail();
      old_header.Attribute |= kJamAttrDeleted;
      old_header.TxtOffset = 0;
      old_header.TxtLen = 0;
      msg_header_ = old_header;
    } else {
      ++base_header_.ActiveMsgs;
    }
  } else {
    number = ++count_;
    ++base_header_.ActiveMsgs;
  }
  ++base_header_.ModCounter;

  message.SyncAttributes(false);
  TransferHeader(false, message);
  std::string text;
  if (ComposeText(message, &text)) return fail();
  const std::vector<std::uint8_t> subfields = EncodeSubfields(message);

  const std::int64_t text_offset = text_file_->Size();
  const std::int64_t header_offset = header_stream_->Size();
  const std::int64_t record_offset = IndexOffset(number);
  if (text_offset < 0 || header_offset < 0) return fail();
  // The new bytes must end where a stream and a u32 field can reach.
  if (text_offset + static_cast<std::int64_t>(text.size()) > kMaxStreamOffset ||
      header_offset + static_cast<std::int64_t>(JamMsgHeader::kEncodedSize + subfields.size()) >
          kMaxStreamOffset ||
      record_offset + static_cast<std::int64_t>(JamIndexRecord::kEncodedSize) > kMaxStreamOffset) {
    return fail();
  }

  msg_header_.SubfieldLen = static_cast<std::uint32_t>(subfields.size());
  msg_header_.MessageNumber = static_cast<std::uint32_t>(number);
  msg_header_.TxtOffset = static_cast<std::uint32_t>(text_offset);
  msg_header_.TxtLen = static_cast<std::uint32_t>(text.size());
  index_record_.ToCrc = JamCrc(message.GetTo());
  index_record_.HdrOffset = static_cast<std::uint32_t>(header_offset);

  std::vector<std::uint8_t> header_bytes = Encode(msg_header_);
  header_bytes.insert(header_bytes.end(), subfields.begin(), subfields.end());
  if (!text.empty() && WriteDurably(*text_file_, text_offset, AsBytes(text))) return fail();
  if (WriteDurably(*header_stream_, header_offset, header_bytes)) return fail();
  if (WriteDurably(*index_stream_, record_offset, Encode(index_record_))) return fail();

  // The new message is in place; what follows may lag behind without
  // making the base unreadable, but a failure is still reported.
  bool failed = false;
  if (old_offset.has_value() && WriteDurably(*header_stream_, *old_offset, Encode(old_header))) {
    failed = true;
  }
  if (WriteBaseHeader()) failed = true;
  ResetStreams();
  message.MsgState = 3;
  return failed;
}

// The index record goes first: once it is all 0xFF the message is gone for
// every reader, and the header marked after it is only a courtesy to
// programs that scan ".jhr". Done the other way round, a cut in between
// would leave a live message with its text taken away.
bool JamBase::DeleteMessage(std::int32_t number) {
  ResetStreams();
  if (!Usable() || header_stream_ == nullptr || index_stream_ == nullptr) return true;
  WriteScope scope(*this);
  if (!scope.Held()) return true;
  if (RefreshFromDisk() || !IsValidMsg(number)) {
    ResetStreams();
    return true;
  }
  const std::int64_t header_offset = HeaderOffsetOf(index_record_);
  JamMsgHeader header;
  if (ReadMsgHeader(header_offset, &header)) {
    ResetStreams();
    return true;
  }
  header.Attribute |= kJamAttrDeleted;
  header.TxtOffset = 0;
  header.TxtLen = 0;
  msg_header_ = header;
  index_record_ = JamIndexRecord::Deleted();
  if (WriteDurably(*index_stream_, IndexOffset(number), Encode(index_record_))) {
    ResetStreams();
    return true;
  }

  bool failed = WriteDurably(*header_stream_, header_offset, Encode(header));
  // Other writers leave odd counts behind; one that is 0 already stays 0.
  if (base_header_.ActiveMsgs > 0) --base_header_.ActiveMsgs;
  if (WriteBaseHeader()) failed = true;
  ResetStreams();
  return failed;
}

}  // namespace qlr
