#include "msgbase/jam/jam_records.h"

#include <algorithm>

#include "support/coding.h"

namespace qlr {
namespace {

// Every record is encoded into a buffer of its own size, so the writer can
// never run short; AppendTo reuses EncodeTo through a resized vector.
template <typename Record>
void AppendRecord(const Record& record, std::vector<std::uint8_t>* out) {
  const std::size_t start = out->size();
  out->resize(start + Record::kEncodedSize);
  record.EncodeTo(out->data() + start);
}

template <std::size_t N>
void ReadArray(ByteReader& reader, std::array<std::uint8_t, N>* field) {
  const std::span<const std::uint8_t> bytes = reader.Bytes(N);
  if (bytes.size() == N) std::copy(bytes.begin(), bytes.end(), field->begin());
}

}  // namespace

// ---- JamBaseHeader ----

void JamBaseHeader::EncodeTo(std::uint8_t* dst) const {
  SpanWriter writer(std::span<std::uint8_t>(dst, kEncodedSize));
  writer.Bytes(Signature);
  writer.U32(DateCreated);
  writer.U32(ModCounter);
  writer.U32(ActiveMsgs);
  writer.U32(PasswordCrc);
  writer.U32(BaseMsgNum);
  writer.Bytes(Reserved);
}

void JamBaseHeader::AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }

std::optional<JamBaseHeader> JamBaseHeader::DecodeFrom(std::span<const std::uint8_t> in) {
  if (in.size() < kEncodedSize) return std::nullopt;
  ByteReader reader(in);
  JamBaseHeader header;
  ReadArray(reader, &header.Signature);
  header.DateCreated = reader.U32();
  header.ModCounter = reader.U32();
  header.ActiveMsgs = reader.U32();
  header.PasswordCrc = reader.U32();
  header.BaseMsgNum = reader.U32();
  ReadArray(reader, &header.Reserved);
  if (reader.failed()) return std::nullopt;
  return header;
}

// ---- JamMsgHeader ----

void JamMsgHeader::EncodeTo(std::uint8_t* dst) const {
  SpanWriter writer(std::span<std::uint8_t>(dst, kEncodedSize));
  writer.Bytes(Signature);
  writer.U16(Revision);
  writer.U16(ReservedWord);
  writer.U32(SubfieldLen);
  writer.U32(TimesRead);
  writer.U32(MsgIdCrc);
  writer.U32(ReplyCrc);
  writer.U32(ReplyTo);
  writer.U32(Reply1st);
  writer.U32(ReplyNext);
  writer.U32(DateWritten);
  writer.U32(DateReceived);
  writer.U32(DateProcessed);
  writer.U32(MessageNumber);
  writer.U32(Attribute);
  writer.U32(Attribute2);
  writer.U32(TxtOffset);
  writer.U32(TxtLen);
  writer.U32(PasswordCrc);
  writer.U32(Cost);
}

void JamMsgHeader::AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }

std::optional<JamMsgHeader> JamMsgHeader::DecodeFrom(std::span<const std::uint8_t> in) {
  if (in.size() < kEncodedSize) return std::nullopt;
  ByteReader reader(in);
  JamMsgHeader header;
  ReadArray(reader, &header.Signature);
  header.Revision = reader.U16();
  header.ReservedWord = reader.U16();
  header.SubfieldLen = reader.U32();
  header.TimesRead = reader.U32();
  header.MsgIdCrc = reader.U32();
  header.ReplyCrc = reader.U32();
  header.ReplyTo = reader.U32();
  header.Reply1st = reader.U32();
  header.ReplyNext = reader.U32();
  header.DateWritten = reader.U32();
  header.DateReceived = reader.U32();
  header.DateProcessed = reader.U32();
  header.MessageNumber = reader.U32();
  header.Attribute = reader.U32();
  header.Attribute2 = reader.U32();
  header.TxtOffset = reader.U32();
  header.TxtLen = reader.U32();
  header.PasswordCrc = reader.U32();
  header.Cost = reader.U32();
  if (reader.failed()) return std::nullopt;
  return header;
}

// ---- JamSubfieldHeader ----

void JamSubfieldHeader::EncodeTo(std::uint8_t* dst) const {
  SpanWriter writer(std::span<std::uint8_t>(dst, kEncodedSize));
  // LoId then HiId: the u32 id in little-endian order.
  writer.U32(Id);
  writer.U32(DatLen);
}

void JamSubfieldHeader::AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }

std::optional<JamSubfieldHeader> JamSubfieldHeader::DecodeFrom(std::span<const std::uint8_t> in) {
  if (in.size() < kEncodedSize) return std::nullopt;
  ByteReader reader(in);
  JamSubfieldHeader header;
  const std::uint16_t lo_id = reader.U16();
  const std::uint16_t hi_id = reader.U16();
  header.Id = static_cast<std::uint32_t>(lo_id) | (static_cast<std::uint32_t>(hi_id) << 16);
  header.DatLen = reader.U32();
  if (reader.failed()) return std::nullopt;
  return header;
}

// ---- JamIndexRecord ----

void JamIndexRecord::EncodeTo(std::uint8_t* dst) const {
  SpanWriter writer(std::span<std::uint8_t>(dst, kEncodedSize));
  writer.U32(ToCrc);
  writer.U32(HdrOffset);
}

void JamIndexRecord::AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }

std::optional<JamIndexRecord> JamIndexRecord::DecodeFrom(std::span<const std::uint8_t> in) {
  if (in.size() < kEncodedSize) return std::nullopt;
  ByteReader reader(in);
  JamIndexRecord record;
  record.ToCrc = reader.U32();
  record.HdrOffset = reader.U32();
  if (reader.failed()) return std::nullopt;
  return record;
}

}  // namespace qlr
