#include "msgbase/message_attributes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "msgbase/message.h"

namespace qlr {
namespace {

std::array<bool, 10> ExtFlagsOf(std::initializer_list<ExtFlag> set) {
  std::array<bool, 10> flags{};
  for (ExtFlag f : set) flags[f] = true;
  return flags;
}

TEST(MessageAttributesTest, ReadingFlagsTextFillsTheAttributes) {
  const struct {
    const char* flags;
    std::uint32_t attr;
    std::array<bool, 10> ext;
    const char* other;
  } cases[] = {
      {"DIR IMM XYZ", 0, ExtFlagsOf({kExtDirect, kExtImmediate}), "XYZ"},
      // The last word matches too: a blank is appended before matching.
      {"pvt", kAttrPrivate, {}, ""},
      {"CFM DUM", 0, ExtFlagsOf({kExtConfirmRequest}), ""},
      {"", 0, {}, ""},
      {"K/S A/S HLD FRQ", kAttrKillSent | kAttrHold | kAttrFileRequest,
       ExtFlagsOf({kExtArchiveSent}), ""},
      {"RRQ RRC ARQ URQ",
       kAttrReceiptRequest | kAttrIsReceipt | kAttrAuditRequest | kAttrUpdateRequest,
       {},
       ""},
      // Names match as substrings, also at the end of a longer word, and
      // only where the three letters are followed by a blank.
      {"XDIR YZ", 0, ExtFlagsOf({kExtDirect}), "XYZ"},
      {"DIRT HOLD", 0, {}, "DIRT HOLD"},
      {"DIR\tIMM", 0, ExtFlagsOf({kExtImmediate}), "DIR"},
      // Every occurrence goes, also one that a deletion brings together.
      {"LOC LOC", kAttrLocal, {}, ""},
      {"LOLOC C ABC", kAttrLocal, {}, "ABC"},
      {"  ZON HUB XMA KFS TFS LOK  ", 0,
       ExtFlagsOf(
           {kExtZoneGate, kExtHubRoute, kExtXmail, kExtKillFileSent, kExtTruncFileSent, kExtLock}),
       ""},
      {"ABC  DEF", 0, {}, "ABC  DEF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    Message m;
    m.Flags = c.flags;
    m.SyncAttributes(true);
    EXPECT_EQ(m.Attr, c.attr);
    EXPECT_EQ(m.ExtFlags, c.ext);
    EXPECT_EQ(m.OtherFlags, c.other);
    EXPECT_TRUE(m.Flags.empty());
  }
}

TEST(MessageAttributesTest, EveryAttributeNameSetsItsOwnBit) {
  for (std::size_t i = 0; i < kNamedAttrCount; ++i) {
    SCOPED_TRACE(kFlagsNames[i]);
    Message m;
    m.Flags = kFlagsNames[i];
    m.SyncAttributes(true);
    EXPECT_EQ(m.Attr, kAttrMasks[i]);
    for (std::size_t j = 0; j < m.AttrFlags.size(); ++j) EXPECT_EQ(m.AttrFlags[j], j == i);
    EXPECT_EQ(m.ExtFlags, (std::array<bool, 10>{}));
    EXPECT_TRUE(m.OtherFlags.empty());
  }
}

TEST(MessageAttributesTest, ReadingKeepsHeaderBitsAndMirrorsAllEighteen) {
  Message m;
  m.Attr = kAttrCrash | kAttrCarried16 | kAttrCarried17 | kAttrDeleted | 0x0400;
  m.Flags = "PVT";
  m.SyncAttributes(true);
  EXPECT_EQ(m.Attr,
            kAttrCrash | kAttrCarried16 | kAttrCarried17 | kAttrDeleted | 0x0400 | kAttrPrivate);
  std::array<bool, 18> expected{};
  expected[0] = expected[1] = expected[15] = expected[16] = expected[17] = true;
  EXPECT_EQ(m.AttrFlags, expected);
}

TEST(MessageAttributesTest, WritingBuildsFlagsFromExtFlagsThenUnknownWords) {
  const struct {
    std::array<bool, 10> ext;
    const char* flags;
  } cases[] = {
      {ExtFlagsOf({kExtDirect, kExtLock}), "DIR LOK XYZ"},
      {{}, "XYZ"},
      {ExtFlagsOf({kExtConfirmRequest}), "CFM XYZ"},
      {ExtFlagsOf({kExtConfirmRequest, kExtArchiveSent, kExtImmediate}), "A/S IMM CFM XYZ"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    Message m;
    m.ExtFlags = c.ext;
    m.OtherFlags = "XYZ";
    m.AttrFlags[0] = true;
    m.SyncAttributes(false);
    EXPECT_EQ(m.Flags, c.flags);
    EXPECT_EQ(m.OtherFlags, "XYZ");
  }
}

TEST(MessageAttributesTest, WritingTakesTheNamedBitsFromAttrFlags) {
  Message m;
  // Set in Attr only: AttrFlags decides, so the bit is cleared again.
  m.Attr = kAttrCrash | 0x0400 | 0x00040000;
  m.AttrFlags[7] = true;
  m.AttrFlags[17] = true;
  m.SyncAttributes(false);
  // Bits without an AttrFlags entry are left alone.
  EXPECT_EQ(m.Attr, kAttrKillSent | kAttrDeleted | 0x0400 | 0x00040000);
}

TEST(MessageAttributesTest, AttributesSurviveTheTripThroughFlagsText) {
  // Writing, then reading back the FLAGS text the writer produced, gives
  // the same attributes: every ExtFlags combination of a sample, with the
  // named bits carried in Attr.
  const std::uint32_t attrs[] = {0, kAttrPrivate | kAttrLocal,
                                 kAttrUpdateRequest | kAttrDeleted | kAttrCarried17};
  for (std::uint32_t attr : attrs) {
    for (unsigned pattern = 0; pattern < 1024; pattern += 37) {
      SCOPED_TRACE(pattern);
      Message out;
      for (std::size_t i = 0; i < 18; ++i) out.AttrFlags[i] = (attr & kAttrMasks[i]) != 0;
      for (std::size_t i = 0; i < 10; ++i) out.ExtFlags[i] = (pattern >> i & 1) != 0;
      // Words the library does not know travel along behind the others.
      if (pattern % 2 == 1) out.OtherFlags = "XYZ NEW1";
      out.SyncAttributes(false);
      EXPECT_EQ(out.Attr, attr);

      Message in;
      in.Attr = out.Attr;
      in.Flags = out.Flags;
      in.SyncAttributes(true);
      EXPECT_EQ(in.Attr, attr);
      EXPECT_EQ(in.AttrFlags, out.AttrFlags);
      EXPECT_EQ(in.ExtFlags, out.ExtFlags);
      EXPECT_EQ(in.OtherFlags, out.OtherFlags);
    }
  }
}

TEST(MessageAttributesTest, NamedAttributesReadFromFlagsAreWrittenAsBits) {
  // "PVT" in a FLAGS line becomes the private bit; writing keeps the bit
  // and leaves the word out of the rebuilt text.
  Message m;
  m.Flags = "PVT IMM";
  m.SyncAttributes(true);
  m.SyncAttributes(false);
  EXPECT_EQ(m.Attr, kAttrPrivate);
  EXPECT_EQ(m.Flags, "IMM");
}

}  // namespace
}  // namespace qlr
