// qlrmsg end to end: the real program on *.msg areas in a scratch
// directory, its output compared byte for byte with the documented format.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/qlr_fixture.h"
#include "testing/run_program.h"
#include "testing/scratch_dir.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

std::string QlrmsgBinary() { return ProgramUnderTest("QLRMSG_BINARY", QLR_DEFAULT_QLRMSG); }

std::string U16(std::uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string Field(std::string text, std::size_t width) {
  text.resize(width, '\0');
  return text;
}

struct StoredMessage {
  std::string from = "Bob";
  std::string to = "Al";
  std::string subject = "Test ";  // the trailing blank is part of it
  std::string date = "05 Mar 21  10:20:30";
  std::uint16_t dest_node = 3, orig_node = 1042, orig_net = 5020, dest_net = 2;
  std::uint16_t attribute = 0x0101;  // private, local
  std::string text;

  std::string Bytes() const {
    std::string h = Field(from, 36) + Field(to, 36) + Field(subject, 72) + Field(date, 20);
    h += U16(2) + U16(dest_node) + U16(orig_node) + U16(7) + U16(orig_net) + U16(dest_net);
    h += std::string(8, '\0') + U16(0) + U16(attribute) + U16(0);
    return h + text;
  }
};

const std::string kNetmailText =
    "\x01INTL 1:2/3 2:5020/1042\r\x01"
    "FMPT 7\r\x01TOPT 4\r"
    "\x01MSGID: 2:5020/1042.7@fidonet 1234abcd\r\x01REPLY: 1:2/3.4 87654321\r"
    "\x01PID: Writer 1.0\r\x01"
    "FLAGS DIR XYZ\r\x01"
    "CHRS: IBMPC 2\r"
    "Hello \rWorld\r--- Editor 3\r * Origin: My BBS (2:5020/1042.7)\r"
    "\x01Via 2:5020/1042 @20210305.102030\r";

class QlrmsgTest : public ::testing::Test {
 protected:
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunProgram(QlrmsgBinary(), args, dir_.root());
  }
  // A directory spec: "#" and the absolute path.
  std::string Spec(const std::string& area) { return "#" + dir_.Path(area); }
  void Store(const std::string& area, int number, const StoredMessage& m) {
    dir_.WriteFile(area + "/" + std::to_string(number) + ".msg", m.Bytes());
  }

  ScratchDir dir_;
};

TEST_F(QlrmsgTest, HelpDescribesTheCommandsWithLfLineEnds) {
  const ProgramResult r = Run({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("usage: qlrmsg list SPEC\n       qlrmsg show SPEC N\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("single LF"), std::string::npos);
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST_F(QlrmsgTest, WrongCommandLinesAreUsageErrors) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"frobnicate"},
                                               {"list"},
                                               {"show", "#x"},
                                               {"copy", "#x"},
                                               {"list", "#a", "#b"},
                                               {"show", "#x", "0"},
                                               {"show", "#x", "12a"},
                                               {"show", "#x", "99999999999"},
                                               {"plan", "/c", "a.ctl", "b.ctl"}}) {
    const ProgramResult r = Run(args);
    EXPECT_EQ(r.exit_code, 2) << args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("qlrmsg: ", 0), 0u) << r.err;
  }
}

TEST_F(QlrmsgTest, ListPrintsTheReadableMessagesInNumberOrder) {
  StoredMessage first;
  first.text = "Hello\r";
  Store("area", 1, first);
  StoredMessage tabbed;
  tabbed.from = "Tab\tName";
  tabbed.subject = "Line\rend";
  tabbed.date = "01 Jan 99  00:00:00";
  Store("area", 4, tabbed);
  dir_.WriteFile("area/3.msg", first.Bytes().substr(0, 100));  // damaged: skipped
  dir_.WriteFile("area/notes.txt", "not a message");
  // Far above the others: only numbers with a file are tried, not every
  // number up to it.
  Store("area", 99999999, first);
  const ProgramResult r = Run({"list", Spec("area")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "1\tBob\tAl\tTest \t05 Mar 21  10:20:30\n"
            "4\tTab Name\tAl\tLine end\t01 Jan 99  00:00:00\n"
            "99999999\tBob\tAl\tTest \t05 Mar 21  10:20:30\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(QlrmsgTest, BasesThatCannotBeUsedAreReportedAndNotCreated) {
  const ProgramResult missing = Run({"list", Spec("nothere")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("no such base"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dir_.Path("nothere")));
  // A JAM base whose header file is gone beside its texts is not opened
  // (creating it would truncate them) and is left as it was.
  dir_.WriteFile("jam/area.jdt", "texts");
  const ProgramResult jam = Run({"list", "!" + dir_.Path("jam/area")});
  EXPECT_EQ(jam.exit_code, 1);
  EXPECT_NE(jam.err, "");
  EXPECT_FALSE(fs::exists(dir_.Path("jam/area.jhr")));
  EXPECT_EQ(dir_.ReadFile("jam/area.jdt"), "texts");
}

TEST_F(QlrmsgTest, CheckPrintsOneLinePerProblemAndExitsByTheVerdict) {
  StoredMessage first;
  first.text = "Hello\r";
  Store("area", 1, first);
  const ProgramResult sound = Run({"check", Spec("area")});
  EXPECT_EQ(sound.exit_code, 0) << sound.err;
  EXPECT_EQ(sound.out, "sound, 1 message\n");

  dir_.WriteFile("area/3.msg", first.Bytes().substr(0, 10));
  dir_.WriteFile("area/abc.msg", first.Bytes());
  const ProgramResult broken = Run({"check", Spec("area")});
  EXPECT_EQ(broken.exit_code, 1) << broken.err;
  EXPECT_EQ(broken.out,
            "3\t3.msg is too short for a message header (10 of 190 bytes)\n"
            "0\tabc.msg: the name is not a message number\n"
            "2 problems\n");
  EXPECT_EQ(broken.err, "");

  const ProgramResult missing = Run({"check", "$" + dir_.Path("nothere")});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("no such base"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(dir_.Path("nothere.sqd")));
  EXPECT_EQ(Run({"check"}).exit_code, 2);
  EXPECT_EQ(Run({"check", Spec("area"), "1"}).exit_code, 2);
}

TEST_F(QlrmsgTest, ShowPrintsEveryFieldInRecordOrder) {
  StoredMessage m;
  m.text = kNetmailText;
  Store("area", 1, m);
  const ProgramResult r = Run({"show", Spec("area"), "1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "From: Bob\n"
            "To: Al\n"
            "Subject: Test \n"
            "Date: 05 Mar 21  10:20:30\n"
            "TimesRead: 2\n"
            "DateWritten: 5265528f\n"
            "DateArrived: 00000000\n"
            "ReplyTo: 0\n"
            "MsgId: 2:5020/1042.7@fidonet 1234abcd\n"
            "ReplyId: 1:2/3.4 87654321\n"
            "Intl: 1:2/3 2:5020/1042\n"
            "Pid: Writer 1.0\n"
            "Tid: \n"
            "TearLine: Editor 3\n"
            "Origin: My BBS \n"
            "Area: \n"
            "OtherFlags: XYZ\n"
            "Orig: 2:5020/1042.7@fidonet\n"
            "Dest: 1:2/3.4@fidonet\n"
            "Cost: 0\n"
            "Attr: 00000101\n"
            "AttrFlags: Pvt Loc\n"
            "ExtFlags: Dir\n"
            "Replies: 0 0 0 0 0 0 0 0 0\n"
            "UMsgId: 0\n"
            "HadMsgId: yes\n"
            "HadIntl: yes\n"
            "Kludge: ^ACHRS: IBMPC 2\n"
            "Trail: ^AVia 2:5020/1042 @20210305.102030\n"
            "Text:\n"
            "Hello \n"
            "World\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(QlrmsgTest, ShowOfAMessageThatCannotBeReadFails) {
  Store("area", 1, StoredMessage{});
  dir_.WriteFile("area/2.msg", "short");
  for (const char* number : {"2", "3"}) {
    const ProgramResult r = Run({"show", Spec("area"), number});
    EXPECT_EQ(r.exit_code, 1) << number;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(std::string("message ") + number + " cannot be read"), std::string::npos)
        << r.err;
  }
}

TEST_F(QlrmsgTest, CopyAppendsEveryReadableMessage) {
  // Every field survives the copy, FLAGS words that name no attribute too.
  StoredMessage netmail;
  netmail.text = kNetmailText;
  Store("src", 1, netmail);
  StoredMessage other;
  other.from = "Carol";
  other.text = "\x01INTL 1:2/3 2:5020/1042\r\x01MSGID: 2:5020/1042 00000001\rJust text\r";
  Store("src", 3, other);  // number 2 is a gap
  dir_.WriteFile("src/4.msg", "damaged");
  const ProgramResult r = Run({"copy", Spec("src"), Spec("dst")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "copied 2\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(fs::exists(dir_.Path("dst/1.msg")));
  EXPECT_TRUE(fs::exists(dir_.Path("dst/2.msg")));
  EXPECT_FALSE(fs::exists(dir_.Path("dst/3.msg")));
  // The copies read back as the originals did.
  EXPECT_EQ(Run({"show", Spec("dst"), "1"}).out, Run({"show", Spec("src"), "1"}).out);
  EXPECT_EQ(Run({"show", Spec("dst"), "2"}).out, Run({"show", Spec("src"), "3"}).out);
  // A second copy appends after what is there.
  const ProgramResult again = Run({"copy", Spec("src"), Spec("dst")});
  EXPECT_EQ(again.out, "copied 2\n");
  EXPECT_EQ(Run({"list", Spec("dst")}).out,
            "1\tBob\tAl\tTest \t05 Mar 21  10:20:30\n"
            "2\tCarol\tAl\tTest \t05 Mar 21  10:20:30\n"
            "3\tBob\tAl\tTest \t05 Mar 21  10:20:30\n"
            "4\tCarol\tAl\tTest \t05 Mar 21  10:20:30\n");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_.Path("dst"))) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names.size(), 4u) << "no temporary file left behind";
}

TEST_F(QlrmsgTest, CopyPassesEchomailRoutingOnButShowKeepsItsOutput) {
  StoredMessage echo;
  echo.text =
      "\x01INTL 2:2/3 2:5020/1042\r\x01MSGID: 2:5020/1042 00000001\rHi\r--- E\r"
      " * Origin: B (2:5020/1042)\r"
      "SEEN-BY: 5020/1042 1043\rSEEN-BY: 5030/1\r\x01PATH: 5020/1042\r";
  Store("src", 1, echo);
  const ProgramResult r = Run({"copy", Spec("src"), Spec("dst")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "copied 1\n");
  const std::string stored = dir_.ReadFile("dst/1.msg");
  EXPECT_NE(stored.find(" * Origin: B (2:5020/1042)\rSEEN-BY: 5020/1042 1043\rSEEN-BY: 5030/1\r"
                        "\x01PATH: 5020/1042\r"),
            std::string::npos)
      << stored;
  // show reads without the routing lines, as before.
  const std::string shown = Run({"show", Spec("dst"), "1"}).out;
  EXPECT_EQ(shown, Run({"show", Spec("src"), "1"}).out);
  EXPECT_EQ(shown.find("SEEN-BY"), std::string::npos) << shown;
}

TEST_F(QlrmsgTest, AHostileCountIsReportedAsDamageWithinLittleMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(_WIN32)
  GTEST_SKIP() << "needs a plain POSIX build (the sanitizers reserve more than the limit)";
#else
  if (std::getenv("QLRMSG_BINARY") != nullptr) GTEST_SKIP() << "qlrmsg runs under a wrapper";
  // A Squish base whose header claims 0x7FFFFFFF messages, read with
  // 400 MB of address space: a reader that trusts the count runs out of
  // memory; one that checks it reports a damaged base. Neither aborts.
  Store("src", 1, StoredMessage{});
  ASSERT_EQ(Run({"copy", Spec("src"), "$" + dir_.Path("sq")}).exit_code, 0);
  std::string sqd = dir_.ReadFile("sq.sqd");
  sqd.replace(4, 4, "\xff\xff\xff\x7f");
  dir_.WriteFile("sq.sqd", sqd);
  const ProgramResult r = RunProgram(
      "/bin/sh",
      {"-c", "ulimit -v 400000; exec \"$0\" list \"$1\"", QlrmsgBinary(), "$" + dir_.Path("sq")},
      dir_.root());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("the base is damaged: " + dir_.Path("sq") + ".sqd"), std::string::npos)
      << r.err;
#endif
}

TEST_F(QlrmsgTest, CopyThatCannotWriteFailsAndSaysWhere) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a POSIX file-size limit";
#else
  if (std::getenv("QLRMSG_BINARY") != nullptr) GTEST_SKIP() << "qlrmsg runs under a wrapper";
  StoredMessage big;
  big.text = std::string(4000, 'x') + "\r";
  Store("src", 1, big);
  Store("dst", 1, StoredMessage{});
  // No file may pass 2 KiB (the signal ignored, so a write fails with
  // EFBIG): the new message 2 cannot be written, whatever its name, while
  // the program's short output still reaches its files.
  const ProgramResult r =
      RunProgram("/bin/sh",
                 {"-c", "trap '' XFSZ; ulimit -f 4; exec \"$0\" copy \"$1\" \"$2\"", QlrmsgBinary(),
                  Spec("src"), Spec("dst")},
                 dir_.root());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "copied 0\n");
  EXPECT_NE(r.err.find("message 2 (message 1 of"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_.Path("dst/2.msg")));
#endif
}

}  // namespace
}  // namespace qlr::testing
