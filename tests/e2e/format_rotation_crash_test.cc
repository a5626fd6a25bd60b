// The real program killed (SIGKILL, with its archiver) at many moments of a
// rotation of a base of a few thousand messages of each format, in copy
// and in pack mode. After each kill every message exists whole in the base,
// in a complete copy under a rotation name or in a complete archive; no
// rotation name holds a partial copy; and the base still opens and counts.
// A later run finishes the job without losing anything.
//
// The moments are real timing: delays spread over one whole run, and kills
// on seeing a phase under way (the copy filling its partial directory, the
// copy published and the erase emptying the base, the archive begun), so
// that every phase is hit whatever the machine's speed. Timing only decides
// which phase a kill hits; the verdict is the state it left.
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
#include <utility>
#include <vector>

#include "e2e/crash_bases.h"
#include "e2e/process_group.h"
#include "e2e/qlr_fixture.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

struct CrashFormat {
  const char* name;
  char type;
  int messages;
  // Timed kills over one whole run, half of them early and half late.
  int timed_kills;
  // The copy and the erase of a *.msg directory go file by file: its kills
  // come at a quarter, a half and three quarters of each, and each must be
  // hit. A file set is copied and emptied a few files at a time: its kills
  // come on seeing the phase begin, and what they hit is only recorded.
  bool by_progress;
};

// Names the case in test output (the struct has padding bytes).
void PrintTo(const CrashFormat& c, std::ostream* os) { *os << c.name; }

const CrashFormat kFormats[] = {{"Msg", '#', 2000, 18, true},
                                {"Jam", '!', 3000, 10, false},
                                {"Squish", '$', 3000, 10, false},
                                {"Packet", 'P', 3000, 10, false}};

bool IsHex8(std::string_view s) {
  return s.size() >= 8 && s.substr(0, 8).find_first_not_of("0123456789abcdef") == s.npos;
}

// Which phase a kill interrupted, judged from what it left.
enum class Phase { kNotStarted, kCopy, kBeforeErase, kErase, kAfterErase, kPack, kDone };

const char* PhaseName(Phase phase) {
  constexpr const char* kNames[] = {"not_started", "copy", "before_erase", "erase",
                                    "after_erase", "pack", "done"};
  return kNames[static_cast<int>(phase)];
}

enum class Trigger { kCopy, kErase, kArchive };

// What a directory holds as a base: whether it opens, its count, and the
// crash messages it holds whole.
struct Holding {
  bool opened = false;
  int count = 0;
  std::set<int> whole;
};

class FormatRotationCrashTest : public QlrFixture,
                                public ::testing::WithParamInterface<CrashFormat> {
 protected:
  void SetUp() override {
    QlrFixture::SetUp();
    UseBuiltInFormats();
    // Written once through the library; each kill starts from a copy.
    AppendCrashMessages(Spec("pristine"), 1, Messages());
    if (HasFatalFailure() || IsMsg()) return;  // *.msg files: the reference, byte for byte
    const BaseReading pristine = ReadWholeBase(Spec("pristine"));
    ASSERT_TRUE(pristine.opened);
    ASSERT_EQ(pristine.count, Messages());
    for (int n = 1; n <= Messages(); ++n) {
      const std::size_t i = static_cast<std::size_t>(n - 1);
      ASSERT_TRUE(pristine.messages[i].has_value()) << n;
      ASSERT_EQ(pristine.numbers[i], n);
      reference_[n] = *pristine.messages[i];
    }
  }

  int Messages() const { return GetParam().messages; }
  bool IsMsg() const { return GetParam().type == '#'; }
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

  // The *.msg files of `dir` that are, byte for byte, those the base was
  // made of. In the base, a file that a killed erase moved aside (N.qlr) is
  // still the base's: the next run puts it back before it counts.
  Holding MsgFilesIn(const std::string& dir) {
    Holding held;
    held.opened = fs::is_directory(Path(dir));
    for (int n = 1; held.opened && n <= Messages(); ++n) {
      const std::string name = std::to_string(n) + ".msg";
      std::string file = dir + "/" + name;
      if (dir == "area" && !Exists(file)) file = dir + "/" + std::to_string(n) + ".qlr";
      if (!Exists(file)) continue;
      ++held.count;
      if (dir_.ReadFile(file) == dir_.ReadFile("pristine/" + name)) {
        held.whole.insert(n);
      } else {
        ADD_FAILURE() << file << " is damaged";
      }
    }
    return held;
  }

  // The crash messages the base in `dir` holds whole, as a reader finds
  // them. A message it can read that is not one of them, or reads
  // differently, is a failure.
  Holding HeldIn(const std::string& dir) {
    if (IsMsg()) return MsgFilesIn(dir);
    const BaseReading reading = ReadWholeBase(Spec(dir));
    Holding held{reading.opened, reading.count, {}};
    for (std::size_t i = 0; i < reading.messages.size(); ++i) {
      if (!reading.messages[i]) continue;
      const auto number = reading.numbers[i];
      const auto expected = number ? reference_.find(*number) : reference_.end();
      if (expected == reference_.end()) {
        ADD_FAILURE() << dir << ": message " << i + 1 << " is none of the base's";
      } else if (*reading.messages[i] != expected->second) {
        ADD_FAILURE() << dir << ": message " << i + 1 << " is damaged: " << *reading.messages[i];
      } else {
        held.whole.insert(*number);
      }
    }
    return held;
  }

  // The messages a copy (or an unpacked archive) in `dir` holds; it must
  // hold exactly those of the base it was made of.
  std::set<int> CompleteCopyIn(const std::string& dir, const std::string& rotation_name) {
    EXPECT_TRUE(FilesPresent(dir)) << "partial copy " << dir;
    if (!FilesPresent(dir)) return {};
    const Holding copy = HeldIn(dir);
    EXPECT_TRUE(copy.opened) << "copy does not open: " << dir;
    const auto expected = expected_copies_.find(rotation_name);
    if (expected != expected_copies_.end()) {
      EXPECT_EQ(copy.whole, expected->second) << "partial copy " << dir;
    } else {
      EXPECT_EQ(static_cast<int>(copy.whole.size()), Messages()) << "partial copy " << dir;
    }
    return copy.whole;
  }

  // The base as a reader finds it. A missing packet opens as an empty one
  // (every reader of packets makes it anew); other bases must keep all
  // their files.
  Holding ReadBase() {
    packet_missing_ = GetParam().type == 'P' && !FilesPresent("area");
    if (packet_missing_) return Holding{true, 0, {}};
    EXPECT_TRUE(FilesPresent("area")) << "the base lost files: " << FileSizes("area");
    return HeldIn("area");
  }
  bool packet_missing_ = false;

  // Checks the promise after a kill and tells which phase it hit.
  Phase CheckAfterKill(const std::string& when) {
    SCOPED_TRACE(when);
    const Holding base = ReadBase();
    EXPECT_TRUE(base.opened) << "the base no longer opens: " << FileSizes("area");
    std::set<int> kept = base.whole;
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
        // Under a rotation name, only a complete copy: of the whole base
        // for the first, of what a killed erase left for a later one.
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
    EXPECT_EQ(static_cast<int>(kept.size()), Messages()) << "messages lost";
    if (archive || packing) return copies > 0 ? Phase::kPack : Phase::kDone;
    if (packet_missing_) {
      // The erase of a packet deletes it and then makes an empty one: in
      // between, only a complete copy may exist.
      EXPECT_GT(copies, 0) << "the packet went before its copy was made";
    }
    if (copies == 0) {
      // Before its copy is complete the base is as it was.
      EXPECT_EQ(base.count, Messages()) << "base changed before its copy was complete";
      return partial ? Phase::kCopy : Phase::kNotStarted;
    }
    if (base.count == 0) return Phase::kAfterErase;
    return in_base == Messages() && base.count == Messages() ? Phase::kBeforeErase : Phase::kErase;
  }

  // A later run, uninterrupted, rotates what is left and clears leftovers.
  void FinishWithAnotherRun(bool pack) {
    std::set<std::string> before;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(Path("old"), ec)) {
      before.insert(entry.path().filename().string());
    }
    const std::set<int> left = ReadBase().whole;
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
    // A copy made of links and published before the kill shares no file
    // with the base any more: its erase was finished.
    for (const auto& entry : fs::directory_iterator(Path("area"), ec)) {
      EXPECT_EQ(fs::hard_link_count(entry.path()), 1u) << "still shared: " << entry.path();
    }
    for (const auto& entry : fs::directory_iterator(Path("old"), ec)) {
      EXPECT_FALSE(fs::exists(entry.path() / ".qlr-lock")) << "erase unfinished: " << entry.path();
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

  // Which phases the kills hit, in the test's record (timing decides it).
  void RecordHits() {
    for (const auto& [phase, count] : hits_) {
      RecordProperty(std::string("hits_") + PhaseName(phase), count);
    }
  }

  // Kills at delays spread over the length of one whole run: the first or
  // the second half of them. Every fourth kill, and the last, is followed
  // by a run that must finish the job.
  void TimedKills(bool pack, bool second_half) {
    const CrashClock::duration whole = TimeOneRun(pack);
    const int kills = CrashKills(GetParam().timed_kills);
    const int end = second_half ? kills : kills / 2;
    for (int i = second_half ? kills / 2 : 0; i < end; ++i) {
      Prepare(pack);
      const pid_t pid = Start(pack);
      std::this_thread::sleep_for(whole * (2 * i + 1) / (2 * kills));
      KillGroup(pid);
      ++hits_[CheckAfterKill("kill after " + std::to_string(i) + "/" + std::to_string(kills))];
      if (i % 4 == 3 || i == end - 1) FinishWithAnotherRun(pack);
      if (HasFatalFailure()) return;
    }
    RecordHits();
  }

  // True once the phase is seen under way: for a *.msg directory, that
  // share of it done; for a file set, the phase begun.
  bool Seen(Trigger trigger, int quarter) {
    const int at = Messages() * quarter / 4;
    switch (trigger) {
      case Trigger::kCopy:
        return GetParam().by_progress ? PartialFiles() >= at : PartialExists();
      case Trigger::kErase:
        if (!GetParam().by_progress) return Exists("old/00000000");
        return PartialFiles() == 0 && CountIn("old") > 0 && CountIn("area") <= Messages() - at;
      case Trigger::kArchive:
        return ArchiveBeingMade("old", "00000000.tar");
    }
    return false;
  }

  // Kills on seeing the phase under way, a few times (a quarter, half and
  // three quarters done, where progress is seen); the second is followed
  // by a run that must finish the job.
  void TriggeredKills(bool pack, Trigger trigger) {
    const int attempts = CrashKills(3);
    for (int i = 0; i < attempts; ++i) {
      const int quarter = i % 3 + 1;
      Prepare(pack);
      KillWhenSeen(Start(pack), [&] { return Seen(trigger, quarter); });
      ++hits_[CheckAfterKill("triggered kill " + std::to_string(i))];
      if (i == 1) FinishWithAnotherRun(pack);
      if (HasFatalFailure()) return;
    }
    RecordHits();
    const Phase expected = trigger == Trigger::kCopy    ? Phase::kCopy
                           : trigger == Trigger::kErase ? Phase::kErase
                                                        : Phase::kPack;
    if (GetParam().by_progress) {
      EXPECT_GT(hits_[expected], 0) << PhaseName(expected);
    }
  }

  bool PartialExists() { return !PartialName().empty(); }
  std::string PartialName() {
    std::error_code ec;
    for (fs::directory_iterator it(Path("old"), ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name.starts_with("qlr-partial.")) return name;
    }
    return "";
  }
  int PartialFiles() {
    const std::string name = PartialName();
    return name.empty() ? 0 : CountIn("old/" + name);
  }
  // The entries of a directory the run is changing under the count.
  int CountIn(const std::string& relative) {
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it(Path(relative), ec), end; !ec && it != end; it.increment(ec)) {
      ++n;
    }
    return n;
  }

  std::map<int, std::string> reference_;                  // crash number -> what a reader sees
  std::map<std::string, std::set<int>> expected_copies_;  // rotation name -> its messages
  std::map<Phase, int> hits_;
};

TEST_P(FormatRotationCrashTest, CopyRunKilledEarlyLosesNothing) { TimedKills(false, false); }
TEST_P(FormatRotationCrashTest, CopyRunKilledLateLosesNothing) { TimedKills(false, true); }
TEST_P(FormatRotationCrashTest, CopyRunKilledWhileCopyingLosesNothing) {
  TriggeredKills(false, Trigger::kCopy);
}
TEST_P(FormatRotationCrashTest, CopyRunKilledWhileErasingLosesNothing) {
  TriggeredKills(false, Trigger::kErase);
}
TEST_P(FormatRotationCrashTest, PackRunKilledEarlyLosesNothing) { TimedKills(true, false); }
TEST_P(FormatRotationCrashTest, PackRunKilledLateLosesNothing) { TimedKills(true, true); }
TEST_P(FormatRotationCrashTest, PackRunKilledWhileCopyingLosesNothing) {
  TriggeredKills(true, Trigger::kCopy);
}
TEST_P(FormatRotationCrashTest, PackRunKilledWhileErasingLosesNothing) {
  TriggeredKills(true, Trigger::kErase);
}
TEST_P(FormatRotationCrashTest, PackRunKilledWhileArchivingLosesNothing) {
  TriggeredKills(true, Trigger::kArchive);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatRotationCrashTest, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<CrashFormat>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace qlr::testing

#endif  // _WIN32
