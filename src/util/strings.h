// String and number helpers over short strings.
//
// Positions and counts are 1-based where the helpers edit strings, as in
// the control file and template rules built on them. Every helper that
// builds a string cuts its result at 255 characters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/short_string.h"

namespace qlr {

// A set of byte values, for trimming and splitting. A literal type, so the
// sets in use are compile-time constants.
class CharSet {
 public:
  constexpr CharSet() = default;
  constexpr CharSet(std::string_view members) {  // NOLINT: implicit, e.g. CharSet(" \t")
    for (char c : members) {
      const unsigned code = static_cast<unsigned char>(c);
      words_[code / 64] |= std::uint64_t{1} << (code % 64);
    }
  }
  constexpr bool Contains(char c) const {
    const unsigned code = static_cast<unsigned char>(c);
    return (words_[code / 64] >> (code % 64) & 1) != 0;
  }

 private:
  std::uint64_t words_[4] = {};
};

inline constexpr CharSet kBlanks{"\t "};  // TAB and space

// --- case (code page 866) ---
char UpCaseChar(char c);
char LoCaseChar(char c);
ShortString UpperStr(std::string_view s);
ShortString ReverseStr(std::string_view s);

// --- trimming, words, editing ---
ShortString TrimLeftSet(std::string_view s, const CharSet& set);
ShortString TrimRightSet(std::string_view s, const CharSet& set);
ShortString TrimSet(std::string_view s, const CharSet& set);
// Removes leading and trailing characters with codes up to 32.
ShortString TrimBlanks(std::string_view s);
// 1-based position of word n (maximal run outside `delims`); 0 when none.
std::size_t WordPosition(std::size_t n, std::string_view s, const CharSet& delims);
ShortString ExtractWord(std::size_t n, std::string_view s, const CharSet& delims);
// Deletes up to `count` characters from 1-based `index`; nothing when
// either is below 1 or `index` is past the end.
void DeleteChars(ShortString& s, int index, int count);
// Inserts `source` before 1-based `index` (below 1: at the front; past
// the end: appends); the result is cut at 255 characters.
void InsertChars(std::string_view source, ShortString& s, int index);

// --- padding (width 0..255) ---
ShortString PadRight(std::string_view s, char ch, int width);
ShortString PadLeft(std::string_view s, char ch, int width);
ShortString PadCenter(std::string_view s, char ch, int width);

// --- numbers ---
// Leading spaces, optional sign, decimal digits or "$" and hex digits;
// anything else, or a value outside int32, gives 0.
std::int32_t StrToLong(std::string_view s);
ShortString LongToStr(std::int32_t n);
// Exactly `width` characters: the last `width` of the decimal text, or
// the text zero-padded on the left (5, 2 -> "05"; 2000, 2 -> "00").
ShortString LongToStrZ(std::int32_t n, int width);
// Lower-case hexadecimal digits, most significant first: 4 and 8 of them.
ShortString HexWord(std::uint16_t w);
ShortString HexLong(std::uint32_t l);

// --- heap strings: an owned, exactly sized copy, absent when empty ---
class HeapString {
 public:
  HeapString() = default;
  bool absent() const { return text_.empty(); }
  // An absent heap string reads as the empty string.
  std::string_view view() const { return text_; }

 private:
  friend HeapString NewStr(std::string_view s);
  std::string text_;  // empty means absent
};

HeapString NewStr(std::string_view s);
void DisposeStr(HeapString& p);
void SetStr(HeapString& p, std::string_view s);
ShortString StrValue(const HeapString& p);

}  // namespace qlr
