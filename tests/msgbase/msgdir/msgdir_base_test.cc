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

struct CountCase {
  std::vector<std::string> files;  // a trailing "/" makes a directory
  std::int32_t count;
};

class MsgDirCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(MsgDirCountTest, CountIsTheHighestNumber) {
  testing::ScratchDir dir;
  std::filesystem::create_directories(dir.Path("area"));
  for (const std::string& name : GetParam().files) {
    if (name.back() == '/') {
      std::filesystem::create_directories(dir.Path("area/" + name));
    } else {
      dir.WriteFile("area/" + name, "x");
    }
  }
  MsgDirBase base;
  EXPECT_FALSE(base.Open(dir.Path("area") + kSep + "*.msg"));
  EXPECT_EQ(base.Count(), GetParam().count);
  EXPECT_EQ(base.State(), BaseState::kOpened);
}

INSTANTIATE_TEST_SUITE_P(
    Files, MsgDirCountTest,
    ::testing::Values(CountCase{{}, 0}, CountCase{{"1.msg", "0003.msg", "x.msg"}, 3},
                      CountCase{{"2.msg", "10.msg"}, 10}, CountCase{{"7.old.msg"}, 7},
                      CountCase{{"3.msg", "5.msg/"}, 5}, CountCase{{"notes.msg", "readme.txt"}, 0},
                      CountCase{{"-4.msg", "1.msg"}, 1}, CountCase{{"2147483647.msg"}, 2147483647},
                      CountCase{{"99999999999.msg", "4.msg"}, 4}));

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

TEST(MsgDirBaseTest, MaskCaseFollowsTheFileSystem) {
  testing::ScratchDir dir;
  dir.WriteFile("area/12.MSG", "x");
  MsgDirBase base;
  EXPECT_FALSE(base.Open(dir.Path("area") + kSep + "*.msg"));
#ifdef _WIN32
  EXPECT_EQ(base.Count(), 12);
#else
  EXPECT_EQ(base.Count(), 0);  // names are case-sensitive on POSIX
#endif
}

TEST(MsgDirBaseTest, MissingDirectoryIsCreatedEmpty) {
  testing::ScratchDir dir;
  MsgDirBase base;
  EXPECT_FALSE(base.Open(dir.Path("new/area") + kSep + "*.msg"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path("new/area")));
  EXPECT_EQ(base.Count(), 0);
}

TEST(MsgDirBaseTest, UncreatableDirectoryLeavesAClosedEmptyBase) {
  testing::ScratchDir dir;
  dir.WriteFile("blocker", "x");
  MsgDirBase base;
  EXPECT_FALSE(base.Open(dir.Path("blocker/area") + kSep + "*.msg"));
  EXPECT_EQ(base.State(), BaseState::kClosed);
  EXPECT_EQ(base.Count(), 0);
  EXPECT_TRUE(base.Path().empty());
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
