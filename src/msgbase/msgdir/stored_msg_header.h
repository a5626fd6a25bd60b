// The 190-byte header at offset 0 of every *.msg file (an FTS-0001 stored
// message); the message text follows it up to the end of the file.
//
//   off size field
//     0  36  from_user_name  text, NUL-terminated when shorter than 36
//    36  36  to_user_name    text, likewise
//    72  72  subject         text, likewise
//   144  20  date_time       FTS date text, likewise
//   164   2  times_read
//   166   2  dest_node
//   168   2  orig_node
//   170   2  cost
//   172   2  orig_net
//   174   2  dest_net
//   176   4  date_written    DOS packed date and time
//   180   4  date_arrived    DOS packed date and time
//   184   2  reply_to
//   186   2  attribute       the FTS-0001 attribute word
//   188   2  next_reply
//
// All numbers are little-endian. Zones, points and domains are not in the
// header; they travel in the text as kludge lines.
//
// The text fields are kept as their raw bytes: what follows a NUL is
// left-over data of an earlier value, and a rewrite of the header keeps it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "support/coding.h"
namespace qlr {

struct StoredMsgHeader {
  static constexpr std::size_t kEncodedSize = 190;
  static constexpr std::size_t kNameWidth = 36;
  static constexpr std::size_t kSubjectWidth = 72;
  static constexpr std::size_t kDateWidth = 20;

  std::array<std::uint8_t, kNameWidth> from_user_name{};
  std::array<std::uint8_t, kNameWidth> to_user_name{};
  std::array<std::uint8_t, kSubjectWidth> subject{};
  std::array<std::uint8_t, kDateWidth> date_time{};
  std::uint16_t times_read = 0;
  std::uint16_t dest_node = 0;
  std::uint16_t orig_node = 0;
  std::uint16_t cost = 0;
  std::uint16_t orig_net = 0;
  std::uint16_t dest_net = 0;
  std::uint32_t date_written = 0;
  std::uint32_t date_arrived = 0;
  std::uint16_t reply_to = 0;
  std::uint16_t attribute = 0;
  std::uint16_t next_reply = 0;

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.from_user_name, s.to_user_name, s.subject, s.date_time, s.times_read, s.dest_node,
              s.orig_node, s.cost, s.orig_net, s.dest_net, s.date_written, s.date_arrived,
              s.reply_to, s.attribute, s.next_reply);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  // Nothing when `in` is shorter than kEncodedSize; bytes after the header
  // are ignored.
  static std::optional<StoredMsgHeader> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<StoredMsgHeader>(in);
  }

  friend bool operator==(const StoredMsgHeader&, const StoredMsgHeader&) = default;
};

}  // namespace qlr
