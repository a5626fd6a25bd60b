// POSIX-only parts of the platform contract: locks against other processes'
// classic fcntl locks, locks that survive closing another descriptor, short
// writes, and the errno mapping.
#if !defined(_WIN32)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/posix/posix_error.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using testing::ScratchDir;

// A classic fcntl write lock on byte 0, the way other FTN programs lock.
int ClassicLock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  return ::fcntl(fd, F_SETLK, &lock);
}

// Exit codes of the probing child.
constexpr int kChildGotLock = 10;
constexpr int kChildConflict = 11;
constexpr int kChildError = 12;

// Whether another process can take a classic write lock on byte 0 of
// `path` right now: a child process tries it and reports.
int ProbeFromChild(const std::string& path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0) ::_exit(kChildError);
    if (ClassicLock(fd, F_WRLCK) == 0) ::_exit(kChildGotLock);
    ::_exit(errno == EAGAIN || errno == EACCES ? kChildConflict : kChildError);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(PlatformContractPosixTest, OurLockConflictsWithOtherProgramsLocks) {
  ScratchDir dir;
  dir.WriteFile("base.jhr", "header");
  const std::string path = dir.Path("base.jhr");
  auto file = HostPlatform().OpenFile(path, OpenMode::kReadWrite);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(ProbeFromChild(path), kChildGotLock);
  ASSERT_TRUE(file->TryLock(0, 1));
  EXPECT_EQ(ProbeFromChild(path), kChildConflict);
  ASSERT_TRUE(file->Unlock(0, 1));
  EXPECT_EQ(ProbeFromChild(path), kChildGotLock);

  // A read-only handle's shared lock keeps writers out as well.
  auto reader = HostPlatform().OpenFile(path, OpenMode::kRead);
  ASSERT_NE(reader, nullptr);
  ASSERT_TRUE(reader->TryLock(0, 1));
  EXPECT_EQ(ProbeFromChild(path), kChildConflict);
}

#if defined(F_OFD_SETLK)
TEST(PlatformContractPosixTest, LockSurvivesClosingAnotherDescriptorOfTheFile) {
  ScratchDir dir;
  dir.WriteFile("base.sqd", "data");
  const std::string path = dir.Path("base.sqd");
  auto holder = HostPlatform().OpenFile(path, OpenMode::kReadWrite);
  ASSERT_NE(holder, nullptr);
  ASSERT_TRUE(holder->TryLock(0, 1));

  // A classic process lock would be dropped by either close.
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::close(fd), 0);
  auto passer_by = HostPlatform().OpenFile(path, OpenMode::kRead);
  ASSERT_NE(passer_by, nullptr);
  ASSERT_TRUE(passer_by->Close());

  EXPECT_EQ(ProbeFromChild(path), kChildConflict);
  auto other = HostPlatform().OpenFile(path, OpenMode::kReadWrite);
  ASSERT_NE(other, nullptr);
  EXPECT_FALSE(other->TryLock(0, 1));
}
#endif

TEST(PlatformContractPosixTest, LockHeldByAnotherProcessIsBusyUntilItEnds) {
  ScratchDir dir;
  dir.WriteFile("base.jhr", "header");
  const std::string path = dir.Path("base.jhr");
  int locked[2];
  int release[2];
  ASSERT_EQ(::pipe(locked), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The other program: lock, tell the parent, hold until told to end.
    ::close(locked[0]);
    ::close(release[1]);
    const int fd = ::open(path.c_str(), O_RDWR);
    const char ok = fd >= 0 && ClassicLock(fd, F_WRLCK) == 0 ? 'L' : 'E';
    if (::write(locked[1], &ok, 1) != 1) ::_exit(1);
    char ignored;
    const ssize_t n = ::read(release[0], &ignored, 1);
    ::_exit(n < 0 ? 1 : 0);
  }
  ::close(locked[1]);
  ::close(release[0]);
  char state = 0;
  ASSERT_EQ(::read(locked[0], &state, 1), 1);
  ASSERT_EQ(state, 'L');

  auto writer = HostPlatform().OpenFile(path, OpenMode::kReadWrite);
  auto reader = HostPlatform().OpenFile(path, OpenMode::kRead);
  ASSERT_TRUE(writer && reader);
  const auto why1 = writer->TryLock(0, 1);
  EXPECT_FALSE(why1);
  EXPECT_EQ(why1.kind(), StatusKind::kBusy);
  const auto why2 = reader->TryLock(0, 1);
  EXPECT_FALSE(why2);
  EXPECT_EQ(why2.kind(), StatusKind::kBusy);
  EXPECT_TRUE(writer->TryLock(1, 5));  // outside the other program's byte

  // The child ends (closing the pipe is the signal); its lock goes with it.
  ::close(release[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ::close(locked[0]);
  {
    const auto why3 = writer->TryLock(0, 1);
    EXPECT_TRUE(why3) << why3.ToString();
  }
}

// Runs `body` in a child process whose files may not grow beyond `limit`
// bytes (so a write runs short as on a full disk); true when the body
// returned true there.
bool InChildWithFileSizeLimit(rlim_t limit, bool (*body)(const std::string&),
                              const std::string& path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // fail with EFBIG instead of ending
    struct rlimit rl;
    rl.rlim_cur = limit;
    rl.rlim_max = limit;
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(2);
    ::_exit(body(path) ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

TEST(PlatformContractPosixTest, ShortWritesFailWithTheCountThatReachedTheFile) {
  ScratchDir dir;
  const std::string path = dir.Path("full");
  // Sequential: 10 of 100 bytes fit.
  EXPECT_TRUE(InChildWithFileSizeLimit(
      10,
      [](const std::string& p) {
        auto file = HostPlatform().OpenFile(p, OpenMode::kCreate);
        const std::string data(100, 'x');
        std::size_t written = 99;
        if (!file) return false;
        const Status wrote = file->Write(data.data(), data.size(), &written);
        return !wrote && written == 10 && wrote.kind() == StatusKind::kNoSpace && wrote.path() == p;
      },
      path));
  EXPECT_EQ(dir.ReadFile("full"), std::string(10, 'x'));

  // Positional: from offset 4, 6 bytes fit.
  EXPECT_TRUE(InChildWithFileSizeLimit(
      10,
      [](const std::string& p) {
        auto file = HostPlatform().OpenFile(p, OpenMode::kCreate);
        std::size_t written = 99;
        if (!file) return false;
        const Status wrote = file->WriteAt(4, "0123456789", 10, &written);
        return !wrote && written == 6 && wrote.kind() == StatusKind::kNoSpace;
      },
      path));
  EXPECT_EQ(dir.ReadFile("full"), std::string("\0\0\0\0"
                                              "012345",
                                              10));
}

TEST(PlatformContractPosixTest, ErrnoKinds) {
  struct Case {
    int error;
    StatusKind general;
    StatusKind as_lock_error;
  } cases[] = {
      {ENOENT, StatusKind::kNotFound, StatusKind::kNotFound},
      {ENOTDIR, StatusKind::kNotFound, StatusKind::kNotFound},
      {ENOSPC, StatusKind::kNoSpace, StatusKind::kNoSpace},
      {EDQUOT, StatusKind::kNoSpace, StatusKind::kNoSpace},
      {EINVAL, StatusKind::kInvalidArgument, StatusKind::kInvalidArgument},
      {EIO, StatusKind::kIoError, StatusKind::kIoError},
      // Only a lock request means by these that another holder has it.
      {EACCES, StatusKind::kIoError, StatusKind::kBusy},
      {EAGAIN, StatusKind::kIoError, StatusKind::kBusy},
      // The system lacks the call, or the file system has no lock service.
      {ENOSYS, StatusKind::kNotSupported, StatusKind::kNotSupported},
      {EOPNOTSUPP, StatusKind::kNotSupported, StatusKind::kNotSupported},
      {ENOLCK, StatusKind::kIoError, StatusKind::kNotSupported},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(ErrnoStatus(c.error, "p").kind(), c.general);
    EXPECT_EQ(LockErrorStatus(c.error, "p").kind(), c.as_lock_error);
  }
  const Status status = ErrnoStatus(ENOENT, "/a/b");
  EXPECT_EQ(status.path(), "/a/b");
  EXPECT_EQ(status.detail(), std::strerror(ENOENT));
}

}  // namespace
}  // namespace qlr

#endif  // !_WIN32
