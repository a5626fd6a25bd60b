#include "util/strings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace qlr {
namespace {

char Byte(int code) { return static_cast<char>(code); }
int Code(char c) { return static_cast<unsigned char>(c); }

TEST(StringsCaseTest, UpCaseCharFollowsCodePage866) {
  for (int c = 0; c < 256; ++c) {
    int expected = c;
    if (c >= 'a' && c <= 'z') expected = c - 32;
    if (c >= 0xA0 && c <= 0xAF) expected = c - 0x20;  // Cyrillic a..p
    if (c >= 0xE0 && c <= 0xEF) expected = c - 0x50;  // Cyrillic r..ya
    if (c == 0xF1) expected = 0xF0;                   // yo
    EXPECT_EQ(Code(UpCaseChar(Byte(c))), expected) << "code " << c;
  }
}

TEST(StringsCaseTest, UpperStrLeavesLatinAccentsAlone) {
  const std::string text =
      std::string("abc") + Byte(0xA0) + Byte(0xEF) + Byte(0xF1) + Byte(0x81) + Byte(0xF0) + "Z9";
  const std::string expected =
      std::string("ABC") + Byte(0x80) + Byte(0x9F) + Byte(0xF0) + Byte(0x81) + Byte(0xF0) + "Z9";
  EXPECT_EQ(UpperStr(text), expected);
}

TEST(StringsCaseTest, LoCaseCharTable) {
  const std::pair<int, int> changed[] = {{0x80, 0x87}, {0x8E, 0x84}, {0x8F, 0x86},
                                         {0x90, 0x82}, {0x92, 0x91}, {0x99, 0x94},
                                         {0x9A, 0x81}, {0x9D, 0x9B}, {0xA5, 0xA4}};
  for (int c = 0; c < 256; ++c) {
    int expected = c >= 'A' && c <= 'Z' ? c + 32 : c;
    for (const auto& [from, to] : changed) {
      if (c == from) expected = to;
    }
    EXPECT_EQ(Code(LoCaseChar(Byte(c))), expected) << "code " << c;
  }
}

TEST(StringsCaseTest, ReverseStr) {
  EXPECT_EQ(ReverseStr(""), "");
  EXPECT_EQ(ReverseStr("a"), "a");
  EXPECT_EQ(ReverseStr("abcd"), "dcba");
}

TEST(StringsTrimTest, TrimsBySet) {
  const CharSet quotes("\"");
  EXPECT_EQ(TrimLeftSet("\"\"a\"b\"", quotes), "a\"b\"");
  EXPECT_EQ(TrimRightSet("\"\"a\"b\"", quotes), "\"\"a\"b");
  EXPECT_EQ(TrimSet("\"\"a\"b\"", quotes), "a\"b");
  EXPECT_EQ(TrimSet("\"\"\"", quotes), "");
  EXPECT_EQ(TrimSet(" \t x y\t ", kBlanks), "x y");
  EXPECT_EQ(TrimSet("", kBlanks), "");
}

TEST(StringsTrimTest, TrimBlanksRemovesControlCodesButNotHighBytes) {
  EXPECT_EQ(TrimBlanks("\x01\r\n x y \t\x1f"), "x y");
  EXPECT_EQ(TrimBlanks(" \x20 "), "");
  const std::string high = std::string(1, Byte(0xFF)) + "a" + Byte(0xA0);
  EXPECT_EQ(TrimBlanks(" " + high + " "), high);
}

struct WordCase {
  std::size_t n;
  std::string text;
  std::string delims;
  std::size_t position;
  std::string word;
};

TEST(StringsWordsTest, WordPositionAndExtractWord) {
  const WordCase cases[] = {
      {1, "  a   b ", " \t", 3, "a"},
      {2, "  a   b ", " \t", 7, "b"},
      {3, "  a   b ", " \t", 0, ""},
      {0, "a b", " ", 0, ""},
      {1, "", " ", 0, ""},
      {1, "   ", " ", 0, ""},
      {1, "x||y", "|", 1, "x"},
      {2, "x||y", "|", 4, "y"},
      {3, "x||y", "|", 0, ""},
      {2, "|a|bc|", "|", 4, "bc"},
      {1, "word", " ", 1, "word"},
      {1, "a\tb", " \t", 1, "a"},
      {4, "2:5020/1042.7@fidonet", ".:/@", 13, "7"},
      {5, "2:5020/1042.7@fidonet", ".:/@", 15, "fidonet"},
  };
  for (const WordCase& c : cases) {
    const CharSet delims(c.delims);
    EXPECT_EQ(WordPosition(c.n, c.text, delims), c.position) << c.n << " of '" << c.text << "'";
    EXPECT_EQ(ExtractWord(c.n, c.text, delims), c.word) << c.n << " of '" << c.text << "'";
  }
}

TEST(StringsEditTest, DeleteChars) {
  struct Case {
    std::string text;
    int index, count;
    std::string result;
  } cases[] = {
      {"abcdef", 2, 3, "aef"},     {"abcdef", 1, 1, "bcdef"},
      {"abcdef", 6, 1, "abcde"},   {"abcdef", 4, 99, "abc"},
      {"abcdef", 7, 1, "abcdef"},  {"abcdef", 0, 2, "abcdef"},
      {"abcdef", -1, 2, "abcdef"}, {"abcdef", 2, 0, "abcdef"},
      {"abcdef", 2, -5, "abcdef"}, {"", 1, 1, ""},
  };
  for (const Case& c : cases) {
    ShortString s(c.text);
    DeleteChars(s, c.index, c.count);
    EXPECT_EQ(s, c.result) << c.text << " " << c.index << " " << c.count;
  }
}

TEST(StringsEditTest, InsertChars) {
  struct Case {
    std::string source, text;
    int index;
    std::string result;
  } cases[] = {
      {"XY", "abc", 1, "XYabc"},  {"XY", "abc", 2, "aXYbc"}, {"XY", "abc", 4, "abcXY"},
      {"XY", "abc", 99, "abcXY"}, {"XY", "abc", 0, "XYabc"}, {"XY", "abc", -3, "XYabc"},
      {"", "abc", 2, "abc"},      {"XY", "", 1, "XY"},
  };
  for (const Case& c : cases) {
    ShortString s(c.text);
    InsertChars(c.source, s, c.index);
    EXPECT_EQ(s, c.result) << c.source << " into " << c.text << " at " << c.index;
  }
}

TEST(StringsEditTest, InsertCharsCutsAt255KeepingTheFront) {
  ShortString s(std::string(250, 'a') + "TAIL!");
  InsertChars("0123456789", s, 251);
  EXPECT_EQ(s.size(), 255u);
  EXPECT_EQ(s, std::string(250, 'a') + "01234");

  ShortString full(std::string(255, 'b'));
  InsertChars("x", full, 1);
  EXPECT_EQ(full, "x" + std::string(254, 'b'));
}

TEST(StringsPadTest, Padding) {
  EXPECT_EQ(PadRight("ab", '.', 5), "ab...");
  EXPECT_EQ(PadLeft("ab", '0', 5), "000ab");
  EXPECT_EQ(PadCenter("ab", '*', 5), "*ab**");
  EXPECT_EQ(PadCenter("ab", '*', 6), "**ab**");
  EXPECT_EQ(PadCenter("", '-', 3), "---");
  for (int width : {0, 1, 3}) {
    EXPECT_EQ(PadRight("abc", '.', width), "abc") << width;
    EXPECT_EQ(PadLeft("abc", '.', width), "abc") << width;
    EXPECT_EQ(PadCenter("abc", '.', width), "abc") << width;
  }
  EXPECT_EQ(PadLeft("x", ' ', 300).size(), 255u);
  EXPECT_EQ(PadRight("x", ' ', -4), "x");
}

TEST(StringsNumbersTest, StrToLong) {
  const std::pair<std::string, std::int32_t> cases[] = {
      {"0", 0},
      {"42", 42},
      {"  -12", -12},
      {"+7", 7},
      {"$FF", 255},
      {"$ff", 255},
      {"-$10", -16},
      {"  $7fffffff", 2147483647},
      {"-$80000000", INT32_MIN},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"007", 7},
      // Everything below gives 0.
      {"2147483648", 0},
      {"-2147483649", 0},
      {"99999999999999999999", 0},
      {"$80000000", 0},
      {"$FFFFFFFF", 0},
      {"$100000000", 0},
      {"12 ", 0},
      {"", 0},
      {"   ", 0},
      {"-", 0},
      {"$", 0},
      {"-$", 0},
      {"1a", 0},
      {"$G", 0},
      {"\t5", 0},
      {"- 5", 0},
      {"+-5", 0},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(StrToLong(text), value) << "'" << text << "'";
}

TEST(StringsNumbersTest, LongToStr) {
  EXPECT_EQ(LongToStr(0), "0");
  EXPECT_EQ(LongToStr(-15), "-15");
  EXPECT_EQ(LongToStr(INT32_MIN), "-2147483648");
  EXPECT_EQ(LongToStr(INT32_MAX), "2147483647");
}

TEST(StringsNumbersTest, LongToStrZKeepsExactlyWidthCharacters) {
  const std::tuple<std::int32_t, int, std::string> cases[] = {
      {5, 2, "05"},   {2000, 2, "00"}, {1999, 2, "99"}, {12, 2, "12"},
      {7, 4, "0007"}, {0, 1, "0"},     {123, 0, ""},    {2024, 4, "2024"},
  };
  for (const auto& [n, width, text] : cases) {
    EXPECT_EQ(LongToStrZ(n, width), text) << n << " width " << width;
  }
}

TEST(StringsNumbersTest, HexDigits) {
  EXPECT_EQ(HexWord(0), "0000");
  EXPECT_EQ(HexWord(0xABCD), "abcd");
  EXPECT_EQ(HexWord(0x0F0A), "0f0a");
  EXPECT_EQ(HexLong(0x1F), "0000001f");
  EXPECT_EQ(HexLong(4294967295u), "ffffffff");
  EXPECT_EQ(HexLong(0x12345678), "12345678");
  EXPECT_EQ(HexLong(0x00010000), "00010000");
}

TEST(StringsHeapTest, EmptyIsAbsentAndReadsEmpty) {
  HeapString p = NewStr("");
  EXPECT_TRUE(p.absent());
  EXPECT_EQ(StrValue(p), "");
  HeapString none;
  EXPECT_TRUE(none.absent());
  DisposeStr(none);
  EXPECT_TRUE(none.absent());
}

TEST(StringsHeapTest, SetStrReplacesAndDisposeReleases) {
  HeapString p = NewStr("first");
  EXPECT_FALSE(p.absent());
  EXPECT_EQ(StrValue(p), "first");
  SetStr(p, "second");
  EXPECT_EQ(StrValue(p), "second");
  SetStr(p, p.view().substr(2));  // from its own text
  EXPECT_EQ(StrValue(p), "cond");
  SetStr(p, "");
  EXPECT_TRUE(p.absent());
  SetStr(p, "again");
  DisposeStr(p);
  EXPECT_TRUE(p.absent());
  EXPECT_EQ(StrValue(p), "");
}

TEST(StringsHeapTest, CopyIsCutAt255) {
  const HeapString p = NewStr(std::string(300, 'z'));
  EXPECT_EQ(StrValue(p).size(), 255u);
}

}  // namespace
}  // namespace qlr
