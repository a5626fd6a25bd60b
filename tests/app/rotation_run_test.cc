// The rotation run over a platform that fails in the middle of the copy:
// the base must be left untouched and the incomplete copy removed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "app/packer_app.h"
#include "platform/host.h"
#include "testing/fault_injecting_platform.h"
#include "testing/forwarding_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;
using testing::FaultInjectingPlatform;
using testing::PlatformOp;

class RotationRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 1; i <= 3; ++i) {
      dir_.WriteFile("area/" + std::to_string(i) + ".msg", std::string(100000, 'm'));
    }
    app_.MaxMessages = 1;
    app_.BaseLines.push_back(NewStr("#" + dir_.Path("area") + " " + dir_.Path("old")));
  }

  std::string RunCapturingOutput() {
    ::testing::internal::CaptureStdout();
    app_.Run();
    return ::testing::internal::GetCapturedStdout();
  }

  std::string Copy() const { return dir_.Path("old") + PathSeparator() + "00000000"; }
  std::string Spec() const { return "#" + dir_.Path("area"); }

  testing::ScratchDir dir_;
  PackerApp app_;
};

TEST_F(RotationRunTest, FailureAnywhereInTheCopyLeavesTheBaseAsItWas) {
  for (PlatformOp op : {PlatformOp::kWrite, PlatformOp::kShortWrite, PlatformOp::kRead,
                        PlatformOp::kSync, PlatformOp::kOpenFile, PlatformOp::kSyncDirectory}) {
    FaultInjectingPlatform faulty;
    auto installed = faulty.Install();
    faulty.FailCall(op, 2, testing::FailMode::kOnce);
    const std::string out = RunCapturingOutput();
    EXPECT_EQ(out, "processing base [" + Spec() + "]... 3 messages. cannot copy to [" + Copy() +
                       "]! base left as it was.\r\n")
        << static_cast<int>(op);
    EXPECT_EQ(app_.ExitCode(), 1);
    EXPECT_FALSE(fs::exists(Copy())) << static_cast<int>(op);
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(dir_.ReadFile("area/" + std::to_string(i) + ".msg").size(), 100000u);
    }
  }
}

TEST_F(RotationRunTest, EraseThatLeavesMessagesIsNotARotation) {
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kDeleteFile, 1, testing::FailMode::kOnce);
  app_.PackMode = true;
  const std::string out = RunCapturingOutput();
  EXPECT_EQ(out, "processing base [" + Spec() + "]... 3 messages. cannot erase! copy kept in [" +
                     Copy() + "]\r\n");
  EXPECT_EQ(app_.ExitCode(), 1);
  // The archiver was never started, and the copy is complete.
  EXPECT_EQ(faulty.Calls(PlatformOp::kRunCommandInterpreter), 0);
  EXPECT_EQ(dir_.ReadFile("old/00000000/3.msg").size(), 100000u);
}

TEST_F(RotationRunTest, InterpreterThatCannotStartKeepsTheCopy) {
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kRunCommandInterpreter, 1);
  app_.PackMode = true;
  SetStr(app_.ArcAddCommand, "tar -cf @ArcName.tar -C @FileName .");
  SetStr(app_.ArcExtension, "tar");
  const std::string out = RunCapturingOutput();
  EXPECT_EQ(out, "processing base [" + Spec() + "]... 3 messages. copied to [" + Copy() + "]\r\n");
  EXPECT_EQ(app_.ExitCode(), 1);  // nothing was packed
  EXPECT_EQ(dir_.ReadFile("old/00000000/1.msg").size(), 100000u);
  EXPECT_FALSE(fs::exists(dir_.Path("area/1.msg")));
}

TEST_F(RotationRunTest, DirectoryThatCannotBeListedIsNotCountedAsEmpty) {
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kListDirectory, 1);
  const std::string out = RunCapturingOutput();
  EXPECT_EQ(out, "processing base [" + Spec() + "]... cannot open!\r\n");
  // Its messages were never counted: the run did not do its job.
  EXPECT_EQ(app_.ExitCode(), 1);
  EXPECT_FALSE(fs::exists(Copy()));
  EXPECT_EQ(dir_.ReadFile("area/3.msg").size(), 100000u);
}

TEST_F(RotationRunTest, BaseThatCannotBeCreatedLeavesTheExitCodeAlone) {
  dir_.WriteFile("plain", "a file where a directory should be");
  app_.BaseLines.clear();
  app_.BaseLines.push_back(NewStr("#" + dir_.Path("plain/net") + " " + dir_.Path("old")));
  const std::string out = RunCapturingOutput();
  EXPECT_EQ(out, "processing base [#" + dir_.Path("plain/net") + "]... cannot open!\r\n");
  EXPECT_EQ(app_.ExitCode(), 0);
}

// A target directory whose file system keeps whole seconds: times set or
// read under it lose their fraction.
class CoarseTargetPlatform : public testing::ForwardingPlatform {
 public:
  explicit CoarseTargetPlatform(std::string root) : root_(std::move(root)) {}
  std::optional<FileStatus> Stat(std::string_view path) override {
    std::optional<FileStatus> status = inner_.Stat(path);
    if (status && path.starts_with(root_)) status->modified = Round(status->modified);
    return status;
  }
  bool SetModifiedTime(std::string_view path, FileTime time) override {
    return Pass(inner_.SetModifiedTime(path, path.starts_with(root_) ? Round(time) : time));
  }

 private:
  static FileTime Round(FileTime time) {
    constexpr std::int64_t kTicksPerSecond = kHostIsWindows ? 10'000'000 : 1'000'000'000;
    return FileTime{time.ticks - time.ticks % kTicksPerSecond};
  }
  std::string root_;
};

TEST_F(RotationRunTest, TargetWithCoarseTimesGetsEachMessageOnce) {
  // Times with a fraction of a second, which the target cannot keep.
  using namespace std::chrono;
  const auto when =
      floor<seconds>(fs::file_time_type::clock::now()) - seconds(100) + milliseconds(500);
  for (int i = 1; i <= 3; ++i) {
    fs::last_write_time(dir_.Path("area/" + std::to_string(i) + ".msg"), when);
  }
  CoarseTargetPlatform coarse(dir_.Path("old"));
  ScopedPlatform installed(coarse);
  EXPECT_EQ(RunCapturingOutput(),
            "processing base [" + Spec() + "]... 3 messages. copied to [" + Copy() + "]\r\n");
  EXPECT_EQ(app_.ExitCode(), 0);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_FALSE(fs::exists(dir_.Path("area/" + std::to_string(i) + ".msg"))) << i;
  }
  // The next run finds the base empty instead of copying it again.
  EXPECT_EQ(RunCapturingOutput(),
            "processing base [" + Spec() + "]... only 0 messages. let it live.\r\n");
}

}  // namespace
}  // namespace qlr
