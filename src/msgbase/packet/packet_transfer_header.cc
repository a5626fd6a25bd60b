// The fixed part of a packed message and the message record.
//
// PktMsgBuffer holds bytes 2 to 33 of the packed message; the type word
// before them is always 2 and is written by the message writer itself.
#include <algorithm>
#include <cstddef>

#include "msgbase/message.h"
#include "msgbase/packet/packet_base.h"
#include "support/coding.h"

namespace qlr {
namespace {

// The date field has room for 20 bytes; a text of 20 characters would
// leave no room for the NUL that other readers look for, so one character
// less is stored.
constexpr std::size_t kStoredDateLength = PackedMsgHeader::kDateWidth - 1;

}  // namespace

void PacketBase::TransferHeader(bool to_message, Message& message) {
  MessageBase::TransferHeader(to_message, message);
  std::array<std::uint8_t, kPackedMsgHeaderSize> raw{};
  EncodeFixed16(raw.data(), kPackedMsgType);
  if (to_message) {
    std::copy(pkt_msg_buffer_.begin(), pkt_msg_buffer_.end(), raw.begin() + 2);
    // The array has the record's size, so the decoder cannot refuse it.
    const PackedMsgHeader h = PackedMsgHeader::DecodeFrom(raw).value_or(PackedMsgHeader{});
    message.OrigNode = h.orig_node;
    message.DestNode = h.dest_node;
    message.OrigNet = h.orig_net;
    message.DestNet = h.dest_net;
    message.Attr = h.attribute;
    message.Cost = h.cost;
    // Up to the first NUL; a field of 20 characters without one is read
    // whole, as some writers fill it.
    message.Date = DecodeFixedText(h.date_time, PackedMsgHeader::kDateWidth);
    return;
  }
  PackedMsgHeader h;
  h.message_type = kPackedMsgType;
  h.orig_node = message.OrigNode;
  h.dest_node = message.DestNode;
  h.orig_net = message.OrigNet;
  h.dest_net = message.DestNet;
  h.attribute = static_cast<std::uint16_t>(message.Attr & 0xFFFF);
  h.cost = message.Cost;
  // The bytes after the NUL are zero: the buffer may still hold the date of
  // a message read before, which must not travel in this one.
  const std::string_view date = message.Date.view().substr(0, kStoredDateLength);
  std::copy(date.begin(), date.end(), h.date_time.begin());
  h.EncodeTo(raw.data());
  std::copy(raw.begin() + 2, raw.end(), pkt_msg_buffer_.begin());
}

}  // namespace qlr
