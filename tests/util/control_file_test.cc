#include "util/control_file.h"

#include <gtest/gtest.h>

#include <memory>
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

// ReadLine over every kind of stream, with buffers small enough that line
// ends fall on every offset of a window, and lines long enough that the
// dropped rest spans several pieces.
struct LineRead {
  std::string text;
  bool cut;
  std::int32_t status;  // the read status ReadLine reports
};

struct StreamLineCase {
  const char* name;
  std::string data;
  std::vector<LineRead> lines;
};

std::vector<StreamLineCase> StreamLineCases() {
  const std::string x255(255, 'x');
  const std::int32_t kEnd = kStreamReadError;  // the data ended the line
  return {
      {"empty", "", {{"", false, kEnd}}},
      {"no line end", "abc", {{"abc", false, kEnd}}},
      {"CR LF at the end", "a\r\n", {{"a", false, kStreamOk}}},
      {"CR at the end", "a\r", {{"a", false, kStreamOk}}},
      {"LF CR", "a\n\rb", {{"a", false, kStreamOk}, {"b", false, kEnd}}},
      {"CR CR", "a\r\rb", {{"a", false, kStreamOk}, {"", false, kStreamOk}, {"b", false, kEnd}}},
      {"LF LF CR", "a\n\n\r", {{"a", false, kStreamOk}, {"", false, kStreamOk}}},
      {"255 characters fit", x255 + "\r\ny", {{x255, false, kStreamOk}, {"y", false, kEnd}}},
      {"255 characters at the end", x255 + "\r", {{x255, false, kStreamOk}}},
      {"256 characters are cut", x255 + "x\ny", {{x255, true, kStreamOk}, {"y", false, kEnd}}},
      {"cut line ending in a piece's last byte",
       x255 + std::string(4096, 'x') + "\r\nz",
       {{x255, true, kStreamOk}, {"z", false, kEnd}}},
      {"cut line ending in a piece's first byte",
       x255 + std::string(4097, 'x') + "\n\rz",
       {{x255, true, kStreamOk}, {"z", false, kEnd}}},
      {"cut line without line end", std::string(300, 'x'), {{x255, true, kEnd}}},
  };
}

std::unique_ptr<Stream> MakeLineStream(const ScratchDir& scratch, std::string_view data,
                                       std::size_t file_buffer, std::size_t memory_block) {
  if (file_buffer == 0) {
    auto stream = std::make_unique<MemoryStream>(0, memory_block);
    stream->Write(data.data(), data.size());
    stream->Seek(0);
    return stream;
  }
  scratch.WriteFile("lines.txt", data);
  return std::make_unique<BufferedFileStream>(scratch.Path("lines.txt"), FileMode::kOpenRead,
                                              file_buffer);
}

TEST(ReadLineStreamTest, SameLinesFromEveryStream) {
  struct Kind {
    std::size_t file_buffer;  // 0: a memory stream
    std::size_t memory_block;
  };
  const Kind kinds[] = {{1, 0}, {2, 0}, {7, 0}, {kDefaultFileBuffer, 0}, {0, 0}, {0, 3}};
  ScratchDir scratch;
  for (const StreamLineCase& c : StreamLineCases()) {
    for (const Kind& kind : kinds) {
      SCOPED_TRACE(std::string(c.name) + ", buffer " + std::to_string(kind.file_buffer) +
                   ", block " + std::to_string(kind.memory_block));
      auto stream = MakeLineStream(scratch, c.data, kind.file_buffer, kind.memory_block);
      std::vector<LineRead> lines;
      do {
        LineRead line;
        line.text = ReadLine(*stream, &line.status, &line.cut).str();
        lines.push_back(line);
        ASSERT_TRUE(stream->Ok());
      } while (stream->Position() != stream->Size() && lines.size() < 20);
      ASSERT_EQ(lines.size(), c.lines.size());
      for (std::size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lines[i].text, c.lines[i].text);
        EXPECT_EQ(lines[i].cut, c.lines[i].cut);
        EXPECT_EQ(lines[i].status, c.lines[i].status);
      }
    }
  }
}

TEST(ReadLineStreamTest, FailedStreamIsClearedAndLeftAtItsEnd) {
  struct Case {
    const char* name;
    std::int32_t latched;  // 0: positioned beyond the end instead
    std::int32_t status;
  };
  const Case cases[] = {
      {"error latched before", kStreamWriteError, kStreamWriteError},
      {"beyond the end", kStreamOk, kStreamReadError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStream stream;
    stream.Write("abc\ndef", 7);
    stream.Seek(c.latched == kStreamOk ? 100 : 2);
    if (c.latched != kStreamOk) stream.SetError(c.latched, 0);
    std::int32_t status = 0;
    EXPECT_EQ(ReadLine(stream, &status).str(), "");
    EXPECT_EQ(status, c.status);
    EXPECT_TRUE(stream.Ok());
    EXPECT_EQ(stream.Position(), 7);
  }
}

TEST(ReadLineStreamTest, ReadFailureInsideALineIsReported) {
  ScratchDir scratch;
  scratch.WriteFile("long.txt", std::string(5000, 'x') + "\r\n");
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  BufferedFileStream stream(scratch.Path("long.txt"), FileMode::kOpenRead);
  // The first window is read; refilling for the rest of the line fails.
  faulty.FailCall(PlatformOp::kRead, 2);
  std::int32_t status = 0;
  ReadLine(stream, &status);
  EXPECT_EQ(status, kStreamOsError);
  EXPECT_TRUE(stream.Ok());
}

}  // namespace
}  // namespace qlr
