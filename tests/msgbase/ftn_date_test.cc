#include "msgbase/ftn_date.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>

#include "platform/platform.h"

namespace qlr {

// Readable failures for DateTime comparisons.
void PrintTo(const DateTime& dt, std::ostream* os) {
  *os << dt.year << '-' << dt.month << '-' << dt.day << ' ' << dt.hour << ':' << dt.min << ':'
      << dt.sec;
}

namespace {

std::int64_t NowAsSeconds() {
  const LocalTime now = Os().Now();
  return DateTimeToUnix(DateTime{now.year, now.month, now.day, now.hour, now.minute, now.second});
}

TEST(FtnDateTest, ParsesTheStoredDateForms) {
  const DateTime mar5{1999, 3, 5, 23, 4, 10};
  const struct {
    const char* text;
    DateTime expected;
  } cases[] = {
      {"05 Mar 99  23:04:10", mar5},
      {"05 Mar 99 23:04:10", mar5},
      {"05 Mar 99  23:04:10 ", mar5},
      {" 5 Mar 99  23:04:10", mar5},
      {"05-03-99 23:04:10", mar5},
      {"Sun 05 Mar 99 23:04", {1999, 3, 5, 23, 4, 0}},
      {"Mon  5 Jan 98 01:02", {1998, 1, 5, 1, 2, 0}},
      // Month names ignore case; two-digit years pivot at 80.
      {"05 mAR 79  00:00:01", {2079, 3, 5, 0, 0, 1}},
      {"01 Jan 80  12:00:00", {1980, 1, 1, 12, 0, 0}},
      {"01 Jan 00  12:00:00", {2000, 1, 1, 12, 0, 0}},
      {"31-12-1999 01:02:03", {1999, 12, 31, 1, 2, 3}},
      // An unknown month leaves month 0 and keeps the rest.
      {"05 Xyz 99  23:04:10", {1999, 0, 5, 23, 4, 10}},
      {"05-13-99 23:04:10", {1999, 0, 5, 23, 4, 10}},
      {"05-00-99 23:04:10", {1999, 0, 5, 23, 4, 10}},
      // Texts cut short read what is there.
      {"05 Mar 99", {1999, 3, 5, 0, 0, 0}},
      {"05-03-99", {1999, 3, 5, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseFtsDate(c.text), c.expected);
  }
}

TEST(FtnDateTest, UnreadableTextGivesTheCurrentTime) {
  const char* texts[] = {"", "x", "garbage", "00 Xxx 00  00:00:00", "Sun", "--", "12345678901"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const std::int64_t before = NowAsSeconds();
    const DateTime got = ParseFtsDate(text);
    const std::int64_t after = NowAsSeconds();
    EXPECT_GE(DateTimeToUnix(got), before);
    EXPECT_LE(DateTimeToUnix(got), after);
  }
}

TEST(FtnDateTest, PacksToDosDateAndTime) {
  const DateTime parsed = ParseFtsDate("05 Mar 99  23:04:10");
  const std::uint32_t packed = PackDateTime(parsed);
  EXPECT_EQ(packed >> 16, 0x2665u);
  EXPECT_EQ(packed & 0xFFFF, 0xB885u);
  EXPECT_EQ(UnpackDateTime(packed), parsed);

  EXPECT_EQ(PackDateTime({1980, 1, 1, 0, 0, 0}), 0x00210000u);
  EXPECT_EQ(PackDateTime({2107, 12, 31, 23, 59, 59}), 0xFF9FBF7Du);
  // Odd seconds lose their last bit.
  EXPECT_EQ(UnpackDateTime(PackDateTime({2001, 2, 3, 4, 5, 7})), (DateTime{2001, 2, 3, 4, 5, 6}));
}

TEST(FtnDateTest, OnlyAYearTheDosFormatCannotHoldPacksToZero) {
  const std::int32_t years[] = {1979, 2108, 0, -2147483647 - 1, 2147483647};
  for (std::int32_t year : years) {
    SCOPED_TRACE(year);
    EXPECT_EQ(PackDateTime({year, 3, 5, 23, 4, 10}), 0u);
  }
}

TEST(FtnDateTest, FieldsThatFitTheirBitsArePackedAsTheyAre) {
  // A date text with an unknown month name still has a date: month 0 and
  // the other out-of-calendar values that fit their bits are kept.
  const struct {
    DateTime dt;
    std::uint32_t expected;
  } cases[] = {
      {{1999, 0, 5, 23, 4, 10}, 0x2605B885u},  {{1980, 0, 0, 0, 0, 0}, 0u},
      {{2000, 15, 31, 0, 0, 0}, 0x29FF0000u},  {{2000, 1, 1, 24, 0, 0}, 0x2821C000u},
      {{2000, 1, 1, 31, 63, 63}, 0x2821FFFFu}, {{2000, 1, 1, 0, 0, 60}, 0x2821001Eu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.dt));
    EXPECT_EQ(PackDateTime(c.dt), c.expected);
    EXPECT_EQ(UnpackDateTime(c.expected),
              (DateTime{c.dt.year, c.dt.month, c.dt.day, c.dt.hour, c.dt.min, c.dt.sec / 2 * 2}));
  }
}

TEST(FtnDateTest, AFieldTooLargeForItsBitsDoesNotSpillIntoItsNeighbours) {
  const DateTime base{2000, 6, 15, 12, 30, 20};
  const std::uint32_t packed = PackDateTime(base);
  const struct {
    DateTime dt;
    std::uint32_t field_mask;  // the bits of the field that could not be held
  } cases[] = {
      {{2000, 16, 15, 12, 30, 20}, 0x01E00000u}, {{2000, -1, 15, 12, 30, 20}, 0x01E00000u},
      {{2000, 6, 32, 12, 30, 20}, 0x001F0000u},  {{2000, 6, 15, 32, 30, 20}, 0x0000F800u},
      {{2000, 6, 15, -1, 30, 20}, 0x0000F800u},  {{2000, 6, 15, 12, 64, 20}, 0x000007E0u},
      {{2000, 6, 15, 12, 30, 64}, 0x0000001Fu},  {{2000, 6, 15, 12, 30, -4}, 0x0000001Fu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.dt));
    EXPECT_EQ(PackDateTime(c.dt), packed & ~c.field_mask);
  }
}

TEST(FtnDateTest, UnpacksEveryBitField) {
  EXPECT_EQ(UnpackDateTime(0), (DateTime{1980, 0, 0, 0, 0, 0}));
  EXPECT_EQ(UnpackDateTime(0xFFFFFFFFu), (DateTime{2107, 15, 31, 31, 63, 62}));
  EXPECT_EQ(UnpackDateTime(0x2665B885u), (DateTime{1999, 3, 5, 23, 4, 10}));
}

TEST(FtnDateTest, FormatsTwoDigitFields) {
  const struct {
    DateTime dt;
    const char* expected;
  } cases[] = {
      {{1999, 3, 5, 23, 4, 10}, "05 Mar 99  23:04:10"},
      {{2005, 12, 31, 0, 0, 0}, "31 Dec 05  00:00:00"},
      {{2000, 1, 1, 9, 8, 7}, "01 Jan 00  09:08:07"},
      // No month name to print: three blanks keep the width.
      {{1999, 0, 5, 23, 4, 10}, "05     99  23:04:10"},
      {{1999, 13, 5, 23, 4, 10}, "05     99  23:04:10"},
      {{1999, -1, 5, 23, 4, 10}, "05     99  23:04:10"},
      {UnpackDateTime(0), "00     80  00:00:00"},
      {UnpackDateTime(0xFFFFFFFFu), "31     07  31:63:62"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatFtsDate(c.dt), c.expected);
  }
}

TEST(FtnDateTest, FormattedDateParsesBack) {
  const DateTime dates[] = {
      {1999, 3, 5, 23, 4, 10}, {2079, 12, 31, 0, 0, 0}, {1980, 1, 1, 1, 1, 2}};
  for (const DateTime& dt : dates) {
    EXPECT_EQ(ParseFtsDate(FormatFtsDate(dt)), dt);
  }
}

TEST(FtnDateTest, MonthNamesLookUpBothWays) {
  EXPECT_EQ(MonthFromName("jan"), 1);
  EXPECT_EQ(MonthFromName("DEC"), 12);
  EXPECT_EQ(MonthFromName("Ja"), 0);
  EXPECT_EQ(MonthFromName("Janu"), 0);
  EXPECT_EQ(MonthFromName(""), 0);
  for (std::int32_t m = 1; m <= 12; ++m) EXPECT_EQ(MonthFromName(MonthName(m)), m);
  EXPECT_EQ(MonthName(0), "   ");
  EXPECT_EQ(MonthName(13), "   ");
}

TEST(FtnDateTest, SecondsSince1970ToCalendar) {
  const struct {
    std::int64_t seconds;
    DateTime expected;
  } cases[] = {
      {0, {1970, 1, 1, 0, 0, 0}},
      {86399, {1970, 1, 1, 23, 59, 59}},
      {86400, {1970, 1, 2, 0, 0, 0}},
      {951782400, {2000, 2, 29, 0, 0, 0}},
      {951868800, {2000, 3, 1, 0, 0, 0}},
      {2147483647, {2038, 1, 19, 3, 14, 7}},
      {2147483648, {2038, 1, 19, 3, 14, 8}},
      {4107542399, {2100, 2, 28, 23, 59, 59}},  // 2100 is no leap year
      {4294967295, {2106, 2, 7, 6, 28, 15}},
      {-1, {1969, 12, 31, 23, 59, 59}},
      {-86401, {1969, 12, 30, 23, 59, 59}},
      {-2208988800, {1900, 1, 1, 0, 0, 0}},
      {-62135596800, {1, 1, 1, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(UnixToDateTime(c.seconds), c.expected);
    EXPECT_EQ(DateTimeToUnix(c.expected), c.seconds);
  }
}

TEST(FtnDateTest, SecondsRoundTripThroughCalendar) {
  const std::int64_t values[] = {0,          1,           59,          86399,      86400,
                                 68169599,   68169600,    951868799,   2147483647, 2147483648,
                                 3000000000, 4294967295,  -1,          -86400,     -86401,
                                 -31536000,  -2208988801, 253402300799};
  for (std::int64_t x : values) {
    SCOPED_TRACE(x);
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(x)), x);
  }
}

TEST(FtnDateTest, OutOfRangeFieldsCarryIntoNeighbours) {
  EXPECT_EQ(DateTimeToUnix({2000, 0, 1, 0, 0, 0}), DateTimeToUnix({1999, 12, 1, 0, 0, 0}));
  EXPECT_EQ(DateTimeToUnix({1999, 13, 1, 0, 0, 0}), DateTimeToUnix({2000, 1, 1, 0, 0, 0}));
  EXPECT_EQ(DateTimeToUnix({2000, 3, 0, 0, 0, 0}), DateTimeToUnix({2000, 2, 29, 0, 0, 0}));
  EXPECT_EQ(DateTimeToUnix({1970, 1, 1, 24, 0, 0}), 86400);
  // The packed "no date" value still converts.
  EXPECT_EQ(DateTimeToUnix(UnpackDateTime(0)), DateTimeToUnix({1979, 11, 30, 0, 0, 0}));
}

// Garbage dates come from foreign message bases; none may crash the parser
// or leave a month that would index outside the name table.
TEST(FtnDateTest, GarbageTextNeverBreaksTheParser) {
  std::mt19937 random(20240229);
  const std::string shaped = " -:0123456789JanMarDecSun";
  for (int i = 0; i < 4000; ++i) {
    std::string text(random() % 41, '\0');
    const bool use_shaped = i % 2 == 0;  // half of them close to real dates
    for (char& c : text) {
      c = use_shaped ? shaped[random() % shaped.size()] : static_cast<char>(random() % 256);
    }
    const DateTime dt = ParseFtsDate(text);
    ASSERT_GE(dt.month, 0) << testing::PrintToString(text);
    ASSERT_LE(dt.month, 12) << testing::PrintToString(text);
    ASSERT_EQ(FormatFtsDate(dt).size(), 19u) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace qlr
