// The locks of a run: one run of an installation at a time, and a base
// whose format has a writers' lock is held locked from before its copy
// until its erase is done. Over a memory disk, whose locks conflict
// between handles as the host's do between programs.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/packer_app.h"
#include "msgbase/base_lock.h"
#include "msgbase/format_registry.h"
#include "msgbase/open_contract.h"
#include "platform/host.h"
#include "testing/forwarding_platform.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::MemoryPlatform;

std::string HostPath(std::string_view name) { return PathSeparator() + std::string(name); }

// Another holder of a lock: a handle of its own on the memory disk.
std::unique_ptr<FileHandle> HoldLock(MemoryPlatform& disk, std::string_view path) {
  if (!disk.Exists(path)) disk.WriteFileBytes(path, "");
  auto handle = disk.OpenFile(path, OpenMode::kReadWrite);
  EXPECT_TRUE(handle && handle->TryLock(0, 1)) << path;
  return handle;
}

// Frees a held lock when the run has paused `after` times.
class ReleasingPlatform : public testing::ForwardingPlatform {
 public:
  ReleasingPlatform(MemoryPlatform& disk, std::unique_ptr<FileHandle>* held, int after)
      : ForwardingPlatform(disk), held_(held), after_(after) {}
  void Sleep(int milliseconds) override {
    if (++sleeps_ == after_) held_->reset();
    ForwardingPlatform::Sleep(milliseconds);
  }
  int sleeps() const { return sleeps_; }

 private:
  std::unique_ptr<FileHandle>* held_;
  int after_;
  int sleeps_ = 0;
};

// --- A format with a writers' lock, over one file: every byte of
// base + ".fak" is a message. Its eraser records whether the lock byte
// was held at the moment of the erase.
bool g_locked_during_erase = false;

class FakeBase : public MessageBase {
 public:
  bool Open(std::string_view path) override { return Enter(path, BaseState::kOpened); }
  bool Create(std::string_view path) override { return Enter(path, BaseState::kCreated); }

 private:
  bool Enter(std::string_view path, BaseState state) {
    if (EnterState(path, state)) return true;
    const auto status = Os().Stat(ShortString(path) + ".fak");
    count_ = status ? static_cast<std::int32_t>(status->size) : 0;
    state_ = state;
    return false;
  }
};

Status OpenFake(std::string_view location, std::unique_ptr<MessageBase>* base) {
  auto made = std::make_unique<FakeBase>();
  const bool failed = made->Open(location);
  return ConcludeOpen(std::move(made), failed, base);
}

OpenCourse ForeseeFake(std::string_view) { return OpenCourse::kOpen; }

Status EraseFake(std::string_view location, const CopyManifest*,
                 std::unique_ptr<MessageBase>* emptied) {
  const Status failed(StatusKind::kIoError, location, "cannot be emptied");
  const ShortString file = ShortString(location) + ".fak";
  {
    // Another handle must find the byte locked: the run still holds it.
    auto probe = Os().OpenFile(file, OpenMode::kReadWrite);
    g_locked_during_erase = probe && !probe->TryLock(0, 1);
  }
  auto file_handle = Os().OpenFile(file, OpenMode::kCreate);
  if (!file_handle || !file_handle->Close()) return failed;
  auto base = std::make_unique<FakeBase>();
  if (base->Create(location)) return failed;
  if (emptied != nullptr) *emptied = std::move(base);
  return Status::Ok();
}

constexpr std::array<std::string_view, 1> kFakeExtensions = {".fak"};
const FormatDescriptor kFakeFormat = {
    .name = "fake",
    .type_characters = "K",
    .layout = FileLayout::kFileSet,
    .extensions = kFakeExtensions,
    .message_mask = "",
    .lock_extension = ".fak",
    .open = OpenFake,
    .foresee = ForeseeFake,
    .erase = EraseFake,
};

// Installs the fake format beside the *.MSG directory format for the
// lifetime of the object.
class FakeFormats {
 public:
  FakeFormats() : saved_(AllFormats()) {
    formats_ = {&kFakeFormat, FindDirectoryFormat()};
    InstallFormats(formats_);
  }
  ~FakeFormats() { InstallFormats(saved_); }

 private:
  std::span<const FormatDescriptor* const> saved_;
  std::array<const FormatDescriptor*, 2> formats_{};
};

class RotationLocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_.SetBackslashIsSeparator(PathSeparator() == '\\');
    disk_.WriteFileBytes("/fake/area.fak", "12345");
    for (int i = 1; i <= 2; ++i) disk_.WriteFileBytes("/msgs/" + std::to_string(i) + ".msg", "m");
    app_.MaxMessages = 1;
    app_.RunLockPath = HostPath("qlr.lck");
    app_.BaseLines.push_back(NewStr(FakeSpec() + " " + HostPath("old")));
    app_.BaseLines.push_back(NewStr("#" + HostPath("msgs") + " " + HostPath("old")));
    g_locked_during_erase = false;
  }

  std::string FakeSpec() const { return "K" + HostPath("fake") + PathSeparator() + "area"; }
  std::string Old(std::string_view name) const {
    return HostPath("old") + PathSeparator() + std::string(name);
  }
  std::string Run(Platform& platform) {
    ScopedPlatform installed(platform);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    app_.Run();
    err_ = ::testing::internal::GetCapturedStderr();
    return ::testing::internal::GetCapturedStdout();
  }
  std::string Run() { return Run(disk_); }

  FakeFormats formats_;
  MemoryPlatform disk_;
  PackerApp app_;
  std::string err_;
};

TEST_F(RotationLocksTest, RunThatFindsAnotherRunTouchesNoBase) {
  const auto other_run = HoldLock(disk_, "/qlr.lck");
  const std::int64_t start = disk_.Clock().ticks;
  EXPECT_EQ(Run(), "[" + HostPath("qlr.lck") + "] is held by another run!\r\nexiting...\r\n");
  EXPECT_EQ(app_.ExitCode(), 1);
  EXPECT_EQ(disk_.ReadFileBytes("/fake/area.fak"), "12345");
  EXPECT_TRUE(disk_.Exists("/msgs/2.msg"));
  EXPECT_FALSE(disk_.Exists("/old"));
  // It waited the whole bound before it gave up.
  EXPECT_GE(disk_.Clock().ticks - start,
            std::int64_t{kRunLockWaitMs} * (MemoryPlatform::kTicksPerSecond / 1000));
  EXPECT_NE(err_.find("qlr: waited 10 seconds for the run lock"), std::string::npos) << err_;
}

TEST_F(RotationLocksTest, RunWaitsForAnEarlierRunToEnd) {
  auto other_run = HoldLock(disk_, "/qlr.lck");
  ReleasingPlatform releasing(disk_, &other_run, 3);
  const std::string out = Run(releasing);
  EXPECT_EQ(out, "processing base [" + FakeSpec() + "]... 5 messages. copied to [" +
                     Old("00000000") + "]\r\nprocessing base [#" + HostPath("msgs") +
                     "]... 2 messages. copied to [" + Old("00000001") + "]\r\n");
  EXPECT_EQ(app_.ExitCode(), 0);
  EXPECT_GE(releasing.sleeps(), 3);
  // The lock file stays for the next run.
  EXPECT_TRUE(disk_.Exists("/qlr.lck"));
}

TEST_F(RotationLocksTest, BaseIsHeldLockedUntilItsEraseIsDone) {
  EXPECT_EQ(Run(), "processing base [" + FakeSpec() + "]... 5 messages. copied to [" +
                       Old("00000000") + "]\r\nprocessing base [#" + HostPath("msgs") +
                       "]... 2 messages. copied to [" + Old("00000001") + "]\r\n");
  EXPECT_TRUE(g_locked_during_erase);
  EXPECT_EQ(disk_.ReadFileBytes("/old/00000000/area.fak"), "12345");
  EXPECT_EQ(disk_.ReadFileBytes("/fake/area.fak"), "");
  // Released afterwards: a writer can lock it again.
  EXPECT_TRUE(HoldLock(disk_, "/fake/area.fak"));
}

TEST_F(RotationLocksTest, BusyBaseIsLeftAsItWasAndTheRunGoesOn) {
  const auto tosser = HoldLock(disk_, "/fake/area.fak");
  EXPECT_EQ(Run(), "processing base [" + FakeSpec() +
                       "]... 5 messages. base is busy! left as it was.\r\nprocessing base [#" +
                       HostPath("msgs") + "]... 2 messages. copied to [" + Old("00000000") +
                       "]\r\n");
  EXPECT_EQ(app_.ExitCode(), 1);
  EXPECT_EQ(disk_.ReadFileBytes("/fake/area.fak"), "12345");
  EXPECT_FALSE(disk_.Exists("/old/00000000/area.fak"));
  EXPECT_NE(err_.find("stayed locked by another program"), std::string::npos) << err_;
}

TEST_F(RotationLocksTest, WriterThatFinishesInTimeDoesNotMakeTheBaseBusy) {
  auto tosser = HoldLock(disk_, "/fake/area.fak");
  ReleasingPlatform releasing(disk_, &tosser, 2);
  const std::string out = Run(releasing);
  EXPECT_EQ(out.find("busy"), std::string::npos) << out;
  EXPECT_EQ(disk_.ReadFileBytes("/old/00000000/area.fak"), "12345");
}

TEST(BaseLock, LocksTheFileUnderTheNameItHas) {
  MemoryPlatform disk;
  ScopedPlatform installed(disk);
  // Moved from DOS in upper case; Windows finds any case by itself.
  const std::string file = kHostIsWindows ? "/fake/area.fak" : "/fake/AREA.FAK";
  disk.WriteFileBytes(file, "x");
  BaseLock lock;
  ASSERT_FALSE(lock.Acquire(kFakeFormat, "/fake/area", 0));
  EXPECT_TRUE(lock.Held());
  EXPECT_EQ(lock.LockFile(), file);
  // A second holder, as a tosser would be, finds it busy.
  BaseLock other;
  EXPECT_TRUE(other.Acquire(kFakeFormat, "/fake/area", 300));
  EXPECT_TRUE(other.Busy());
  lock.Release();
  EXPECT_FALSE(other.Acquire(kFakeFormat, "/fake/area", 0));
}

TEST(BaseLock, FormatWithoutLockConventionHoldsNothing) {
  MemoryPlatform disk;
  ScopedPlatform installed(disk);
  FormatDescriptor unlocked = kFakeFormat;
  unlocked.lock_extension = "";
  BaseLock lock;
  EXPECT_FALSE(lock.Acquire(unlocked, "/nowhere/area", 0));
  EXPECT_FALSE(lock.Held());
  // A missing lock file is a failure, not "busy".
  EXPECT_TRUE(lock.Acquire(kFakeFormat, "/nowhere/area", 0));
  EXPECT_FALSE(lock.Busy());
}

}  // namespace
}  // namespace qlr
