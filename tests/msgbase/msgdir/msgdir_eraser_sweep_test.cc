// The copy and erase of a *.MSG directory under a failure of every single
// platform call, and under a crash after every call that makes something
// durable or moves a file: no version of a message is ever lost, and what
// a crash leaves aside goes back on the next run.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "msgbase/base_files.h"
#include "msgbase/copy_manifest.h"
#include "msgbase/msgdir/erase_test_area.h"
#include "testing/fault_sweep.h"

namespace qlr {
namespace {

using testing::EraseArea;
using testing::FailMode;
using testing::FaultRun;
using testing::MemoryPlatform;
using testing::MessageBytes;
using testing::PlatformOp;

std::unique_ptr<EraseArea> MakeArea() { return std::make_unique<EraseArea>(3, /*coarse=*/true); }

// What the rotation does, with writers at work between the copy and the
// erase: message 2 marked received (invisible to the status on a coarse
// clock), 3 rewritten by rename, 4 new.
void CopyAndErase(EraseArea& area) {
  if (area.Copy()) return;  // the rotation erases nothing then
  area.MarkReceived(2);
  area.RewriteByRename(3, 2);
  area.CreateMessage(4, 1);
  // The writers made their files durable.
  area.disk().MakeAllDurable();
  area.Erase();
}

void ExpectSafe(EraseArea& area) {
  area.ExpectNothingLost();
  if (!area.AsideFiles().empty()) {
    EXPECT_FALSE(area.Erased()) << area.Tree();
  }
  if (area.Erased()) {
    // Success means the copied message went and the changed ones stayed.
    // (A copy that could not see a file passes over it: it then stays.)
    if (area.manifest().Find(EraseArea::File(1)) != nullptr) {
      EXPECT_FALSE(area.disk().Exists(EraseArea::File(1))) << area.Tree();
    }
    EXPECT_EQ(area.Bytes(EraseArea::File(3)), MessageBytes(3, 2));
    EXPECT_EQ(area.Bytes(EraseArea::File(4)), MessageBytes(4, 1));
    EXPECT_TRUE(area.disk().Exists(EraseArea::File(2)));
  }
}

TEST(MsgDirEraserSweepTest, FailureOfAnyCallLosesNothing) {
  int runs = 0;
  for (PlatformOp op : testing::AllPlatformOps()) {
    for (FailMode mode : {FailMode::kOnce, FailMode::kFromThenOn}) {
      const auto report = testing::SweepFaults<EraseArea>(
          op, mode, MakeArea, CopyAndErase, [](EraseArea& area, const FaultRun& run) {
            ExpectSafe(area);
            // The run that no fault reached is the plain one: it succeeds.
            if (!run.fired) {
              EXPECT_TRUE(area.Erased()) << area.Tree();
            }
          });
      EXPECT_TRUE(report.completed) << testing::OpName(op);
      runs += report.runs;
    }
  }
  // Copy and erase of three messages make some forty calls of a dozen
  // kinds; far fewer runs mean the sweep missed the erase.
  EXPECT_GT(runs, 200);
}

// After a crash, the next run's erase (here against an empty copy: it may
// only put files back) brings every leftover whose name is free back
// under its message name.
void ExpectRecovered(EraseArea& area) {
  area.ExpectNothingLost();
  CopyManifest nothing_copied;
  (void)EraseBase("#/area", &nothing_copied);
  area.ExpectNothingLost();
  for (const std::string& aside : area.AsideFiles()) {
    const std::string message(MessageNameOf(aside).view());
    EXPECT_TRUE(area.disk().Exists(message)) << "not put back: " << aside << "\n" << area.Tree();
  }
}

TEST(MsgDirEraserSweepTest, CrashAtAnyPointLosesNothing) {
  std::vector<PlatformOp> ops = testing::SyncOps();
  ops.push_back(PlatformOp::kRenameNoReplace);
  ops.push_back(PlatformOp::kDeleteFile);
  int runs = 0;
  for (PlatformOp op : ops) {
    for (auto keeps :
         {MemoryPlatform::CrashKeeps::kNothing, MemoryPlatform::CrashKeeps::kDeletions}) {
      SCOPED_TRACE(keeps == MemoryPlatform::CrashKeeps::kNothing ? "keeps nothing"
                                                                 : "keeps deletions");
      const auto report = testing::SweepCrashes<EraseArea>(
          op, MakeArea, CopyAndErase,
          [](EraseArea& area, const FaultRun&) { ExpectRecovered(area); }, keeps);
      EXPECT_TRUE(report.completed) << testing::OpName(op);
      runs += report.runs;
    }
  }
  EXPECT_GT(runs, 16);
}

}  // namespace
}  // namespace qlr
