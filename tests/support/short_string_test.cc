#include "support/short_string.h"

#include <gtest/gtest.h>

#include <string>

namespace qlr {
namespace {

TEST(BoundedStringTest, AssignmentKeepsLeadingCharacters) {
  BoundedString<5> s = "abcdefgh";
  EXPECT_EQ(s, "abcde");
  s = std::string(300, 'x');
  EXPECT_EQ(s.size(), 5u);
  ShortString longest(std::string(400, 'y'));
  EXPECT_EQ(longest.size(), 255u);
}

TEST(BoundedStringTest, AppendStopsAtCapacity) {
  BoundedString<6> s = "abc";
  s += "defgh";
  EXPECT_EQ(s, "abcdef");
  s.push_back('z');
  EXPECT_EQ(s, "abcdef");
  ShortString a(std::string(250, 'a'));
  ShortString joined = a + std::string(10, 'b');
  EXPECT_EQ(joined.size(), 255u);
  EXPECT_EQ(joined[254], 'b');
}

TEST(BoundedStringTest, SelfAssignmentFromOwnView) {
  ShortString s = "hello world";
  s = s.view().substr(6);
  EXPECT_EQ(s, "world");
}

TEST(BoundedStringTest, ConvertsBetweenCapacities) {
  ShortString wide = "a name longer than thirty-six characters in all";
  BoundedString<36> narrow = wide;
  EXPECT_EQ(narrow.view(), wide.view().substr(0, 36));
  EXPECT_TRUE("x" + ShortString("y") == "xy");
}

}  // namespace
}  // namespace qlr
