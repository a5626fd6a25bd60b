// The fixed records of a type-2 packet file.
//
// A packet is a 58-byte packet header, the packed messages one after the
// other, and a terminating u16 zero. Each packed message starts with a
// 34-byte fixed part (type word 2, addresses, attribute, cost, date text)
// followed by four NUL-terminated strings: to-user, from-user, subject and
// the message text. All numbers are little-endian.
//
// Packet header, 58 bytes (the extended type-2 layout with zone and point
// fields; a packet made here leaves the capability word 0):
//
//   off size field
//    0   2   orig_node
//    2   2   dest_node
//    4   2   year (full year, e.g. 2000)
//    6   2   month (0 = January .. 11 = December)
//    8   2   day (1 to 31)
//   10   2   hour
//   12   2   minute
//   14   2   second
//   16   2   baud
//   18   2   packet_version (2)
//   20   2   orig_net
//   22   2   dest_net
//   24   1   product_code_low
//   25   1   product_revision_major
//   26   8   password (text, NUL-terminated when shorter than 8)
//   34   2   orig_zone_copy (written with orig_zone, never read)
//   36   2   dest_zone_copy (written with dest_zone, never read)
//   38   2   aux_net
//   40   2   capability_validation (byte-swapped copy of the word at 44)
//   42   1   product_code_high
//   43   1   product_revision_minor
//   44   2   capability_word
//   46   2   orig_zone
//   48   2   dest_zone
//   50   2   orig_point
//   52   2   dest_point
//   54   4   product_data
//
// Packed message fixed part, 34 bytes:
//
//   off size field
//    0   2   message_type (2)
//    2   2   orig_node
//    4   2   dest_node
//    6   2   orig_net
//    8   2   dest_net
//   10   2   attribute
//   12   2   cost
//   14  20   date_time (FTS date text, NUL-terminated)
//
// Text fields are kept as their raw bytes: the bytes after a NUL are
// left-over data that a rewrite of the record must keep.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "msgbase/ftn_date.h"

#include "support/coding.h"
namespace qlr {

// Offsets and sizes of the packet file layout.
inline constexpr std::int32_t kPacketHeaderSize = 58;
// The header plus the u16 after it: the first message's type word, or the
// terminator of an empty packet. An empty packet is exactly this long.
inline constexpr std::int32_t kPacketHeaderBufferSize = 60;
inline constexpr std::int32_t kEmptyPacketSize = 60;
inline constexpr std::int32_t kPackedMsgHeaderSize = 34;
// The type word that starts every packed message, in both packet versions
// the library handles.
inline constexpr std::uint16_t kPacketVersion = 2;
inline constexpr std::uint16_t kPackedMsgType = 2;

struct PacketHeader {
  static constexpr std::size_t kEncodedSize = 58;
  static constexpr std::size_t kPasswordWidth = 8;

  std::uint16_t orig_node = 0;
  std::uint16_t dest_node = 0;
  std::uint16_t year = 0;
  std::uint16_t month = 0;  // 0 = January
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t baud = 0;
  std::uint16_t packet_version = 0;
  std::uint16_t orig_net = 0;
  std::uint16_t dest_net = 0;
  std::uint8_t product_code_low = 0;
  std::uint8_t product_revision_major = 0;
  std::array<std::uint8_t, kPasswordWidth> password{};
  std::uint16_t orig_zone_copy = 0;
  std::uint16_t dest_zone_copy = 0;
  std::uint16_t aux_net = 0;
  std::uint16_t capability_validation = 0;
  std::uint8_t product_code_high = 0;
  std::uint8_t product_revision_minor = 0;
  std::uint16_t capability_word = 0;
  std::uint16_t orig_zone = 0;
  std::uint16_t dest_zone = 0;
  std::uint16_t orig_point = 0;
  std::uint16_t dest_point = 0;
  std::uint32_t product_data = 0;

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.orig_node, s.dest_node, s.year, s.month, s.day, s.hour, s.minute, s.second, s.baud,
              s.packet_version, s.orig_net, s.dest_net, s.product_code_low,
              s.product_revision_major, s.password, s.orig_zone_copy, s.dest_zone_copy, s.aux_net,
              s.capability_validation, s.product_code_high, s.product_revision_minor,
              s.capability_word, s.orig_zone, s.dest_zone, s.orig_point, s.dest_point,
              s.product_data);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  // Nothing when `in` is shorter than kEncodedSize. The version is not
  // checked here: a packet of another version is a format decision of the
  // reader, not a broken record.
  static std::optional<PacketHeader> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<PacketHeader>(in);
  }

  friend bool operator==(const PacketHeader&, const PacketHeader&) = default;
};

struct PackedMsgHeader {
  static constexpr std::size_t kEncodedSize = 34;
  static constexpr std::size_t kDateWidth = 20;

  std::uint16_t message_type = 0;
  std::uint16_t orig_node = 0;
  std::uint16_t dest_node = 0;
  std::uint16_t orig_net = 0;
  std::uint16_t dest_net = 0;
  std::uint16_t attribute = 0;
  std::uint16_t cost = 0;
  std::array<std::uint8_t, kDateWidth> date_time{};

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.message_type, s.orig_node, s.dest_node, s.orig_net, s.dest_net, s.attribute, s.cost,
              s.date_time);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  // Nothing when `in` is shorter than kEncodedSize.
  static std::optional<PackedMsgHeader> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<PackedMsgHeader>(in);
  }

  friend bool operator==(const PackedMsgHeader&, const PackedMsgHeader&) = default;
};

// Marks `h` as a packet of this version made at `now` (the header keeps
// the month from 0).
void StampPacketHeader(PacketHeader& h, const DateTime& now);

}  // namespace qlr
