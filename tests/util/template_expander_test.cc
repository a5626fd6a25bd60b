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

// One expander with `macros` defined in order, expanding `input`.
struct Macro {
  const char* name;
  std::string value;
  bool case_sensitive = false;
};
struct MacroCase {
  const char* name;
  std::vector<Macro> macros;
  const char* input;
  std::string expected;
};

class MacroTest : public ::testing::TestWithParam<MacroCase> {};

TEST_P(MacroTest, Expands) {
  TemplateExpander expander;
  for (const Macro& m : GetParam().macros) expander.Define(m.name, m.value, m.case_sensitive);
  EXPECT_EQ(Expanded(expander, GetParam().input), GetParam().expected);
}

const Macro kFileName{"@FileName", "V"};
const Macro kRoot{"ROOT", "C:\\FIDO"};
const Macro kEmptyRoot{"ROOT", ""};
const std::vector<Macro> kArchiver = {{"@ArcName", "C:\\OLD\\00000000"},
                                      {"@FileName", "C:\\OLD\\00000000"}};

INSTANTIATE_TEST_SUITE_P(
    Macros, MacroTest,
    ::testing::Values(
        // An escaped occurrence stays literal and later ones are replaced.
        MacroCase{"EscapeThenName", {kFileName}, "x @@FileName @FileName", "x @FileName V"},
        MacroCase{
            "EscapeBetweenNames", {kFileName}, "@FileName @@FileName @filename", "V @FileName V"},
        // Names match inside words, and the escape keeps them.
        MacroCase{"InsideAWord", {kRoot}, "GROOTS", "GC:\\FIDOS"},
        MacroCase{"EscapedInsideAWord", {kRoot}, "G@ROOTS", "GROOTS"},
        MacroCase{"LowerCase", {kRoot}, "root\\root", "C:\\FIDO\\C:\\FIDO"},
        MacroCase{"CaseSensitive", {{"ABC", "1", true}}, "ABC abc Abc", "1 abc Abc"},
        MacroCase{"CaseInsensitive", {{"ABC", "1"}}, "ABC abc Abc", "1 1 1"},
        // An empty value deletes every occurrence; an "@" before one still
        // escapes it.
        MacroCase{"EmptyValue", {kEmptyRoot}, "a ROOT b rootROOT", "a  b "},
        MacroCase{"EscapeBeforeEmptyValue", {kEmptyRoot}, "ROOT@ROOT", "ROOT"},
        MacroCase{"ValueHoldsItsName", {{"A", "AA"}}, "xAyA", "xAAyAA"},
        // An "@" that a replacement put there is no escape.
        MacroCase{"ValueIsAnAt", {{"X", "@", true}}, "XX", "@@"},
        MacroCase{"AtBeforeAValueOfAt", {{"X", "@", true}}, "@X", "X"},
        MacroCase{"ValueEndsInAnAt", {{"N", "a@", true}}, "NN", "a@a@"},
        MacroCase{"EmptyName", {{"", "zzz"}}, "abc", "abc"},
        MacroCase{"CutAt255Characters",
                  {{"V", std::string(200, 'v')}},
                  "V-V-V",
                  std::string(200, 'v') + "-" + std::string(54, 'v')},
        MacroCase{"BeforeFunctions", {{"@Width", "8"}}, "@PAD{LEFT|0|@width|1}", "00000001"},
        MacroCase{"ArchiverTail", kArchiver, "/C zip -m @arcname.zip x",
                  "/C zip -m C:\\OLD\\00000000.zip x"},
        MacroCase{"ArchiverTailEscaped", kArchiver, "/C echo @@ArcName", "/C echo @ArcName"},
        MacroCase{"ArchiverTailTwoMacros", kArchiver, " /C zip -mj @ArcName.zip @FileName\\*.*",
                  " /C zip -mj C:\\OLD\\00000000.zip C:\\OLD\\00000000\\*.*"}),
    [](const ::testing::TestParamInfo<MacroCase>& row) { return std::string(row.param.name); });

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

TEST(TemplateExpanderTest, RedefiningIgnoresCaseAndKeepsTheFirstName) {
  TemplateExpander expander;
  expander.Define("@ArcName", "old", true);
  expander.Define("@arcname", "new", false);
  ASSERT_EQ(expander.MacroCount(), 1);
  EXPECT_EQ(expander.MacroAt(0).name, "@ArcName");
  // The case rule was replaced too.
  EXPECT_EQ(Expanded(expander, "@ARCNAME"), "new");
}

}  // namespace
}  // namespace qlr
