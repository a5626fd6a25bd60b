// Raw FTN records for the interoperability tests, written byte by byte
// as another program would write them: *.msg stored messages (190-byte
// header, then the text) and type-2 packets (58-byte header, packed
// messages, a two-byte terminator). They are built here rather than with
// the library so that what a peer tosser is given does not depend on the
// code under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qlr::testing::interop {

inline std::string U16(std::uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// `text` cut or padded with NULs to `width` bytes.
inline std::string FixedField(std::string text, std::size_t width) {
  text.resize(width, '\0');
  return text;
}

struct FtnAddress {
  std::uint16_t zone = 0, net = 0, node = 0, point = 0;
};

// One message as both record kinds carry it. `text` is the raw text with
// its kludges and trailing lines, CR line ends, without terminating NUL.
struct RawMessage {
  std::string from;
  std::string to;
  std::string subject;
  std::string date;  // FTS-0001 text, at most 19 characters
  FtnAddress orig;
  FtnAddress dest;
  std::uint16_t attribute = 0;
  std::string text;
};

// A stored message (*.msg file): the 190-byte header, then the text.
inline std::string StoredMessageBytes(const RawMessage& m) {
  std::string h = FixedField(m.from, 36) + FixedField(m.to, 36) + FixedField(m.subject, 72) +
                  FixedField(m.date, 20);
  h += U16(0);  // times read
  h += U16(m.dest.node) + U16(m.orig.node) + U16(0) /* cost */ + U16(m.orig.net) + U16(m.dest.net);
  h += U16(m.dest.zone) + U16(m.orig.zone) + U16(m.dest.point) + U16(m.orig.point);
  h += U16(0) + U16(m.attribute) + U16(0);  // reply to, attribute, next reply
  return h + m.text;
}

// A type-2 packet from `orig` to `dest` (zone and point in the FSC-0039
// places, capability word 0) holding `messages` in order.
inline std::string PacketBytes(const FtnAddress& orig, const FtnAddress& dest,
                               const std::vector<RawMessage>& messages) {
  std::string p = U16(orig.node) + U16(dest.node);
  // 2021-03-05 10:20:30; the month counts from 0.
  p += U16(2021) + U16(2) + U16(5) + U16(10) + U16(20) + U16(30);
  p += U16(0) + U16(2) + U16(orig.net) + U16(dest.net);
  p += std::string(2, '\0');                             // product code, revision
  p += std::string(8, '\0');                             // no password
  p += U16(orig.zone) + U16(dest.zone);                  // the zones' first copies
  p += U16(0) + U16(0) + std::string(2, '\0') + U16(0);  // aux net, cw copy, product, cw
  p += U16(orig.zone) + U16(dest.zone) + U16(orig.point) + U16(dest.point);
  p += std::string(4, '\0');  // product data
  for (const RawMessage& m : messages) {
    p += U16(2) + U16(m.orig.node) + U16(m.dest.node) + U16(m.orig.net) + U16(m.dest.net);
    p += U16(m.attribute) + U16(0) + FixedField(m.date, 20);
    p += m.to + '\0' + m.from + '\0' + m.subject + '\0' + m.text + '\0';
  }
  return p + U16(0);
}

}  // namespace qlr::testing::interop
