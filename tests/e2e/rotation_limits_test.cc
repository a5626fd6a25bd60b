// The real program against other runs and the system's limits: a second
// run waits for the first and gives up without touching any base, and a
// file-size limit makes the copy fail with a message instead of killing
// the program.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

#include "e2e/qlr_fixture.h"
#include "platform/platform.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

class RotationLimitsTest : public QlrFixture {
 protected:
  std::string Sep() const { return std::string(1, fs::path::preferred_separator); }
  std::string Counted() { return kBanner + ("processing base [#" + Path("a") + "]... "); }
  // Takes the run lock as a running qlr would.
  std::unique_ptr<FileHandle> HoldRunLock() {
    auto handle = HostPlatform().OpenFile(Path("bin/qlr.lck"), OpenMode::kCreate);
    EXPECT_TRUE(handle != nullptr);
    if (!handle) return nullptr;
    if (const Status locked = handle->TryLock(0, 1); !locked) {
      ADD_FAILURE() << "cannot lock: " << locked.ToString();
      return nullptr;
    }
    return handle;
  }
};

TEST_F(RotationLimitsTest, SecondRunGivesUpWithoutTouchingAnyBase) {
  MakeMsgArea("a", 3);
  WriteControlFile({"MaxMessages 1", "Base #" + Path("a") + " " + Path("old")});
  const auto first_run = HoldRunLock();
  ASSERT_TRUE(first_run);
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + ("[" + Path("bin") + Sep() +
                              "qlr.lck] is held by another run!\r\nexiting...\r\n"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(FileCount("a"), 3);
  EXPECT_FALSE(Exists("old"));
}

TEST_F(RotationLimitsTest, SecondRunWaitsUntilTheFirstEnds) {
  MakeMsgArea("a", 3);
  WriteControlFile({"MaxMessages 1", "Base #" + Path("a") + " " + Path("old")});
  auto first_run = HoldRunLock();
  ASSERT_TRUE(first_run);
  std::thread first_ends([&] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    first_run.reset();
  });
  const ProgramResult r = Run({"/c"});
  first_ends.join();
  EXPECT_EQ(r.out, Counted() + "3 messages. copied to [" + Path("old") + Sep() + "00000000]\r\n");
  EXPECT_EQ(r.exit_code, 0);
  // The lock file is never removed: the next run opens the same file.
  EXPECT_TRUE(Exists("bin/qlr.lck"));
}

#ifndef _WIN32
TEST_F(RotationLimitsTest, FileSizeLimitFailsTheCopyWithAMessage) {
  fs::create_directories(Path("a"));
  dir_.WriteFile("a/1.msg", std::string(300000, 'm'));
  dir_.WriteFile("a/2.msg", "small");
  // On the base's own file system the messages are linked, not written:
  // the target lies on another one, where they must be copied.
  std::error_code error;
  const fs::path shm = fs::path("/dev/shm") / ("qlr-limits." + std::to_string(::getpid()));
  if (!fs::create_directories(shm, error) || error ||
      fs::status(shm).type() != fs::file_type::directory) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  struct ShmGone {
    fs::path path;
    ~ShmGone() { fs::remove_all(path); }
  } shm_gone{shm};
  const std::string old = (shm / "old").string();
  WriteControlFile({"MaxMessages 1", "Base #" + Path("a") + " " + old});
  // 100 blocks of 512 bytes (dash) or 1024 bytes (bash): either way less
  // than the large message.
  const ProgramResult r =
      RunProgram("/bin/sh", {"-c", "ulimit -f 100; exec \"$0\" /c", binary_}, Path(""));
  EXPECT_EQ(r.out, Counted() + "2 messages. cannot copy to [" + old + Sep() +
                       "00000000]! base left as it was.\r\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("qlr: cannot copy to [" + old + Sep() + "00000000]: ", 0), 0u) << r.err;
  EXPECT_EQ(dir_.ReadFile("a/1.msg").size(), 300000u);
  EXPECT_EQ(dir_.ReadFile("a/2.msg"), "small");
  EXPECT_FALSE(fs::exists(old + "/00000000"));
}
#endif

}  // namespace
}  // namespace qlr::testing
