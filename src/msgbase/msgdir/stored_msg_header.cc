#include "msgbase/msgdir/stored_msg_header.h"

#include <algorithm>

#include "support/coding.h"

namespace qlr {
namespace {

template <std::size_t N>
void ReadArray(ByteReader& r, std::array<std::uint8_t, N>* field) {
  const std::span<const std::uint8_t> bytes = r.Bytes(N);
  if (bytes.size() == N) std::copy(bytes.begin(), bytes.end(), field->begin());
}

}  // namespace

void StoredMsgHeader::EncodeTo(std::uint8_t* dst) const {
  SpanWriter w(std::span<std::uint8_t>(dst, kEncodedSize));
  w.Bytes(from_user_name);
  w.Bytes(to_user_name);
  w.Bytes(subject);
  w.Bytes(date_time);
  w.U16(times_read);
  w.U16(dest_node);
  w.U16(orig_node);
  w.U16(cost);
  w.U16(orig_net);
  w.U16(dest_net);
  w.U32(date_written);
  w.U32(date_arrived);
  w.U16(reply_to);
  w.U16(attribute);
  w.U16(next_reply);
}

void StoredMsgHeader::AppendTo(std::vector<std::uint8_t>* out) const {
  const std::size_t start = out->size();
  out->resize(start + kEncodedSize);
  EncodeTo(out->data() + start);
}

std::optional<StoredMsgHeader> StoredMsgHeader::DecodeFrom(std::span<const std::uint8_t> in) {
  if (in.size() < kEncodedSize) return std::nullopt;
  ByteReader r(in);
  StoredMsgHeader h;
  ReadArray(r, &h.from_user_name);
  ReadArray(r, &h.to_user_name);
  ReadArray(r, &h.subject);
  ReadArray(r, &h.date_time);
  h.times_read = r.U16();
  h.dest_node = r.U16();
  h.orig_node = r.U16();
  h.cost = r.U16();
  h.orig_net = r.U16();
  h.dest_net = r.U16();
  h.date_written = r.U32();
  h.date_arrived = r.U32();
  h.reply_to = r.U16();
  h.attribute = r.U16();
  h.next_reply = r.U16();
  if (r.failed()) return std::nullopt;
  return h;
}

}  // namespace qlr
