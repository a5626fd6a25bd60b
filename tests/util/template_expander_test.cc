#include "util/template_expander.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qlr {
namespace {

std::string Expanded(const TemplateExpander& expander, std::string_view text) {
  ShortString s(text);
  expander.Expand(s);
  return s.str();
}

struct Case {
  const char* input;
  const char* expected;
};

class FunctionCallTest : public ::testing::TestWithParam<Case> {};

TEST_P(FunctionCallTest, Evaluates) {
  TemplateExpander expander;
  EXPECT_EQ(Expanded(expander, GetParam().input), GetParam().expected) << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(
    Pad, FunctionCallTest,
    ::testing::Values(Case{"@PAD{LEFT|0|8|1f}", "0000001f"}, Case{"@PAD{RIGHT|.|6|ab}", "ab...."},
                      Case{"@PAD{CENTER|*|7|ab}", "**ab***"}, Case{"@PAD{LEFT|x|3|abcdef}", "def"},
                      Case{"@PAD{RIGHT|x|3|abcdef}", "abc"},
                      // Cut from 1-based position (6 - 3 + 1) div 2 = 2.
                      Case{"@PAD{CENTER|x|3|abcdef}", "bcd"},
                      Case{"@PAD{CENTER|x|4|abcdefg}", "bcde"},
                      // Any other alignment word centres.
                      Case{"@PAD{middle|-|6|ab}", "--ab--"},
                      // Names and the alignment word ignore case.
                      Case{"@pad{left|0|4|7}", "0007"}, Case{"@Pad{Right|_|3|ab}", "ab_"},
                      Case{"@PAD{LEFT|0|2|ab}", "ab"},
                      // A run of bars is one separator.
                      Case{"@PAD{LEFT||0||4|7}", "0007"},
                      // WIDTH is clamped to 0..255; malformed counts as 0.
                      Case{"@PAD{LEFT|0|-3|7}", ""}, Case{"@PAD{RIGHT|0|zz|7}", ""}));

INSTANTIATE_TEST_SUITE_P(Num, FunctionCallTest,
                         ::testing::Values(Case{"@NUM{,|1234567}", "1,234,567"},
                                           Case{"@NUM{.|123}", "123"}, Case{"@NUM{,|12a4}", "12a4"},
                                           Case{"@NUM{.|1234}", "1.234"},
                                           Case{"@NUM{,|123456}", "123,456"},
                                           Case{"@NUM{'x|1234567890}", "1'234'567'890"},
                                           Case{"@NUM{,|-1234}", "-1234"}));

INSTANTIATE_TEST_SUITE_P(
    Size, FunctionCallTest,
    ::testing::Values(Case{"@SIZE{4|1536}", "1536"}, Case{"@SIZE{2|1536}", "1Kb"},
                      Case{"@SIZE{3|5000000}", "4Mb"}, Case{"@SIZE{7|1536}", "0Mb"},
                      Case{"@SIZE{5|1536}", "1536"}, Case{"@SIZE{9|0}", "0"},
                      Case{"@SIZE{3|-5000}", "-4Kb"},
                      // Three units only: the scaling stops at Gb.
                      Case{"@SIZE{20|2147483647}", "1Gb"}, Case{"@SIZE{1|2147483647}", "1Gb"}));

INSTANTIATE_TEST_SUITE_P(Calls, FunctionCallTest,
                         ::testing::Values(
                             // Inner calls first: the rightmost "{" is evaluated before the others.
                             Case{"@PAD{LEFT|0|11|@NUM{,|1234567}}", "001,234,567"},
                             Case{"@NUM{,|1000}-@PAD{LEFT|0|3|7}", "1,000-007"},
                             Case{"x@NUM{,|1234}y @SIZE{2|2048}z", "x1,234y 2Kbz"},
                             // An escaped call stays literal, wherever it stands, and the others
                             // are still evaluated.
                             Case{"@@PAD{LEFT|0|4|7} @PAD{LEFT|0|4|7}", "@PAD{LEFT|0|4|7} 0007"},
                             Case{"@PAD{LEFT|0|4|7} @@PAD{LEFT|0|4|7}", "0007 @PAD{LEFT|0|4|7}"},
                             Case{"@@@NUM{,|1234}", "@@NUM{,|1234}"},
                             // Without a closing brace a call stays as written.
                             Case{"@NUM{,|1000} @PAD{LEFT|0|4|7", "1,000 @PAD{LEFT|0|4|7"},
                             Case{"@NUM{,|1000 @NUM{,|2000}", "@NUM{,|1000 2,000"},
                             Case{"no calls {here}", "no calls {here}"}, Case{"@PAD", "@PAD"}));

TEST(TemplateFunctionsTest, PadWidthAboveShortStringIsClamped) {
  TemplateExpander expander;
  const std::string result = Expanded(expander, "@PAD{LEFT|0|300|7}");
  EXPECT_EQ(result, std::string(254, '0') + "7");
}

TEST(TemplateFunctionsTest, RoutinesCanBeCalledDirectly) {
  EXPECT_EQ(PadFunction("LEFT|0|8|1f"), "0000001f");
  EXPECT_EQ(NumFunction(",|1234567"), "1,234,567");
  EXPECT_EQ(SizeFunction("3|5000000"), "4Mb");
}

TEST(TemplateExpanderTest, RegistersTheBuiltInsInOrder) {
  TemplateExpander expander;
  EXPECT_TRUE(expander.process_functions);
  ASSERT_EQ(expander.Functions().Count(), 3);
  EXPECT_EQ(expander.Functions().At(0).name, "@PAD");
  EXPECT_EQ(expander.Functions().At(1).name, "@NUM");
  EXPECT_EQ(expander.Functions().At(2).name, "@SIZE");
}

TEST(TemplateExpanderTest, RegisteringAnExistingNameReplacesItsRoutine) {
  TemplateExpander expander;
  expander.RegisterFunction("@pad",
                            [](std::string_view args) { return ShortString("<") + args + ">"; });
  EXPECT_EQ(expander.Functions().Count(), 3);
  EXPECT_EQ(Expanded(expander, "@PAD{a|b}"), "<a|b>");
}

TEST(TemplateExpanderTest, OnEqualBracePositionsTheFirstRegisteredWins) {
  TemplateExpander b_first;
  b_first.RegisterFunction("B", [](std::string_view) { return ShortString("[b]"); });
  b_first.RegisterFunction("AB", [](std::string_view) { return ShortString("[ab]"); });
  EXPECT_EQ(Expanded(b_first, "AB{z}"), "A[b]");

  TemplateExpander ab_first;
  ab_first.RegisterFunction("AB", [](std::string_view) { return ShortString("[ab]"); });
  ab_first.RegisterFunction("B", [](std::string_view) { return ShortString("[b]"); });
  EXPECT_EQ(Expanded(ab_first, "AB{z}"), "[ab]");
}

TEST(TemplateExpanderTest, RoutineThatRecreatesItsCallDoesNotLoopForever) {
  TemplateExpander expander;
  expander.RegisterFunction("@LOOP", [](std::string_view) { return ShortString("@LOOP{}"); });
  EXPECT_EQ(Expanded(expander, "@LOOP{}"), "@LOOP{}");
}

TEST(TemplateExpanderTest, FunctionsOffPassCallsThroughButStillReplaceMacros) {
  TemplateExpander expander;
  expander.process_functions = false;
  expander.Define("W", "8", false);
  EXPECT_EQ(Expanded(expander, "@PAD{LEFT|0|8|1}"), "@PAD{LEFT|0|8|1}");
  EXPECT_EQ(Expanded(expander, "@@PAD{LEFT|0|W|1}"), "@@PAD{LEFT|0|8|1}");
}

TEST(TemplateExpanderTest, MacrosAreReplacedBeforeFunctionsAreEvaluated) {
  TemplateExpander expander;
  expander.Define("@Width", "8", false);
  EXPECT_EQ(Expanded(expander, "@PAD{LEFT|0|@width|1}"), "00000001");
}

TEST(TemplateExpanderTest, ArchiverTailWithMacros) {
  TemplateExpander expander;
  expander.Define("@ArcName", "C:\\OLD\\00000000", false);
  expander.Define("@FileName", "C:\\OLD\\00000000", false);
  EXPECT_EQ(Expanded(expander, "/C zip -m @arcname.zip x"), "/C zip -m C:\\OLD\\00000000.zip x");
  EXPECT_EQ(Expanded(expander, "/C echo @@ArcName"), "/C echo @ArcName");
  EXPECT_EQ(Expanded(expander, " /C zip -mj @ArcName.zip @FileName\\*.*"),
            " /C zip -mj C:\\OLD\\00000000.zip C:\\OLD\\00000000\\*.*");
}

TEST(TemplateExpanderTest, EscapedOccurrenceStaysLiteralAndLaterOnesAreReplaced) {
  TemplateExpander expander;
  expander.Define("@FileName", "V", false);
  EXPECT_EQ(Expanded(expander, "x @@FileName @FileName"), "x @FileName V");
  EXPECT_EQ(Expanded(expander, "@FileName @@FileName @filename"), "V @FileName V");
}

TEST(TemplateExpanderTest, MacrosAreKeptInDescendingOrderOfUpperCasedNames) {
  TemplateExpander expander;
  expander.Define("@ArcName", "A", false);
  expander.Define("@FileName", "F", false);
  expander.Define("@arcnamex", "X", false);
  ASSERT_EQ(expander.MacroCount(), 3);
  EXPECT_EQ(expander.MacroAt(0).name, "@FileName");
  EXPECT_EQ(expander.MacroAt(1).name, "@arcnamex");
  EXPECT_EQ(expander.MacroAt(2).name, "@ArcName");
  // The longer name is replaced before its prefix can take it apart.
  EXPECT_EQ(Expanded(expander, "@ArcNameX @ArcName @FileName"), "X A F");
}

TEST(TemplateExpanderTest, NamesMatchInsideWordsAndTheEscapeKeepsThem) {
  TemplateExpander expander;
  expander.Define("ROOT", "C:\\FIDO", false);
  EXPECT_EQ(Expanded(expander, "GROOTS"), "GC:\\FIDOS");
  EXPECT_EQ(Expanded(expander, "G@ROOTS"), "GROOTS");
  EXPECT_EQ(Expanded(expander, "root\\root"), "C:\\FIDO\\C:\\FIDO");
}

TEST(TemplateExpanderTest, CaseRule) {
  TemplateExpander sensitive;
  sensitive.Define("ABC", "1", true);
  EXPECT_EQ(Expanded(sensitive, "ABC abc Abc"), "1 abc Abc");

  TemplateExpander insensitive;
  insensitive.Define("ABC", "1", false);
  EXPECT_EQ(Expanded(insensitive, "ABC abc Abc"), "1 1 1");
}

TEST(TemplateExpanderTest, RedefiningIgnoresCaseAndKeepsTheFirstName) {
  TemplateExpander expander;
  expander.Define("@ArcName", "old", true);
  expander.Define("@arcname", "new", false);
  ASSERT_EQ(expander.MacroCount(), 1);
  EXPECT_EQ(expander.MacroAt(0).name, "@ArcName");
  // The case rule was replaced too.
  EXPECT_EQ(Expanded(expander, "@ARCNAME"), "new");
}

TEST(TemplateExpanderTest, EmptyValueDeletesEveryOccurrence) {
  TemplateExpander expander;
  expander.Define("ROOT", "", false);
  EXPECT_EQ(Expanded(expander, "a ROOT b rootROOT"), "a  b ");
  // An "@" before an occurrence still escapes it after an empty value.
  EXPECT_EQ(Expanded(expander, "ROOT@ROOT"), "ROOT");
}

TEST(TemplateExpanderTest, ValueContainingItsOwnNameIsReplacedOnce) {
  TemplateExpander expander;
  expander.Define("A", "AA", false);
  EXPECT_EQ(Expanded(expander, "xAyA"), "xAAyAA");
}

TEST(TemplateExpanderTest, AtPutThereByAReplacementIsNotAnEscape) {
  TemplateExpander at;
  at.Define("X", "@", true);
  EXPECT_EQ(Expanded(at, "XX"), "@@");
  EXPECT_EQ(Expanded(at, "@X"), "X");

  TemplateExpander ends_in_at;
  ends_in_at.Define("N", "a@", true);
  EXPECT_EQ(Expanded(ends_in_at, "NN"), "a@a@");
}

TEST(TemplateExpanderTest, EmptyNameDoesNothing) {
  TemplateExpander expander;
  expander.Define("", "zzz", false);
  EXPECT_EQ(Expanded(expander, "abc"), "abc");
}

TEST(TemplateExpanderTest, InsertionsAreCutAt255Characters) {
  TemplateExpander expander;
  expander.Define("V", std::string(200, 'v'), false);
  const std::string result = Expanded(expander, "V-V-V");
  ASSERT_EQ(result.size(), 255u);
  EXPECT_EQ(result, std::string(200, 'v') + "-" + std::string(54, 'v'));
}

}  // namespace
}  // namespace qlr
