#include "msgbase/address_completion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "msgbase/ftn_date.h"
#include "msgbase/message.h"
#include "msgbase/serial.h"
#include "platform/platform.h"
#include "testing/memory_platform.h"
#include "util/strings.h"

namespace qlr {
namespace {

using qlr::testing::MemoryPlatform;

constexpr std::uint16_t kUnset = kUnknownAddressPart;

struct Address {
  std::uint16_t zone, net, node, point;
  friend bool operator==(const Address&, const Address&) = default;
  friend std::ostream& operator<<(std::ostream& os, const Address& a) {
    return os << a.zone << ':' << a.net << '/' << a.node << '.' << a.point;
  }
};

constexpr Address kUnknown{kUnset, kUnset, kUnset, kUnset};

Address Orig(const Message& m) { return {m.OrigZone, m.OrigNet, m.OrigNode, m.OrigPoint}; }
Address Dest(const Message& m) { return {m.DestZone, m.DestNet, m.DestNode, m.DestPoint}; }

void SetOrig(Message& m, Address a) {
  m.OrigZone = a.zone;
  m.OrigNet = a.net;
  m.OrigNode = a.node;
  m.OrigPoint = a.point;
}

void SetDest(Message& m, Address a) {
  m.DestZone = a.zone;
  m.DestNet = a.net;
  m.DestNode = a.node;
  m.DestPoint = a.point;
}

// A fixed clock, so that serials and "now" are known.
class AddressCompletionTest : public ::testing::Test {
 protected:
  // The memory platform starts at 2020-01-01 00:00:00.00; without a
  // step its clock stands still.
  AddressCompletionTest() { platform_.SetClockStep(0); }

  // A MSGID made here: the address, a blank, and a serial of eight hex
  // digits whose low byte is the tag of the (memory platform's) process
  // id 1.
  static void ExpectMadeMsgId(std::string_view msgid, std::string_view address) {
    const std::string text(msgid);
    EXPECT_EQ(text.substr(0, address.size() + 1), std::string(address) + " ") << text;
    const std::string serial = text.substr(std::min(text.size(), address.size() + 1));
    ASSERT_EQ(serial.size(), 8u) << text;
    EXPECT_EQ(serial.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
    EXPECT_EQ(std::stoul(serial.substr(6), nullptr, 16), SerialCounter::Tag(1)) << text;
  }

  MemoryPlatform platform_;
  ScopedPlatform installed_{platform_};
};

TEST_F(AddressCompletionTest, OriginLineGivesTheMissingOriginatingAddress) {
  const struct {
    const char* origin;
    Address header;
    const char* origin_after;
    Address expected;
  } cases[] = {
      {"My BBS (1:2/3)", {0, 0, kUnset, kUnset}, "My BBS ", {1, 2, 3, 0}},
      // The word before the address is dropped.
      {"Some place (Fido 1:2/3)", {0, 0, kUnset, kUnset}, "Some place ", {1, 2, 3, 0}},
      // The origin line never gives the point.
      {"Point (1:2/3.4)", kUnknown, "Point ", {1, 2, 3, 0}},
      {"Domain (2:5020/1@fidonet)", kUnknown, "Domain ", {2, 5020, 1, 0}},
      {"Nested (x) (1:2/3)", kUnknown, "Nested (x) ", {1, 2, 3, 0}},
      {"(1:2/3)", kUnknown, " ", {1, 2, 3, 0}},
      {"Host (1:2/0)", kUnknown, "Host ", {1, 2, 0, 0}},
      // Only the unknown fields are filled.
      {"Header wins (1:2/3)", {5, 6, 7, 8}, "Header wins ", {5, 6, 7, 8}},
      {"Zero node kept (1:2/3)", {0, 65535, 0, 0}, "Zero node kept ", {1, 2, 0, 0}},
      // No address in the parentheses: cut off, nothing taken; the default
      // zone is all that is filled in.
      {"Garbage (call us)", kUnknown, "Garbage ", {2, kUnset, kUnset, 0}},
      {"Garbage (1-2-3)", kUnknown, "Garbage ", {2, kUnset, kUnset, 0}},
      {"Late (1:2/3) trailer", kUnknown, "Late ", {2, kUnset, kUnset, 0}},
      {"No address at all", kUnknown, "No address at all", {2, kUnset, kUnset, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.origin);
    Message m;
    m.Origin = c.origin;
    SetOrig(m, c.header);
    SetDest(m, kUnknown);
    m.CompleteAddresses();
    EXPECT_EQ(m.Origin, c.origin_after);
    EXPECT_EQ(Orig(m), c.expected);
  }
}

TEST_F(AddressCompletionTest, KludgesGiveAddressesAndDomains) {
  const struct {
    const char* name;
    const char* msgid;
    const char* intl;
    const char* reply;
    Address orig;
    const char* orig_domain;
    Address dest;
    const char* dest_domain;
  } cases[] = {
      {"msgid with point and domain",
       "1:2/3.4@fidonet 1a2b3c4d",
       "",
       "",
       {1, 2, 3, 4},
       "fidonet",
       {1, 2, 3, 0},
       "fidonet"},
      {"intl gives both sides", "", "1:5/6 1:2/3", "", {1, 2, 3, 0}, "", {1, 5, 6, 0}, ""},
      {"intl before msgid", "7:8/9.1 x", "1:5/6 1:2/3", "", {1, 2, 3, 1}, "", {1, 5, 6, 0}, ""},
      {"intl domains are ignored", "", "1:5/6@a 1:2/3@b", "", {1, 2, 3, 0}, "", {1, 5, 6, 0}, ""},
      {"intl with one word names the destination",
       "",
       "3:5/6",
       "",
       {3, 5, 6, 0},
       "",
       {3, 5, 6, 0},
       ""},
      {"reply gives the destination and its domain",
       "1:2/3@fidonet 1",
       "",
       "3:4/5.6@othernet 12345678",
       {1, 2, 3, 0},
       "fidonet",
       {3, 4, 5, 0},
       "othernet"},
      {"destination domain falls back to the origin's",
       "1:2/3@fidonet 1",
       "",
       "3:4/5 1",
       {1, 2, 3, 0},
       "fidonet",
       {3, 4, 5, 0},
       "fidonet"},
      {"msgid that is no address",
       "<1234@host.example> 1",
       "",
       "",
       {2, kUnset, kUnset, 0},
       "host.example>",
       {2, kUnset, kUnset, 0},
       "host.example>"},
      {"msgid without a point", "1:2/3 1", "", "", {1, 2, 3, 0}, "", {1, 2, 3, 0}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Message m;
    SetOrig(m, kUnknown);
    SetDest(m, kUnknown);
    m.MsgId = c.msgid;
    m.Intl = c.intl;
    m.ReplyId = c.reply;
    m.CompleteAddresses();
    EXPECT_EQ(Orig(m), c.orig);
    EXPECT_EQ(m.OrigDomain, c.orig_domain);
    EXPECT_EQ(Dest(m), c.dest);
    EXPECT_EQ(m.DestDomain, c.dest_domain);
  }
}

TEST_F(AddressCompletionTest, HeaderNodeZeroIsKeptAgainstTheMsgid) {
  Message m;
  SetOrig(m, {0, 0, 0, kUnset});
  SetDest(m, {0, 5, 6, 0});
  m.MsgId = "1:2/3.4@fidonet 1a2b3c4d";
  m.CompleteAddresses();
  EXPECT_EQ(Orig(m), (Address{1, 2, 0, 4}));
  EXPECT_EQ(m.OrigDomain, "fidonet");
  EXPECT_EQ(m.MsgId, "1:2/3.4@fidonet 1a2b3c4d");
  EXPECT_TRUE(m.HadMsgId);
  EXPECT_FALSE(m.HadIntl);
}

TEST_F(AddressCompletionTest, NetmailWithoutZonesGetsTheDefaultZoneAndNewKludges) {
  Message m;
  SetOrig(m, {0, 2, 3, 0});
  SetDest(m, {0, 5, 6, 0});
  m.CompleteAddresses();
  EXPECT_EQ(Orig(m), (Address{2, 2, 3, 0}));
  EXPECT_EQ(Dest(m), (Address{2, 5, 6, 0}));
  ExpectMadeMsgId(m.MsgId, "2:2/3");
  EXPECT_EQ(m.Intl, "2:5/6 2:2/3 ");
  EXPECT_FALSE(m.HadMsgId);
  EXPECT_FALSE(m.HadIntl);
}

TEST_F(AddressCompletionTest, NewMsgidCarriesPointAndDomainButIntlNever) {
  Message m;
  SetOrig(m, {1, 2, 3, 4});
  SetDest(m, {1, 5, 6, 7});
  m.OrigDomain = "fidonet";
  m.CompleteAddresses();
  ExpectMadeMsgId(m.MsgId, "1:2/3.4@fidonet");
  EXPECT_EQ(m.Intl, "1:5/6 1:2/3 ");
  EXPECT_EQ(m.DestDomain, "fidonet");
}

TEST_F(AddressCompletionTest, NewKludgesAreCutAtFortyCharacters) {
  Message m;
  SetOrig(m, {65534, 65534, 65534, 65534});
  SetDest(m, {65534, 65534, 65534, 0});
  m.OrigDomain = "averyveryverylongdomain";
  m.CompleteAddresses();
  // "65534:65534/65534.65534@" is 24 characters; the domain fills the rest.
  EXPECT_EQ(m.MsgId, "65534:65534/65534.65534@averyveryverylon");
  // Two addresses of 17 characters, two blanks: 36, still whole.
  EXPECT_EQ(m.Intl, "65534:65534/65534 65534:65534/65534 ");
}

TEST_F(AddressCompletionTest, EachSideFillsTheOtherDestinationFirst) {
  const struct {
    Address orig, dest, orig_after, dest_after;
  } cases[] = {
      {{1, 0, kUnset, 0}, {0, 5, 6, 0}, {1, 5, 6, 0}, {1, 5, 6, 0}},
      {{kUnset, 2, 3, 0}, {4, kUnset, kUnset, 0}, {4, 2, 3, 0}, {4, 2, 3, 0}},
      // Node 0 is known; only 65535 is filled.
      {{1, 2, 0, 0}, {1, 2, kUnset, 0}, {1, 2, 0, 0}, {1, 2, 0, 0}},
      // Destination first: a net 0 there takes the other side's 65535,
      // which then stays, rather than both becoming 0.
      {{1, kUnset, 3, 0}, {1, 0, 3, 0}, {1, kUnset, 3, 0}, {1, kUnset, 3, 0}},
      // Unknown on both sides: the nodes stay unknown, zones default.
      {kUnknown, kUnknown, {2, kUnset, kUnset, 0}, {2, kUnset, kUnset, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.orig << " / " << c.dest);
    Message m;
    SetOrig(m, c.orig);
    SetDest(m, c.dest);
    m.CompleteAddresses();
    EXPECT_EQ(Orig(m), c.orig_after);
    EXPECT_EQ(Dest(m), c.dest_after);
  }
}

TEST_F(AddressCompletionTest, DateTextAndPackedDateAreReconciled) {
  const std::uint32_t mar5 = 0x2665B885u;  // 1999-03-05 23:04:10
  // 2020-01-01 00:00:00, the fixed clock.
  const std::uint32_t now = 0x50210000u;
  const struct {
    std::uint32_t written;
    const char* date;
    std::uint32_t written_after;
    const char* date_after;
  } cases[] = {
      {0, "05 Mar 99  23:04:10", mar5, "05 Mar 99  23:04:10"},
      {0, "05 Mar 99 23:04:10", mar5, "05 Mar 99  23:04:10"},
      {0, "05-03-99 23:04:10", mar5, "05 Mar 99  23:04:10"},
      {0, "Sun 05 Mar 99 23:04", 0x2665B880u, "05 Mar 99  23:04:00"},
      // The canonical text keeps an odd second the packed value cannot.
      {0, "05 Mar 99  23:04:11", mar5, "05 Mar 99  23:04:11"},
      // An unknown month name still leaves a date behind.
      {0, "05 Xyz 99  23:04:10", 0x2605B885u, "05     99  23:04:10"},
      // A garbled text reads as now.
      {0, "garbage", now, "01 Jan 20  00:00:00"},
      // A packed date wins over whatever the text says.
      {mar5, "garbage", mar5, "05 Mar 99  23:04:10"},
      {mar5, "", mar5, "05 Mar 99  23:04:10"},
      // Neither: the text of packed value 0.
      {0, "", 0, "00     80  00:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    Message m;
    m.DateWritten = c.written;
    m.Date = c.date;
    m.CompleteAddresses();
    EXPECT_EQ(m.DateWritten, c.written_after);
    EXPECT_EQ(m.Date, c.date_after);
  }
}

}  // namespace
}  // namespace qlr
