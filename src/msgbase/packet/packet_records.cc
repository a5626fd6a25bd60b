#include "msgbase/packet/packet_records.h"

#include <algorithm>

#include "support/coding.h"

namespace qlr {
namespace {

template <std::size_t N>
void ReadArray(ByteReader& in, std::array<std::uint8_t, N>* out) {
  const std::span<const std::uint8_t> bytes = in.Bytes(N);
  // A short input leaves the array zero; the caller rejects it anyway.
  if (bytes.size() == N) std::copy(bytes.begin(), bytes.end(), out->begin());
}

}  // namespace

void PacketHeader::EncodeTo(std::uint8_t* dst) const {
  SpanWriter w(std::span<std::uint8_t>(dst, kEncodedSize));
  w.U16(orig_node);
  w.U16(dest_node);
  w.U16(year);
  w.U16(month);
  w.U16(day);
  w.U16(hour);
  w.U16(minute);
  w.U16(second);
  w.U16(baud);
  w.U16(packet_version);
  w.U16(orig_net);
  w.U16(dest_net);
  w.U8(product_code_low);
  w.U8(product_revision_major);
  w.Bytes(password);
  w.U16(orig_zone_copy);
  w.U16(dest_zone_copy);
  w.U16(aux_net);
  w.U16(capability_validation);
  w.U8(product_code_high);
  w.U8(product_revision_minor);
  w.U16(capability_word);
  w.U16(orig_zone);
  w.U16(dest_zone);
  w.U16(orig_point);
  w.U16(dest_point);
  w.U32(product_data);
}

void PacketHeader::AppendTo(std::vector<std::uint8_t>* out) const {
  const std::size_t start = out->size();
  out->resize(start + kEncodedSize);
  EncodeTo(out->data() + start);
}

std::optional<PacketHeader> PacketHeader::DecodeFrom(std::span<const std::uint8_t> in) {
  if (in.size() < kEncodedSize) return std::nullopt;
  ByteReader r(in);
  PacketHeader h;
  h.orig_node = r.U16();
  h.dest_node = r.U16();
  h.year = r.U16();
  h.month = r.U16();
  h.day = r.U16();
  h.hour = r.U16();
  h.minute = r.U16();
  h.second = r.U16();
  h.baud = r.U16();
  h.packet_version = r.U16();
  h.orig_net = r.U16();
  h.dest_net = r.U16();
  h.product_code_low = r.U8();
  h.product_revision_major = r.U8();
  ReadArray(r, &h.password);
  h.orig_zone_copy = r.U16();
  h.dest_zone_copy = r.U16();
  h.aux_net = r.U16();
  h.capability_validation = r.U16();
  h.product_code_high = r.U8();
  h.product_revision_minor = r.U8();
  h.capability_word = r.U16();
  h.orig_zone = r.U16();
  h.dest_zone = r.U16();
  h.orig_point = r.U16();
  h.dest_point = r.U16();
  h.product_data = r.U32();
  if (r.failed()) return std::nullopt;
  return h;
}

void PackedMsgHeader::EncodeTo(std::uint8_t* dst) const {
  SpanWriter w(std::span<std::uint8_t>(dst, kEncodedSize));
  w.U16(message_type);
  w.U16(orig_node);
  w.U16(dest_node);
  w.U16(orig_net);
  w.U16(dest_net);
  w.U16(attribute);
  w.U16(cost);
  w.Bytes(date_time);
}

void PackedMsgHeader::AppendTo(std::vector<std::uint8_t>* out) const {
  const std::size_t start = out->size();
  out->resize(start + kEncodedSize);
  EncodeTo(out->data() + start);
}

std::optional<PackedMsgHeader> PackedMsgHeader::DecodeFrom(std::span<const std::uint8_t> in) {
  if (in.size() < kEncodedSize) return std::nullopt;
  ByteReader r(in);
  PackedMsgHeader h;
  h.message_type = r.U16();
  h.orig_node = r.U16();
  h.dest_node = r.U16();
  h.orig_net = r.U16();
  h.dest_net = r.U16();
  h.attribute = r.U16();
  h.cost = r.U16();
  ReadArray(r, &h.date_time);
  if (r.failed()) return std::nullopt;
  return h;
}

void StampPacketHeader(PacketHeader& h, const DateTime& now) {
  h.packet_version = kPacketVersion;
  h.year = static_cast<std::uint16_t>(now.year);
  h.month = static_cast<std::uint16_t>(now.month - 1);
  h.day = static_cast<std::uint16_t>(now.day);
  h.hour = static_cast<std::uint16_t>(now.hour);
  h.minute = static_cast<std::uint16_t>(now.min);
  h.second = static_cast<std::uint16_t>(now.sec);
}

}  // namespace qlr
