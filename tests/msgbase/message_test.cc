#include "msgbase/message.h"

#include <gtest/gtest.h>

#include <string>

namespace qlr {
namespace {

TEST(MessageTest, AddressTextShowsThePointOnlyWhenSet) {
  Message m;
  m.OrigZone = 1;
  m.OrigNet = 234;
  m.OrigNode = 56;
  EXPECT_EQ(m.OrigAddressText(), "1:234/56");
  m.OrigPoint = 7;
  EXPECT_EQ(m.OrigAddressText(), "1:234/56.7");
  m.DestZone = 2;
  m.DestNet = 5020;
  m.DestNode = 1;
  EXPECT_EQ(m.DestAddressText(), "2:5020/1");
}

TEST(MessageTest, AssigningAddressesBuildsIntlWithoutPoints) {
  Message m;
  m.AssignDestAddress("2:5020/1.4@fidonet");
  EXPECT_EQ(m.DestZone, 2);
  EXPECT_EQ(m.DestNet, 5020);
  EXPECT_EQ(m.DestNode, 1);
  EXPECT_EQ(m.DestPoint, 4);
  EXPECT_EQ(m.DestDomain, "fidonet");
  m.AssignOrigAddress("1:234/56.7");
  EXPECT_EQ(m.Intl, "2:5020/1 1:234/56");
  EXPECT_EQ(m.OrigPoint, 7);
  // MSGID: the address, a blank and an eight-digit serial number.
  ASSERT_EQ(m.MsgId.size(), std::string("1:234/56.7 ").size() + 8);
  EXPECT_EQ(m.MsgId.view().substr(0, 11), "1:234/56.7 ");
  // A new destination keeps the origin half.
  m.AssignDestAddress("3:1/2");
  EXPECT_EQ(m.Intl, "3:1/2 1:234/56");
}

TEST(MessageTest, LongFieldsKeepTheirLeadingCharacters) {
  Message m;
  m.From = std::string(50, 'f');
  m.Subject = std::string(100, 's');
  m.MsgId = std::string(60, 'i');
  EXPECT_EQ(m.From.size(), 36u);
  EXPECT_EQ(m.Subject.size(), 72u);
  EXPECT_EQ(m.MsgId.size(), 40u);
}

TEST(MessageTest, ClearEmptiesEverything) {
  Message m;
  m.From = "someone";
  m.Attr = 0x1234;
  m.Replies[3] = 9;
  m.HadIntl = true;
  m.Text.Write("body", 4);
  m.AddVia("1:2/3 somewhere");
  m.Clear();
  EXPECT_TRUE(m.From.empty());
  EXPECT_EQ(m.Attr, 0u);
  EXPECT_EQ(m.Replies[3], 0u);
  EXPECT_FALSE(m.HadIntl);
  EXPECT_EQ(m.Text.Size(), 0);
  EXPECT_EQ(m.TrailLines.ItemCount(), 0);
}

TEST(MessageTest, AddViaAppendsATrailLine) {
  Message m;
  m.AddVia("1:2/3 @20261208");
  ASSERT_EQ(m.TrailLines.ItemCount(), 1);
  EXPECT_EQ(m.TrailLines.ItemAt(0).Prefix.view(), "\x01Via ");
  EXPECT_EQ(m.TrailLines.ItemAt(0).Value.view(), "1:2/3 @20261208");
  m.SetAttr(true, 0x0101);
  EXPECT_TRUE(m.TestAttr(0x0100));
  m.SetAttr(false, 0x0100);
  EXPECT_FALSE(m.TestAttr(0x0100));
  EXPECT_TRUE(m.TestAttr(0x0001));
}

TEST(MessageTest, AssigningAnOriginKeepsTheDestinationHalfOfIntl) {
  const struct {
    const char* intl;
    const char* origin;
    const char* intl_after;
  } cases[] = {
      {"2:5020/1 1:1/1", "1:234/56.7", "2:5020/1 1:234/56"},
      // No destination yet: the first word is empty.
      {"", "1:234/56", " 1:234/56"},
      // Only the point is cut: a domain without a point stays.
      {"2:5020/1", "1:234/56@fidonet", "2:5020/1 1:234/56@fidonet"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.origin);
    Message m;
    m.Intl = c.intl;
    m.AssignOrigAddress(c.origin);
    EXPECT_EQ(m.Intl, c.intl_after);
  }
}

TEST(MessageTest, AssigningADestinationKeepsTheOriginHalfOfIntl) {
  const struct {
    const char* intl;
    const char* intl_after;
  } cases[] = {
      {"2:5020/1 1:234/56", "3:1/2 1:234/56"},
      // One word only: it is taken as the origin.
      {"1:234/56", "3:1/2 1:234/56"},
      {"", "3:1/2 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.intl);
    Message m;
    m.Intl = c.intl;
    m.AssignDestAddress("3:1/2.9");
    EXPECT_EQ(m.Intl, c.intl_after);
    EXPECT_EQ(m.DestPoint, 9);
  }
}

TEST(MessageTest, AssignedMsgidIsCutAtFortyCharacters) {
  Message m;
  const std::string address = "1:234/56.7@averyveryveryveryverylongdomain";
  m.AssignOrigAddress(address);
  EXPECT_EQ(m.MsgId, address.substr(0, 40));
  EXPECT_EQ(m.OrigDomain, "averyveryveryveryverylongdomain");
}

}  // namespace
}  // namespace qlr
