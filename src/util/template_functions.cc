// The built-in text functions @PAD, @NUM and @SIZE.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "util/strings.h"
#include "util/template_expander.h"

namespace qlr {
namespace {

const CharSet& FieldDelimiters() {
  static const CharSet bar("|");
  return bar;
}

ShortString Field(std::size_t n, std::string_view arguments) {
  return ExtractWord(n, arguments, FieldDelimiters());
}

bool AllDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

ShortString PadFunction(std::string_view arguments) {
  const ShortString align = UpperStr(Field(1, arguments));
  const ShortString fill_field = Field(2, arguments);
  // A missing FILL field pads with blanks.
  const char fill = fill_field.empty() ? ' ' : fill_field[0];
  // Widths outside a short string's range are clamped to it.
  const std::size_t width =
      static_cast<std::size_t>(std::clamp<std::int32_t>(StrToLong(Field(3, arguments)), 0, 255));
  const ShortString text = Field(4, arguments);
  const std::size_t length = text.size();
  const int w = static_cast<int>(width);

  if (align == "LEFT") {
    if (length > width) return ShortString(text.view().substr(length - width));
    return PadLeft(text, fill, w);
  }
  if (align == "RIGHT") {
    if (length > width) return ShortString(text.view().substr(0, width));
    return PadRight(text, fill, w);
  }
  // CENTER, and any other word.
  if (length > width) {
    // Starting at 1-based position (L - WIDTH + 1) div 2.
    const std::size_t start = (length - width + 1) / 2;
    return ShortString(text.view().substr(start - 1, width));
  }
  return PadCenter(text, fill, w);
}

ShortString NumFunction(std::string_view arguments) {
  const ShortString separator = Field(1, arguments);
  ShortString digits = Field(2, arguments);
  if (separator.empty() || !AllDigits(digits)) return digits;
  const std::string_view sep(separator.data(), 1);
  // Insertion points Length-2, Length-5, ... (1-based) while above 1.
  for (int at = static_cast<int>(digits.size()) - 2; at > 1; at -= 3) {
    InsertChars(sep, digits, at);
  }
  return digits;
}

ShortString SizeFunction(std::string_view arguments) {
  static constexpr const char* kUnits[] = {"Kb", "Mb", "Gb"};
  const std::int64_t width = StrToLong(Field(1, arguments));
  std::int32_t n = StrToLong(Field(2, arguments));
  ShortString result = LongToStr(n);
  std::size_t unit = 0;
  // There are three units; past "Gb" the number is left as it is.
  while (unit < std::size(kUnits) && n != 0) {
    const std::int64_t difference = static_cast<std::int64_t>(result.size()) - width;
    if (difference >= -1 && difference <= 1) break;
    n /= 1024;  // truncates toward zero
    result = LongToStr(n) + kUnits[unit];
    ++unit;
  }
  return result;
}

}  // namespace qlr
