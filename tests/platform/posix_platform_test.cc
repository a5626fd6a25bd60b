// The POSIX platform layer against the real file system and processes.
#if !defined(_WIN32)

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using testing::ScratchDir;

// Sets (or, with nullopt, removes) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::uint8_t AttributesOf(const std::vector<DirEntry>& entries, const std::string& name) {
  for (const auto& e : entries) {
    if (e.name == name) return e.attributes;
  }
  ADD_FAILURE() << name << " not listed";
  return 0;
}

// A FIFO is not a file to open (and must not hang).
TEST(PosixFileTest, AFifoIsNotAFileToOpen) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0644), 0);
  EXPECT_EQ(HostPlatform().OpenFile(dir.Path("fifo"), OpenMode::kRead), nullptr);
}

TEST(PosixFileTest, HandlesAreNotInheritedByChildren) {
  if (::access("/proc/self/fd", F_OK) != 0) GTEST_SKIP() << "no /proc on this system";
  ScratchDir dir;
  auto file = HostPlatform().OpenFile(dir.Path("held.bin"), OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  // The child lists its open descriptors; the file must not be among them.
  const std::string tail = " /C ls -l /proc/$$/fd > " + dir.Path("fds");
  ProcessResult r = HostPlatform().RunCommandInterpreter(tail);
  ASSERT_TRUE(r.started);
  const std::string fds = dir.ReadFile("fds");
  // The listing worked: it shows the shell's own output file.
  EXPECT_NE(fds.find(dir.Path("fds")), std::string::npos) << fds;
  EXPECT_EQ(fds.find("held.bin"), std::string::npos) << fds;
}

// Only the owner's write bit decides read-only; the mode is kept whole.
TEST(PosixStatTest, ModesMapToAttributes) {
  ScratchDir dir;
  struct Case {
    mode_t mode;
    std::uint8_t attributes;
  } cases[] = {{0644, kAttrArchive}, {0466, kAttrReadOnly | kAttrArchive}, {0200, kAttrArchive}};
  for (const auto& c : cases) {
    dir.WriteFile("f", "");
    ASSERT_EQ(::chmod(dir.Path("f").c_str(), c.mode), 0);
    const auto status = HostPlatform().Stat(dir.Path("f"));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->attributes, c.attributes) << c.mode;
    EXPECT_EQ(status->native_mode, c.mode);
  }
}

TEST(PosixStatTest, SettingTheModifiedTimeKeepsTheAccessTime) {
  ScratchDir dir;
  dir.WriteFile("f", "x");
  const std::string path = dir.Path("f");
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_TRUE(HostPlatform().SetModifiedTime(path, FileTime{INT64_C(1234567890123456789)}));
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);
  EXPECT_EQ(after.st_atim.tv_nsec, before.st_atim.tv_nsec);
}

TEST(PosixStatTest, SameFileFollowsSymbolicLinks) {
  ScratchDir dir;
  dir.WriteFile("X", "upper");
  ASSERT_EQ(::symlink(dir.Path("X").c_str(), dir.Path("link").c_str()), 0);
  ASSERT_EQ(::symlink(dir.Path("gone").c_str(), dir.Path("dangling").c_str()), 0);
  EXPECT_TRUE(HostPlatform().SameFile(dir.Path("X"), dir.Path("link")));
  EXPECT_FALSE(HostPlatform().SameFile(dir.Path("dangling"), dir.Path("dangling")));
}

TEST(PosixDirectoryTest, ListDirectoryDescribesLinksByTarget) {
  ScratchDir dir;
  dir.WriteFile("target", "");
  ASSERT_EQ(::symlink(dir.Path("target").c_str(), dir.Path("good").c_str()), 0);
  ASSERT_EQ(::symlink(dir.Path("gone").c_str(), dir.Path("dangling").c_str()), 0);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(HostPlatform().ListDirectory(dir.root(), "*", &entries));
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"dangling", "good", "target"}));
  EXPECT_EQ(AttributesOf(entries, "good"), kAttrArchive);
  // Not a regular file: never taken for a file to copy.
  EXPECT_EQ(AttributesOf(entries, "dangling") & kAttrArchive, 0);
  for (const DirEntry& entry : entries) EXPECT_EQ(entry.is_link, entry.name != "target");
}

// A link planted under a temporary's name, to a file that exists and to
// one that does not: neither a new file nor a change of mode goes through
// it.
TEST(PosixDirectoryTest, NewFilesAndModesNeverGoThroughALink) {
  ScratchDir dir;
  dir.WriteFile("secret", "kept");
  ASSERT_EQ(::chmod(dir.Path("secret").c_str(), 0600), 0);
  ASSERT_EQ(::symlink(dir.Path("secret").c_str(), dir.Path("to-secret").c_str()), 0);
  ASSERT_EQ(::symlink(dir.Path("made").c_str(), dir.Path("to-missing").c_str()), 0);
  dir.WriteFile("plain", "kept");
  for (const char* name : {"to-secret", "to-missing"}) {
    SCOPED_TRACE(name);
    const auto why1 = HostPlatform().OpenFile(dir.Path(name), OpenMode::kCreateNew);
    EXPECT_EQ(why1, nullptr);
    EXPECT_EQ(why1.status().kind(), StatusKind::kBusy);
  }
  for (const char* name : {"to-secret", "to-missing"}) {
    const auto why2 = HostPlatform().RestoreNativeMode(dir.Path(name), 0666);
    EXPECT_FALSE(why2);
    EXPECT_EQ(why2.kind(), StatusKind::kInvalidArgument);
  }
  struct stat st;
  ASSERT_EQ(::stat(dir.Path("secret").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(dir.ReadFile("secret"), "kept");
  EXPECT_EQ(dir.ReadFile("plain"), "kept");
  EXPECT_NE(::access(dir.Path("made").c_str(), F_OK), 0);
  // A name that is free is made, and a file's own mode still changes.
  EXPECT_NE(HostPlatform().OpenFile(dir.Path("new"), OpenMode::kCreateNew), nullptr);
  EXPECT_TRUE(HostPlatform().RestoreNativeMode(dir.Path("plain"), 0640));
  ASSERT_EQ(::stat(dir.Path("plain").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(PosixDirectoryTest, LinkToADirectoryIsNoDirectoryEntry) {
  ScratchDir dir;
  dir.WriteFile("real/keep.msg", "x");
  ASSERT_EQ(::symlink(dir.Path("real").c_str(), dir.Path("link").c_str()), 0);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(HostPlatform().ListDirectory(dir.root(), "link", &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].attributes & kAttrDirectory, 0);
}

TEST(PosixDirectoryTest, EmptyDirectoryMeansTheCurrentOne) {
  ScratchDir dir;
  dir.WriteFile("here.msg", "");
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.root().c_str()), 0);
  std::vector<DirEntry> entries;
  const bool listed = HostPlatform().ListDirectory("", "*.msg", &entries).ok();
  const bool synced = HostPlatform().SyncDirectory("").ok();
  ASSERT_EQ(::chdir(old), 0);
  EXPECT_TRUE(listed);
  EXPECT_TRUE(synced);
  EXPECT_EQ(Names(entries), std::vector<std::string>{"here.msg"});
}

// A symlink to a directory is removed as a link; the directory stays.
TEST(PosixDirectoryTest, DeletingALinkToADirectoryKeepsTheDirectory) {
  ScratchDir dir;
  ASSERT_TRUE(HostPlatform().MakeDirectory(dir.Path("real")));
  ASSERT_EQ(::symlink(dir.Path("real").c_str(), dir.Path("alias").c_str()), 0);
  EXPECT_TRUE(HostPlatform().DeleteFile(dir.Path("alias")));
  EXPECT_TRUE(HostPlatform().Stat(dir.Path("real")).has_value());
}

TEST(PosixProgramTest, ExecutablePathAndEnvironment) {
  const std::string exe = HostPlatform().ExecutablePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), '/');
  EXPECT_NE(exe.find("quillor_tests"), std::string::npos) << exe;
  EXPECT_TRUE(HostPlatform().Stat(exe)->is_regular);

  {
    ScopedEnv set("QLR_TEST_VALUE", "a b");
    EXPECT_EQ(HostPlatform().GetEnvironment("QLR_TEST_VALUE"), "a b");
    EXPECT_EQ(HostPlatform().GetEnvironment("qlr_test_value"), std::nullopt);
  }
  {
    ScopedEnv empty("QLR_TEST_VALUE", "");
    EXPECT_EQ(HostPlatform().GetEnvironment("QLR_TEST_VALUE"), "");
  }
  EXPECT_EQ(HostPlatform().GetEnvironment("QLR_TEST_VALUE"), std::nullopt);
}

TEST(PosixProgramTest, InterpreterPassesExitCodesAndDropsTheSwitch) {
  ScopedEnv shell("COMSPEC", std::nullopt);
  struct Case {
    const char* tail;
    int exit_code;
  } cases[] = {
      {" /C exit 3", 3},  {" /c exit 4", 4}, {"\t /C \t exit 5", 5},
      {"/C exit 0", 0},   {"exit 6", 6},  // no switch word: run as it is
      {" /C /C", 127},                    // only the first switch word is dropped
      {" /Cexit 7", 127},                 // "/Cexit" is not the switch word
  };
  for (const auto& c : cases) {
    ProcessResult r = HostPlatform().RunCommandInterpreter(c.tail);
    EXPECT_TRUE(r.started) << c.tail;
    EXPECT_TRUE(r.exited_normally) << c.tail;
    EXPECT_EQ(r.exit_code, c.exit_code) << c.tail;
  }
}

TEST(PosixProgramTest, InterpreterGetsDashCAndTheRestAsOneArgument) {
  ScratchDir dir;
  // A stand-in interpreter that records its arguments.
  dir.WriteFile("interp",
                "#!/bin/sh\nprintf '%s|%s|%s' \"$#\" \"$1\" \"$2\" > \"$QLR_ARGS_OUT\"\n");
  ASSERT_EQ(::chmod(dir.Path("interp").c_str(), 0755), 0);
  ScopedEnv shell("COMSPEC", dir.Path("interp"));
  ScopedEnv out("QLR_ARGS_OUT", dir.Path("args"));
  ProcessResult r = HostPlatform().RunCommandInterpreter("  /C  arc a \"x y\"  @z ");
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(dir.ReadFile("args"), "2|-c|arc a \"x y\"  @z ");
}

TEST(PosixProgramTest, ChildSharesDirectoryAndEnvironment) {
  ScratchDir dir;
  ScopedEnv shell("COMSPEC", "");  // empty means the default shell
  ScopedEnv value("QLR_CHILD_SEES", "yes");
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.root().c_str()), 0);
  ProcessResult r =
      HostPlatform().RunCommandInterpreter(" /C printf '%s' \"$QLR_CHILD_SEES\" > made.txt");
  ASSERT_EQ(::chdir(old), 0);
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(dir.ReadFile("made.txt"), "yes");
}

TEST(PosixProgramTest, MissingInterpreterIsNotStarted) {
  ScratchDir dir;
  for (const std::string& comspec : {dir.Path("no-such-shell"), std::string("qlr-no-such-shell")}) {
    ScopedEnv shell("COMSPEC", comspec);
    ProcessResult r = HostPlatform().RunCommandInterpreter(" /C exit 0");
    EXPECT_FALSE(r.started) << comspec;
    EXPECT_FALSE(r.exited_normally) << comspec;
  }
  // A bare name is looked up in PATH.
  ScopedEnv shell("COMSPEC", "sh");
  ProcessResult r = HostPlatform().RunCommandInterpreter(" /C exit 9");
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exit_code, 9);
}

TEST(PosixProgramTest, ChildKilledBySignalDidNotExitNormally) {
  ScopedEnv shell("COMSPEC", std::nullopt);
  ProcessResult r = HostPlatform().RunCommandInterpreter(" /C kill -KILL $$");
  EXPECT_TRUE(r.started);
  EXPECT_FALSE(r.exited_normally);
}

TEST(PosixClockTest, SleepWaitsAndNowIsTheLocalTime) {
  const auto start = std::chrono::steady_clock::now();
  HostPlatform().Sleep(60);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));

  const std::time_t before = std::time(nullptr);
  const LocalTime now = HostPlatform().Now();
  const std::time_t after = std::time(nullptr);
  struct tm t = {};
  t.tm_year = now.year - 1900;
  t.tm_mon = now.month - 1;
  t.tm_mday = now.day;
  t.tm_hour = now.hour;
  t.tm_min = now.minute;
  t.tm_sec = now.second;
  t.tm_isdst = -1;
  const std::time_t back = std::mktime(&t);
  EXPECT_GE(back, before);
  EXPECT_LE(back, after);
  EXPECT_GE(now.hundredths, 0);
  EXPECT_LE(now.hundredths, 99);
}

}  // namespace
}  // namespace qlr

#endif  // !_WIN32
