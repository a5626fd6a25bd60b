#include "msgbase/ftn_address.h"

#include <gtest/gtest.h>

#include <string>

namespace qlr {
namespace {

struct ParseCase {
  const char* text;
  FtnAddress expected;
};

TEST(FtnAddressTest, ParsesAddressTexts) {
  const ParseCase cases[] = {
      {"1:234/56", {1, 234, 56, 0, ""}},
      {"1:234/56.7@fidonet", {1, 234, 56, 7, "fidonet"}},
      // Without a point the domain is word 4, which is not a number.
      {"1:234/56@fidonet", {1, 234, 56, 0, ""}},
      {"2:5020/9999.65535@othernet", {2, 5020, 9999, 65535, "othernet"}},
      // Repeated separators never make empty words.
      {"1::234//56..7", {1, 234, 56, 7, ""}},
      {":1:234/56", {1, 234, 56, 0, ""}},
      // Leading blanks are skipped, anything else that is not a digit gives 0.
      {" 1: 234/ 56", {1, 234, 56, 0, ""}},
      {"1:234 /56", {1, 0, 56, 0, ""}},
      {"1:x4/56", {1, 0, 56, 0, ""}},
      // Values keep their low 16 bits.
      {"1:65536/65537", {1, 0, 1, 0, ""}},
      {"1:234", {1, 234, 0, 0, ""}},
      {"", {0, 0, 0, 0, ""}},
      {"@:./", {0, 0, 0, 0, ""}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    const FtnAddress got = ParseAddress(c.text);
    EXPECT_EQ(got.zone, c.expected.zone);
    EXPECT_EQ(got.net, c.expected.net);
    EXPECT_EQ(got.node, c.expected.node);
    EXPECT_EQ(got.point, c.expected.point);
    EXPECT_EQ(got.domain, c.expected.domain);
  }
}

TEST(FtnAddressTest, PrintsPointOnlyWhenNotZero) {
  const struct {
    FtnAddress address;
    const char* expected;
  } cases[] = {
      {{1, 234, 56, 0, ""}, "1:234/56"},
      {{1, 234, 56, 7, ""}, "1:234/56.7"},
      {{1, 234, 56, 7, "fidonet"}, "1:234/56.7"},
      {{0, 0, 0, 0, ""}, "0:0/0"},
      {{65535, 65535, 65535, 65535, ""}, "65535:65535/65535.65535"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatAddress(c.address), c.expected);
    EXPECT_EQ(AddressToText(c.address.zone, c.address.net, c.address.node, c.address.point),
              c.expected);
  }
}

TEST(FtnAddressTest, PrintedAddressParsesBack) {
  const FtnAddress addresses[] = {
      {1, 234, 56, 0, ""}, {2, 5020, 1, 12, ""}, {65535, 0, 65535, 1, ""}, {7, 1, 0, 0, ""}};
  for (const FtnAddress& a : addresses) {
    SCOPED_TRACE(FormatAddress(a).str());
    EXPECT_EQ(ParseAddress(FormatAddress(a)), a);
  }
}

}  // namespace
}  // namespace qlr
