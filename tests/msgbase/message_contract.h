// What the message contract suites share: building and describing
// messages, and the checks of a base header that a reader does not make.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/jam/jam_records.h"
#include "msgbase/message.h"
#include "msgbase/squish/squish_records.h"
#include "testing/memory_platform.h"

namespace qlr::testing {

inline void AddLine(Collection<KludgeLine>& list, std::string_view prefix, std::string_view value) {
  auto line = std::make_unique<KludgeLine>();
  line->Prefix = NewStr(prefix);
  line->Value = NewStr(value);
  list.Insert(std::move(line));
}

inline std::string TextOf(Message& m) {
  m.Text.ClearError();
  std::string text(static_cast<std::size_t>(std::max(m.Text.Size(), 0)), '\0');
  m.Text.Seek(0);
  if (!text.empty()) m.Text.Read(text.data(), text.size());
  return text;
}

inline std::string LinesOf(const Collection<KludgeLine>& lines) {
  std::string out;
  for (const auto& line : lines)
    out += std::string(line->Prefix.view()) + "|" + std::string(line->Value.view()) + ";";
  return out;
}

// Everything a reader gives back of a message, in one comparable string.
inline std::string Describe(Message& m) {
  return m.From.str() + "/" + m.To.str() + "/" + m.Subject.str() + "/" + m.Date.str() + "/" +
         m.MsgId.str() + "/" + m.OrigAddressText().str() + "/" + m.DestAddressText().str() +
         "/attr " + std::to_string(m.Attr) + "/text " + TextOf(m) + "/tear " + m.TearLine.str() +
         "/origin " + m.Origin.str() + "/kludges " + LinesOf(m.Kludges) + "/trail " +
         LinesOf(m.TrailLines);
}

// What the header of a base of the format says that a reader does not
// check: lines naming each disagreement with the `live` messages found.
using HeaderCheck = std::vector<std::string> (*)(const MemoryPlatform& disk,
                                                 const std::string& base, std::size_t live);

inline std::vector<std::string> CheckJamHeader(const MemoryPlatform& disk, const std::string& base,
                                               std::size_t live) {
  const std::string jhr = disk.ReadFileBytes(base + ".jhr").value_or("");
  const auto header = JamBaseHeader::DecodeFrom(
      std::span(reinterpret_cast<const std::uint8_t*>(jhr.data()), jhr.size()));
  if (!header) return {"no JAM base header"};
  if (header->ActiveMsgs == live) return {};
  return {"ActiveMsgs " + std::to_string(header->ActiveMsgs)};
}

inline std::vector<std::string> CheckSquishHeader(const MemoryPlatform& disk,
                                                  const std::string& base, std::size_t live) {
  const std::string sqd = disk.ReadFileBytes(base + ".sqd").value_or("");
  const std::size_t sqi = disk.ReadFileBytes(base + ".sqi").value_or("").size();
  const auto header = SquishBaseHeader::DecodeFrom(
      std::span(reinterpret_cast<const std::uint8_t*>(sqd.data()), sqd.size()));
  if (!header) return {"no Squish base header"};
  std::vector<std::string> wrong;
  if (header->num_msg != live || header->high_msg != live) {
    wrong.push_back("NumMsg " + std::to_string(header->num_msg) + " HighMsg " +
                    std::to_string(header->high_msg));
  }
  if (sqi != live * SquishIndexRecord::kEncodedSize)
    wrong.push_back("index of " + std::to_string(sqi) + " bytes");
  if (header->end_frame != sqd.size()) {
    wrong.push_back("EndFrame " + std::to_string(header->end_frame) + " in a file of " +
                    std::to_string(sqd.size()) + " bytes");
  }
  return wrong;
}

}  // namespace qlr::testing
