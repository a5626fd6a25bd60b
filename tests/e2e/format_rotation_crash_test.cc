// The real program killed (SIGKILL, with its archiver) at many moments of a
// rotation of a JAM, a Squish and a packet base of a few thousand messages,
// in copy and in pack mode. After each kill every message reads back whole
// from the base, from a complete copy under a rotation name or from a
// complete archive; no rotation name holds a partial copy; and the base
// still opens and counts. A later run finishes the job.
//
// The moments are real timing: delays spread over one whole run, and kills
// on seeing a phase under way (a partial copy in the target, the copy
// published with the erase still to come, the archive begun). Timing only
// decides which phase a kill hits; the verdict is the state it left.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/crash_bases.h"
#include "e2e/process_group.h"
#include "e2e/qlr_fixture.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kMessages = 3000;

struct CrashFormat {
  const char* name;
  char type;
};

// Names the case in test output (the struct has padding bytes).
void PrintTo(const CrashFormat& c, std::ostream* os) { *os << c.name; }

const CrashFormat kFormats[] = {{"Jam", '!'}, {"Squish", '$'}, {"Packet", 'P'}};

bool IsHex8(std::string_view s) {
  return s.size() >= 8 && s.substr(0, 8).find_first_not_of("0123456789abcdef") == s.npos;
}

// Which phase a kill interrupted, judged from what it left.
enum class Phase { kNotStarted, kCopy, kBeforeErase, kErase, kAfterErase, kPack, kDone };

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::kNotStarted:
      return "not_started";
    case Phase::kCopy:
      return "copy";
    case Phase::kBeforeErase:
      return "before_erase";
    case Phase::kErase:
      return "erase";
    case Phase::kAfterErase:
      return "after_erase";
    case Phase::kPack:
      return "pack";
    case Phase::kDone:
      return "done";
  }
  return "?";
}

class FormatRotationCrashTest : public QlrFixture,
                                public ::testing::WithParamInterface<CrashFormat> {
 protected:
  void SetUp() override {
    QlrFixture::SetUp();
    UseBuiltInFormats();
    // Written once through the library; each kill starts from a copy.
    AppendCrashMessages(Spec("pristine"), 1, kMessages);
    const BaseReading pristine = ReadWholeBase(Spec("pristine"));
    ASSERT_TRUE(pristine.opened);
    ASSERT_EQ(pristine.count, kMessages);
    for (int n = 1; n <= kMessages; ++n) {
      const std::size_t i = static_cast<std::size_t>(n - 1);
      ASSERT_TRUE(pristine.messages[i].has_value()) << n;
      ASSERT_EQ(pristine.numbers[i], n);
      reference_[n] = *pristine.messages[i];
      all_.insert(n);
    }
  }

  // The base `area` of the format in the directory `dir`.
  std::string Spec(const std::string& dir) { return CrashBaseSpec(GetParam().type, Path(dir)); }
  bool FilesPresent(const std::string& dir) { return CrashBasePresent(GetParam().type, Path(dir)); }

  // The sizes of the files of a directory, for failure messages.
  std::string FileSizes(const std::string& dir) {
    std::string sizes;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Path(dir), ec)) {
      std::error_code size_error;
      sizes += entry.path().filename().string() + " " +
               std::to_string(fs::file_size(entry.path(), size_error)) + " bytes; ";
    }
    return sizes;
  }

  void Prepare(bool pack) {
    for (const char* dir : {"area", "old", "unpacked"}) fs::remove_all(Path(dir));
    fs::copy(Path("pristine"), Path("area"));
    std::vector<std::string> lines = {"MaxMessages 0", "Base " + Spec("area") + " " + Path("old")};
    if (pack) {
      lines.push_back("Arc.Extension tar");
      lines.push_back("Arc.Add tar -cf @ArcName.tar -C @FileName .");
    }
    WriteControlFile(lines);
  }
  pid_t Start(bool pack) { return StartInOwnGroup(binary_, {pack ? "/p" : "/c"}, Path("")); }

  // The crash messages a base holds whole. A message it can read that is
  // not one of them, or reads differently, is a failure.
  std::set<int> WholeIn(const BaseReading& reading, const std::string& what) {
    std::set<int> found;
    for (std::size_t i = 0; i < reading.messages.size(); ++i) {
      if (!reading.messages[i]) continue;
      const auto number = reading.numbers[i];
      const auto expected = number ? reference_.find(*number) : reference_.end();
      if (expected == reference_.end()) {
        ADD_FAILURE() << what << ": message " << i + 1 << " is none of the base's";
      } else if (*reading.messages[i] != expected->second) {
        ADD_FAILURE() << what << ": message " << i + 1 << " is damaged: " << *reading.messages[i];
      } else {
        found.insert(*number);
      }
    }
    return found;
  }

  // The messages a copy (or an unpacked archive) in `dir` holds; it must
  // hold exactly those of the base it was made of.
  std::set<int> CompleteCopyIn(const std::string& dir, const std::string& rotation_name) {
    EXPECT_TRUE(FilesPresent(dir)) << "partial copy " << dir;
    if (!FilesPresent(dir)) return {};
    const BaseReading copy = ReadWholeBase(Spec(dir));
    EXPECT_TRUE(copy.opened) << "copy does not open: " << dir;
    const std::set<int> held = WholeIn(copy, dir);
    const auto expected = expected_copies_.find(rotation_name);
    EXPECT_EQ(held, expected == expected_copies_.end() ? all_ : expected->second)
        << "partial copy " << dir;
    return held;
  }

  // The base as a reader finds it. A missing packet opens as an empty one
  // (every reader of packets makes it anew); other bases must keep all
  // their files.
  BaseReading ReadBase() {
    packet_missing_ = GetParam().type == 'P' && !FilesPresent("area");
    if (packet_missing_) {
      BaseReading empty;
      empty.opened = true;
      return empty;
    }
    EXPECT_TRUE(FilesPresent("area")) << "the base lost files: " << FileSizes("area");
    return ReadWholeBase(Spec("area"));
  }
  bool packet_missing_ = false;

  // Checks the promise after a kill and tells which phase it hit.
  Phase CheckAfterKill(const std::string& when) {
    SCOPED_TRACE(when);
    const BaseReading base = ReadBase();
    EXPECT_TRUE(base.opened) << "the base no longer opens: " << FileSizes("area");
    std::set<int> kept = WholeIn(base, "base");
    const int in_base = static_cast<int>(kept.size());
    int copies = 0;
    bool partial = false;
    bool archive = false;
    bool packing = false;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Path("old"), ec)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("qlr-partial.") || name.starts_with("qlr-packing.")) {
        // An archive in the making is in the run's private directory.
        (name.starts_with("qlr-packing.") ? packing : partial) = true;
        continue;
      }
      EXPECT_TRUE(IsHex8(name)) << "unexpected entry " << name;
      if (entry.is_directory()) {
        const std::set<int> held = CompleteCopyIn("old/" + name, name);
        kept.insert(held.begin(), held.end());
        ++copies;
      } else if (name.size() > 8 && name.substr(8) == ".tar") {
        archive = true;
        // Under its final name an archive is always complete, with or
        // without its copy beside it.
        const std::string stem = name.substr(0, 8);
        fs::create_directories(Path("unpacked/" + stem));
        const ProgramResult r = RunProgram(
            "/bin/sh",
            {"-c", "tar -xf '" + Path("old/" + name) + "' -C '" + Path("unpacked/" + stem) + "'"},
            Path(""));
        EXPECT_EQ(r.exit_code, 0) << "unreadable archive " << name << r.err;
        const std::set<int> held = CompleteCopyIn("unpacked/" + stem, stem);
        kept.insert(held.begin(), held.end());
        fs::remove_all(Path("unpacked/" + stem));
      }
    }
    EXPECT_EQ(static_cast<int>(kept.size()), kMessages) << "messages lost";
    if (archive || packing) return copies > 0 ? Phase::kPack : Phase::kDone;
    if (packet_missing_) {
      // The erase of a packet deletes it and then makes an empty one: in
      // between, only a complete copy may exist.
      EXPECT_GT(copies + (archive ? 1 : 0), 0) << "the packet went before its copy was made";
    }
    if (copies == 0) {
      // Before its copy is complete the base is as it was.
      EXPECT_EQ(base.count, kMessages) << "base changed before its copy was complete";
      return partial ? Phase::kCopy : Phase::kNotStarted;
    }
    if (base.count == 0) return Phase::kAfterErase;
    return in_base == kMessages && base.count == kMessages ? Phase::kBeforeErase : Phase::kErase;
  }

  // A later run, uninterrupted, rotates what is left and clears leftovers.
  void FinishWithAnotherRun(bool pack) {
    std::set<std::string> before;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Path("old"), ec)) {
      before.insert(entry.path().filename().string());
    }
    const std::set<int> left = WholeIn(ReadBase(), "base before the next run");
    const ProgramResult r = Run({pack ? "/p" : "/c"});
    // A copy whose pack was cut short, or never began, is reported, once.
    const bool reported = r.err.find("the copy is kept, its archive [") != std::string::npos;
    EXPECT_EQ(r.exit_code, reported ? 1 : 0) << r.out << r.err;
    // A rotation of what was left: its copy (or archive) holds exactly that.
    for (const auto& entry : fs::directory_iterator(Path("old"), ec)) {
      const std::string name = entry.path().filename().string();
      if (IsHex8(name) && before.count(name) == 0) expected_copies_[name.substr(0, 8)] = left;
    }
    const Phase after = CheckAfterKill("after the next run");
    EXPECT_TRUE(after == Phase::kAfterErase || after == Phase::kDone || after == Phase::kPack)
        << PhaseName(after);
    EXPECT_TRUE(FilesPresent("area")) << "the next run left no base: " << FileSizes("area");
    EXPECT_EQ(ReadBase().count, 0) << "the next run left messages in the base";
    for (const auto& entry : fs::directory_iterator(Path("old"), ec)) {
      EXPECT_FALSE(entry.path().filename().string().starts_with("qlr-partial.") ||
                   entry.path().filename().string().starts_with("qlr-packing."))
          << "leftover kept: " << entry.path();
    }
    expected_copies_.clear();
  }

  CrashClock::duration TimeOneRun(bool pack) {
    Prepare(pack);
    const auto start = CrashClock::now();
    const int status = WaitFor(Start(pack));
    const auto took = CrashClock::now() - start;
    EXPECT_TRUE(ExitedCleanly(status));
    const Phase phase = CheckAfterKill("uninterrupted");
    EXPECT_EQ(phase, pack ? Phase::kDone : Phase::kAfterErase) << PhaseName(phase);
    return took;
  }

  void Tally(Phase phase) { ++hits_[phase]; }
  // Which phases the kills hit, in the test's record (timing decides it).
  void RecordHits() {
    for (const auto& [phase, count] : hits_) {
      RecordProperty(std::string("hits_") + PhaseName(phase), count);
    }
  }

  // Kills at delays spread over the length of one whole run.
  void TimedKills(bool pack) {
    const CrashClock::duration whole = TimeOneRun(pack);
    const int kills = CrashKills(10);
    for (int i = 0; i < kills; ++i) {
      Prepare(pack);
      const pid_t pid = Start(pack);
      std::this_thread::sleep_for(whole * (2 * i + 1) / (2 * kills));
      KillGroup(pid);
      Tally(CheckAfterKill("kill after " + std::to_string(i) + "/" + std::to_string(kills)));
      if (i % 4 == 3 || i == kills - 1) FinishWithAnotherRun(pack);
      if (HasFatalFailure()) return;
    }
    RecordHits();
  }

  // Kills on seeing each phase under way; a phase that ends before it is
  // seen is tried again a few times. How often each is hit is recorded.
  void TriggeredKills(bool pack) {
    std::vector<std::pair<std::string, std::function<bool()>>> triggers = {
        {"copy begun", [&] { return PartialExists(); }},
        {"copy published", [&] { return fs::exists(Path("old/00000000")); }},
    };
    if (pack) {
      triggers.emplace_back("archive begun",
                            [&] { return ArchiveBeingMade("old", "00000000.tar"); });
    }
    const int attempts = CrashKills(3);
    for (const auto& [what, seen] : triggers) {
      for (int i = 0; i < attempts; ++i) {
        Prepare(pack);
        KillWhenSeen(Start(pack), seen);
        Tally(CheckAfterKill("kill on " + what + ", attempt " + std::to_string(i)));
        if (i == 1) FinishWithAnotherRun(pack);
        if (HasFatalFailure()) return;
      }
    }
    RecordHits();
  }

  bool PartialExists() {
    std::error_code ec;
    for (fs::directory_iterator it(Path("old"), ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().filename().string().starts_with("qlr-partial.")) return true;
    }
    return false;
  }

  std::map<int, std::string> reference_;  // crash number -> what a reader sees
  std::set<int> all_;
  std::map<std::string, std::set<int>> expected_copies_;  // rotation name -> its messages
  std::map<Phase, int> hits_;
};

TEST_P(FormatRotationCrashTest, CopyRunKilledAtTimedMomentsLosesNothing) { TimedKills(false); }
TEST_P(FormatRotationCrashTest, CopyRunKilledInEachPhaseLosesNothing) { TriggeredKills(false); }
TEST_P(FormatRotationCrashTest, PackRunKilledAtTimedMomentsLosesNothing) { TimedKills(true); }
TEST_P(FormatRotationCrashTest, PackRunKilledInEachPhaseLosesNothing) { TriggeredKills(true); }

INSTANTIATE_TEST_SUITE_P(Formats, FormatRotationCrashTest, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<CrashFormat>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace qlr::testing

#endif  // _WIN32
