// `qlrmsg copy` killed (SIGKILL) while it appends the messages of a base to
// a destination of each format that already holds messages of its own.
// After each kill the destination opens and counts, and every message it
// counts reads back whole: first its own messages as they were, then a
// prefix of the source's, in order. A later copy into the killed
// destination appends the whole source after that prefix.
//
// The moments are real timing (delays spread over one whole copy, and
// kills once the destination has grown by a quarter, a half, three
// quarters); timing only decides where the copy stops, the verdict is the
// state it left.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/crash_bases.h"
#include "e2e/process_group.h"
#include "e2e/qlr_fixture.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

// The destination's own messages carry numbers far from the source's.
constexpr int kOwnFirst = 100001;
constexpr int kOwn = 40;

struct CopyCase {
  const char* name;
  char type;
  // Messages in the source. Each *.msg file is flushed to disk with its
  // directory before the next: that copy is far slower per message.
  int source_messages;
};

void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }

const CopyCase kCases[] = {
    {"Jam", '!', 3000},
    {"Squish", '$', 3000},
    {"Packet", 'P', 3000},
    {"Msg", '#', 300},
};

std::string QlrmsgBinary() { return ProgramUnderTest("QLRMSG_BINARY", QLR_DEFAULT_QLRMSG); }

// The bytes of every file under a directory; 0 when it is gone.
std::uintmax_t BytesIn(const std::string& dir) {
  std::uintmax_t total = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code size_error;
    const std::uintmax_t size = fs::file_size(it->path(), size_error);
    if (!size_error) total += size;
  }
  return total;
}

class QlrmsgCopyCrashTest : public ::testing::TestWithParam<CopyCase> {
 protected:
  void SetUp() override {
    UseBuiltInFormats();
    binary_ = QlrmsgBinary();
    // The source is a JAM base; the destination starts from `own`.
    AppendCrashMessages(CrashBaseSpec('!', dir_.Path("source")), 1, Sources());
    AppendCrashMessages(Spec("own"), kOwnFirst, kOwnFirst + kOwn - 1);
    if (HasFatalFailure()) return;
    own_bytes_ = BytesIn(dir_.Path("own"));
    // What the destination reads as after one whole copy is the reference
    // for every message a killed one wrote.
    Prepare();
    const auto start = CrashClock::now();
    const int status = WaitFor(StartCopy());
    whole_run_ = CrashClock::now() - start;
    ASSERT_TRUE(ExitedCleanly(status));
    const BaseReading whole = ReadWholeBase(Spec("dest"));
    ASSERT_TRUE(whole.opened);
    ASSERT_EQ(whole.count, kOwn + Sources());
    for (int n = 1; n <= whole.count; ++n) {
      const std::size_t i = static_cast<std::size_t>(n - 1);
      ASSERT_TRUE(whole.messages[i].has_value()) << n;
      ASSERT_EQ(whole.numbers[i], Expected(n)) << "message " << n << " of the whole copy";
      reference_.push_back(*whole.messages[i]);
    }
    full_bytes_ = BytesIn(dir_.Path("dest"));
  }

  int Sources() const { return GetParam().source_messages; }
  std::string Spec(const std::string& dir) {
    return CrashBaseSpec(GetParam().type, dir_.Path(dir));
  }
  // The crash number message `n` of the destination must carry.
  int Expected(int n) const { return n <= kOwn ? kOwnFirst + n - 1 : n - kOwn; }

  void Prepare() {
    fs::remove_all(dir_.Path("dest"));
    fs::copy(dir_.Path("own"), dir_.Path("dest"));
  }
  pid_t StartCopy() {
    return StartInOwnGroup(binary_, {"copy", CrashBaseSpec('!', dir_.Path("source")), Spec("dest")},
                           dir_.root());
  }

  // Checks the destination after a kill; how many source messages it got.
  int CheckAfterKill(const std::string& when) {
    SCOPED_TRACE(when);
    EXPECT_TRUE(CrashBasePresent(GetParam().type, dir_.Path("dest"))) << "the base lost files";
    const BaseReading dest = ReadWholeBase(Spec("dest"));
    EXPECT_TRUE(dest.opened) << "the destination no longer opens";
    EXPECT_GE(dest.count, kOwn) << "the destination lost its own messages";
    EXPECT_LE(dest.count, kOwn + Sources()) << "more messages than were copied";
    int bad = 0;
    for (int n = 1; n <= dest.count && n <= kOwn + Sources(); ++n) {
      const std::size_t i = static_cast<std::size_t>(n - 1);
      if (!dest.messages[i]) {
        if (++bad <= 3) ADD_FAILURE() << "message " << n << " of " << dest.count << " unreadable";
      } else if (*dest.messages[i] != reference_[i]) {
        if (++bad <= 3) {
          ADD_FAILURE() << "message " << n << " of " << dest.count << " is not crash message "
                        << Expected(n) << ": " << *dest.messages[i];
        }
      }
    }
    EXPECT_EQ(bad, 0);
    return dest.count - kOwn;
  }

  // Another copy, uninterrupted, into the killed destination: the whole
  // source follows what the killed one left.
  void CopyAgain(int copied_before) {
    const ProgramResult r = RunProgram(
        binary_, {"copy", CrashBaseSpec('!', dir_.Path("source")), Spec("dest")}, dir_.root());
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    const BaseReading dest = ReadWholeBase(Spec("dest"));
    ASSERT_TRUE(dest.opened);
    const int first_again = kOwn + copied_before;  // messages before the second copy
    EXPECT_EQ(dest.count, first_again + Sources());
    int bad = 0;
    for (int n = 1; n <= dest.count; ++n) {
      const std::size_t i = static_cast<std::size_t>(n - 1);
      // The second copy's messages read as the first copy's did.
      const int as = n <= first_again ? n : n - copied_before;
      if (!dest.messages[i] || as > static_cast<int>(reference_.size()) ||
          *dest.messages[i] != reference_[static_cast<std::size_t>(as - 1)]) {
        if (++bad <= 3) ADD_FAILURE() << "after the second copy, message " << n << " is wrong";
      }
    }
    EXPECT_EQ(bad, 0);
  }

  void Tally(int copied) {
    if (copied <= 0) {
      ++none_;
    } else if (copied >= Sources()) {
      ++all_;
    } else {
      ++part_;
    }
  }

  ScratchDir dir_;
  std::string binary_;
  CrashClock::duration whole_run_{};
  std::uintmax_t own_bytes_ = 0;
  std::uintmax_t full_bytes_ = 0;
  std::vector<std::string> reference_;  // what message n of a whole copy reads as
  int none_ = 0, part_ = 0, all_ = 0;   // kills that left no, some, all source messages
};

TEST_P(QlrmsgCopyCrashTest, KilledCopyLeavesAWholePrefixAndTheOwnMessages) {
  const int kills = CrashKills(8);
  for (int i = 0; i < kills; ++i) {
    Prepare();
    const pid_t pid = StartCopy();
    std::this_thread::sleep_for(whole_run_ * (2 * i + 1) / (2 * kills));
    KillGroup(pid);
    const int copied =
        CheckAfterKill("kill after " + std::to_string(i) + "/" + std::to_string(kills));
    Tally(copied);
    if (i == kills / 2) CopyAgain(copied);
    if (HasFatalFailure()) return;
  }
  // Kills once the destination has grown by a share of what the copy adds.
  for (int quarter = 1; quarter <= 3; ++quarter) {
    Prepare();
    const std::uintmax_t at =
        own_bytes_ + (full_bytes_ - own_bytes_) * static_cast<unsigned>(quarter) / 4;
    KillWhenSeen(StartCopy(), [&] { return BytesIn(dir_.Path("dest")) >= at; });
    const int copied = CheckAfterKill("kill at " + std::to_string(quarter) + "/4 of the bytes");
    Tally(copied);
    if (quarter == 2) CopyAgain(copied);
    if (HasFatalFailure()) return;
  }
  RecordProperty("kills_before_any_message", none_);
  RecordProperty("kills_amid_the_copy", part_);
  RecordProperty("kills_after_the_last_message", all_);
}

INSTANTIATE_TEST_SUITE_P(Formats, QlrmsgCopyCrashTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CopyCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace qlr::testing

#endif  // _WIN32
