#include "msgbase/squish/squish_base.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "msgbase/base_file_images.h"
#include "support/coding.h"
#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

// Exposes the two streams so tests can see what Open left behind.
class ProbedSquishBase : public SquishBase {
 public:
  using SquishBase::DataStream;
  using SquishBase::IndexStream;
};

using testing::Put32;
using testing::SquishRecords;

using testing::SquishEmptyHeader;
using testing::SquishFramesOf;
using testing::SquishHeaderWithNumMsg;

// ---- Create ----

TEST(SquishBaseCreateTest, WritesTheHeaderOfAnEmptyBase) {
  testing::ScratchDir dir;
  SquishBase base;
  EXPECT_FALSE(base.Create(dir.Path("area")));
  EXPECT_EQ(base.State(), BaseState::kCreated);
  EXPECT_EQ(base.Count(), 0);
  EXPECT_EQ(base.Path(), dir.Path("area"));
  EXPECT_EQ(dir.ReadFile("area.sqd"), SquishEmptyHeader());
  EXPECT_EQ(dir.ReadFile("area.sqi"), "");
}

TEST(SquishBaseCreateTest, TruncatesAnExistingBase) {
  testing::ScratchDir dir;
  dir.WriteFile("area.sqd", SquishHeaderWithNumMsg(5, 9000));
  dir.WriteFile("area.sqi", std::string(60, 'i'));
  SquishBase base;
  EXPECT_FALSE(base.Create(dir.Path("area")));
  EXPECT_EQ(dir.ReadFile("area.sqd"), SquishEmptyHeader());
  EXPECT_EQ(dir.ReadFile("area.sqi"), "");
  EXPECT_EQ(base.Count(), 0);
}

TEST(SquishBaseCreateTest, AfterOpenEmptiesTheCountsButKeepsTheSettings) {
  testing::ScratchDir dir;
  std::string old = SquishHeaderWithNumMsg(7, SquishFramesOf(7));
  Put32(old, 8, 9);       // HighMsg
  Put32(old, 20, 40);     // Uid
  old[24] = 'N';          // BaseName
  Put32(old, 108, 400);   // LastFrame
  Put32(old, 112, 300);   // FreeFrame
  Put32(old, 116, 350);   // LastFreeFrame
  Put32(old, 124, 1000);  // MaxMsg
  dir.WriteFile("area.sqd", old);
  dir.WriteFile("area.sqi", SquishRecords(7));
  SquishBase base;
  ASSERT_FALSE(base.Open(dir.Path("area")));
  ASSERT_EQ(base.Count(), 7);

  EXPECT_FALSE(base.Create(dir.Path("area")));
  EXPECT_EQ(base.Count(), 0);
  std::string expected = SquishEmptyHeader();
  expected[24] = 'N';
  Put32(expected, 124, 1000);
  EXPECT_EQ(dir.ReadFile("area.sqd"), expected);
}

TEST(SquishBaseCreateTest, ThenOpenGivesAnOpenedEmptyBase) {
  testing::ScratchDir dir;
  SquishBase base;
  ASSERT_FALSE(base.Create(dir.Path("new/sub/area")));
  EXPECT_FALSE(base.Open(dir.Path("new/sub/area")));
  EXPECT_EQ(base.State(), BaseState::kOpened);
  EXPECT_EQ(base.Count(), 0);
  EXPECT_EQ(base.BaseHeader().uid, kSquishFirstUid);
  EXPECT_EQ(dir.ReadFile("new/sub/area.sqd"), SquishEmptyHeader());
}

TEST(SquishBaseCreateTest, ReportsAHeaderThatDidNotReachTheFile) {
  testing::ScratchDir dir;
  const struct {
    testing::PlatformOp op;
    int nth;
  } faults[] = {{testing::PlatformOp::kOpenFile, 1},
                {testing::PlatformOp::kOpenFile, 2},
                {testing::PlatformOp::kWrite, 1},
                {testing::PlatformOp::kShortWrite, 1}};
  for (const auto& fault : faults) {
    testing::FaultInjectingPlatform faulty;
    auto installed = faulty.Install();
    faulty.FailCall(fault.op, fault.nth);
    SquishBase base;
    EXPECT_TRUE(base.Create(dir.Path("area"))) << static_cast<int>(fault.op) << " " << fault.nth;
    EXPECT_EQ(base.State(), BaseState::kOpenError);
    EXPECT_EQ(base.Count(), 0);
  }
}

// ---- Open ----

TEST(SquishBaseOpenFailureTest, AReopenAfterAFailureStartsAfresh) {
  testing::ScratchDir dir;
  dir.WriteFile("good.sqd", SquishHeaderWithNumMsg(5, SquishFramesOf(5)));
  dir.WriteFile("good.sqi", SquishRecords(5));
  dir.WriteFile("bad.sqd", SquishHeaderWithNumMsg(5, 100));
  ProbedSquishBase base;
  ASSERT_FALSE(base.Open(dir.Path("good")));
  EXPECT_TRUE(base.Open(dir.Path("bad")));
  EXPECT_EQ(base.Count(), 0);
  EXPECT_EQ(base.DataStream(), nullptr);
  EXPECT_FALSE(base.Open(dir.Path("good")));
  EXPECT_EQ(base.Count(), 5);
  EXPECT_EQ(base.State(), BaseState::kOpened);
}

TEST(SquishBaseTest, ResetStreamsClearsBothStreams) {
  testing::ScratchDir dir;
  dir.WriteFile("area.sqd", SquishHeaderWithNumMsg(2));  // no ".sqi"
  ProbedSquishBase base;
  ASSERT_FALSE(base.Open(dir.Path("area")));
  std::uint8_t byte = 0;
  base.DataStream()->Seek(256);
  base.DataStream()->Read(&byte, 1);  // past the end
  ASSERT_FALSE(base.DataStream()->Ok());
  ASSERT_FALSE(base.IndexStream()->Ok());  // the missing file
  base.ResetStreams();
  EXPECT_TRUE(base.DataStream()->Ok());
  EXPECT_TRUE(base.IndexStream()->Ok());
}

// ---- File names ----

TEST(SquishBaseTest, AnyFileExists) {
  testing::ScratchDir dir;
  EXPECT_FALSE(SquishBase::AnyFileExists(dir.Path("area")));
  dir.WriteFile("area.sqi", "");
  EXPECT_TRUE(SquishBase::AnyFileExists(dir.Path("area")));
  dir.WriteFile("other.sqd", "");
  EXPECT_TRUE(SquishBase::AnyFileExists(dir.Path("other")));
#ifndef _WIN32
  dir.WriteFile("UPPER.SQD", "");
  EXPECT_TRUE(SquishBase::AnyFileExists(dir.Path("upper")));
#endif
  ASSERT_EQ(SquishBase::kExtensions.size(), 2u);
  EXPECT_EQ(SquishBase::kExtensions[0], ".sqd");
  EXPECT_EQ(SquishBase::kExtensions[1], ".sqi");
}

}  // namespace
}  // namespace qlr
