// Two real writers on one base at the same time, as on a running node: a
// long `qlrmsg copy` into a base while other processes append to it (more
// qlrmsg copies, or the peer tosser crashmail), and writers that wait for
// the lock while `qlr` rotates the base. Afterwards every message that a
// writer reported as written is in the base (or in the rotation's copy)
// exactly once, and the base reads whole.
//
// Timing only decides how the writes interleave; the verdict is the state
// they leave. The loops are bounded, so a writer that hangs ends the test.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/crash_bases.h"
#include "e2e/interop/crashmail_node.h"
#include "e2e/interop/ftn_records.h"
#include "e2e/qlr_fixture.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"
#include "platform/platform.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

std::string QlrmsgBinary() { return ProgramUnderTest("QLRMSG_BINARY", QLR_DEFAULT_QLRMSG); }

// The subjects of the live messages of the base of `spec`, each with how
// often it occurs; a message that the base counts but cannot read is
// listed as "unreadable".
std::map<std::string, int> SubjectTally(const std::string& spec) {
  std::map<std::string, int> tally;
  const std::unique_ptr<MessageBase> base = OpenBase(spec);
  if (base == nullptr) {
    ++tally["base does not open"];
    return tally;
  }
  for (std::int32_t i = 1; i <= base->Count(); ++i) {
    if (!base->IsValidMsg(i)) continue;
    Message m;
    ++tally[base->ReadMessage(i, m) ? std::string("unreadable") : m.Subject.str()];
  }
  return tally;
}

// The K of the "copied K" that qlrmsg copy prints; 0 without it.
int Copied(const ProgramResult& r) {
  if (r.out.rfind("copied ", 0) != 0) return 0;
  return std::atoi(r.out.c_str() + 7);
}

std::string CrashSubject(int number) {
  Message m;
  FillCrashMessage(m, number);
  return m.Subject.str();
}

// Adds `times` of each crash message first..last to `expected`.
void Expect(std::map<std::string, int>& expected, int first, int last, int times = 1) {
  if (times == 0) return;
  for (int n = first; n <= last; ++n) expected[CrashSubject(n)] += times;
}

// The differences between what a base holds and what it must hold, a
// line for each subject (at most a few), for failure messages.
std::string Differences(const std::map<std::string, int>& have,
                        const std::map<std::string, int>& want) {
  std::string lines;
  int shown = 0;
  std::map<std::string, int> all = want;
  for (const auto& entry : have) all.emplace(entry.first, 0);
  for (const auto& [subject, ignored] : all) {
    const auto h = have.find(subject);
    const auto w = want.find(subject);
    const int held = h == have.end() ? 0 : h->second;
    const int wanted = w == want.end() ? 0 : w->second;
    if (held != wanted && ++shown <= 8) {
      lines += "  " + subject + ": " + std::to_string(held) + " times, not " +
               std::to_string(wanted) + "\n";
    }
  }
  if (shown > 8) lines += "  and " + std::to_string(shown - 8) + " more subjects\n";
  return lines;
}

struct AppendCase {
  const char* name;
  char type;
  // Messages of the long copy. A *.msg file is made durable with its
  // directory before the next one: that copy is far slower per message.
  // The variable QLR_SOAK_FACTOR multiplies them for long soaks.
  int long_copy;
};

int Soaked(int usual) {
  const char* factor = std::getenv("QLR_SOAK_FACTOR");
  const int scale = factor != nullptr ? std::atoi(factor) : 1;
  return usual * (scale > 1 ? scale : 1);
}

void PrintTo(const AppendCase& c, std::ostream* os) { *os << c.name; }

constexpr int kShortFirst = 500001;
constexpr int kShortLast = 500005;
constexpr int kMostShortCopies = 12;
constexpr int kFewestShortCopies = 3;

class ConcurrentAppendTest : public ::testing::TestWithParam<AppendCase> {
 protected:
  void SetUp() override {
    UseBuiltInFormats();
    qlrmsg_ = QlrmsgBinary();
  }
  std::string Spec(const std::string& dir) const {
    return CrashBaseSpec(GetParam().type, dir_.Path(dir));
  }
  ProgramResult Copy(const std::string& from, const std::string& to) const {
    return RunProgram(qlrmsg_, {"copy", from, to}, dir_.root());
  }

  ScratchDir dir_;
  std::string qlrmsg_;
};

// A long qlrmsg copy into a base while short copies of five messages, one
// process each, append to the same base again and again.
TEST_P(ConcurrentAppendTest, CopyBesideAnotherAppenderLosesNothing) {
  const int total = Soaked(GetParam().long_copy);
  AppendCrashMessages(CrashBaseSpec('!', dir_.Path("long")), 1, total);
  AppendCrashMessages(CrashBaseSpec('!', dir_.Path("short")), kShortFirst, kShortLast);
  ASSERT_FALSE(HasFatalFailure());
  const std::string dest = Spec("dest");
  // The base exists before either writer starts, so that both open it.
  ASSERT_NE(OpenBase(dest), nullptr);

  ProgramResult long_run;
  std::atomic<bool> long_done{false};
  std::thread long_copy([&] {
    long_run = Copy(CrashBaseSpec('!', dir_.Path("long")), dest);
    long_done = true;
  });
  std::map<std::string, int> expected;
  int short_runs = 0;
  std::string short_errors;
  // The short copies start at once and go on while the long one runs; a
  // few always run, since a long copy written in batches may be quick.
  for (; short_runs < kMostShortCopies && (!long_done || short_runs < kFewestShortCopies);
       ++short_runs) {
    const ProgramResult r = Copy(CrashBaseSpec('!', dir_.Path("short")), dest);
    // What a copy reports as copied must be there, also when it failed.
    Expect(expected, kShortFirst, kShortFirst + Copied(r) - 1);
    if (r.exit_code != 0 || Copied(r) != 5) short_errors += r.out + r.err;
  }
  long_copy.join();
  RecordProperty("short_copies", short_runs);
  EXPECT_EQ(long_run.exit_code, 0) << long_run.err;
  EXPECT_EQ(Copied(long_run), total);
  EXPECT_EQ(short_errors, "");

  Expect(expected, 1, Copied(long_run));
  const std::map<std::string, int> held = SubjectTally(dest);
  EXPECT_EQ(Differences(held, expected), "");
}

INSTANTIATE_TEST_SUITE_P(Formats, ConcurrentAppendTest,
                         ::testing::Values(AppendCase{"Jam", '!', 1000},
                                           AppendCase{"Squish", '$', 1000},
                                           AppendCase{"Msg", '#', 200}),
                         [](const auto& named) { return std::string(named.param.name); });

// A rotation by qlr and writers that opened the base before it: one in
// this process, which appends once qlr has emptied the base, and a qlrmsg
// copy that waits for the base's lock together with qlr.
class RotationBesideWriterTest : public QlrFixture, public ::testing::WithParamInterface<char> {
 protected:
  std::string Spec() { return CrashBaseSpec(GetParam(), Path("area")); }
  std::string LockFile() { return Path(GetParam() == '!' ? "area/area.jhr" : "area/area.sqd"); }
  void Rotate() { WriteControlFile({"MaxMessages 10", "Base " + Spec() + " " + Path("old")}); }
  // Every subject in the base and in each copy of the rotation, together.
  std::map<std::string, int> Everywhere() {
    std::map<std::string, int> all = SubjectTally(Spec());
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Path("old"), ec)) {
      for (const auto& [s, n] : SubjectTally(CrashBaseSpec(GetParam(), entry.path().string()))) {
        all[s] += n;
      }
    }
    return all;
  }
};

TEST_P(RotationBesideWriterTest, WriterOpenedBeforeTheRotationAppendsToTheEmptiedBase) {
  UseBuiltInFormats();
  AppendCrashMessages(Spec(), 1, 40);
  ASSERT_FALSE(HasFatalFailure());
  std::unique_ptr<MessageBase> writer = OpenBase(Spec());
  ASSERT_NE(writer, nullptr);
  ASSERT_EQ(writer->Count(), 40);
  Rotate();
  const ProgramResult r = Run({"/c"});
  ASSERT_NE(r.out.find("40 messages. copied to ["), std::string::npos) << r.out << r.err;

  for (int n = 41; n <= 43; ++n) {
    Message m;
    FillCrashMessage(m, n);
    EXPECT_FALSE(writer->AppendMessage(m)) << "message " << n;
  }
  writer.reset();
  std::map<std::string, int> in_base;
  Expect(in_base, 41, 43);
  EXPECT_EQ(Differences(SubjectTally(Spec()), in_base), "");
  std::map<std::string, int> expected;
  Expect(expected, 1, 43);
  EXPECT_EQ(Differences(Everywhere(), expected), "");
}

TEST_P(RotationBesideWriterTest, CopyWaitingForTheLockWithTheRotationLosesNothing) {
  UseBuiltInFormats();
  AppendCrashMessages(Spec(), 1, 40);
  AppendCrashMessages(CrashBaseSpec('!', Path("short")), kShortFirst, kShortLast);
  ASSERT_FALSE(HasFatalFailure());
  Rotate();
  // This process holds the base's lock, as a tosser would, while both the
  // copy and the rotation start and wait for it; then it lets them go.
  std::unique_ptr<FileHandle> lock = Os().OpenFile(LockFile(), OpenMode::kReadWrite);
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(lock->TryLock(0, 1));
  ProgramResult copy;
  ProgramResult rotation;
  std::thread copier([&] {
    copy = RunProgram(QlrmsgBinary(), {"copy", CrashBaseSpec('!', Path("short")), Spec()},
                      dir_.root());
  });
  std::thread rotator([&] { rotation = Run({"/c"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_TRUE(lock->Unlock(0, 1));
  lock.reset();
  copier.join();
  rotator.join();

  EXPECT_EQ(copy.exit_code, 0) << copy.out << copy.err;
  EXPECT_EQ(copy.out, "copied 5\n") << copy.err;
  EXPECT_EQ(rotation.exit_code, 0) << rotation.out << rotation.err;
  EXPECT_NE(rotation.out.find("copied to ["), std::string::npos) << rotation.out;
  std::map<std::string, int> expected;
  Expect(expected, 1, 40);
  Expect(expected, kShortFirst, kShortFirst + Copied(copy) - 1);
  const std::map<std::string, int> all = Everywhere();
  EXPECT_EQ(Differences(all, expected), "");
}

INSTANTIATE_TEST_SUITE_P(Formats, RotationBesideWriterTest, ::testing::Values('!', '$'),
                         [](const auto& named) {
                           return std::string(named.param == '!' ? "Jam" : "Squish");
                         });

// The peer tosser tosses packets into a JAM and a *.msg area while qlrmsg
// copies into the same two areas.
class TosserBesideCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    crashmail_ = interop::FindCrashmail();
    if (crashmail_.empty()) {
      GTEST_SKIP() << "crashmail is not installed (Debian: apt-get install crashmail)";
    }
    UseBuiltInFormats();
    node_ = std::make_unique<interop::CrashmailNode>(crashmail_, dir_.Path("node"), "2:5020/1042.0",
                                                     "2:5020/1.0");
    const std::string prefs =
        (fs::path(__FILE__).parent_path() / "interop" / "crashmail.prefs.in").string();
    ASSERT_NO_FATAL_FAILURE(node_->Install(prefs));
  }

  // Echomail `n` of the tossed ones, for `area`.
  static interop::RawMessage Tossed(const std::string& area, int n) {
    interop::RawMessage m;
    m.from = "Tosser Side";
    m.to = "All";
    m.subject = "tossed " + std::to_string(n);
    m.date = "06 Mar 21  11:22:33";
    m.orig = {0, 5020, 1, 0};
    m.dest = {0, 5020, 1042, 0};
    char serial[16];
    std::snprintf(serial, sizeof serial, "%08x", static_cast<unsigned>(n));
    m.text = "AREA:" + area + "\r\x01MSGID: 2:5020/1 " + serial + "\rTossed body " +
             std::to_string(n) +
             "\r--- Editor 3\r * Origin: Remote (2:5020/1)\r"
             "SEEN-BY: 5020/1\r\x01PATH: 5020/1\r";
    return m;
  }

  ScratchDir dir_;
  std::string crashmail_;
  std::unique_ptr<interop::CrashmailNode> node_;
};

TEST_F(TosserBesideCopyTest, NothingFromEitherSideIsLost) {
  constexpr int kCopied = 300;
  constexpr int kPerPacket = 20;
  constexpr int kMostPackets = 15;
  AppendCrashMessages(CrashBaseSpec('!', dir_.Path("source")), 1, kCopied);
  ASSERT_FALSE(HasFatalFailure());
  const std::string jam = "!" + node_->Path("jam/echo");
  const std::string msg = "#" + node_->Path("echo");
  ASSERT_NE(OpenBase(jam), nullptr);

  ProgramResult to_jam;
  ProgramResult to_msg;
  std::atomic<bool> copied{false};
  std::thread copier([&] {
    const std::string source = CrashBaseSpec('!', dir_.Path("source"));
    to_jam = RunProgram(QlrmsgBinary(), {"copy", source, jam}, dir_.root());
    to_msg = RunProgram(QlrmsgBinary(), {"copy", source, msg}, dir_.root());
    copied = true;
  });
  int packets = 0;
  std::string toss_errors;
  while (packets < kMostPackets && !copied) {
    std::vector<interop::RawMessage> batch;
    for (int i = 0; i < kPerPacket; ++i) {
      const int n = packets * kPerPacket + i + 1;
      batch.push_back(Tossed(n % 2 == 0 ? "ECHO.JAM" : "ECHO.MSG", n));
    }
    char name[16];
    std::snprintf(name, sizeof name, "%08x.pkt", static_cast<unsigned>(packets + 1));
    const std::string packet = dir_.Path(std::string("in/") + name);
    dir_.WriteFile(std::string("in/") + name,
                   interop::PacketBytes({2, 5020, 1, 0}, {2, 5020, 1042, 0}, batch));
    const ProgramResult r = node_->Toss(packet);
    if (r.exit_code != 0) toss_errors += r.out + r.err;
    ++packets;
  }
  copier.join();
  RecordProperty("packets", packets);
  EXPECT_EQ(toss_errors, "") << node_->Log();
  EXPECT_EQ(Copied(to_jam), kCopied) << to_jam.err;
  EXPECT_EQ(Copied(to_msg), kCopied) << to_msg.err;

  std::map<std::string, int> want_jam;
  std::map<std::string, int> want_msg;
  Expect(want_jam, 1, Copied(to_jam));
  Expect(want_msg, 1, Copied(to_msg));
  for (int n = 1; n <= packets * kPerPacket; ++n) {
    ++(n % 2 == 0 ? want_jam : want_msg)["tossed " + std::to_string(n)];
  }
  std::map<std::string, int> have_msg = SubjectTally(msg);
  // The tosser keeps its high-water mark in message 1 of a *.msg area.
  have_msg.erase("");
  const std::map<std::string, int> have_jam = SubjectTally(jam);
  EXPECT_EQ(Differences(have_jam, want_jam), "") << node_->Log();
  EXPECT_EQ(Differences(have_msg, want_msg), "") << node_->Log();
  EXPECT_TRUE(fs::is_empty(node_->Path("bad"))) << node_->Log();
}

}  // namespace
}  // namespace qlr::testing

#endif  // _WIN32
