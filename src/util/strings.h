// String and number helpers over short strings.
//
// Positions and counts are 1-based where the helpers edit strings, as in
// the control file and template rules built on them. Every helper that
// builds a string cuts its result at 255 characters.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <string_view>

#include "support/short_string.h"

namespace qlr {

// A set of byte values, for trimming and splitting.
class CharSet {
 public:
  CharSet() = default;
  CharSet(std::string_view members);  // NOLINT: implicit, e.g. CharSet(" \t")
  bool Contains(char c) const { return bits_.test(static_cast<unsigned char>(c)); }

 private:
  std::bitset<256> bits_;
};

extern const CharSet kBlanks;  // TAB and space

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
// Deletes up to `count` characters from 1-based `index`.
void DeleteChars(ShortString& s, int index, int count);
// Inserts `source` before 1-based `index` (past the end: appends).
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
// Last `width` digits, zero-padded on the left to `width`.
ShortString LongToStrZ(std::int32_t n, int width);
ShortString HexWord(std::uint16_t w);
ShortString HexLong(std::uint32_t l);

// --- heap strings: an owned copy, absent when empty ---
class HeapString {
 public:
  HeapString() = default;
  bool absent() const { return !text_; }
  std::string_view view() const { return text_ ? text_->view() : std::string_view(); }

 private:
  friend HeapString NewStr(std::string_view s);
  std::unique_ptr<ShortString> text_;
};

HeapString NewStr(std::string_view s);
void DisposeStr(HeapString& p);
void SetStr(HeapString& p, std::string_view s);
ShortString StrValue(const HeapString& p);

}  // namespace qlr
