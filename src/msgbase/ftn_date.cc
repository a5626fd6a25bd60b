#include "msgbase/ftn_date.h"

#include "platform/platform.h"
#include "util/strings.h"

namespace qlr {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Julian day number of 1970-01-01, the first day of Unix time.
constexpr std::int64_t kUnixEpochJulianDay = 2440588;
// Days from 0000-03-01 to 1970-01-01 in the proleptic Gregorian calendar.
constexpr std::int64_t kMarchZeroToUnixEpoch = 719468;
constexpr std::int64_t kDaysPer400Years = 146097;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if (a % b != 0 && ((a < 0) != (b < 0))) --q;
  return q;
}

// Julian day number of a Gregorian date. Years are counted from March so
// that the leap day is the last day of a year; a month outside 1 to 12 and
// a day outside the month carry over into the neighbouring ones.
std::int64_t JulianDay(std::int64_t year, std::int64_t month, std::int64_t day) {
  const std::int64_t carried_years = FloorDiv(month - 1, 12);
  year += carried_years;
  month -= carried_years * 12;  // now 1 to 12
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = FloorDiv(y, 400);
  const std::int64_t year_of_era = y - era * 400;          // 0 to 399
  const std::int64_t month_from_march = (month + 9) % 12;  // March is 0
  const std::int64_t day_of_year = (153 * month_from_march + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * kDaysPer400Years + day_of_era - kMarchZeroToUnixEpoch + kUnixEpochJulianDay;
}

// The inverse of JulianDay for any day number; fills year, month and day.
void SetCalendarDate(std::int64_t julian_day, DateTime& dt) {
  const std::int64_t z = julian_day - kUnixEpochJulianDay + kMarchZeroToUnixEpoch;
  const std::int64_t era = FloorDiv(z, kDaysPer400Years);
  const std::int64_t day_of_era = z - era * kDaysPer400Years;  // 0 to 146096
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
  const std::int64_t month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
  // A year beyond 32 bits (only from absurd second counts) keeps its low
  // 32 bits; every date a message can carry is exact.
  dt.year = static_cast<std::int32_t>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
  dt.month = static_cast<std::int32_t>(month);
  dt.day = static_cast<std::int32_t>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
}

bool InRange(std::int32_t value, std::int32_t low, std::int32_t high) {
  return value >= low && value <= high;
}

// Character `position` (1-based) of `text` is a blank; a position past the
// end is not, so the fixed-column tests below never read beyond the text.
bool BlankAt(std::string_view text, std::size_t position) {
  return position <= text.size() && kBlanks.Contains(text[position - 1]);
}

// `text` without its first `count` characters.
std::string_view DropLeading(std::string_view text, std::size_t count) {
  return count >= text.size() ? std::string_view() : text.substr(count);
}

std::int32_t WordValue(std::size_t n, std::string_view text, const CharSet& delims) {
  return StrToLong(ExtractWord(n, text, delims));
}

}  // namespace

std::string_view MonthName(std::int32_t month) {
  if (!InRange(month, 1, 12)) return "   ";
  return kMonthNames[static_cast<std::size_t>(month - 1)];
}

std::int32_t MonthFromName(std::string_view name) {
  const ShortString wanted = UpperStr(name);
  for (std::size_t i = 0; i < kMonthNames.size(); ++i) {
    if (UpperStr(kMonthNames[i]) == wanted) return static_cast<std::int32_t>(i + 1);
  }
  return 0;
}

// Each field goes into its own bits. A field that fits them is stored as
// it is, also a month 0 (a month name nobody knows), an hour 24 or a
// second 60: a message with such a date still has a date. A field that
// does not fit (negative, or too large for its bits) reads 0 instead of
// spilling into its neighbours. Only a year the 7 bits cannot hold gives
// 0 for the whole value, which means "no date".
std::uint32_t PackDateTime(const DateTime& dt) {
  if (!InRange(dt.year, 1980, 2107)) return 0;
  const auto field = [](std::int32_t value, std::uint32_t bits) {
    const std::uint32_t limit = (1u << bits) - 1;
    return value >= 0 && static_cast<std::uint32_t>(value) <= limit
               ? static_cast<std::uint32_t>(value)
               : 0u;
  };
  const std::uint32_t date = (static_cast<std::uint32_t>(dt.year - 1980) << 9) |
                             (field(dt.month, 4) << 5) | field(dt.day, 5);
  const std::uint32_t time =
      (field(dt.hour, 5) << 11) | (field(dt.min, 6) << 5) | field(dt.sec / 2, 5);
  return (date << 16) | time;
}

DateTime UnpackDateTime(std::uint32_t packed) {
  DateTime dt;
  dt.year = static_cast<std::int32_t>(1980 + (packed >> 25));
  dt.month = static_cast<std::int32_t>((packed >> 21) & 0x0F);
  dt.day = static_cast<std::int32_t>((packed >> 16) & 0x1F);
  dt.hour = static_cast<std::int32_t>((packed >> 11) & 0x1F);
  dt.min = static_cast<std::int32_t>((packed >> 5) & 0x3F);
  dt.sec = static_cast<std::int32_t>((packed & 0x1F) * 2);
  return dt;
}

DateTime UnixToDateTime(std::int64_t seconds) {
  const std::int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const std::int64_t second_of_day = seconds - days * kSecondsPerDay;  // 0 to 86399
  DateTime dt;
  SetCalendarDate(days + kUnixEpochJulianDay, dt);
  dt.hour = static_cast<std::int32_t>(second_of_day / 3600);
  dt.min = static_cast<std::int32_t>(second_of_day % 3600 / 60);
  dt.sec = static_cast<std::int32_t>(second_of_day % 60);
  return dt;
}

std::int64_t DateTimeToUnix(const DateTime& dt) {
  const std::int64_t days = JulianDay(dt.year, dt.month, dt.day) - kUnixEpochJulianDay;
  return days * kSecondsPerDay + std::int64_t{dt.hour} * 3600 + std::int64_t{dt.min} * 60 + dt.sec;
}

ShortString FormatFtsDate(const DateTime& dt) {
  ShortString text = LongToStrZ(dt.day, 2);
  text += ' ';
  text += MonthName(dt.month);
  text += ' ';
  text += LongToStrZ(dt.year, 2);
  text += "  ";
  text += LongToStrZ(dt.hour, 2);
  text += ':';
  text += LongToStrZ(dt.min, 2);
  text += ':';
  text += LongToStrZ(dt.sec, 2);
  return text;
}

DateTime ParseFtsDate(std::string_view text) {
  static const CharSet kColon(":");
  static const CharSet kColonOrBlank(": \t");
  // Longer texts are cut at 255 characters, like every other string.
  const ShortString copy(text);
  const std::string_view s = copy.view();

  DateTime dt;
  ShortString month_name;
  if (BlankAt(s, 3)) {
    // "05 Mar 99  23:04:10", or "05 Mar 99 23:04:10" with one blank.
    dt.day = WordValue(1, s, kBlanks);
    month_name = ExtractWord(2, s, kBlanks);
    dt.year = WordValue(3, s, kBlanks);
    const std::string_view time = DropLeading(s, BlankAt(s, 11) ? 11 : 10);
    dt.hour = WordValue(1, time, kColon);
    dt.min = WordValue(2, time, kColon);
    dt.sec = WordValue(3, time, kColonOrBlank);
    dt.month = MonthFromName(month_name);
  } else if (BlankAt(s, 4)) {
    // "Sun 05 Mar 99 23:04": a weekday first and no seconds.
    const std::string_view date = DropLeading(s, 4);
    dt.day = WordValue(1, date, kBlanks);
    month_name = ExtractWord(2, date, kBlanks);
    dt.year = WordValue(3, date, kBlanks);
    const std::string_view time = DropLeading(date, 10);
    dt.hour = WordValue(1, time, kColon);
    dt.min = WordValue(2, time, kColon);
    dt.month = MonthFromName(month_name);
  } else if (s.size() >= 3 && s[2] == '-') {
    // "05-03-99 23:04:10": all numbers.
    ShortString numeric = copy;
    for (std::size_t i = 0; i < numeric.size(); ++i) {
      if (numeric[i] == '-' || numeric[i] == ':') numeric[i] = ' ';
    }
    dt.day = WordValue(1, numeric, kBlanks);
    const std::int32_t month = WordValue(2, numeric, kBlanks);
    dt.month = InRange(month, 1, 12) ? month : 0;
    dt.year = WordValue(3, numeric, kBlanks);
    dt.hour = WordValue(4, numeric, kBlanks);
    dt.min = WordValue(5, numeric, kBlanks);
    dt.sec = WordValue(6, numeric, kBlanks);
  }

  // Two-digit years: 80 to 99 are 19xx, 0 to 79 are 20xx.
  if (dt.year < 80) {
    dt.year += 2000;
  } else if (dt.year < 1900) {
    dt.year += 1900;
  }

  // Nothing readable (an empty or garbled text): the message gets "now".
  if (dt == DateTime{2000, 0, 0, 0, 0, 0}) return CurrentDateTime();
  return dt;
}

DateTime CurrentDateTime() {
  const LocalTime now = Os().Now();
  return DateTime{now.year, now.month, now.day, now.hour, now.minute, now.second};
}

}  // namespace qlr
