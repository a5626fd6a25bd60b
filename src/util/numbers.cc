// Number conversion to and from text.
#include <algorithm>
#include <cstdint>
#include <string>

#include "util/strings.h"

namespace qlr {
namespace {

// Value of a hexadecimal digit in either case, or -1.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

std::int32_t StrToLong(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  }
  if (i == s.size()) return 0;  // no digits at all
  // Accumulate the magnitude in 64 bits and stop as soon as it can no
  // longer fit, so any length of digits is safe.
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  std::int64_t magnitude = 0;
  for (; i < s.size(); ++i) {
    const int digit =
        base == 16 ? HexDigitValue(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
    if (digit < 0) return 0;
    magnitude = magnitude * base + digit;
    if (magnitude > limit) return 0;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

ShortString LongToStr(std::int32_t n) { return ShortString(std::to_string(n)); }

ShortString LongToStrZ(std::int32_t n, int width) {
  const std::string text = std::to_string(n);
  const std::size_t w = static_cast<std::size_t>(std::clamp(width, 0, 255));
  if (text.size() >= w) return ShortString(std::string_view(text).substr(text.size() - w));
  return ShortString(std::string(w - text.size(), '0') + text);
}

ShortString HexWord(std::uint16_t w) {
  char digits[4];
  for (int i = 3; i >= 0; --i) {
    digits[i] = kHexDigits[w & 0xF];
    w = static_cast<std::uint16_t>(w >> 4);
  }
  return ShortString(std::string_view(digits, 4));
}

ShortString HexLong(std::uint32_t l) {
  return HexWord(static_cast<std::uint16_t>(l >> 16)) +
         HexWord(static_cast<std::uint16_t>(l & 0xFFFF));
}

}  // namespace qlr
