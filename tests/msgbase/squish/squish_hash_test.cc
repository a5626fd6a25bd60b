#include "msgbase/squish/squish_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace qlr {
namespace {

TEST(SquishHashTest, KnownValues) {
  const struct {
    std::string name;
    std::uint32_t hash;
  } cases[] = {
      {"", 0},
      {"abc", 0x6783},
      {"ABC", 0x6783},
      {"All", 0x682C},
      {"Sysop", 0x7B0A60},
      // Long enough for the top nibble to fold back in: an exclusive or
      // would give 0x707F3558, clearing the nibble 0x0080C5F8.
      {"John Smith", 0x708045F8},
      {"abcdefghijklmnop", 0x0BD01060},
  };
  for (const auto& c : cases) EXPECT_EQ(SquishHash(c.name), c.hash) << c.name;
}

TEST(SquishHashTest, LowersAsciiOnlyAndTakesHighBytesUnchanged) {
  const struct {
    std::string name;
    std::uint32_t hash;
  } cases[] = {
      {"\x80", 0x80},  // a code-page capital is not folded
      {"\x8E", 0x8E},
      {"\xFF", 0xFF},  // taken as 255, not sign-extended
      {"\x80"
       "BC",
       0x8000 + 0x620 + 0x63},
      {"\x90z", 0x900 + 0x7A},
  };
  for (const auto& c : cases) EXPECT_EQ(SquishHash(c.name), c.hash) << c.name;
  EXPECT_NE(SquishHash("\x80"), SquishHash("\x87"));
}

TEST(SquishHashTest, NeverSetsBit31) {
  std::string name;
  for (int i = 0; i < 300; ++i) {
    name += static_cast<char>(0xF0 + i % 16);
    EXPECT_EQ(SquishHash(name) & 0x80000000u, 0u) << i;
  }
}

}  // namespace
}  // namespace qlr
