// The sweeps visit every call of the chosen operation and stop once the
// scenario no longer reaches the fault.
#include "testing/fault_sweep.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "testing/memory_platform.h"

namespace qlr::testing {
namespace {

std::unique_ptr<MemoryPlatform> DiskWithFile() {
  auto disk = std::make_unique<MemoryPlatform>();
  disk->WriteFileBytes("/f", "....");
  return disk;
}

// Writes "a", "b", "c" at the positions 0..2 of /f, syncing after each.
void WriteThree(MemoryPlatform&) {
  auto file = Os().OpenFile("/f", OpenMode::kReadWrite);
  if (!file) return;
  std::size_t written = 0;
  for (int i = 0; i < 3; ++i) {
    const char c = static_cast<char>('a' + i);
    if (!file->WriteAt(static_cast<std::uint64_t>(i), &c, 1, &written) || !file->Sync()) return;
  }
}

TEST(FaultSweepTest, FailsEachCallInTurnUntilTheFaultNoLongerFires) {
  for (FailMode mode : {FailMode::kOnce, FailMode::kFromThenOn}) {
    std::vector<std::string> seen;
    const SweepReport report = SweepFaults<MemoryPlatform>(
        PlatformOp::kWriteAt, mode, DiskWithFile, WriteThree,
        [&](MemoryPlatform& disk, const FaultRun& run) {
          EXPECT_EQ(&Os(), &disk);  // the invariant sees the disk itself
          seen.push_back(std::to_string(run.nth) + (run.fired ? "+" : "-") + "=" +
                         disk.ReadFileBytes("/f").value_or("?"));
        });
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.runs, 4);
    // The scenario stops at its first failure either way.
    EXPECT_EQ(seen, (std::vector<std::string>{"1+=....", "2+=a...", "3+=ab..", "4-=abc."}));
  }
}

TEST(FaultSweepTest, AScenarioThatNeverCallsTheOpRunsOnce) {
  const SweepReport report = SweepFaults<MemoryPlatform>(
      PlatformOp::kRename, FailMode::kOnce, DiskWithFile, WriteThree,
      [](MemoryPlatform&, const FaultRun& run) { EXPECT_FALSE(run.fired); });
  EXPECT_EQ(report.runs, 1);
  EXPECT_TRUE(report.completed);
}

TEST(FaultSweepTest, ASweepThatNeverEndsIsReported) {
  SweepReport report;
  EXPECT_NONFATAL_FAILURE(report = SweepCalls([](int) { return true; }, 5), "after 5 runs");
  EXPECT_EQ(report.runs, 5);
  EXPECT_FALSE(report.completed);
}

TEST(CrashSweepTest, CrashesAfterEachSyncAndAfterTheEnd) {
  for (auto keeps :
       {MemoryPlatform::CrashKeeps::kNothing, MemoryPlatform::CrashKeeps::kDeletions}) {
    std::vector<std::string> seen;
    const SweepReport report = SweepCrashes<MemoryPlatform>(
        PlatformOp::kSync, DiskWithFile, WriteThree,
        [&](MemoryPlatform& disk, const FaultRun& run) {
          EXPECT_FALSE(disk.Halted());
          seen.push_back(std::to_string(run.nth) + (run.fired ? "+" : "-") + "=" +
                         disk.ReadFileBytes("/f").value_or("?"));
        },
        keeps);
    EXPECT_EQ(report.runs, 4);
    EXPECT_EQ(seen, (std::vector<std::string>{"1+=a...", "2+=ab..", "3+=abc.", "4-=abc."}));
  }
}

TEST(CrashSweepTest, KeptDeletionsOnlyTakeWhatWasReallyDeleted) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/d/gone", "1");
  disk.WriteFileBytes("/d/moved", "2");
  disk.WriteFileBytes("/d/kept", "3");
  ASSERT_TRUE(disk.DeleteFile("/d/gone"));
  ASSERT_TRUE(disk.Rename("/d/moved", "/d/new"));
  ASSERT_NE(disk.OpenFile("/d/created", OpenMode::kCreate), nullptr);
  disk.Crash(MemoryPlatform::CrashKeeps::kDeletions);
  EXPECT_EQ(disk.ListTree(), (std::vector<std::string>{"/d/", "/d/kept", "/d/moved"}));
}

}  // namespace
}  // namespace qlr::testing
