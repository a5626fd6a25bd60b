// Helpers for the JAM message tests: messages to write, bytes built by
// hand (independently of the record encoders) and a summary of everything
// a reader sees in a base, for "as before or as after" checks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/ftn_date.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/message.h"
#include "testing/memory_platform.h"

namespace qlr::testing {

// Little-endian fields and subfields, spelt out for golden bytes.
inline std::string Le16(std::uint16_t value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

inline std::string Le32(std::uint32_t value) {
  return Le16(static_cast<std::uint16_t>(value & 0xFFFF)) +
         Le16(static_cast<std::uint16_t>(value >> 16));
}

inline std::string Subfield(std::uint32_t id, std::string_view data) {
  return Le32(id) + Le32(static_cast<std::uint32_t>(data.size())) + std::string(data);
}

// A netmail from 2:5020/1 to 2:5020/2.3 with names, subject, MSGID and
// `body` as its text.
inline void FillMessage(Message& m, std::string_view subject, std::string_view body) {
  m.Clear();
  m.From = "Ann Author";
  m.To = "Bob";
  m.Subject = subject;
  m.DateWritten = PackDateTime(DateTime{1999, 12, 31, 23, 59, 58});
  m.DateArrived = PackDateTime(DateTime{2000, 1, 1, 0, 0, 0});
  m.MsgId = "2:5020/1 12345678";
  m.OrigZone = 2;
  m.OrigNet = 5020;
  m.OrigNode = 1;
  m.DestZone = 2;
  m.DestNet = 5020;
  m.DestNode = 2;
  m.DestPoint = 3;
  m.Text.Write(body.data(), body.size());
}

inline std::string LinesOf(const Collection<KludgeLine>& lines) {
  std::string out;
  for (const auto& line : lines) {
    out += std::string(line->Prefix.view()) + "|" + std::string(line->Value.view()) + ";";
  }
  return out;
}

inline std::string TextOf(Message& m) {
  m.Text.ClearError();
  std::string text(static_cast<std::size_t>(m.Text.Size()), '\0');
  m.Text.Seek(0);
  m.Text.Read(text.data(), text.size());
  return text;
}

// What a reader sees of one message; nothing when ReadMessage fails.
inline std::optional<std::string> DescribeMessage(JamBase& base, std::int32_t number) {
  Message m;
  if (base.ReadMessage(number, m)) return std::nullopt;
  return m.From.str() + "/" + m.To.str() + "/" + m.Subject.str() + "/" + m.Date.str() + "/" +
         m.MsgId.str() + "/" + m.OrigAddressText().str() + "/" + m.DestAddressText().str() +
         "/attr " + std::to_string(m.Attr) + "/text " + TextOf(m) + "/tear " + m.TearLine.str() +
         "/kludges " + LinesOf(m.Kludges) + "/trail " + LinesOf(m.TrailLines);
}

// The base as a fresh reader finds it: whether it opens, its Count and
// every message. ActiveMsgs and ModCounter are not part of it: they may
// lag behind the index after an interrupted write.
struct BaseView {
  bool opens = false;
  std::int32_t count = 0;
  std::vector<std::optional<std::string>> messages;

  friend bool operator==(const BaseView&, const BaseView&) = default;
};

inline BaseView ViewBase(std::string_view base_path) {
  BaseView view;
  JamBase base;
  if (base.Open(base_path)) return view;
  view.opens = true;
  view.count = base.Count();
  for (std::int32_t n = 1; n <= view.count; ++n) view.messages.push_back(DescribeMessage(base, n));
  return view;
}

inline std::string ToString(const BaseView& view) {
  std::string out = view.opens ? "opens, count " + std::to_string(view.count) : "does not open";
  for (const auto& message : view.messages) out += "\n  " + message.value_or("(unreadable)");
  return out;
}

// A base at `path` on the platform in use, created and holding `count`
// messages written through WriteMessage (subjects "Message 1", ...).
inline void MakeBase(std::string_view path, int count) {
  JamBase base;
  ASSERT_FALSE(base.Create(path));
  for (int i = 1; i <= count; ++i) {
    Message m;
    FillMessage(m, "Message " + std::to_string(i), "Text of message " + std::to_string(i) + "\r");
    ASSERT_FALSE(base.WriteMessage(i, m)) << "message " << i;
  }
}

// The bytes of a file of the disk; empty when it is missing.
inline std::string FileBytes(const MemoryPlatform& disk, std::string_view path) {
  return disk.ReadFileBytes(path).value_or(std::string());
}

}  // namespace qlr::testing
