#include "msgbase/jam/jam_base.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "msgbase/jam/jam_base.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

// A platform over the host's that keeps byte-range locks in a table of its
// own, so lock conflicts can be tested where the host has no locks yet,
// and whose Sleep only records the pause (the waiting loop is tested
// without waiting). A hook runs at every pause, standing in for the other
// program that eventually lets go.
class LockTablePlatform final : public Platform {
 public:
  class File final : public FileHandle {
   public:
    File(std::unique_ptr<FileHandle> inner, LockTablePlatform& owner, std::string path)
        : inner_(std::move(inner)), owner_(owner), path_(std::move(path)) {}
    ~File() override { Release(); }

    bool Read(void* b, std::size_t n, std::size_t* got) override { return inner_->Read(b, n, got); }
    bool Write(const void* b, std::size_t n, std::size_t* written) override {
      return inner_->Write(b, n, written);
    }
    bool ReadAt(std::uint64_t offset, void* b, std::size_t n, std::size_t* got) override {
      return inner_->ReadAt(offset, b, n, got);
    }
    bool WriteAt(std::uint64_t offset, const void* b, std::size_t n,
                 std::size_t* written) override {
      return inner_->WriteAt(offset, b, n, written);
    }
    bool Seek(std::uint64_t position) override { return inner_->Seek(position); }
    bool Size(std::uint64_t* size) override { return inner_->Size(size); }
    bool Truncate(std::uint64_t size) override { return inner_->Truncate(size); }
    bool Sync() override { return inner_->Sync(); }
    bool Close() override {
      Release();
      return inner_->Close();
    }
    bool TryLock(std::uint64_t offset, std::uint64_t length) override {
      if (offset != 0 || length != 1) return Fail(Status::Invalid(path_, "only byte 0"));
      auto [it, inserted] = owner_.holders_.emplace(path_, this);
      if (!inserted && it->second != this) return Fail(Status(StatusKind::kBusy, path_, "held"));
      return true;
    }
    bool Unlock(std::uint64_t, std::uint64_t) override {
      const bool held = Holds();
      Release();
      return held ? true : Fail(Status::Invalid(path_, "not locked"));
    }

   private:
    bool Holds() const {
      const auto it = owner_.holders_.find(path_);
      return it != owner_.holders_.end() && it->second == this;
    }
    void Release() {
      if (Holds()) owner_.holders_.erase(path_);
    }

    std::unique_ptr<FileHandle> inner_;
    LockTablePlatform& owner_;
    std::string path_;
  };

  std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) override {
    std::unique_ptr<FileHandle> inner = host_.OpenFile(path, mode);
    if (inner == nullptr) {
      Fail(host_.LastError());
      return nullptr;
    }
    return std::make_unique<File>(std::move(inner), *this, std::string(path));
  }
  bool DeleteFile(std::string_view path) override { return host_.DeleteFile(path); }
  std::optional<FileStatus> Stat(std::string_view path) override { return host_.Stat(path); }
  bool SetAttributes(std::string_view path, std::uint8_t attributes) override {
    return host_.SetAttributes(path, attributes);
  }
  bool RestoreNativeMode(std::string_view path, std::uint32_t mode) override {
    return host_.RestoreNativeMode(path, mode);
  }
  bool SetModifiedTime(std::string_view path, FileTime time) override {
    return host_.SetModifiedTime(path, time);
  }
  bool SameFile(std::string_view a, std::string_view b) override { return host_.SameFile(a, b); }
  bool ListDirectory(std::string_view directory, std::string_view pattern,
                     std::vector<DirEntry>* entries) override {
    return host_.ListDirectory(directory, pattern, entries);
  }
  bool MakeDirectory(std::string_view path) override { return host_.MakeDirectory(path); }
  bool RemoveDirectory(std::string_view path) override { return host_.RemoveDirectory(path); }
  bool SyncDirectory(std::string_view path) override { return host_.SyncDirectory(path); }
  std::string ExecutablePath() override { return host_.ExecutablePath(); }
  std::optional<std::string> GetEnvironment(std::string_view name) override {
    return host_.GetEnvironment(name);
  }
  ProcessResult RunCommandInterpreter(std::string_view tail) override {
    return host_.RunCommandInterpreter(tail);
  }
  void Sleep(int milliseconds) override {
    slept_ms_ += milliseconds;
    ++pauses_;
    if (on_pause_) on_pause_(pauses_);
  }
  LocalTime Now() override { return host_.Now(); }

  int slept_ms() const { return slept_ms_; }
  int pauses() const { return pauses_; }
  void OnPause(std::function<void(int)> hook) { on_pause_ = std::move(hook); }

 private:
  Platform& host_ = HostPlatform();
  std::map<std::string, File*> holders_;
  int slept_ms_ = 0;
  int pauses_ = 0;
  std::function<void(int)> on_pause_;
};

class JamLockTest : public ::testing::Test {
 protected:
  JamLockTest() : installed_(platform_) {
    base_path_ = dir_.Path("area");
    EXPECT_FALSE(base_.Create(base_path_));
  }

  // Another program's lock on the base, through its own handle.
  std::unique_ptr<FileHandle> OtherHolder() {
    auto handle = Os().OpenFile(base_path_ + ".jhr", OpenMode::kReadWrite);
    EXPECT_NE(handle, nullptr);
    if (handle != nullptr) {
      EXPECT_TRUE(handle->TryLock(0, 1));
    }
    return handle;
  }

  LockTablePlatform platform_;
  ScopedPlatform installed_;
  testing::ScratchDir dir_;
  std::string base_path_;
  JamBase base_;
};

TEST_F(JamLockTest, FreeBaseIsLockedAtOnceAndShutsOthersOut) {
  EXPECT_FALSE(base_.LockBase(1000));
  EXPECT_TRUE(base_.Locked());
  EXPECT_EQ(platform_.pauses(), 0);
  // The lock is held on the file, not on this object.
  auto other = Os().OpenFile(base_path_ + ".jhr", OpenMode::kReadWrite);
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(other->TryLock(0, 1));
  base_.UnlockBase();
  EXPECT_FALSE(base_.Locked());
  EXPECT_TRUE(other->TryLock(0, 1));
}

TEST_F(JamLockTest, WaitIsBoundedByTheTimeout) {
  const auto other = OtherHolder();
  // Three whole pauses and a half one: the last pause is cut to what is
  // left.
  const int timeout_ms = 3 * kLockRetryStepMs + kLockRetryStepMs / 2;
  EXPECT_TRUE(base_.LockBase(timeout_ms));
  EXPECT_FALSE(base_.Locked());
  EXPECT_EQ(base_.LockError().kind(), StatusKind::kBusy);
  EXPECT_EQ(platform_.slept_ms(), timeout_ms);
  EXPECT_EQ(platform_.pauses(), 4);
}

TEST_F(JamLockTest, ZeroTimeoutTriesOnce) {
  const auto other = OtherHolder();
  EXPECT_TRUE(base_.LockBase(0));
  EXPECT_EQ(platform_.pauses(), 0);
}

TEST_F(JamLockTest, LockIsTakenWhenTheOtherHolderLetsGo) {
  auto other = OtherHolder();
  platform_.OnPause([&](int pause) {
    if (pause == 3) other.reset();
  });
  EXPECT_FALSE(base_.LockBase(1000));
  EXPECT_TRUE(base_.Locked());
  EXPECT_EQ(platform_.pauses(), 3);
}

TEST_F(JamLockTest, LockOutlivesCreateAndEndsWithTheObject) {
  {
    JamBase erasing;
    ASSERT_FALSE(erasing.Open(base_path_));
    ASSERT_FALSE(erasing.LockBase(0));
    // Emptying the base (the erase after a copy) keeps the lock.
    ASSERT_FALSE(erasing.Create(base_path_));
    EXPECT_TRUE(erasing.Locked());
    EXPECT_TRUE(base_.LockBase(0));
  }
  EXPECT_FALSE(base_.LockBase(0));
}

TEST_F(JamLockTest, BaseThatIsNotOpenCannotBeLocked) {
  JamBase closed;
  EXPECT_TRUE(closed.LockBase(100));
  JamBase missing;
  EXPECT_TRUE(missing.Open(dir_.Path("none")));
  EXPECT_TRUE(missing.LockBase(100));
  EXPECT_EQ(platform_.pauses(), 0);
}

TEST(JamHostLockTest, FailsAtOnceWithoutLocksOrConflictsWithThem) {
  testing::ScratchDir dir;
  JamBase a;
  JamBase b;
  ASSERT_FALSE(a.Create(dir.Path("area")));
  ASSERT_FALSE(b.Open(dir.Path("area")));
  if (a.LockBase(0)) {
    // A system without byte-range locks says so at once.
    if (a.LockError().kind() == StatusKind::kNotSupported) {
      GTEST_SKIP() << "host has no locks: " << a.LockError().ToString();
    }
    FAIL() << a.LockError().ToString();
  }
  EXPECT_TRUE(b.LockBase(0));
  EXPECT_EQ(b.LockError().kind(), StatusKind::kBusy);
  a.UnlockBase();
  EXPECT_FALSE(b.LockBase(0));
}

}  // namespace
}  // namespace qlr
