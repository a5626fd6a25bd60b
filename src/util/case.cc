// Case conversion and character order.
//
// Upper-casing follows the DOS Cyrillic code page (866): it is the one
// rule for every comparison that ignores case. Lower-casing covers the DOS
// Latin letters 80h..A5h, as the Squish name hash expects.
#include <array>
#include <cstdint>
#include <string>

#include "util/strings.h"

namespace qlr {
namespace {

constexpr std::array<std::uint8_t, 256> MakeUpperTable() {
  std::array<std::uint8_t, 256> t{};
  for (std::size_t c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>(c);
  for (std::size_t c = 'a'; c <= 'z'; ++c) t[c] = static_cast<std::uint8_t>(c - 'a' + 'A');
  // Cyrillic lower case: a..p at A0h..AFh, r..ya at E0h..EFh, yo at F1h.
  for (std::size_t c = 0xA0; c <= 0xAF; ++c) t[c] = static_cast<std::uint8_t>(c - 0x20);
  for (std::size_t c = 0xE0; c <= 0xEF; ++c) t[c] = static_cast<std::uint8_t>(c - 0x50);
  t[0xF1] = 0xF0;
  return t;
}

constexpr std::array<std::uint8_t, 256> MakeLowerTable() {
  std::array<std::uint8_t, 256> t{};
  for (std::size_t c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>(c);
  for (std::size_t c = 'A'; c <= 'Z'; ++c) t[c] = static_cast<std::uint8_t>(c - 'A' + 'a');
  // DOS Latin capitals and their small letters (code page 437 order).
  t[0x80] = 0x87;  // C cedilla
  t[0x8E] = 0x84;  // A diaeresis
  t[0x8F] = 0x86;  // A ring
  t[0x90] = 0x82;  // E acute
  t[0x92] = 0x91;  // AE
  t[0x99] = 0x94;  // O diaeresis
  t[0x9A] = 0x81;  // U diaeresis
  t[0x9D] = 0x9B;  // O stroke
  t[0xA5] = 0xA4;  // N tilde
  return t;
}

constexpr auto kUpper = MakeUpperTable();
constexpr auto kLower = MakeLowerTable();

}  // namespace

char UpCaseChar(char c) { return static_cast<char>(kUpper[static_cast<unsigned char>(c)]); }

char LoCaseChar(char c) { return static_cast<char>(kLower[static_cast<unsigned char>(c)]); }

ShortString UpperStr(std::string_view s) {
  ShortString r(s);
  for (std::size_t i = 0; i < r.size(); ++i) r[i] = UpCaseChar(r[i]);
  return r;
}

ShortString ReverseStr(std::string_view s) {
  return ShortString(std::string(s.rbegin(), s.rend()));
}

}  // namespace qlr
