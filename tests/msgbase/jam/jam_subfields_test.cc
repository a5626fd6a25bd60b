// The subfield walk and its dispatch, the trace-to-Via conversion, the
// order subfields are written in, and the attribute tables both ways.
#include "msgbase/jam/jam_subfields.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jam_message_support.h"
#include "msgbase/jam/jam_attributes.h"
#include "msgbase/jam/jam_records.h"
#include "msgbase/message_attributes.h"

namespace qlr {
namespace {

using testing::Le32;
using testing::LinesOf;
using testing::Subfield;

std::vector<std::uint8_t> Block(const std::string& bytes) {
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

void Apply(const std::string& bytes, Message& m) { ApplySubfields(Block(bytes), m); }

std::string Encoded(const Message& m) {
  const std::vector<std::uint8_t> bytes = EncodeSubfields(m);
  return std::string(bytes.begin(), bytes.end());
}

void AddLine(Collection<KludgeLine>& lines, std::string_view prefix, std::string_view value) {
  auto line = std::make_unique<KludgeLine>();
  line->Prefix = NewStr(prefix);
  line->Value = NewStr(value);
  lines.Insert(std::move(line));
}

TEST(JamTraceTest, TraceBecomesViaLine) {
  struct Case {
    std::string trace;
    std::string via;
  };
  const Case cases[] = {
      {"199912312359591:2/3", "1:2/3 @19991231.235959 from jam area by Vorn"},
      {"200001020304052:5020/1.7@fidonet",
       "2:5020/1.7@fidonet @20000102.030405 from jam area by Vorn"},
      // Exactly the digits and one character of address.
      {"20000102030405X", "X @20000102.030405 from jam area by Vorn"},
      // Shorter values are taken as they are.
      {"2000010203040", "2000010203040"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TraceToVia(c.trace), c.via) << c.trace;
  // A value of the longest length a reader takes is cut, not overrun.
  EXPECT_LE(TraceToVia(std::string(255, '9')).size(), 255u);
}

TEST(JamSubfieldsTest, KludgeSubfieldsAreSortedIntoTheirLists) {
  struct Case {
    std::uint32_t id;
    std::string data;
    std::string kludges;
    std::string trail;
  };
  const Case cases[] = {
      {2000, "CHRS: IBMPC 2", "\001|CHRS: IBMPC 2;", ""},
      {1000, "CHRS: IBMPC 2", "\001|CHRS: IBMPC 2;", ""},
      {2000, "intl 2:5020/2 2:5020/1", "", ""},  // case ignored: dropped
      {2000, "TOPT 3", "", ""},
      {2000, "FMPT 1", "", ""},
      {2000, "Via 2:5020/1 @20000101", "", "\001Via |2:5020/1 @20000101;"},
      {2000, "RECD 2:5020/1", "", "\001Recd |2:5020/1;"},
      {2000, "Forwarded by 2:5020/1", "", "\001Forwarded |by 2:5020/1;"},
      {2000, "INTLX", "\001|INTLX;", ""},  // no blank: not the INTL kludge
      {2000, "", "\001|;", ""},
      // SEEN-BY and PATH subfields are not read back.
      {2001, "5020/1 2", "", ""},
      {2002, "5020/1", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " " + c.data);
    Message m;
    Apply(Subfield(c.id, c.data), m);
    EXPECT_EQ(LinesOf(m.Kludges), c.kludges);
    EXPECT_EQ(LinesOf(m.TrailLines), c.trail);
  }
}

TEST(JamSubfieldsTest, FieldSubfieldsFillTheirFieldsCutToSize) {
  Message m;
  Apply(Subfield(2, std::string(40, 'f')) + Subfield(3, "Bob") + Subfield(4, "2:1/2 abc") +
            Subfield(5, "2:1/3 def") + Subfield(6, "Subject") + Subfield(7, "PID 1") +
            Subfield(2003, "DIR XYZ") + Subfield(8, "199912312359591:2/3") +
            Subfield(0x00010002, "HiId set") + Subfield(77, "unknown"),
        m);
  EXPECT_EQ(m.From, std::string(36, 'f'));
  EXPECT_EQ(m.To, "Bob");
  EXPECT_EQ(m.MsgId, "2:1/2 abc");
  EXPECT_EQ(m.ReplyId, "2:1/3 def");
  EXPECT_EQ(m.Subject, "Subject");
  EXPECT_EQ(m.Pid, "PID 1");
  EXPECT_EQ(m.Flags, "DIR XYZ");
  EXPECT_EQ(LinesOf(m.TrailLines), "\001Via |1:2/3 @19991231.235959 from jam area by Vorn;");
}

TEST(JamSubfieldsTest, AddressSubfieldsSetTheAddressFields) {
  Message m;
  Apply(Subfield(0, "2:5020/1.4") + Subfield(1, "1:2/3"), m);
  EXPECT_EQ(m.OrigAddressText(), "2:5020/1.4");
  EXPECT_EQ(m.DestAddressText(), "1:2/3");
  EXPECT_EQ(m.Intl, "1:2/3 2:5020/1");
}

TEST(JamSubfieldsTest, FileNamesReplaceTheSubjectOnlyForTheirAttribute) {
  struct Case {
    std::uint32_t id;
    std::uint32_t attr;
    bool taken;
  };
  const Case cases[] = {
      {9, kAttrFileAttached, true},   {10, kAttrFileAttached, true}, {12, kAttrFileAttached, true},
      {13, kAttrFileAttached, true},  {11, kAttrFileRequest, true},  {9, 0, false},
      {11, kAttrFileAttached, false}, {9, kAttrFileRequest, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " attr " + std::to_string(c.attr));
    Message m;
    m.Attr = c.attr;
    Apply(Subfield(6, "subject") + Subfield(c.id, "FILE.ZIP"), m);
    EXPECT_EQ(m.Subject, c.taken ? "FILE.ZIP" : "subject");
  }
}

TEST(JamSubfieldsTest, FlagsSubfieldKeepsTheWordsOfTheAttributeBits) {
  Message m;
  ApplyJamAttribute(kJamAttrDirect, m);
  Apply(Subfield(2003, "ZON"), m);
  m.SyncAttributes(true);
  EXPECT_TRUE(m.ExtFlags[kExtDirect]);
  EXPECT_TRUE(m.ExtFlags[kExtZoneGate]);
}

TEST(JamSubfieldsTest, WalkStopsAtTheSubfieldTheBlockCutsOff) {
  const std::string good = Subfield(2, "Ann") + Subfield(3, "Bob");
  const std::string cut_value = good + Subfield(6, "Subject").substr(0, 12);
  const std::string cut_head = good + Subfield(6, "Subject").substr(0, 5);
  for (const std::string& block : {cut_value, cut_head}) {
    Message m;
    Apply(block, m);
    EXPECT_EQ(m.From, "Ann");
    EXPECT_EQ(m.To, "Bob");
    EXPECT_EQ(m.Subject, "");
  }
  // Every cut of a longer block keeps what lies wholly before the cut.
  const std::string full = good + Subfield(6, "Subject") + Subfield(7, "PID");
  for (std::size_t length = 0; length <= full.size(); ++length) {
    Message m;
    Apply(full.substr(0, length), m);
    EXPECT_EQ(m.From == "Ann", length >= 11u) << length;
    EXPECT_EQ(m.Pid == "PID", length == full.size()) << length;
  }
}

TEST(JamSubfieldsTest, LongValuesAreSkippedAndHugeLengthsEndTheWalk) {
  Message m;
  Apply(Subfield(6, std::string(256, 's')) + Subfield(2, "Ann"), m);
  EXPECT_EQ(m.Subject, "");
  EXPECT_EQ(m.From, "Ann");

  for (const std::uint32_t length : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFF8u, 300u}) {
    Message h;
    Apply(Subfield(2, "Ann") + Le32(3) + Le32(length) + "Bob", h);
    EXPECT_EQ(h.From, "Ann");
    EXPECT_EQ(h.To, "") << length;
  }
}

TEST(JamSubfieldsTest, SubfieldsAreWrittenInTheirOrder) {
  Message m;
  m.From = "Ann";
  m.To = "Bob";
  m.Subject = "FILE.ZIP";
  m.ReplyId = "2:1/2 1";
  m.Pid = "P";
  m.Flags = "DIR";
  m.OrigZone = 2;
  m.OrigNet = 1;
  m.OrigNode = 1;
  m.DestZone = 2;
  m.DestNet = 1;
  m.DestNode = 2;
  m.Attr = kAttrFileAttached | kAttrFileRequest;
  AddLine(m.TrailLines, "\001Via ", "2:1/1");
  AddLine(m.TrailLines, "SEEN-BY: ", "1/1 2");
  AddLine(m.TrailLines, "\001PATH: ", "1/1");
  AddLine(m.TrailLines, "X-Line ", "text");  // not a kludge: kept whole
  AddLine(m.Kludges, "\001", "TZUTC: 0100");
  AddLine(m.Kludges, "\001", std::string(200, 'k'));
  AddLine(m.Kludges, "\001Long ", std::string(251, 'v'));
  const std::string expected =
      Subfield(0, "2:1/1") + Subfield(1, "2:1/2") + Subfield(2, "Ann") + Subfield(3, "Bob") +
      Subfield(5, "2:1/2 1") + Subfield(6, "FILE.ZIP") + Subfield(7, "P") +
      Subfield(11, "FILE.ZIP") + Subfield(9, "FILE.ZIP") + Subfield(2000, "Via 2:1/1") +
      Subfield(2001, "1/1 2") + Subfield(2002, "1/1") + Subfield(2000, "X-Line text") +
      Subfield(2000, "TZUTC: 0100") + Subfield(2000, std::string(200, 'k')) +
      // Prefix and value together are cut to a line's 255 characters.
      Subfield(2000, "Long " + std::string(250, 'v')) + Subfield(2003, "DIR");
  EXPECT_EQ(Encoded(m), expected);
}

TEST(JamAttributesTest, EachBitMapsBothWays) {
  struct Case {
    const char* name;
    std::uint32_t attr;  // Message::Attr bit, or 0
    int ext;             // ExtFlags index, or -1
    std::uint32_t jam;
  };
  const Case cases[] = {
      {"Pvt", kAttrPrivate, -1, kJamAttrPrivate},
      {"Cra", kAttrCrash, -1, kJamAttrCrash},
      {"Rcv", kAttrReceived, -1, kJamAttrRead},
      {"Snt", kAttrSent, -1, kJamAttrSent},
      {"Att", kAttrFileAttached, -1, kJamAttrFileAttach},
      {"Trs", kAttrInTransit, -1, kJamAttrInTransit},
      {"Orp", kAttrOrphan, -1, kJamAttrOrphan},
      {"K/s", kAttrKillSent, -1, kJamAttrKillSent},
      {"Loc", kAttrLocal, -1, kJamAttrLocal},
      {"Hld", kAttrHold, -1, kJamAttrHold},
      {"FRq", kAttrFileRequest, -1, kJamAttrFileRequest},
      {"RRq", kAttrReceiptRequest, -1, kJamAttrReceiptReq},
      {"deleted", kAttrDeleted, -1, kJamAttrDeleted},
      {"A/s", 0, kExtArchiveSent, kJamAttrArchiveSent},
      {"Dir", 0, kExtDirect, kJamAttrDirect},
      {"Imm", 0, kExtImmediate, kJamAttrImmediate},
      {"Kfs", 0, kExtKillFileSent, kJamAttrKillFile},
      {"Lok", 0, kExtLock, kJamAttrLocked},
      {"Tfs", 0, kExtTruncFileSent, kJamAttrTruncFile},
      // 0x00020000 asks for a confirmation receipt; it is no receipt (RRc).
      {"Cfm", 0, kExtConfirmRequest, kJamAttrConfirmReq},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Message out;
    out.Attr = c.attr;
    if (c.ext >= 0) out.ExtFlags[static_cast<std::size_t>(c.ext)] = true;
    EXPECT_EQ(JamAttributeOf(out), c.jam | kJamAttrTypeNet);
    out.Area = "AREA";
    EXPECT_EQ(JamAttributeOf(out), c.jam | kJamAttrTypeEcho);

    Message in;
    in.Attr = 0xFFFF;  // cleared first
    ApplyJamAttribute(c.jam, in);
    EXPECT_EQ(in.Attr, c.attr);
    if (c.ext >= 0) {
      EXPECT_EQ(in.Flags,
                std::string(
                    kFlagsNames[kFirstExtFlagName + static_cast<std::size_t>(c.ext)].substr(0, 3)));
      in.SyncAttributes(true);
      EXPECT_TRUE(in.ExtFlags[static_cast<std::size_t>(c.ext)]);
    } else {
      EXPECT_EQ(in.Flags, "");
    }
  }
}

TEST(JamAttributesTest, AttributesWithoutJamBitsAreNeitherWrittenNorRead) {
  Message out;
  out.Attr = kAttrIsReceipt | kAttrAuditRequest | kAttrUpdateRequest | kAttrCarried16 |
             kAttrCarried17 | 0x0400;
  out.ExtFlags[kExtZoneGate] = out.ExtFlags[kExtHubRoute] = true;
  out.ExtFlags[kExtXmail] = true;
  EXPECT_EQ(JamAttributeOf(out), kJamAttrTypeNet);

  Message in;
  ApplyJamAttribute(
      kJamAttrGate | kJamAttrEncrypt | kJamAttrTypeLocal | kJamAttrNoDisplay | kJamAttrTypeEcho,
      in);
  EXPECT_EQ(in.Attr, 0u);
  EXPECT_EQ(in.Flags, "");
}

TEST(JamAttributesTest, FlagsWordsFollowTheTableOrder) {
  Message in;
  in.Flags = "  XYZ ";
  ApplyJamAttribute(kJamAttrTruncFile | kJamAttrArchiveSent | kJamAttrLocked | kJamAttrDirect, in);
  // One blank is added before the words; only the ends are trimmed.
  EXPECT_EQ(in.Flags, "XYZ  A/s Dir Lok Tfs");
}

}  // namespace
}  // namespace qlr
