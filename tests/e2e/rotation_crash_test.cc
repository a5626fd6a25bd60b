// The real program killed (SIGKILL, with its archiver) at many moments of a
// rotation of a few thousand *.MSG messages, in copy and in pack mode:
// after each kill every message is still in the base or in a complete copy
// (or a complete archive), and no directory under a rotation name is
// partial. A later run finishes the job without losing anything.
//
// The moments are real timing: delays spread over the length of one whole
// run, plus kills triggered on seeing a phase under way (the copy filling
// its partial directory, the erase emptying the base, the archive being
// written), so that every phase is hit whatever the machine's speed.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e/process_group.h"
#include "e2e/qlr_fixture.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;
using Clock = CrashClock;

constexpr int kMessages = 2000;

std::string MessageName(int i) { return std::to_string(i) + ".msg"; }
std::string MessageBytes(int i) {
  std::string bytes;
  while (bytes.size() < 200) bytes += "message " + std::to_string(i) + " ";
  return bytes;
}

bool IsHex8(std::string_view s) {
  return s.size() >= 8 && s.substr(0, 8).find_first_not_of("0123456789abcdef") == s.npos;
}

// Which phase a kill interrupted, judged from what it left.
enum class Phase { kNotStarted, kCopy, kBeforeErase, kErase, kAfterErase, kPack, kDone };

class RotationCrashTest : public QlrFixture {
 protected:
  void Prepare(bool pack) {
    fs::remove_all(Path("area"));
    fs::remove_all(Path("old"));
    fs::create_directories(Path("area"));
    for (int i = 1; i <= kMessages; ++i) dir_.WriteFile("area/" + MessageName(i), MessageBytes(i));
    std::vector<std::string> lines = {"MaxMessages 0", "Base #" + Path("area") + " " + Path("old")};
    if (pack) {
      lines.push_back("Arc.Extension tar");
      lines.push_back("Arc.Add tar -cf @ArcName.tar -C @FileName .");
    }
    WriteControlFile(lines);
  }

  // Starts qlr in a process group of its own (so that its archiver dies
  // with it), output thrown away.
  pid_t Start(bool pack) { return StartInOwnGroup(binary_, {pack ? "/p" : "/c"}, Path("")); }
  static int Kill(pid_t pid) { return KillGroup(pid); }

  // The messages a directory holds with the right bytes.
  std::set<int> IntactIn(const std::string& relative) {
    std::set<int> found;
    for (int i = 1; i <= kMessages; ++i) {
      // A file that a killed erase moved aside (N.qlr) is still the base's:
      // the next run puts it back before it counts.
      std::string name = MessageName(i);
      const std::string aside = name.substr(0, name.rfind('.')) + ".qlr";
      if (relative == "area" && !fs::exists(Path(relative + "/" + name))) name = aside;
      const fs::path file = Path(relative + "/" + name);
      if (fs::is_regular_file(file) && fs::file_size(file) == MessageBytes(i).size() &&
          dir_.ReadFile(relative + "/" + name) == MessageBytes(i)) {
        found.insert(i);
      }
    }
    return found;
  }
  // The message names a tar archive lists; nothing when it is unreadable.
  std::optional<std::set<std::string>> ArchiveNames(const std::string& relative) {
    const ProgramResult r =
        RunProgram("/bin/sh", {"-c", "tar -tf '" + Path(relative) + "'"}, Path(""));
    if (r.exit_code != 0) return std::nullopt;
    std::set<std::string> names;
    std::size_t start = 0;
    while (start < r.out.size()) {
      std::size_t end = r.out.find('\n', start);
      if (end == std::string::npos) end = r.out.size();
      std::string name = r.out.substr(start, end - start);
      if (name.starts_with("./")) name = name.substr(2);
      if (!name.empty()) names.insert(name);
      start = end + 1;
    }
    return names;
  }

  // Checks the promise after a kill and tells which phase it hit.
  Phase CheckAfterKill(const std::string& when) {
    SCOPED_TRACE(when);
    std::set<int> kept = IntactIn("area");
    const int in_base = static_cast<int>(kept.size());
    int copies = 0;
    bool partial = false;
    bool archive = false;
    bool packing = false;
    if (fs::is_directory(Path("old"))) {
      for (const auto& entry : fs::directory_iterator(Path("old"))) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("qlr-partial.") || name.starts_with("qlr-packing.")) {
          // An archive in the making is in the run's private directory.
          (name.starts_with("qlr-packing.") ? packing : partial) = true;
          continue;
        }
        EXPECT_TRUE(IsHex8(name)) << "unexpected entry " << name;
        if (entry.is_directory()) {
          // Under a rotation name, only a complete copy: of the whole base
          // for the first, of what a killed erase left for a later one.
          const std::set<int> copy = IntactIn("old/" + name);
          const auto expected = expected_copies_.find(name);
          if (expected == expected_copies_.end()) {
            EXPECT_EQ(static_cast<int>(copy.size()), kMessages) << "partial copy " << name;
          } else {
            EXPECT_EQ(copy, expected->second) << "partial copy " << name;
          }
          kept.insert(copy.begin(), copy.end());
          ++copies;
        } else if (name.size() > 8 && name.substr(8) == ".tar") {
          archive = true;
          // Under its final name an archive is always complete, with or
          // without its copy beside it.
          const auto names = ArchiveNames("old/" + name);
          EXPECT_TRUE(names.has_value()) << "unreadable archive " << name;
          if (!names) continue;
          std::set<int> held;
          for (int i = 1; i <= kMessages; ++i) {
            if (names->count(MessageName(i)) != 0) held.insert(i);
          }
          const auto expected = expected_copies_.find(name.substr(0, 8));
          if (expected == expected_copies_.end()) {
            EXPECT_EQ(static_cast<int>(held.size()), kMessages) << "partial archive " << name;
          } else {
            EXPECT_EQ(held, expected->second) << "partial archive " << name;
          }
          kept.insert(held.begin(), held.end());
        }
      }
    }
    EXPECT_EQ(static_cast<int>(kept.size()), kMessages) << "messages lost";
    if (archive || packing) return copies > 0 ? Phase::kPack : Phase::kDone;
    if (copies == 0) return partial ? Phase::kCopy : Phase::kNotStarted;
    if (in_base == kMessages) return Phase::kBeforeErase;
    return in_base > 0 ? Phase::kErase : Phase::kAfterErase;
  }

  // One uninterrupted run: how long it takes.
  Clock::duration TimeOneRun(bool pack) {
    Prepare(pack);
    const auto start = Clock::now();
    const pid_t pid = Start(pack);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto took = Clock::now() - start;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(CheckAfterKill("uninterrupted"), pack ? Phase::kDone : Phase::kAfterErase);
    return took;
  }

  // Kills the run `delay` after its start; returns the phase it hit.
  Phase KillAfter(bool pack, Clock::duration delay, const std::string& when) {
    Prepare(pack);
    const pid_t pid = Start(pack);
    std::this_thread::sleep_for(delay);
    Kill(pid);
    return CheckAfterKill(when);
  }

  // Kills the run as soon as `seen` holds (polled), or when it ends.
  Phase KillWhen(bool pack, const std::function<bool()>& seen, const std::string& when) {
    Prepare(pack);
    const pid_t pid = Start(pack);
    KillWhenSeen(pid, seen, std::chrono::seconds(20));
    return CheckAfterKill(when);
  }

  int CountIn(const std::string& relative) {
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it(Path(relative), ec), end; !ec && it != end; it.increment(ec)) {
      ++n;
    }
    return n;
  }
  int PartialFiles() {
    std::error_code ec;
    for (fs::directory_iterator it(Path("old"), ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().filename().string().starts_with("qlr-partial.")) {
        return CountIn("old/" + it->path().filename().string());
      }
    }
    return 0;
  }

  // A later run, uninterrupted, rotates what is left and clears leftovers.
  void FinishWithAnotherRun(bool pack) {
    std::set<std::string> before;
    if (fs::is_directory(Path("old"))) {
      for (const auto& entry : fs::directory_iterator(Path("old"))) {
        before.insert(entry.path().filename().string());
      }
    }
    const std::set<int> left = IntactIn("area");
    const ProgramResult r = Run({pack ? "/p" : "/c"});
    // A rotation of what was left: its copy holds exactly that.
    for (const auto& entry : fs::directory_iterator(Path("old"))) {
      const std::string name = entry.path().filename().string();
      if (IsHex8(name) && before.count(name) == 0) expected_copies_[name.substr(0, 8)] = left;
    }
    // A copy whose pack was cut short, or never began, is reported, once.
    const bool reported = r.err.find("the copy is kept, its archive [") != std::string::npos;
    EXPECT_EQ(r.exit_code, reported ? 1 : 0) << r.out << r.err;
    // Nothing is in a partial state any more (an archive a kill cut short
    // may stay beside its complete copy).
    const Phase after = CheckAfterKill("after the next run");
    EXPECT_NE(after, Phase::kCopy);
    EXPECT_NE(after, Phase::kErase);
    expected_copies_.clear();
    // A copy made of links and published before the kill shares no file
    // with the base any more: its erase was finished.
    for (const auto& entry : fs::directory_iterator(Path("area"))) {
      EXPECT_EQ(fs::hard_link_count(entry.path()), 1u) << "still shared: " << entry.path();
    }
    for (const auto& entry : fs::directory_iterator(Path("old"))) {
      EXPECT_FALSE(fs::exists(entry.path() / ".qlr-lock")) << "erase unfinished: " << entry.path();
      EXPECT_FALSE(entry.path().filename().string().starts_with("qlr-partial.") ||
                   entry.path().filename().string().starts_with("qlr-packing."))
          << "leftover kept: " << entry.path();
    }
  }

  std::map<std::string, std::set<int>> expected_copies_;

  // Kills at delays spread over the length of one whole run: `kills` of
  // them, the first or the second half of `2 * kills` such moments.
  void TimedKills(bool pack, int kills, bool second_half) {
    const Clock::duration whole = TimeOneRun(pack);
    const int timed_kills = 2 * kills;
    for (int i = second_half ? kills : 0; i < (second_half ? timed_kills : kills); ++i) {
      const auto delay = whole * (2 * i + 1) / (2 * timed_kills);
      KillAfter(pack, delay, "kill after " + std::to_string(i) + "/" + std::to_string(timed_kills));
      if (i % 8 == 5) FinishWithAnotherRun(pack);
      if (HasFatalFailure()) return;
    }
    // Which phases they hit depends on the machine's speed at the time;
    // the kills triggered by a phase make sure that each is hit.
  }

  enum class Trigger { kCopy, kErase, kArchive };

  // Kills three times on seeing the phase under way: the copy or the erase
  // a quarter, half and three quarters done, or the archive begun.
  void TriggeredKills(bool pack, Trigger trigger) {
    std::map<Phase, int> hits;
    for (int i = 1; i <= 3; ++i) {
      const int at = kMessages * i / 4;
      std::function<bool()> seen;
      switch (trigger) {
        case Trigger::kCopy:
          seen = [&] { return PartialFiles() >= at; };
          break;
        case Trigger::kErase:
          seen = [&] {
            return PartialFiles() == 0 && CountIn("old") > 0 && CountIn("area") <= kMessages - at;
          };
          break;
        case Trigger::kArchive:
          seen = [&] { return ArchiveBeingMade("old", "00000000.tar"); };
          break;
      }
      ++hits[KillWhen(pack, seen, "triggered kill " + std::to_string(i))];
      if (i == 2) FinishWithAnotherRun(pack);
      if (HasFatalFailure()) return;
    }
    const Phase expected = trigger == Trigger::kCopy    ? Phase::kCopy
                           : trigger == Trigger::kErase ? Phase::kErase
                                                        : Phase::kPack;
    EXPECT_GT(hits[expected], 0);
  }
};

// 2 * (9 + 9) timed kills and 5 * 3 triggered ones, split so that each
// test stays well within the per-test time limit.
TEST_F(RotationCrashTest, CopyRunKilledEarlyLosesNothing) { TimedKills(false, 9, false); }
TEST_F(RotationCrashTest, CopyRunKilledLateLosesNothing) { TimedKills(false, 9, true); }
TEST_F(RotationCrashTest, CopyRunKilledWhileCopyingLosesNothing) {
  TriggeredKills(false, Trigger::kCopy);
}
TEST_F(RotationCrashTest, CopyRunKilledWhileErasingLosesNothing) {
  TriggeredKills(false, Trigger::kErase);
}
TEST_F(RotationCrashTest, PackRunKilledEarlyLosesNothing) { TimedKills(true, 9, false); }
TEST_F(RotationCrashTest, PackRunKilledLateLosesNothing) { TimedKills(true, 9, true); }
TEST_F(RotationCrashTest, PackRunKilledWhileCopyingLosesNothing) {
  TriggeredKills(true, Trigger::kCopy);
}
TEST_F(RotationCrashTest, PackRunKilledWhileErasingLosesNothing) {
  TriggeredKills(true, Trigger::kErase);
}
TEST_F(RotationCrashTest, PackRunKilledWhileArchivingLosesNothing) {
  TriggeredKills(true, Trigger::kArchive);
}

}  // namespace
}  // namespace qlr::testing

#endif  // _WIN32
