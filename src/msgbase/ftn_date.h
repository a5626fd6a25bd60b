// Date stamps of stored messages and the conversions between their forms.
//
// Messages carry their date in up to three shapes: the FTS text in the
// header ("05 Mar 99  23:04:10"), the DOS packed date and time, and
// seconds since 1970 (JAM). DateTime is the broken-down form that all of
// them pass through. All values are local time; no time zone is applied.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "support/short_string.h"

namespace qlr {

struct DateTime {
  std::int32_t year = 0;   // full year, e.g. 1999
  std::int32_t month = 0;  // 1 to 12; 0 when not recognised
  std::int32_t day = 0;
  std::int32_t hour = 0;
  std::int32_t min = 0;
  std::int32_t sec = 0;

  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// Month names of the FTS date text; month m is kMonthNames[m - 1].
inline constexpr std::array<std::string_view, 12> kMonthNames = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The name of month 1 to 12; three blanks for any other value, so a date
// with an unknown month still formats to a text of the usual width.
std::string_view MonthName(std::int32_t month);

// 1 to 12 for a month name, compared upper-cased; 0 when none matches.
std::int32_t MonthFromName(std::string_view name);

// DOS packed date and time: the date in the high 16 bits (bits 31-25 year
// minus 1980, 24-21 month, 20-16 day), the time in the low 16 bits (15-11
// hour, 10-5 minute, 4-0 second divided by 2). Every field that fits its
// bits is kept, month 0 included; one that does not (negative or too
// large) is stored as 0 rather than spilling into the next field. Only a
// year outside 1980 to 2107 packs the whole value to 0, meaning "no date".
std::uint32_t PackDateTime(const DateTime& dt);
DateTime UnpackDateTime(std::uint32_t packed);

// Seconds since 1970-01-01 00:00 and back, in 64 bits so that no date
// wraps: JAM stores unsigned 32-bit seconds (valid to 2106), and dates
// before 1970 give negative values. Days are counted as Julian day numbers
// of the Gregorian calendar.
DateTime UnixToDateTime(std::int64_t seconds);
// Months outside 1 to 12 and days outside the month carry into the
// neighbouring months and years (month 0 is December of the year before,
// day 0 the last day of the month before), so every DateTime has a value.
std::int64_t DateTimeToUnix(const DateTime& dt);

// "dd Mon yy  hh:mm:ss": each number two digits (the last two of a longer
// one, so 1999 gives 99), 19 characters.
ShortString FormatFtsDate(const DateTime& dt);

// Reads the date texts found in stored messages: "05 Mar 99  23:04:10",
// "05 Mar 99 23:04:10", "Sun 05 Mar 99 23:04" and "05-03-99 23:04:10".
// Two-digit years below 80 are 20xx, other years below 1900 are 19xx. An
// empty or unreadable text gives the current date and time.
DateTime ParseFtsDate(std::string_view text);

// The local date and time of the operating system.
DateTime CurrentDateTime();

}  // namespace qlr
