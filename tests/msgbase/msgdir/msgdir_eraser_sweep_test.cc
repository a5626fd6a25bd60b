// The copy and erase of a *.MSG directory under a failure of every single
// platform call, and under a crash after every call that makes something
// durable or moves a file: no version of a message is ever lost, and what
// a crash leaves aside goes back on the next run.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

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

// How the copy is made: every file copied (links refused, as on FAT),
// every file linked, or the even messages copied and the rest linked (a
// base whose files lie partly on another file system, or reached the
// link limit).
// A linked file is neither read nor written: fewer calls to fail.
struct LinkMode {
  const char* name;
  std::function<bool(std::string_view)> refuse;
  int min_runs;
};
const LinkMode kLinkModes[] = {
    {"copied", [](std::string_view) { return true; }, 200},
    {"linked", nullptr, 120},
    {"half linked", [](std::string_view from) { return from.ends_with("2.msg"); }, 150},
};

std::function<std::unique_ptr<EraseArea>()> AreaMaker(const LinkMode& mode) {
  return [&mode] {
    auto area = std::make_unique<EraseArea>(3, /*coarse=*/true);
    area->disk().SetLinkRefusal(mode.refuse);
    return area;
  };
}

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
    // Marked in place: a linked copy holds the mark, a copied one does not.
    EXPECT_EQ(area.disk().Exists(EraseArea::File(2)), !area.Linked(2)) << area.Tree();
  }
}

TEST(MsgDirEraserSweepTest, FailureOfAnyCallLosesNothing) {
  for (const LinkMode& link : kLinkModes) {
    SCOPED_TRACE(link.name);
    int runs = 0;
    for (PlatformOp op : testing::AllPlatformOps()) {
      for (FailMode mode : {FailMode::kOnce, FailMode::kFromThenOn}) {
        const auto report = testing::SweepFaults<EraseArea>(
            op, mode, AreaMaker(link), CopyAndErase, [](EraseArea& area, const FaultRun& run) {
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
    EXPECT_GT(runs, link.min_runs);
  }
}

// After a crash, the next run's erase (here against an empty copy: it may
// only put files back) brings every leftover whose name is free back
// under its message name, and then finishes the erase of what the copy
// holds by a link: no message file is left shared by base and copy.
void ExpectRecovered(EraseArea& area) {
  area.ExpectNothingLost();
  CopyManifest nothing_copied;
  (void)EraseBase("#/area", &nothing_copied);
  area.ExpectNothingLost();
  for (const std::string& aside : area.AsideFiles()) {
    const std::string message = MessageNameOf(aside);
    EXPECT_TRUE(area.disk().Exists(message)) << "not put back: " << aside << "\n" << area.Tree();
  }
  EXPECT_TRUE(FinishSharedErase("#/area", EraseArea::CopyDirectory()).ok()) << area.Tree();
  area.ExpectNothingLost();
  for (int n = 1; n <= 4; ++n) {
    const auto status = area.disk().Stat(EraseArea::File(n));
    EXPECT_TRUE(!status || status->link_count == 1) << "still shared: " << n << "\n" << area.Tree();
  }
}

TEST(MsgDirEraserSweepTest, CrashAtAnyPointLosesNothing) {
  std::vector<PlatformOp> ops = testing::SyncOps();
  ops.push_back(PlatformOp::kRenameNoReplace);
  ops.push_back(PlatformOp::kDeleteFile);
  ops.push_back(PlatformOp::kLink);
  for (const LinkMode& link : kLinkModes) {
    SCOPED_TRACE(link.name);
    int runs = 0;
    for (PlatformOp op : ops) {
      for (auto keeps :
           {MemoryPlatform::CrashKeeps::kNothing, MemoryPlatform::CrashKeeps::kDeletions}) {
        SCOPED_TRACE(keeps == MemoryPlatform::CrashKeeps::kNothing ? "keeps nothing"
                                                                   : "keeps deletions");
        const auto report = testing::SweepCrashes<EraseArea>(
            op, AreaMaker(link), CopyAndErase,
            [](EraseArea& area, const FaultRun&) { ExpectRecovered(area); }, keeps);
        EXPECT_TRUE(report.completed) << testing::OpName(op);
        runs += report.runs;
      }
    }
    EXPECT_GT(runs, 16);
  }
}

}  // namespace
}  // namespace qlr
