#include "msgbase/base_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;
using testing::FaultInjectingPlatform;
using testing::PlatformOp;

const std::string kSep(1, PathSeparator());

class BaseFilesTest : public ::testing::Test {
 protected:
  // A *.msg area with two messages, a file that is no message and a
  // subdirectory.
  std::string MakeMsgArea() {
    dir_.WriteFile("area/1.msg", std::string(300, 'a'));
    dir_.WriteFile("area/2.msg", std::string(70000, 'b'));
    dir_.WriteFile("area/lastread", "7");
    dir_.WriteFile("area/sub/3.msg", "c");
    return dir_.Path("area");
  }

  testing::ScratchDir dir_;
};

TEST_F(BaseFilesTest, CopiesEveryFileOfAMsgAreaButNoSubdirectory) {
  const std::string area = MakeMsgArea();
  const std::string copy = dir_.Path("old/00000000");
  EXPECT_FALSE(CopyBaseFiles("#" + area, copy));
  EXPECT_EQ(dir_.ReadFile("old/00000000/1.msg"), std::string(300, 'a'));
  EXPECT_EQ(dir_.ReadFile("old/00000000/2.msg"), std::string(70000, 'b'));
  EXPECT_EQ(dir_.ReadFile("old/00000000/lastread"), "7");
  EXPECT_FALSE(fs::exists(copy + kSep + "sub"));
}

TEST_F(BaseFilesTest, CopiesTheFileSetOfSingleFileFormats) {
  const struct {
    const char* spec_prefix;
    std::vector<std::string> present;
    std::vector<std::string> copied;
  } cases[] = {
      // A missing .jdx is skipped; the other two are still copied.
      {"!", {"MY.AREA.jhr", "MY.AREA.jdt", "MY.AREA.jlr"}, {"MY.AREA.jhr", "MY.AREA.jdt"}},
      {"$", {"MY.AREA.sqd", "MY.AREA.sqi", "MY.AREA.sql"}, {"MY.AREA.sqd", "MY.AREA.sqi"}},
      {"P", {"MY.AREA.pkt"}, {"MY.AREA.pkt"}},
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string sub = "set" + std::to_string(n++);
    for (const std::string& f : c.present) dir_.WriteFile(sub + "/" + f, f);
    const std::string target = dir_.Path(sub + "/copy");
    EXPECT_FALSE(CopyBaseFiles(c.spec_prefix + dir_.Path(sub + "/MY.AREA"), target));
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(target)) {
      found.push_back(e.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> expected = c.copied;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected) << c.spec_prefix;
  }
}

TEST_F(BaseFilesTest, DestinationThatCannotBeMadeCopiesNothing) {
  const std::string area = MakeMsgArea();
  dir_.WriteFile("blocker", "a file, not a directory");
  EXPECT_TRUE(CopyBaseFiles("#" + area, dir_.Path("blocker/00000000")));
  EXPECT_TRUE(CopyBaseFiles("", dir_.Path("x")));
  EXPECT_TRUE(CopyBaseFiles("C:\\X.DAT", dir_.Path("y")));
}

TEST_F(BaseFilesTest, AFailedWriteAnywhereIsReported) {
  const std::string area = MakeMsgArea();
  for (PlatformOp op : {PlatformOp::kWrite, PlatformOp::kShortWrite, PlatformOp::kSync,
                        PlatformOp::kSyncDirectory}) {
    FaultInjectingPlatform faulty;
    auto installed = faulty.Install();
    faulty.FailCall(op, 2);
    const std::string copy = dir_.Path("fail" + std::to_string(static_cast<int>(op)));
    EXPECT_TRUE(CopyBaseFiles("#" + area, copy)) << static_cast<int>(op);
    EXPECT_GT(faulty.Failures(), 0);
  }
}

TEST_F(BaseFilesTest, EraseRemovesMessagesAndLeavesOtherFiles) {
  const std::string area = MakeMsgArea();
  auto base = EraseBase("#" + area);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->State(), BaseState::kCreated);
  EXPECT_EQ(base->Count(), 0);
  EXPECT_FALSE(fs::exists(area + kSep + "1.msg"));
  EXPECT_FALSE(fs::exists(area + kSep + "2.msg"));
  EXPECT_TRUE(fs::exists(area + kSep + "lastread"));
  EXPECT_TRUE(fs::exists(area + kSep + "sub" + kSep + "3.msg"));
}

TEST_F(BaseFilesTest, EraseAfterACopyKeepsMessagesTheCopyDoesNotHold) {
  const std::string area = MakeMsgArea();
  const std::string copy = dir_.Path("old/00000000");
  ASSERT_FALSE(CopyBaseFiles("#" + area, copy));
  // A tosser writes between the copy and the erase: a new message, and a
  // new text for message 1.
  dir_.WriteFile("area/4.msg", "arrived late");
  dir_.WriteFile("area/1.msg", "rewritten");
  auto base = EraseBase("#" + area, copy);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->Count(), 4);
  EXPECT_EQ(dir_.ReadFile("area/4.msg"), "arrived late");
  EXPECT_EQ(dir_.ReadFile("area/1.msg"), "rewritten");
  EXPECT_FALSE(fs::exists(area + kSep + "2.msg"));
  EXPECT_EQ(dir_.ReadFile("old/00000000/2.msg"), std::string(70000, 'b'));
}

TEST_F(BaseFilesTest, EraseThatLeavesAMessageBehindFails) {
  const std::string area = MakeMsgArea();
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kDeleteFile, 1, testing::FailMode::kOnce);
  EXPECT_EQ(EraseBase("#" + area), nullptr);
}

TEST_F(BaseFilesTest, EraseOfAnUnknownFormatTouchesNothing) {
  const std::string area = MakeMsgArea();
  EXPECT_EQ(EraseBase("C:\\X.DAT"), nullptr);
  EXPECT_EQ(EraseBase(""), nullptr);
  EXPECT_TRUE(fs::exists(area + kSep + "1.msg"));
}

}  // namespace
}  // namespace qlr
