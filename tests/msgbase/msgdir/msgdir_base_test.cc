#include "msgbase/msgdir/msgdir_base.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

const std::string kSep(1, PathSeparator());

TEST(MsgDirBaseTest, IsValidMsgAsksTheFileSystem) {
  testing::ScratchDir dir;
  dir.WriteFile("area/2.msg", "x");
  dir.WriteFile("area/10.msg", "x");
  std::filesystem::create_directories(dir.Path("area/5.msg"));
  MsgDirBase base;
  // Not opened yet: a closed object still answers from the files.
  EXPECT_TRUE(base.Create(dir.Path("area") + kSep + "*.msg") == false);
  EXPECT_EQ(base.State(), BaseState::kCreated);
  const struct {
    std::int32_t number;
    bool valid;
  } cases[] = {{-1, false}, {0, false}, {2, true}, {5, false}, {10, true}, {11, false}};
  for (const auto& c : cases) EXPECT_EQ(base.IsValidMsg(c.number), c.valid) << c.number;
  EXPECT_EQ(base.MsgFileName(7), dir.Path("area") + kSep + "7.msg");
  EXPECT_EQ(base.NextMsgFileName(), dir.Path("area") + kSep + "11.msg");
}

TEST(MsgDirBaseTest, DirectoryThatCannotBeListedIsAnOpenError) {
  testing::ScratchDir dir;
  dir.WriteFile("area/4.msg", "x");
  const std::string path = dir.Path("area") + kSep + "*.msg";
  for (const bool create : {false, true}) {
    testing::FaultInjectingPlatform faulty;
    auto installed = faulty.Install();
    faulty.FailCall(testing::PlatformOp::kListDirectory, 1);
    MsgDirBase base;
    EXPECT_TRUE(create ? base.Create(path) : base.Open(path)) << create;
    EXPECT_EQ(base.State(), BaseState::kOpenError);
    EXPECT_EQ(base.Count(), 0);
    // A name guessed without the listing could be that of 4.msg.
    EXPECT_EQ(base.NextMsgFileName(), "");
  }
}

}  // namespace
}  // namespace qlr
