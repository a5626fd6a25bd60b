// Trimming, splitting into words, clamped editing and padding.
#include <algorithm>
#include <string>

#include "util/strings.h"

namespace qlr {

namespace {

constexpr std::size_t kMaxLength = 255;

std::size_t ClampWidth(int width) {
  return static_cast<std::size_t>(std::clamp(width, 0, static_cast<int>(kMaxLength)));
}

}  // namespace

ShortString TrimLeftSet(std::string_view s, const CharSet& set) {
  std::size_t first = 0;
  while (first < s.size() && set.Contains(s[first])) ++first;
  return ShortString(s.substr(first));
}

ShortString TrimRightSet(std::string_view s, const CharSet& set) {
  std::size_t end = s.size();
  while (end > 0 && set.Contains(s[end - 1])) --end;
  return ShortString(s.substr(0, end));
}

ShortString TrimSet(std::string_view s, const CharSet& set) {
  return TrimRightSet(TrimLeftSet(s, set), set);
}

ShortString TrimBlanks(std::string_view s) {
  auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  std::size_t first = 0;
  std::size_t end = s.size();
  while (first < end && is_blank(s[first])) ++first;
  while (end > first && is_blank(s[end - 1])) --end;
  return ShortString(s.substr(first, end - first));
}

std::size_t WordPosition(std::size_t n, std::string_view s, const CharSet& delims) {
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && delims.Contains(s[i])) ++i;
    if (i == s.size()) break;
    if (++count == n) return i + 1;
    while (i < s.size() && !delims.Contains(s[i])) ++i;
  }
  return 0;
}

ShortString ExtractWord(std::size_t n, std::string_view s, const CharSet& delims) {
  const std::size_t pos = WordPosition(n, s, delims);
  if (pos == 0) return ShortString();
  std::size_t end = pos - 1;
  while (end < s.size() && !delims.Contains(s[end])) ++end;
  return ShortString(s.substr(pos - 1, end - (pos - 1)));
}

void DeleteChars(ShortString& s, int index, int count) {
  if (index < 1 || count < 1) return;
  const std::size_t start = static_cast<std::size_t>(index) - 1;
  if (start >= s.size()) return;
  const std::size_t n = std::min(static_cast<std::size_t>(count), s.size() - start);
  ShortString r(s.view().substr(0, start));
  r.append(s.view().substr(start + n));
  s = r;
}

void InsertChars(std::string_view source, ShortString& s, int index) {
  // An index before the start inserts at the front, one past the end appends.
  const std::size_t at =
      static_cast<std::size_t>(std::clamp(index, 1, static_cast<int>(s.size()) + 1)) - 1;
  ShortString r(s.view().substr(0, at));
  r.append(source);
  r.append(s.view().substr(at));
  s = r;
}

ShortString PadRight(std::string_view s, char ch, int width) {
  ShortString r(s);
  const std::size_t w = ClampWidth(width);
  while (r.size() < w) r.push_back(ch);
  return r;
}

ShortString PadLeft(std::string_view s, char ch, int width) {
  const std::size_t w = ClampWidth(width);
  if (s.size() >= w) return ShortString(s);
  ShortString r(std::string(w - s.size(), ch));
  r.append(s);
  return r;
}

ShortString PadCenter(std::string_view s, char ch, int width) {
  const std::size_t w = ClampWidth(width);
  if (s.size() >= w) return ShortString(s);
  ShortString r(std::string((w - s.size()) / 2, ch));
  r.append(s);
  while (r.size() < w) r.push_back(ch);
  return r;
}

}  // namespace qlr
