#include "msgbase/squish/squish_records.h"

#include <algorithm>

#include "support/coding.h"

namespace qlr {
namespace {

// Every record is encoded into a zeroed buffer of its own size, so the
// bytes after a text field's NUL are zeros.
template <typename Record>
SpanWriter ZeroedWriter(std::uint8_t* dst) {
  std::fill_n(dst, Record::kEncodedSize, std::uint8_t{0});
  return SpanWriter(std::span<std::uint8_t>(dst, Record::kEncodedSize));
}

template <typename Record>
void AppendRecord(const Record& record, std::vector<std::uint8_t>* out) {
  const std::size_t start = out->size();
  out->resize(start + Record::kEncodedSize);
  record.EncodeTo(out->data() + start);
}

// The decoders look at exactly the record's own bytes.
template <typename Record>
std::optional<ByteReader> RecordReader(std::span<const std::uint8_t> in) {
  if (in.size() < Record::kEncodedSize) return std::nullopt;
  return ByteReader(in.first(Record::kEncodedSize));
}

void PutAddress(SpanWriter& w, const SquishAddress& address) {
  w.U16(address.zone);
  w.U16(address.net);
  w.U16(address.node);
  w.U16(address.point);
}

SquishAddress GetAddress(ByteReader& r) {
  SquishAddress address;
  address.zone = r.U16();
  address.net = r.U16();
  address.node = r.U16();
  address.point = r.U16();
  return address;
}

}  // namespace

// ---- SquishBaseHeader ----

void SquishBaseHeader::EncodeTo(std::uint8_t* dst) const {
  SpanWriter w = ZeroedWriter<SquishBaseHeader>(dst);
  w.U16(len);
  w.U16(reserved);
  w.U32(num_msg);
  w.U32(high_msg);
  w.U32(skip_msg);
  w.U32(high_water);
  w.U32(uid);
  w.Bytes(base_name);
  w.U32(begin_frame);
  w.U32(last_frame);
  w.U32(free_frame);
  w.U32(last_free_frame);
  w.U32(end_frame);
  w.U32(max_msg);
  w.U16(keep_days);
  w.U16(sz_frame_header);
  w.Bytes(reserved_tail);
}

void SquishBaseHeader::AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }

std::optional<SquishBaseHeader> SquishBaseHeader::DecodeFrom(std::span<const std::uint8_t> in) {
  std::optional<ByteReader> r = RecordReader<SquishBaseHeader>(in);
  if (!r) return std::nullopt;
  SquishBaseHeader h;
  h.len = r->U16();
  h.reserved = r->U16();
  h.num_msg = r->U32();
  h.high_msg = r->U32();
  h.skip_msg = r->U32();
  h.high_water = r->U32();
  h.uid = r->U32();
  const std::span<const std::uint8_t> name = r->Bytes(kBaseNameWidth);
  std::copy(name.begin(), name.end(), h.base_name.begin());
  h.begin_frame = r->U32();
  h.last_frame = r->U32();
  h.free_frame = r->U32();
  h.last_free_frame = r->U32();
  h.end_frame = r->U32();
  h.max_msg = r->U32();
  h.keep_days = r->U16();
  h.sz_frame_header = r->U16();
  const std::span<const std::uint8_t> tail = r->Bytes(kReservedTailWidth);
  std::copy(tail.begin(), tail.end(), h.reserved_tail.begin());
  if (r->failed()) return std::nullopt;
  return h;
}

// ---- SquishFrameHeader ----

void SquishFrameHeader::EncodeTo(std::uint8_t* dst) const {
  SpanWriter w = ZeroedWriter<SquishFrameHeader>(dst);
  w.U32(frame_id);
  w.U32(next_frame);
  w.U32(prev_frame);
  w.U32(frame_length);
  w.U32(msg_length);
  w.U32(ctrl_length);
  w.U16(frame_type);
  w.U16(reserved);
}

void SquishFrameHeader::AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }

std::optional<SquishFrameHeader> SquishFrameHeader::DecodeFrom(std::span<const std::uint8_t> in) {
  std::optional<ByteReader> r = RecordReader<SquishFrameHeader>(in);
  if (!r) return std::nullopt;
  SquishFrameHeader h;
  h.frame_id = r->U32();
  h.next_frame = r->U32();
  h.prev_frame = r->U32();
  h.frame_length = r->U32();
  h.msg_length = r->U32();
  h.ctrl_length = r->U32();
  h.frame_type = r->U16();
  h.reserved = r->U16();
  if (r->failed()) return std::nullopt;
  return h;
}

// ---- SquishMsgHeader ----

void SquishMsgHeader::EncodeTo(std::uint8_t* dst) const {
  SpanWriter w = ZeroedWriter<SquishMsgHeader>(dst);
  w.U32(attr);
  w.FixedText(kSquishNameWidth, from);
  w.FixedText(kSquishNameWidth, to);
  w.FixedText(kSquishSubjectWidth, subj);
  PutAddress(w, orig);
  PutAddress(w, dest);
  w.U32(date_written);
  w.U32(date_arrived);
  w.S16(utc_ofs);
  w.U32(reply_to);
  for (const std::uint32_t reply : replies) w.U32(reply);
  w.U32(umsg_id);
  w.FixedText(kSquishDateWidth, ftsc_date);
}

void SquishMsgHeader::AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }

std::optional<SquishMsgHeader> SquishMsgHeader::DecodeFrom(std::span<const std::uint8_t> in) {
  std::optional<ByteReader> r = RecordReader<SquishMsgHeader>(in);
  if (!r) return std::nullopt;
  SquishMsgHeader h;
  h.attr = r->U32();
  h.from = r->FixedText(kSquishNameWidth);
  h.to = r->FixedText(kSquishNameWidth);
  h.subj = r->FixedText(kSquishSubjectWidth);
  h.orig = GetAddress(*r);
  h.dest = GetAddress(*r);
  h.date_written = r->U32();
  h.date_arrived = r->U32();
  h.utc_ofs = r->S16();
  h.reply_to = r->U32();
  for (std::uint32_t& reply : h.replies) reply = r->U32();
  h.umsg_id = r->U32();
  h.ftsc_date = r->FixedText(kSquishDateWidth);
  if (r->failed()) return std::nullopt;
  return h;
}

// ---- SquishIndexRecord ----

void SquishIndexRecord::EncodeTo(std::uint8_t* dst) const {
  SpanWriter w = ZeroedWriter<SquishIndexRecord>(dst);
  w.U32(offset);
  w.U32(umsg_id);
  w.U32(hash);
}

void SquishIndexRecord::AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }

std::optional<SquishIndexRecord> SquishIndexRecord::DecodeFrom(std::span<const std::uint8_t> in) {
  std::optional<ByteReader> r = RecordReader<SquishIndexRecord>(in);
  if (!r) return std::nullopt;
  SquishIndexRecord record;
  record.offset = r->U32();
  record.umsg_id = r->U32();
  record.hash = r->U32();
  if (r->failed()) return std::nullopt;
  return record;
}

}  // namespace qlr
