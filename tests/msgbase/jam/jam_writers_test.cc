// JAM writes as other programs read them: the numbers, dates, control
// data and routing subfields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jam_message_support.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/jam/jam_subfields.h"
#include "msgbase/message_attributes.h"
#include "testing/memory_platform.h"

namespace qlr {
namespace {

using testing::FillMessage;
using testing::Le32;
using testing::LinesOf;
using testing::MemoryPlatform;
using testing::Subfield;

constexpr std::string_view kBase = "/area";

// The fields that other JAM programs read, and what comes back.
TEST(JamWritersTest, NumbersDatesAndControlDataAsOtherProgramsSeeThem) {
  MemoryPlatform disk;
  ScopedPlatform installed(disk);
  testing::MakeBase(kBase, 3);
  std::string jhr = testing::FileBytes(disk, "/area.jhr");
  jhr.replace(20, 4, Le32(100));  // BaseMsgNum
  disk.WriteFileBytes("/area.jhr", jhr);
  JamBase base;
  ASSERT_FALSE(base.Open(kBase));

  struct Row {
    const char* name;
    std::uint32_t unix_date;  // 0: no date
    const char* date_text;
  };
  const Row rows[] = {
      {"no date", 0, ""},
      {"odd second", 981173107 /* 2001-02-03 04:05:07 */, "03 Feb 01  04:05:07"},
      // A year the DOS value cannot hold: no DOS date, and never 2075.
      {"before 1980", 170857201 /* 1975-06-01 12:20:01 */, "01 Jun 75  12:20:01"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Message m;
    FillMessage(m, row.name, "x\r");
    m.UnixDateWritten = m.UnixDateArrived = row.unix_date;
    m.DateWritten = m.DateArrived =
        row.unix_date == 0 ? 0 : PackDateTime(UnixToDateTime(row.unix_date));
    m.Tid = "Tosser 1.0";
    m.OtherFlags = "NPD XYZ";
    m.ExtFlags[kExtConfirmRequest] = true;
    ASSERT_FALSE(base.AppendMessage(m));
    EXPECT_EQ(base.MsgHeader().MessageNumber, 99u + static_cast<std::uint32_t>(base.Count()));
    EXPECT_EQ(base.MsgHeader().DateProcessed, row.unix_date);
    Message back;
    ASSERT_FALSE(base.ReadMessage(base.Count(), back));
    EXPECT_EQ(back.Date, row.date_text);
    EXPECT_EQ(back.UnixDateWritten, row.unix_date);
    EXPECT_EQ(back.DateWritten == 0, row.unix_date < 315532800 /* 1980 */);
    EXPECT_EQ(back.Tid.str() + "|" + LinesOf(back.Kludges), "Tosser 1.0|");
    EXPECT_EQ(back.OtherFlags, "NPD XYZ");
    EXPECT_TRUE(back.ExtFlags[kExtConfirmRequest]);
    // Written again (a JAM-to-JAM copy), the exact seconds stay.
    ASSERT_FALSE(base.AppendMessage(back));
    EXPECT_EQ(base.MsgHeader().DateWritten, row.unix_date);
  }
}

TEST(JamWritersTest, AddressAndRoutingSubfieldsMakeUpNothing) {
  const auto apply = [](const std::string& bytes, Message& m) {
    ApplySubfields(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), m);
  };
  for (const bool keep : {false, true}) {
    Message m;
    m.KeepRouting = keep;
    // The origin alone (usual for echomail): no INTL, no MSGID.
    apply(Subfield(0, "2:5020/1.4") + Subfield(2000, "Via 2:1/1") + Subfield(2001, "5020/1 2") +
              Subfield(2000, "CHRS: IBMPC 2") + Subfield(2002, "5020/1"),
          m);
    EXPECT_EQ(m.OrigAddressText().str() + "|" + m.MsgId.str() + "|" + m.Intl.str(), "2:5020/1.4||");
    m.CompleteAddresses();
    EXPECT_FALSE(m.HadMsgId || m.HadIntl);
    EXPECT_EQ(LinesOf(m.TrailLines),
              keep ? "\001Via |2:1/1;SEEN-BY: |5020/1 2;\001PATH: |5020/1;" : "\001Via |2:1/1;");
  }
  Message both;
  apply(Subfield(0, "2:5020/1.4") + Subfield(1, "1:2/3.5"), both);
  EXPECT_EQ(both.Intl.str() + "|" + both.MsgId.str(), "1:2/3 2:5020/1|");
}

}  // namespace
}  // namespace qlr
