// Helpers for the packet message tests: filling a message, packed bytes
// built by hand, and a digest of everything a read gives back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_test_support.h"

namespace qlr::testing {

// The text body of a message as bytes.
inline std::string TextOf(Message& m) {
  m.Text.ClearError();
  const std::int32_t size = m.Text.Size();
  std::string text(static_cast<std::size_t>(size), '\0');
  m.Text.Seek(0);
  m.Text.Read(text.data(), text.size());
  return text;
}

inline void SetText(Message& m, std::string_view text) {
  m.Text.Seek(0);
  m.Text.Truncate();
  m.Text.Write(text.data(), text.size());
}

// A netmail without points, kludges or origin: its packed form is just
// the fixed part, the three names and the body.
inline void FillNetmail(Message& m, std::string_view to, std::string_view from,
                        std::string_view subject, std::string_view body) {
  m.Clear();
  m.To = to;
  m.From = from;
  m.Subject = subject;
  m.Date = "01 Jan 24  12:00:00";
  SetText(m, body);
}

// The fixed part (without the type word) of a message with these fields.
inline std::string FixedPart(std::uint16_t orig_node, std::uint16_t dest_node,
                             std::uint16_t orig_net, std::uint16_t dest_net, std::uint16_t attr,
                             std::uint16_t cost, std::string_view date) {
  std::string f =
      U16(orig_node) + U16(dest_node) + U16(orig_net) + U16(dest_net) + U16(attr) + U16(cost);
  std::string d(date.substr(0, 20));
  d.resize(20, '\0');
  return f + d;
}

// The packed bytes FillNetmail's message must be written as.
inline std::string PackedNetmail(std::string_view to, std::string_view from,
                                 std::string_view subject, std::string_view body) {
  std::string p = U16(2) + FixedPart(0, 0, 0, 0, 0, 0, "01 Jan 24  12:00:00");
  p += std::string(to) + '\0' + std::string(from) + '\0' + std::string(subject) + '\0';
  return p + std::string(body) + '\0';
}

// What a read gives back, in one comparable string.
inline std::string Digest(Message& m) {
  return m.To.str() + "|" + m.From.str() + "|" + m.Subject.str() + "|" + m.Area.str() + "|" +
         m.Date.str() + "|" + std::to_string(m.Attr) + "|" + std::to_string(m.OrigNode) + "|" +
         std::to_string(m.Cost) + "|" + TextOf(m);
}

// Opens the packet with a new object and reads every message; nothing
// when it does not open or a message does not read.
inline std::optional<std::vector<std::string>> ReadAllDigests(std::string_view path) {
  PacketBase base;
  if (base.Open(path)) return std::nullopt;
  std::vector<std::string> digests;
  for (std::int32_t n = 1; n <= base.Count(); ++n) {
    Message m;
    if (base.ReadMessage(n, m)) return std::nullopt;
    digests.push_back(Digest(m));
  }
  base.Discard();
  return digests;
}

}  // namespace qlr::testing
