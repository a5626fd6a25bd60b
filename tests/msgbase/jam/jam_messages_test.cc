// Writing, replacing, deleting and reading JAM messages: the bytes on disk
// and the states of index, headers and base header after each operation.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "jam_message_support.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/jam/jam_crc.h"
#include "msgbase/message_attributes.h"
#include "support/coding.h"
#include "testing/corruption.h"
#include "testing/memory_platform.h"

namespace qlr {
namespace {

using testing::FileBytes;
using testing::FillMessage;
using testing::Le16;
using testing::Le32;
using testing::MemoryPlatform;
using testing::Subfield;

constexpr std::string_view kBase = "/area";

std::uint32_t U32At(const std::string& bytes, std::size_t offset) {
  EXPECT_LE(offset + 4, bytes.size());
  if (offset + 4 > bytes.size()) return 0;
  return DecodeFixed32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset);
}

class JamMessagesTest : public ::testing::Test {
 protected:
  std::string Jhr() const { return FileBytes(disk_, "/area.jhr"); }
  std::string Jdt() const { return FileBytes(disk_, "/area.jdt"); }
  std::string Jdx() const { return FileBytes(disk_, "/area.jdx"); }
  // Index record `n` (from 1): ToCrc and HdrOffset.
  std::uint32_t HeaderOffset(int n) const {
    return U32At(Jdx(), static_cast<std::size_t>(n - 1) * 8 + 4);
  }
  std::uint32_t ActiveMsgs() const { return U32At(Jhr(), 12); }
  std::uint32_t ModCounter() const { return U32At(Jhr(), 8); }

  MemoryPlatform disk_;
  ScopedPlatform installed_{disk_};
};

TEST_F(JamMessagesTest, GoldenBytesOfOneWrittenMessage) {
  JamBase base;
  ASSERT_FALSE(base.Create(kBase));
  Message m;
  FillMessage(m, "Hi", "Hello\r");
  m.ReplyTo = 7;
  m.Cost = 3;
  m.TimesRead = 2;
  m.Replies[0] = 9;
  m.AttrFlags[0] = true;  // Pvt
  m.AttrFlags[8] = true;  // Loc
  m.ExtFlags[kExtDirect] = true;
  m.TearLine = "qlr";
  auto chrs = std::make_unique<KludgeLine>();
  chrs->Prefix = NewStr("\001");
  chrs->Value = NewStr("CHRS: IBMPC 2");
  m.Kludges.Insert(std::move(chrs));
  m.AddVia("2:5020/1 @20000101.000000");
  auto seen_by = std::make_unique<KludgeLine>();
  seen_by->Prefix = NewStr("SEEN-BY: ");
  seen_by->Value = NewStr("5020/1 2");
  m.TrailLines.Insert(std::move(seen_by));
  ASSERT_FALSE(base.WriteMessage(1, m));
  EXPECT_EQ(m.MsgState, 3);
  EXPECT_EQ(base.Count(), 1);

  const std::string subfields =
      Subfield(0, "2:5020/1") + Subfield(1, "2:5020/2.3") + Subfield(2, "Ann Author") +
      Subfield(3, "Bob") + Subfield(4, "2:5020/1 12345678") + Subfield(6, "Hi") +
      Subfield(2000, "Via 2:5020/1 @20000101.000000") + Subfield(2001, "5020/1 2") +
      Subfield(2000, "CHRS: IBMPC 2") + Subfield(2003, "DIR");
  const std::string header =
      std::string("JAM\0", 4) + Le16(1) + Le16(0) +
      Le32(static_cast<std::uint32_t>(subfields.size())) + Le32(2) /* TimesRead */ +
      Le32(0x16E9EA31) /* JamCrc of the MSGID */ + Le32(0xFFFFFFFF) /* no REPLY */ +
      Le32(7) /* ReplyTo */ + Le32(9) /* Reply1st */ + Le32(0) /* ReplyNext */ +
      Le32(946684798) /* 1999-12-31 23:59:58 */ + Le32(0) /* DateReceived */ +
      Le32(946684800) /* 2000-01-01 00:00:00 */ + Le32(1) /* MessageNumber */ +
      Le32(0x02000405) /* netmail, direct, private, local */ + Le32(0) /* Attribute2 */ +
      Le32(0) /* TxtOffset */ + Le32(14) + Le32(0xFFFFFFFF) /* PasswordCrc */ + Le32(3);
  ASSERT_EQ(header.size(), 76u);

  const std::string jhr = Jhr();
  ASSERT_EQ(jhr.size(), 1024 + header.size() + subfields.size());
  EXPECT_EQ(jhr.substr(1024), header + subfields);
  EXPECT_EQ(jhr.substr(0, 4), std::string("JAM\0", 4));
  EXPECT_EQ(ModCounter(), 2u);
  EXPECT_EQ(ActiveMsgs(), 1u);
  EXPECT_EQ(U32At(jhr, 16), 0xFFFFFFFFu);
  EXPECT_EQ(U32At(jhr, 20), 1u);
  EXPECT_EQ(Jdt(), "Hello\r--- qlr\r");
  EXPECT_EQ(Jdx(), Le32(0x0A344EBF) /* JamCrc of "bob" */ + Le32(1024));
}

TEST_F(JamMessagesTest, ReplaceKeepsNumbersAndPointsTheIndexAtANewHeader) {
  testing::MakeBase(kBase, 3);
  const std::uint32_t old_offset = HeaderOffset(2);
  // Another program linked a reply chain into message 2.
  {
    std::string jhr = Jhr();
    jhr.replace(old_offset + 32, 4, Le32(55));  // ReplyNext
    disk_.WriteFileBytes("/area.jhr", jhr);
  }
  const std::uint32_t old_size = static_cast<std::uint32_t>(Jhr().size());
  const std::uint32_t mod_counter = ModCounter();

  JamBase base;
  ASSERT_FALSE(base.Open(kBase));
  Message m;
  FillMessage(m, "Second, again", "new text\r");
  ASSERT_FALSE(base.WriteMessage(2, m));
  EXPECT_EQ(ModCounter(), mod_counter + 1);
  EXPECT_EQ(HeaderOffset(2), old_size);
  const std::string jhr = Jhr();
  // The old header stays where it was, marked deleted, without text.
  EXPECT_NE(U32At(jhr, old_offset + 52) & kJamAttrDeleted, 0u);
  EXPECT_EQ(U32At(jhr, old_offset + 60), 0u);
  EXPECT_EQ(U32At(jhr, old_offset + 64), 0u);
  // The new one carries the reply chain over and is live.
  EXPECT_EQ(U32At(jhr, old_size + 32), 55u);
  EXPECT_EQ(U32At(jhr, old_size + 52) & kJamAttrDeleted, 0u);
  EXPECT_EQ(U32At(jhr, old_size + 48), 2u);  // MessageNumber
}

TEST_F(JamMessagesTest, DeleteKeepsCountAndMarksIndexAndHeader) {
  testing::MakeBase(kBase, 3);
  const std::uint32_t offset = HeaderOffset(2);
  const std::uint32_t mod_counter = ModCounter();
  const std::size_t jdt_size = Jdt().size();

  JamBase base;
  ASSERT_FALSE(base.Open(kBase));
  ASSERT_FALSE(base.DeleteMessage(2));
  EXPECT_EQ(Jdx().substr(8, 8), std::string(8, '\xFF'));
  const std::string jhr = Jhr();
  EXPECT_NE(U32At(jhr, offset + 52) & kJamAttrDeleted, 0u);
  EXPECT_EQ(U32At(jhr, offset + 60), 0u);
  EXPECT_EQ(U32At(jhr, offset + 64), 0u);
  EXPECT_EQ(ActiveMsgs(), 2u);
  EXPECT_EQ(ModCounter(), mod_counter + 1);  // readers that cache the base see the change
  EXPECT_EQ(Jdt().size(), jdt_size);         // the space is not reclaimed
}

TEST_F(JamMessagesTest, EmptyReceiverGivesToCrcOfAllOnes) {
  JamBase base;
  ASSERT_FALSE(base.Create(kBase));
  Message m;
  FillMessage(m, "x", "");
  m.To.clear();
  ASSERT_FALSE(base.WriteMessage(1, m));
  EXPECT_EQ(U32At(Jdx(), 0), 0xFFFFFFFFu);
  EXPECT_EQ(JamCrc(""), 0xFFFFFFFFu);
}

TEST_F(JamMessagesTest, AddressSubfieldsAreWrittenWhateverTheAddressesHold) {
  JamBase base;
  ASSERT_FALSE(base.Create(kBase));
  Message m;  // every address 0, no names
  ASSERT_FALSE(base.WriteMessage(1, m));
  const std::string jhr = Jhr();
  EXPECT_EQ(jhr.substr(1024 + 76), Subfield(0, "0:0/0") + Subfield(1, "0:0/0"));
  EXPECT_EQ(U32At(jhr, 1024 + 8), 26u);  // SubfieldLen
  EXPECT_EQ(Jdt(), "");
  EXPECT_EQ(U32At(jhr, 1024 + 64), 0u);  // TxtLen
}

TEST_F(JamMessagesTest, HeaderIsAcceptedBySignatureOrByRevision) {
  struct Case {
    const char* name;
    bool break_signature;
    std::uint16_t revision;
    bool readable;
  };
  const Case cases[] = {
      {"signature and revision", false, 1, true},
      {"wrong signature, revision 1", true, 1, true},
      {"signature, revision 2", false, 2, true},
      {"neither", true, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::MakeBase(kBase, 1);
    std::string jhr = Jhr();
    if (c.break_signature) jhr[1024] = 'X';
    jhr.replace(1024 + 4, 2, Le16(c.revision));
    disk_.WriteFileBytes("/area.jhr", jhr);

    JamBase base;
    ASSERT_FALSE(base.Open(kBase));
    Message m;
    m.MsgState = 9;
    EXPECT_EQ(base.ReadMessage(1, m), !c.readable);
    EXPECT_EQ(m.MsgState, c.readable ? 2 : 4);
    if (c.readable) {
      EXPECT_EQ(m.Subject, "Message 1");
    }
  }
}

TEST_F(JamMessagesTest, RoundTripKeepsFieldsAttributesAndControlLines) {
  JamBase base;
  ASSERT_FALSE(base.Create(kBase));
  Message m;
  FillMessage(m, "files.zip", "Line one\rLine two\r");
  m.Area = "FIDO.TEST";
  m.Origin = "Somewhere BBS ";
  m.TearLine = "qlr 1.0";
  m.ReplyId = "2:5020/9 abcdef01";
  m.Pid = "QLR 1";
  m.AttrFlags[4] = true;  // Att
  m.ExtFlags[kExtArchiveSent] = true;
  m.ExtFlags[kExtZoneGate] = true;  // no JAM bit: travels in FLAGS
  m.AddVia("2:5020/1 @20000101.000000");
  auto kludge = std::make_unique<KludgeLine>();
  kludge->Prefix = NewStr("\001");
  kludge->Value = NewStr("TZUTC: 0300");
  m.Kludges.Insert(std::move(kludge));
  ASSERT_FALSE(base.WriteMessage(1, m));
  EXPECT_EQ(base.MsgHeader().Attribute,
            kJamAttrFileAttach | kJamAttrArchiveSent | kJamAttrTypeEcho);

  // The fields every format carries are the round-trip matrix's; here
  // what JAM keeps in its own way.
  Message back;
  ASSERT_FALSE(base.ReadMessage(1, back));
  EXPECT_EQ(back.MsgState, 2);
  EXPECT_EQ(back.Subject, "files.zip");  // a file name, by its attribute
  EXPECT_EQ(back.Date, "31 Dec 99  23:59:58");
  EXPECT_TRUE(back.TestAttr(kAttrFileAttached));
  EXPECT_TRUE(back.ExtFlags[kExtArchiveSent]);
  EXPECT_TRUE(back.ExtFlags[kExtZoneGate]);
  EXPECT_EQ(back.OtherFlags, "");
  EXPECT_EQ(back.Origin, "Somewhere BBS ");  // the address goes into the fields
  EXPECT_EQ(testing::LinesOf(back.TrailLines), "\001Via |2:5020/1 @20000101.000000;");

  // Written back, the same JAM attribute bits come out. A JAM message does
  // not name its area; the caller that knows it sets it again.
  const std::uint32_t attribute = base.MsgHeader().Attribute;
  back.Area = m.Area;
  ASSERT_FALSE(base.WriteMessage(1, back));
  EXPECT_EQ(base.MsgHeader().Attribute, attribute);
}

TEST_F(JamMessagesTest, TrailingPartialIndexRecordIsOverwrittenByAnAppend) {
  testing::MakeBase(kBase, 2);
  disk_.WriteFileBytes("/area.jdx", Jdx() + "\x01\x02\x03");
  JamBase base;
  ASSERT_FALSE(base.Open(kBase));
  ASSERT_EQ(base.Count(), 2);
  Message m;
  FillMessage(m, "Third", "x\r");
  ASSERT_FALSE(base.WriteMessage(3, m));
  EXPECT_EQ(base.Count(), 3);
  EXPECT_EQ(Jdx().size(), 24u);
  for (int n = 1; n <= 3; ++n) {
    Message back;
    ASSERT_FALSE(base.ReadMessage(n, back)) << n;
    EXPECT_EQ(back.Subject, n == 3 ? "Third" : "Message " + std::to_string(n));
  }
}

}  // namespace
}  // namespace qlr
