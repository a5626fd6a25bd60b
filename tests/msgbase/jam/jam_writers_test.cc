// JAM writes on bases other writers damaged or read: bases a write must
// refuse, and the fields other programs read.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "jam_message_support.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/jam/jam_subfields.h"
#include "msgbase/message_attributes.h"
#include "support/coding.h"
#include "testing/memory_platform.h"

namespace qlr {
namespace {

using testing::FillMessage;
using testing::Le32;
using testing::LinesOf;
using testing::MemoryPlatform;
using testing::Subfield;

constexpr std::string_view kBase = "/area";

std::vector<std::string> Files(const MemoryPlatform& disk) {
  return {testing::FileBytes(disk, "/area.jhr"), testing::FileBytes(disk, "/area.jdt"),
          testing::FileBytes(disk, "/area.jdx")};
}

// Writes message `number` with `subject`; number 0 appends.
bool Put(JamBase& base, std::int32_t number, std::string_view subject) {
  Message m;
  FillMessage(m, subject, "text\r");
  return number == 0 ? base.AppendMessage(m) : base.WriteMessage(number, m);
}

// Each row damages a base of three messages. Every write path refuses it
// before it writes: the files stay byte for byte as they were.
TEST(JamWritersTest, WritesRefuseADamagedBaseAndLeaveItAsItWas) {
  struct Row {
    const char* name;
    std::size_t file;     // 0 .jhr, 2 .jdx
    std::int64_t offset;  // -1: the header message 2 points at
    std::string bytes;
    bool whole_base;  // else only the operations on message 2 see it
  };
  const Row rows[] = {
      {"base header without signature", 0, 0, "X", true},
      {"more active messages than records", 0, 12, Le32(0x7FFFFFFF), true},
      {"index record into the base header", 2, 20, Le32(100), true},
      {"index record past the headers", 2, 20, Le32(0x7FFFFFF0), true},
      {"message 2 points at no header", 0, -1, std::string("XXXX\x07\x00", 6), false},
  };
  using Op = std::function<bool(JamBase&)>;
  const std::vector<std::pair<Op, bool>> ops = {
      {[](JamBase& b) { return Put(b, 2, "replace"); }, false},
      {[](JamBase& b) { return b.DeleteMessage(2); }, false},
      {[](JamBase& b) { return Put(b, 4, "write past the end"); }, true},
      {[](JamBase& b) { return Put(b, 0, "append"); }, true},
      {[](JamBase& b) { return b.BeginBatch(); }, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MemoryPlatform disk;
    ScopedPlatform installed(disk);
    testing::MakeBase(kBase, 3);
    std::vector<std::string> files = Files(disk);
    const std::int64_t at =
        row.offset >= 0 ? row.offset
                        : DecodeFixed32(reinterpret_cast<const std::uint8_t*>(&files[2][12]));
    files[row.file].replace(static_cast<std::size_t>(at), row.bytes.size(), row.bytes);
    disk.WriteFileBytes(row.file == 0 ? "/area.jhr" : "/area.jdx", files[row.file]);
    for (std::size_t i = 0; i < ops.size(); ++i) {
      if (!row.whole_base && ops[i].second) continue;
      JamBase base;
      ASSERT_FALSE(base.Open(kBase));
      EXPECT_TRUE(ops[i].first(base)) << "operation " << i;
      EXPECT_EQ(Files(disk), files) << "operation " << i;
      EXPECT_FALSE(base.Locked());
    }
  }
}

// The fields that other JAM programs read, and what comes back.
TEST(JamWritersTest, NumbersDatesAndControlDataAsOtherProgramsSeeThem) {
  MemoryPlatform disk;
  ScopedPlatform installed(disk);
  testing::MakeBase(kBase, 3);
  std::string jhr = Files(disk)[0];
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
