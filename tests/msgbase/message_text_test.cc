// The FTN text reader (MessageBase::ReadText) and composer
// (FtnTextBase::WriteText), driven through a base whose Stream is a
// memory stream or a file.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "msgbase/message.h"
#include "msgbase/message_base.h"
#include "support/stream.h"
#include "testing/scratch_dir.h"
#include "util/strings.h"

namespace qlr {
namespace {

using namespace std::string_view_literals;

// Test texts write the kludge mark as ^A.
std::string A(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s.substr(i, 2) == "^A") {
      out += '\001';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string Contents(Stream& stream) {
  stream.ClearError();
  const std::int32_t size = stream.Size();
  std::string bytes(static_cast<std::size_t>(size), '\0');
  stream.Seek(0);
  stream.Read(bytes.data(), bytes.size());
  return bytes;
}

// "prefix|value" of every item, separated by ";", ^A shown as such.
std::string Listed(const Collection<KludgeLine>& lines) {
  std::string out;
  for (const auto& item : lines) {
    if (!out.empty()) out += ';';
    out += std::string(item->Prefix.view()) + "|" + std::string(item->Value.view());
  }
  std::string shown;
  for (char c : out) shown += c == '\001' ? std::string("^A") : std::string(1, c);
  return shown;
}

void AddLine(Collection<KludgeLine>& list, std::string_view prefix, std::string_view value) {
  auto item = std::make_unique<KludgeLine>();
  item->Prefix = NewStr(A(prefix));
  item->Value = NewStr(value);
  list.Insert(std::move(item));
}

void SetText(Message& m, std::string_view bytes) {
  m.Text.ClearError();
  m.Text.Seek(0);
  m.Text.Truncate();
  m.Text.Write(bytes.data(), bytes.size());
}

// The smallest base with an FTN text: its Stream is whatever the test
// gives it.
class TextBase : public FtnTextBase {
 public:
  TextBase() : TextBase(std::string_view()) {}
  explicit TextBase(std::string_view bytes) {
    auto stream = std::make_unique<MemoryStream>();
    stream->Write(bytes.data(), bytes.size());
    stream_ = std::move(stream);
  }
  void SetStream(std::unique_ptr<Stream> stream) { stream_ = std::move(stream); }
  Stream* stream() { return stream_.get(); }
  std::string Written() { return Contents(*stream_); }
};

// Reads all of `raw` as a message text.
void ReadAll(Message& m, std::string_view raw) {
  TextBase base(raw);
  ASSERT_FALSE(base.ReadText(m, 0, static_cast<std::int32_t>(raw.size())));
}

struct SplitCase {
  const char* name;
  std::string_view raw;  // ^A for the kludge mark; ""sv where it holds NULs
  const char* body;
  const char* msg_id = "";
  const char* tear = "";
  const char* origin = "";
  const char* kludges = "";
  const char* trail = "";
};

TEST(ReadTextTest, SplitsHeadBodyAndTail) {
  const SplitCase cases[] = {
      {"the common echomail shape",
       "^AMSGID: 1:2/3 abcd1234\r^APID: X 1.0\rHello\r--- T\r * Origin: My BBS (1:2/3)\r"
       "SEEN-BY: 2/3\r",
       "Hello\r", "1:2/3 abcd1234", "T", "My BBS (1:2/3)"},
      {"unknown kludges kept in order", "^ACHRS: IBMPC 2\r^AMSGID: m\r^ATZUTC: 0300\rHi\r", "Hi\r",
       "m", "", "", "^A|CHRS: IBMPC 2;^A|TZUTC: 0300"},
      {"lower-case head prefix", "^Amsgid: 1:1/1 1\rBody\r", "Body\r", "1:1/1 1"},
      {"a prefix without its blank is another kludge", "^AMSGID:x\rB\r", "B\r", "", "", "",
       "^A|MSGID:x"},
      {"empty lines before the body stay", "^AMSGID: a\r\r\rBody\r", "\r\rBody\r", "a"},
      {"empty lines between kludges stay", "^AMSGID: a\r\r^ACHRS: X\rBody\r", "\rBody\r", "a", "",
       "", "^A|CHRS: X"},
      {"empty lines at the end go", "Body\r\r\r", "Body\r"},
      {"empty line above the tear line stays", "Body\r\r--- T\r", "Body\r\r", "", "T"},
      {"empty lines below the origin go", "Body\r--- T\r\r * Origin: o\r\r\r", "Body\r", "", "T",
       "o"},
      {"origin-only text", " * Origin: o (1:1/1)\r", "", "", "", "o (1:1/1)"},
      {"last line without line end", "Body\r * Origin: o", "Body\r", "", "", "o"},
      {"only kludges", "^AMSGID: a\r^ACHRS: X\r\r", "", "a", "", "", "^A|CHRS: X"},
      {"CR LF: the body keeps the CR", "^AMSGID: a\r\nBody\r\n\r\n", "Body\r", "a"},
      {"CR LF above a tear line", "Body\r\n\r\n--- T\r\n", "Body\r\n\r", "", "T"},
      {"LF CR is one line end", "Body\n\r\n\r--- T\n\r", "Body\n\r\n\r", "", "T"},
      {"LF only", "^AMSGID: a\nBody\n--- T\n * Origin: o\n", "Body\n", "a", "T", "o"},
      {"CR CR is two line ends", "^AMSGID: a\r\rBody\r", "\rBody\r", "a"},
      {"trailing NUL padding", "Body\r--- T\r\0\0\0\0"sv, "Body\r", "", "T"},
      {"topmost tear and origin win", "Body\r--- A\r * Origin: first\r--- B\r * Origin: second\r",
       "Body\r", "", "A", "first"},
      {"tail lines ignore case", "Body\r--- t\r * ORIGIN: x\rseen-by: 1\r^Avia z\r", "Body\r", "",
       "t", "x", "", "^AVia |z"},
      {"PATH and SEEN-BY removed", "Body\rSEEN-BY: 1/2 3\r^APATH: 1/2\r", "Body\r"},
      {"a tail-looking line inside the body stays", "Hi\r--- not tear\rMore\r",
       "Hi\r--- not tear\rMore\r"},
      {"a tear line needs its blank", "Body\r---\r", "Body\r---\r"},
      {"a kludge below the body is body", "Body\r^AMSGID: late\r", "Body\r^AMSGID: late\r"},
      {"a Via line in the head is a head kludge", "^AVia x\rBody\r", "Body\r", "", "", "",
       "^A|Via x"},
      {"a head-only Via text stays a head kludge", "^AVia x\r", "", "", "", "", "^A|Via x"},
      {"only NULs", "\0\0\0"sv, ""},
      // The tail is read upwards and stops at offset 1: an empty first
      // line of a single line-end byte is never reached. One of two bytes
      // is, and goes with the rest.
      {"first empty line of one byte stays", "\rSEEN-BY: x\r", "\r"},
      {"first empty line of two bytes goes", "\r\nSEEN-BY: x\r\n", ""},
      {"a lone line end goes", "\r", ""},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.name);
    Message m;
    ReadAll(m, A(c.raw));
    EXPECT_EQ(Contents(m.Text), A(c.body));
    EXPECT_EQ(m.MsgId, c.msg_id);
    EXPECT_EQ(m.TearLine, c.tear);
    EXPECT_EQ(m.Origin, c.origin);
    EXPECT_EQ(Listed(m.Kludges), c.kludges);
    EXPECT_EQ(Listed(m.TrailLines), c.trail);
  }
}

TEST(ReadTextTest, NulsAroundATailLineDoNotHideIt) {
  Message m;
  ReadAll(m, "Body\r--- T\0\r\0 * Origin: o\0\0\r\0SEEN-BY: 1\r"sv);
  EXPECT_EQ(Contents(m.Text), "Body\r");
  EXPECT_EQ(m.TearLine, "T");
  EXPECT_EQ(m.Origin, "o");
}

TEST(ReadTextTest, FillsEveryHeadField) {
  Message m;
  ReadAll(m, A("^AINTL 2:5020/1 1:2/3\r^ATOPT 4\r^AFMPT 7\r^AMSGID: 1:2/3.7 1\r^AREPLY: 2:5020/1 "
               "2\r^AFLAGS DIR IMM\r^APID: P 1\r^ATID: T 2\rBody\r"));
  EXPECT_EQ(m.Intl, "2:5020/1 1:2/3");
  EXPECT_EQ(m.DestPoint, 4);
  EXPECT_EQ(m.OrigPoint, 7);
  EXPECT_EQ(m.MsgId, "1:2/3.7 1");
  EXPECT_EQ(m.ReplyId, "2:5020/1 2");
  EXPECT_EQ(m.Flags, "DIR IMM");
  EXPECT_EQ(m.Pid, "P 1");
  EXPECT_EQ(m.Tid, "T 2");
  EXPECT_EQ(m.Kludges.ItemCount(), 0);
  EXPECT_EQ(Contents(m.Text), "Body\r");
}

TEST(ReadTextTest, PointsThatDoNotParseAreZero) {
  Message m;
  m.OrigPoint = m.DestPoint = 9;
  ReadAll(m, A("^ATOPT x\r^AFMPT 3 \rB\r"));
  EXPECT_EQ(m.DestPoint, 0);
  EXPECT_EQ(m.OrigPoint, 0);
}

TEST(ReadTextTest, ValuesAreCutToTheirFields) {
  const std::string long_value(300, 'v');
  Message m;
  ReadAll(m, A("^AMSGID: " + long_value + "\r^ACHRS: " + long_value + "\r" + long_value + "\r--- " +
               long_value + "\r * Origin: " + long_value + "\r"));
  EXPECT_EQ(m.MsgId, std::string(40, 'v'));
  // A line is cut at 255: what follows the prefix is what remains of it.
  ASSERT_EQ(m.Kludges.ItemCount(), 1);
  EXPECT_EQ(m.Kludges.ItemAt(0).Value.view(), "CHRS: " + std::string(255 - 7, 'v'));
  EXPECT_EQ(m.TearLine, std::string(255 - 4, 'v'));
  EXPECT_EQ(m.Origin, std::string(255 - 11, 'v'));
  // The body keeps its long line whole, and the long kludge line went
  // out of the text as a whole.
  EXPECT_EQ(Contents(m.Text), long_value + "\r");
}

TEST(ReadTextTest, ALineOfExactly255CharactersKeepsItsLineEnd) {
  Message m;
  const std::string tear(251, 't');
  ReadAll(m, "Body\r\n--- " + tear + "\r\n");
  EXPECT_EQ(m.TearLine, tear);
  EXPECT_EQ(Contents(m.Text), "Body\r");
  // One longer: the rest is skipped up to the line end, and the LF of its
  // CR LF still pairs with the CR instead of making an empty line.
  const std::string long_line(256, 'x');
  Message n;
  ReadAll(n, long_line + "\r\n--- T\r");
  EXPECT_EQ(n.TearLine, "T");
  EXPECT_EQ(Contents(n.Text), long_line + "\r");
}

TEST(ReadTextTest, TrailingLinesGoInFrontOfThoseAlreadyListed) {
  // Kept routing lines come last, in text order; a SEEN-BY above a body
  // line is body either way.
  const struct {
    bool keep_routing;
    const char* trail;
  } cases[] = {
      {false, "^AVia |one;^AVia |two;^ARecd |three;^AForwarded |four;^AVia |held before"},
      {true,
       "^AVia |one;^AVia |two;^ARecd |three;^AForwarded |four;^AVia |held before;"
       "^APATH: |1/1;SEEN-BY: |5/6;^APATH: |7/8"},
  };
  for (const auto& c : cases) {
    Message m;
    m.KeepRouting = c.keep_routing;
    m.AddVia("held before");
    ReadAll(m, A("Body\rSEEN-BY: 0/0\rmore\r * Origin: o\r^AVia one\r^APATH: 1/1\r^AVia two\r"
                 "^ARecd three\r^AForwarded four\rSEEN-BY: 5/6\r^APATH: 7/8\r"));
    EXPECT_EQ(Listed(m.TrailLines), c.trail);
    EXPECT_EQ(Contents(m.Text), "Body\rSEEN-BY: 0/0\rmore\r");
  }
}

TEST(ReadTextTest, TrailingLinesAboveABodyLineAreBody) {
  Message m;
  ReadAll(m, A("^AVia in head\rBody\r^AVia early\rmore body\r^AVia late\r"));
  EXPECT_EQ(Listed(m.TrailLines), "^AVia |late");
  EXPECT_EQ(Listed(m.Kludges), "^A|Via in head");
  EXPECT_EQ(Contents(m.Text), A("Body\r^AVia early\rmore body\r"));
}

TEST(ReadTextTest, ReadsOnlyTheGivenRange) {
  const std::string raw = "HEADER" + A("^AMSGID: a\rBody\r--- T\r") + std::string(3, '\0') + "NEXT";
  TextBase base(raw);
  Message m;
  const auto end = static_cast<std::int32_t>(raw.size() - 4);
  ASSERT_FALSE(base.ReadText(m, 6, end));
  EXPECT_EQ(m.MsgId, "a");
  EXPECT_EQ(m.TearLine, "T");
  EXPECT_EQ(Contents(m.Text), "Body\r");
}

TEST(ReadTextTest, ReplacesThePreviousText) {
  Message m;
  SetText(m, "an older and much longer text\r");
  ReadAll(m, "New\r");
  EXPECT_EQ(Contents(m.Text), "New\r");
}

TEST(ReadTextTest, RefusedArgumentsChangeNothing) {
  struct Case {
    const char* name;
    std::int32_t start;
    std::int32_t end;
  };
  const std::string raw = A("^AMSGID: new\rBody\r");  // 18 bytes
  const Case cases[] = {
      {"start equals end", 5, 5},   {"start above end", 6, 5},      {"negative start", -1, 5},
      {"end past the data", 0, 19}, {"both past the data", 30, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextBase base(raw);
    Message m;
    SetText(m, "old");
    m.MsgId = "old id";
    EXPECT_TRUE(base.ReadText(m, c.start, c.end));
    EXPECT_EQ(Contents(m.Text), "old");
    EXPECT_EQ(m.MsgId, "old id");
  }
  // Up to the very end is fine.
  TextBase base(raw);
  Message m;
  EXPECT_FALSE(base.ReadText(m, 0, static_cast<std::int32_t>(raw.size())));
  EXPECT_EQ(m.MsgId, "new");
}

TEST(ReadTextTest, FailsWithoutAStreamOrWithAStreamInError) {
  Message m;
  SetText(m, "old");
  TextBase no_stream;
  no_stream.SetStream(nullptr);
  EXPECT_TRUE(no_stream.ReadText(m, 0, 1));

  TextBase broken("Body\r");
  broken.stream()->SetError(kStreamReadError, 0);
  EXPECT_TRUE(broken.ReadText(m, 0, 5));
  EXPECT_EQ(Contents(m.Text), "old");
}

TEST(ReadTextTest, ReadsFromAFileStream) {
  testing::ScratchDir dir;
  // A text bigger than the file buffer, lines split across its edges.
  std::string body;
  for (int i = 0; i < 400; ++i) body += "line " + std::to_string(i) + " of the body\r\n";
  const std::string text = A("^AMSGID: 1:2/3 1\r^ACHRS: X\r") + body +
                           A("--- T\r * Origin: o (1:2/3)\r^AVia v\rSEEN-BY: 1\r");
  dir.WriteFile("00000001.msg", std::string(190, 'h') + text + std::string(1, '\0'));
  TextBase base;
  base.SetStream(
      std::make_unique<BufferedFileStream>(dir.Path("00000001.msg"), FileMode::kOpenRead));
  Message m;
  const auto size = static_cast<std::int32_t>(190 + text.size() + 1);
  ASSERT_FALSE(base.ReadText(m, 190, size));
  EXPECT_EQ(m.MsgId, "1:2/3 1");
  EXPECT_EQ(Listed(m.Kludges), "^A|CHRS: X");
  EXPECT_EQ(m.TearLine, "T");
  EXPECT_EQ(m.Origin, "o (1:2/3)");
  EXPECT_EQ(Listed(m.TrailLines), "^AVia |v");
  // Of the CR LF above the tear line only the CR stays.
  EXPECT_EQ(Contents(m.Text), body.substr(0, body.size() - 1));
  EXPECT_TRUE(base.stream()->Ok());
  // One byte more than the file holds is refused.
  EXPECT_TRUE(base.ReadText(m, 190, size + 1));
}

// --- composing ---

// A netmail message with every field the composer writes.
void FillNetmail(Message& m) {
  m.OrigZone = 1;
  m.OrigNet = 2;
  m.OrigNode = 3;
  m.OrigPoint = 7;
  m.DestZone = 2;
  m.DestNet = 5020;
  m.DestNode = 1;
  m.DestPoint = 4;
  m.Intl = "2:5020/1 1:2/3";
  m.MsgId = "1:2/3.7 0000001f";
  m.ReplyId = "2:5020/1.4 00000002";
  m.Flags = "DIR";
  m.Pid = "P 1";
  m.Tid = "T 2";
  AddLine(m.Kludges, "^A", "CHRS: IBMPC 2");
  SetText(m, "Hello\r\rBye\r");
  m.TearLine = "Tear";
  m.Origin = "My BBS ";
  AddLine(m.TrailLines, "^AVia ", "1:2/3 @20240101");
}

TEST(WriteTextTest, ComposesNetmail) {
  Message m;
  FillNetmail(m);
  TextBase base;
  base.WriteText(m);
  EXPECT_EQ(base.Written(),
            A("^AFMPT 7\r^ATOPT 4\r^AINTL 2:5020/1 1:2/3\r^AMSGID: 1:2/3.7 0000001f\r"
              "^AREPLY: 2:5020/1.4 00000002\r^AFLAGS DIR\r^APID: P 1\r^ATID: T 2\r"
              "^ACHRS: IBMPC 2\rHello\r\rBye\r--- Tear\r * Origin: My BBS (1:2/3.7)\r"
              "^AVia 1:2/3 @20240101\r"));
}

TEST(WriteTextTest, EchomailHasNoNetmailKludgesAndAlwaysAnOrigin) {
  Message m;
  FillNetmail(m);
  m.Area = "ECHO";
  m.Origin.clear();
  m.TearLine.clear();
  m.Kludges.DisposeAll();
  m.TrailLines.DisposeAll();
  m.ReplyId.clear();
  m.Flags.clear();
  TextBase base;
  base.WriteText(m);
  EXPECT_EQ(base.Written(), A("^AMSGID: 1:2/3.7 0000001f\r^APID: P 1\r^ATID: T 2\rHello\r\rBye\r"
                              " * Origin: (1:2/3.7)\r"));
}

TEST(WriteTextTest, EmptyFieldsWriteNoLines) {
  Message m;
  SetText(m, "only the body");
  m.OrigZone = 1;
  TextBase base;
  base.WriteText(m);
  EXPECT_EQ(base.Written(), "only the body");
}

TEST(WriteTextTest, AppendsAtThePositionAndResetsTheBody) {
  Message m;
  SetText(m, "Body\r");
  m.Text.SetError(kStreamReadError, 0);  // left over from an earlier use
  m.Pid = "P";
  TextBase base("HEADER");
  base.stream()->Seek(6);
  base.WriteText(m);
  EXPECT_EQ(base.Written(), A("HEADER^APID: P\rBody\r"));
}

TEST(WriteTextTest, ComposedLinesAreShortStrings) {
  Message m;
  AddLine(m.Kludges, "^A", std::string(300, 'k'));
  TextBase base;
  base.WriteText(m);
  EXPECT_EQ(base.Written(), A("^A") + std::string(254, 'k') + "\r");
}

TEST(WriteTextTest, NothingWithoutAStream) {
  Message m;
  FillNetmail(m);
  TextBase base;
  base.SetStream(nullptr);
  base.WriteText(m);  // must simply return
  EXPECT_EQ(base.stream(), nullptr);
}

// --- both ways ---

void ExpectSameText(Message& read, Message& written) {
  EXPECT_EQ(read.Intl, written.Area.empty() ? written.Intl.view() : "");
  EXPECT_EQ(read.MsgId, written.MsgId);
  EXPECT_EQ(read.ReplyId, written.ReplyId);
  EXPECT_EQ(read.Flags, written.Flags);
  EXPECT_EQ(read.Pid, written.Pid);
  EXPECT_EQ(read.Tid, written.Tid);
  EXPECT_EQ(read.TearLine, written.TearLine);
  // The address stays on the origin until address completion splits it.
  EXPECT_EQ(read.Origin, written.Origin + "(" + written.OrigAddressText() + ")");
  EXPECT_EQ(Listed(read.Kludges), Listed(written.Kludges));
  EXPECT_EQ(Contents(read.Text), Contents(written.Text));
}

TEST(TextRoundTripTest, NetmailComesBackFieldByField) {
  Message written;
  FillNetmail(written);
  TextBase base;
  base.WriteText(written);
  Message read;
  ASSERT_FALSE(base.ReadText(read, 0, base.stream()->Size()));
  ExpectSameText(read, written);
  EXPECT_EQ(read.OrigPoint, 7);
  EXPECT_EQ(read.DestPoint, 4);
  EXPECT_EQ(Listed(read.TrailLines), Listed(written.TrailLines));
}

TEST(TextRoundTripTest, EchomailKeepsItsRoutingLinesOnlyWhenAsked) {
  const struct {
    bool keep_routing;
    const char* trail;
  } cases[] = {
      {false, "^AVia |1:2/3 @20240101"},
      {true, "^AVia |1:2/3 @20240101;SEEN-BY: |2/3 4/5;^APATH: |2/3"},
  };
  for (const auto& c : cases) {
    Message written;
    FillNetmail(written);
    written.Area = "ECHO";
    AddLine(written.TrailLines, "SEEN-BY: ", "2/3 4/5");
    AddLine(written.TrailLines, "^APATH: ", "2/3");
    TextBase base;
    base.WriteText(written);
    // The routing lines follow the origin line.
    EXPECT_NE(base.Written().find("(1:2/3.7)\r\001Via 1:2/3 @20240101\rSEEN-BY: 2/3 4/5\r"),
              std::string::npos);
    Message read;
    read.KeepRouting = c.keep_routing;
    ASSERT_FALSE(base.ReadText(read, 0, base.stream()->Size()));
    ExpectSameText(read, written);
    // Echomail carries no points in kludges.
    EXPECT_EQ(read.OrigPoint, 0);
    EXPECT_EQ(Listed(read.TrailLines), c.trail);
  }
}

}  // namespace
}  // namespace qlr
