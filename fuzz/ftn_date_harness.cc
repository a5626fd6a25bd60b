// Date texts as they come in message headers, and the numeric date forms
// of the binary formats (DOS packed, JAM's unsigned seconds).
#include <algorithm>
#include <cstring>

#include "harness_support.h"
#include "harnesses.h"
#include "msgbase/ftn_date.h"

namespace qlr::fuzz {

int FuzzFtnDate(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const DateTime parsed = ParseFtsDate(text);
  (void)FormatFtsDate(parsed);
  (void)MonthName(parsed.month);
  (void)MonthFromName(text);
  (void)PackDateTime(parsed);
  // The parsed fields may be anything; carrying them into a count of
  // seconds and back must stay defined.
  (void)UnixToDateTime(DateTimeToUnix(parsed));

  // The first four bytes as a stored number.
  std::uint32_t stored = 0;
  std::memcpy(&stored, data, std::min<std::size_t>(size, sizeof stored));
  // Every bit pattern unpacks to fields that fit their bits, so packing
  // gives the same word back.
  Require(PackDateTime(UnpackDateTime(stored)) == stored, "packed date round trip");
  // Every unsigned 32-bit count of seconds is a date and back.
  Require(DateTimeToUnix(UnixToDateTime(stored)) == stored, "seconds round trip");
  (void)FormatFtsDate(UnixToDateTime(stored));
  return 0;
}

}  // namespace qlr::fuzz
