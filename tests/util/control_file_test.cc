#include "util/control_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/stream.h"
#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using ::qlr::testing::FaultInjectingPlatform;
using ::qlr::testing::PlatformOp;
using ::qlr::testing::ScratchDir;

constexpr std::int32_t kMaxMessages = 1;
constexpr std::int32_t kBase = 2;
constexpr std::int32_t kArcExtension = 3;
constexpr std::int32_t kArcAdd = 4;

void AddDriverKeywords(ControlFile& control) {
  control.AddKeyword("MaxMessages");
  control.AddKeyword("Base");
  control.AddKeyword("Arc.Extension");
  control.AddKeyword("Arc.Add");
}

std::vector<std::string> Values(const ControlFile& control, std::int32_t keyword) {
  std::vector<std::string> values;
  for (std::int32_t i = 1; i <= control.ValueCount(keyword); ++i) {
    values.push_back(control.GetValue(keyword, i).str());
  }
  return values;
}

std::vector<std::int32_t> WrongLines(const ControlFile& control) {
  std::vector<std::int32_t> lines;
  for (std::int32_t i = 1; i <= control.ErrorCount(); ++i) lines.push_back(control.ErrorLine(i));
  return lines;
}

class ControlFileTest : public ::testing::Test {
 protected:
  ControlFileTest() { AddDriverKeywords(control_); }

  // Writes `text` as qlr.ctl and loads it; the load must succeed.
  void LoadText(std::string_view text) {
    scratch_.WriteFile("qlr.ctl", text);
    ASSERT_FALSE(control_.Load(scratch_.Path("qlr.ctl")));
  }

  ScratchDir scratch_;
  ControlFile control_;
};

TEST_F(ControlFileTest, KeywordsIgnoreCaseAndTheValueIsTheRestOfTheLine) {
  LoadText(
      "BASE !C:\\X C:\\Y\r\n"
      "base\t  !C:\\X   C:\\Y  \r\n"
      "Base=!C:\\X\r\n"
      "MaxMessages 500\r\n");
  EXPECT_EQ(Values(control_, kBase), (std::vector<std::string>{"!C:\\X C:\\Y", "!C:\\X   C:\\Y"}));
  EXPECT_EQ(Values(control_, kMaxMessages), std::vector<std::string>{"500"});
  // "Base=!C:\X" is one word, longer than the keyword.
  EXPECT_EQ(WrongLines(control_), std::vector<std::int32_t>{3});
}

TEST_F(ControlFileTest, KeywordAloneIsRecognisedAndAddsNoValue) {
  LoadText("Arc.Add\nArc.Add   \"\"  \nArc.Extension zip\n");
  EXPECT_EQ(control_.ValueCount(kArcAdd), 0);
  EXPECT_EQ(Values(control_, kArcExtension), std::vector<std::string>{"zip"});
  EXPECT_EQ(control_.ErrorCount(), 0);
}

TEST_F(ControlFileTest, QuotesAreStrippedFromBothEnds) {
  LoadText(
      "Arc.Add \"rar a @ArcName @FileName\"\n"
      "Arc.Add \"zip -m x\n"
      "Arc.Add \"\"quoted\" twice\"\"\n");
  EXPECT_EQ(Values(control_, kArcAdd),
            (std::vector<std::string>{"rar a @ArcName @FileName", "zip -m x", "quoted\" twice"}));
}

TEST_F(ControlFileTest, CommentAndTheBlanksBeforeItAreRemoved) {
  LoadText(
      "; a whole-line comment\n"
      "Arc.Add zip -m @ArcName ; archive\n"
      "   \t  \n"
      "Arc.Extension zip;no blank before the comment\n");
  EXPECT_EQ(Values(control_, kArcAdd), std::vector<std::string>{"zip -m @ArcName"});
  EXPECT_EQ(Values(control_, kArcExtension), std::vector<std::string>{"zip"});
  EXPECT_EQ(control_.ErrorCount(), 0);
}

TEST_F(ControlFileTest, DefinedMacrosApplyToTheLinesAfterTheirDefinition) {
  LoadText(
      "Base !ROOT\\JAM\\EARLY ROOT\\OLD\n"
      "@Define ROOT C:\\FIDO\n"
      "Base !ROOT\\JAM\\NET root\\OLD\n");
  EXPECT_EQ(Values(control_, kBase),
            (std::vector<std::string>{"!ROOT\\JAM\\EARLY ROOT\\OLD",
                                      "!C:\\FIDO\\JAM\\NET C:\\FIDO\\OLD"}));
  EXPECT_EQ(control_.ErrorCount(), 0);
}

TEST_F(ControlFileTest, RedefiningNeedsTheEscapedName) {
  LoadText(
      "@Define ROOT C:\\FIDO\n"
      // Expanded first: this defines a macro named C:\FIDO.
      "@Define ROOT D:\n"
      "Base ROOT\n"
      "@define @root E:\n"
      "Base ROOT\n"
      "Base C:\\FIDO\n");
  // Line 3: ROOT gives C:\FIDO, which is itself a macro by now. Line 5: the
  // escaped name replaced the value of ROOT.
  EXPECT_EQ(Values(control_, kBase), (std::vector<std::string>{"D:", "E:", "D:"}));
}

TEST_F(ControlFileTest, DirectiveWordAloneIsRecognisedButALongerWordIsNot) {
  LoadText(
      "@Define\n"
      "@DefineX A B\n"
      "@DEFINE\tTAB tabbed extra words\n"
      "@Define EMPTY\n"
      "Base TAB-EMPTY-\n");
  EXPECT_EQ(WrongLines(control_), std::vector<std::int32_t>{2});
  EXPECT_EQ(Values(control_, kBase), std::vector<std::string>{"tabbed--"});
}

TEST_F(ControlFileTest, LineEmptiedByMacroReplacementIsWrong) {
  LoadText(
      "@Define NOTHING\n"
      "NOTHING\n"
      "\n");
  EXPECT_EQ(WrongLines(control_), std::vector<std::int32_t>{2});
}

TEST_F(ControlFileTest, LastLineWithoutLineEndIsRead) {
  LoadText("junk\nArc.Extension rar");
  EXPECT_EQ(Values(control_, kArcExtension), std::vector<std::string>{"rar"});
  EXPECT_EQ(WrongLines(control_), std::vector<std::int32_t>{1});
}

TEST_F(ControlFileTest, FinalCtrlZIsAWrongLine) {
  LoadText("Arc.Extension rar\r\n\x1a");
  EXPECT_EQ(Values(control_, kArcExtension), std::vector<std::string>{"rar"});
  EXPECT_EQ(WrongLines(control_), std::vector<std::int32_t>{2});
}

TEST_F(ControlFileTest, LineThatWouldBeCutIsAWrongLine) {
  const std::string value(300, 'v');
  // Cut values would name another base or run another command. A tail
  // that is only comment may go.
  LoadText("Arc.Add " + value + "\nbad\nBase #/a /old ;" + std::string(300, 'c') +
           "\n@Define QQQ " + std::string(200, 'r') + "\nArc.Extension QQQ" + std::string(60, 'x') +
           "\nArc.Extension QQQ\n");
  EXPECT_TRUE(Values(control_, kArcAdd).empty());
  EXPECT_EQ(Values(control_, kBase), std::vector<std::string>{"#/a /old"});
  // The rest of the long line was consumed, not read as another line.
  EXPECT_EQ(WrongLines(control_), (std::vector<std::int32_t>{1, 2, 5}));
  EXPECT_EQ(Values(control_, kArcExtension), std::vector<std::string>{std::string(200, 'r')});
}

TEST_F(ControlFileTest, EmptyFileLoadsWithNothing) {
  LoadText("");
  EXPECT_EQ(control_.ErrorCount(), 0);
  EXPECT_EQ(control_.ValueCount(kBase), 0);
}

TEST_F(ControlFileTest, SecondLoadAddsValuesAndReplacesWrongLines) {
  LoadText("Base a\nbad\n");
  scratch_.WriteFile("second.ctl", "Base b\n");
  ASSERT_FALSE(control_.Load(scratch_.Path("second.ctl")));
  EXPECT_EQ(Values(control_, kBase), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(control_.ErrorCount(), 0);
}

TEST_F(ControlFileTest, OutOfRangeQueries) {
  LoadText("Base a\nbad\n");
  EXPECT_EQ(control_.ValueCount(0), 0);
  EXPECT_EQ(control_.ValueCount(5), 0);
  EXPECT_EQ(control_.GetValue(kBase, 0), "");
  EXPECT_EQ(control_.GetValue(kBase, 2), "");
  EXPECT_EQ(control_.GetValue(0, 1), "");
  EXPECT_EQ(control_.GetValue(kBase, 1), "a");
  EXPECT_EQ(control_.ErrorLine(0), -1);
  EXPECT_EQ(control_.ErrorLine(2), -1);
  EXPECT_EQ(control_.ErrorLine(1), 2);
}

// The same lines with every kind of line end give the same line numbers.
class LineEndTest : public ::testing::TestWithParam<const char*> {};

TEST_P(LineEndTest, SameLineNumbers) {
  const std::string eol = GetParam();
  const std::string text = "Base a" + eol + "junk" + eol + eol + "Arc.Add x" + eol + "more junk";
  ScratchDir scratch;
  scratch.WriteFile("qlr.ctl", text);
  ControlFile control;
  AddDriverKeywords(control);
  ASSERT_FALSE(control.Load(scratch.Path("qlr.ctl")));
  EXPECT_EQ(WrongLines(control), (std::vector<std::int32_t>{2, 5}));
  EXPECT_EQ(Values(control, kBase), std::vector<std::string>{"a"});
  EXPECT_EQ(Values(control, kArcAdd), std::vector<std::string>{"x"});
}

INSTANTIATE_TEST_SUITE_P(ControlFile, LineEndTest, ::testing::Values("\r\n", "\n", "\r", "\n\r"));

TEST(ControlFileLoadTest, FailsWithoutAFileOrWithoutKeywords) {
  ScratchDir scratch;
  scratch.WriteFile("qlr.ctl", "Base a\n");

  ControlFile no_keywords;
  EXPECT_TRUE(no_keywords.Load(scratch.Path("qlr.ctl")));

  ControlFile control;
  AddDriverKeywords(control);
  EXPECT_TRUE(control.Load(scratch.Path("missing.ctl")));
  EXPECT_TRUE(control.Load(scratch.root()));  // a directory is not a file
  EXPECT_EQ(control.ValueCount(kBase), 0);
}

TEST(ControlFileLoadTest, FileThatCannotBeOpenedOrReadIsAFailure) {
  ScratchDir scratch;
  scratch.WriteFile("qlr.ctl", "Base a\n");
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();

  ControlFile unopened;
  AddDriverKeywords(unopened);
  faulty.FailCall(PlatformOp::kOpenFile, 1);
  EXPECT_TRUE(unopened.Load(scratch.Path("qlr.ctl")));

  faulty.Reset();
  ControlFile unread;
  AddDriverKeywords(unread);
  faulty.FailCall(PlatformOp::kRead, 1);
  EXPECT_TRUE(unread.Load(scratch.Path("qlr.ctl")));
}

struct ReadLineCase {
  const char* name;
  std::string data;
  std::vector<std::string> lines;
};

class ReadLineTest : public ::testing::TestWithParam<ReadLineCase> {};

TEST_P(ReadLineTest, SplitsLines) {
  MemoryStream stream;
  stream.Write(GetParam().data.data(), GetParam().data.size());
  stream.Seek(0);
  std::vector<std::string> lines;
  do {
    lines.push_back(ReadLine(stream).str());
    ASSERT_TRUE(stream.Ok());
  } while (stream.Position() != stream.Size() && lines.size() < 20);
  EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Stream, ReadLineTest,
    ::testing::Values(
        ReadLineCase{"NoLineEnd", "abc", {"abc"}}, ReadLineCase{"CrLf", "a\r\nb\r\n", {"a", "b"}},
        ReadLineCase{"LfCr", "a\n\rb", {"a", "b"}}, ReadLineCase{"CrCr", "a\r\rb", {"a", "", "b"}},
        ReadLineCase{"LfLf", "a\n\nb", {"a", "", "b"}},
        ReadLineCase{"CrLfCr", "a\r\n\rb", {"a", "", "b"}},
        ReadLineCase{"TabAndCtrlZStay", "\ta\x1a\nb", {"\ta\x1a", "b"}},
        ReadLineCase{"Empty", "", {""}},
        ReadLineCase{"LongLine", std::string(300, 'x') + "\ny", {std::string(255, 'x'), "y"}}),
    [](const ::testing::TestParamInfo<ReadLineCase>& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace qlr
