// Every field of a message copied from each format into each format, as
// qlrmsg copy does it (append, read with the routing lines kept), reads
// back unchanged wherever both formats can hold it.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "msgbase/ftn_date.h"
#include "msgbase/message.h"
#include "msgbase/message_attributes.h"
#include "msgbase/open_base.h"
#include "platform/platform.h"
#include "testing/memory_platform.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

using qlr::testing::MemoryPlatform;
using Fields = std::map<std::string, std::string>;

// What a format cannot hold, once for the whole table. Names are those of
// FieldsOf() below: "attr:" and "ext:" name one attribute by its FLAGS
// name ("b16" and "b17" are the two carried bits without one).
//   *.MSG:  the arrival date (the packed date words are never kept; the
//           date travels as the FTS text), the attribute bits above the
//           low 16.
//   Squish: the exact second (its dates are packed DOS values).
//   JAM:    the attributes without a JAM bit (audit and update request,
//           is-a-receipt, the two carried bits).
//   packet: the arrival date, the attribute bits above the low 16.
struct Format {
  const char* name;
  const char* spec;  // a base on the memory disk, "/" for the host's separator
  std::set<std::string> lost;
};

const Format kFormats[] = {
    {"msg", "#/m/msg", {"DateArrived", "attr:b16", "attr:b17"}},
    {"squish", "$/m/squish", {"Date"}},
    {"jam", "!/m/jam", {"attr:ARq", "attr:URq", "attr:RRc", "attr:b16", "attr:b17"}},
    {"packet", "P/m/packet", {"DateArrived", "attr:b16", "attr:b17"}},
};

std::string Lines(const Collection<KludgeLine>& lines) {
  std::string out;
  for (const auto& line : lines)
    out += std::string(line->Prefix.view()) + std::string(line->Value.view()) + "|";
  return out;
}

std::string Body(Message& m) {
  m.Text.ClearError();
  std::string bytes(static_cast<std::size_t>(m.Text.Size()), '\0');
  m.Text.Seek(0);
  m.Text.Read(bytes.data(), bytes.size());
  return bytes;
}

Fields FieldsOf(Message& m) {
  Fields f = {
      {"From", m.From.str()},
      {"To", m.To.str()},
      {"Subject", m.Subject.str()},
      {"Date", m.Date.str()},
      {"DateWritten", HexLong(m.DateWritten).str()},
      {"DateArrived", HexLong(m.DateArrived).str()},
      {"MsgId", m.MsgId.str()},
      {"ReplyId", m.ReplyId.str()},
      {"Intl", m.Intl.str()},
      {"Pid", m.Pid.str()},
      {"Tid", m.Tid.str()},
      {"TearLine", m.TearLine.str()},
      {"Origin", m.Origin.str()},
      {"OtherFlags", m.OtherFlags.str()},
      {"Orig", m.OrigAddressText().str()},
      {"Dest", m.DestAddressText().str()},
      {"Kludges", Lines(m.Kludges)},
      {"TrailLines", Lines(m.TrailLines)},
      {"Text", Body(m)},
  };
  // Every named bit but "deleted" (a deleted message is not read).
  for (std::size_t i = 0; i + 1 < kAttrMasks.size(); ++i) {
    const std::string name =
        i < kNamedAttrCount ? TrimBlanks(kFlagsNames[i]).str() : "b" + std::to_string(i + 1);
    f["attr:" + name] = m.AttrFlags[i] ? "set" : "clear";
  }
  for (std::size_t i = 0; i < m.ExtFlags.size(); ++i) {
    f["ext:" + TrimBlanks(kFlagsNames[kFirstExtFlagName + i]).str()] =
        m.ExtFlags[i] ? "set" : "clear";
  }
  return f;
}

void AddLine(Collection<KludgeLine>& list, std::string_view prefix, std::string_view value) {
  auto line = std::make_unique<KludgeLine>();
  line->Prefix = NewStr(prefix);
  line->Value = NewStr(value);
  list.Insert(std::move(line));
}

// A netmail with every field set, as a reader would give it back.
void FillMessage(Message& m) {
  m.From = "Sender Name";
  m.To = "Receiver Name";
  m.Subject = "Every field";
  const DateTime written{2026, 12, 9, 21, 14, 37};
  m.DateWritten = PackDateTime(written);
  m.Date = FormatFtsDate(written);  // the odd second
  m.DateArrived = PackDateTime(DateTime{2026, 12, 9, 22, 0, 10});
  m.OrigZone = 2, m.OrigNet = 5020, m.OrigNode = 1042, m.OrigPoint = 7;
  m.DestZone = 1, m.DestNet = 234, m.DestNode = 56, m.DestPoint = 3;
  m.MsgId = "2:5020/1042.7 1a2b3c4d";
  m.ReplyId = "1:234/56.3 00c0ffee";
  m.Intl = "1:234/56 2:5020/1042";
  m.Pid = "Editor 1.2";
  m.Tid = "Tosser 3.4";
  m.TearLine = "Editor 1.2";
  m.Origin = "The Test BBS ";
  m.OtherFlags = "XYZ NEW1";
  m.AttrFlags.fill(true);
  m.AttrFlags[17] = false;
  m.ExtFlags.fill(true);
  AddLine(m.Kludges, "\001", "CHRS: IBMPC 2");
  AddLine(m.Kludges, "\001", "TZUTC: 0100");
  AddLine(m.TrailLines, "\001Via ", "2:5020/1042 @20261209.211437");
  AddLine(m.TrailLines, "SEEN-BY: ", "5020/1042 1043");
  AddLine(m.TrailLines, "\001PATH: ", "5020/1042");
  const std::string body = "Hello,\r\rthis is the body.\r";
  m.Text.Write(body.data(), body.size());
}

// A base spec in the host's syntax, whose path helpers know no other
// separator.
std::string HostSpec(std::string spec) {
  for (char& c : spec) {
    if (c == '/') c = PathSeparator();
  }
  return spec;
}

// Appends `m` to the base of `spec` and reads it back as a copy does.
bool AppendAndReadBack(const std::string& spec, Message& m, Message& back) {
  std::unique_ptr<MessageBase> base = OpenBase(spec);
  if (base == nullptr || base->AppendMessage(m)) return false;
  const std::int32_t number = base->Count();
  base.reset();
  base = OpenBase(spec);
  back.KeepRouting = true;
  return base == nullptr || !base->ReadMessage(number, back);
}

TEST(RoundTripMatrixTest, EveryFieldBothFormatsHoldSurvivesTheCopy) {
  Message original;
  FillMessage(original);
  const Fields want = FieldsOf(original);
  for (const Format& from : kFormats) {
    for (const Format& to : kFormats) {
      SCOPED_TRACE(std::string(from.name) + " -> " + to.name);
      MemoryPlatform disk;
      disk.SetClockStep(0);
      disk.SetBackslashIsSeparator(PathSeparator() == '\\');
      ScopedPlatform installed(disk);
      Message source, first, copied;
      FillMessage(source);
      ASSERT_TRUE(AppendAndReadBack(HostSpec(from.spec), source, first));
      // Into another base of the same format too.
      ASSERT_TRUE(AppendAndReadBack(HostSpec(to.spec) + "-copy", first, copied));
      const Fields got = FieldsOf(copied);
      for (const auto& [field, value] : want) {
        if (from.lost.count(field) || to.lost.count(field)) continue;
        EXPECT_EQ(got.at(field), value) << field;
      }
    }
  }
}

}  // namespace
}  // namespace qlr
