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
#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using testing::FailMode;
using testing::FaultInjectingPlatform;
using testing::PlatformOp;
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

mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

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

TEST(PosixFileTest, WriteSeekReadSizeTruncateRoundTrip) {
  ScratchDir dir;
  const std::string path = dir.Path("data.bin");
  auto file = HostPlatform().OpenFile(path, OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("hello world", 11, &written));
  EXPECT_EQ(written, 11u);

  char buffer[16] = {};
  std::size_t got = 0;
  ASSERT_TRUE(file->Seek(6));
  ASSERT_TRUE(file->Read(buffer, 5, &got));
  EXPECT_EQ(std::string(buffer, got), "world");

  // At the end a read succeeds with nothing; near it, with fewer bytes.
  ASSERT_TRUE(file->Read(buffer, 4, &got));
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(file->Seek(8));
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), "rld");

  std::uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, 11u);
  ASSERT_TRUE(file->Truncate(5));
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, 5u);
  // Extending fills with zero bytes.
  ASSERT_TRUE(file->Truncate(7));
  ASSERT_TRUE(file->Seek(0));
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), std::string("hello\0\0", 7));
  // Writing past the end after a seek.
  ASSERT_TRUE(file->Seek(9));
  ASSERT_TRUE(file->Write("!", 1, &written));
  EXPECT_TRUE(file->Sync());
  file.reset();
  EXPECT_EQ(dir.ReadFile("data.bin"), std::string("hello\0\0\0\0!", 10));
}

TEST(PosixFileTest, OpenModes) {
  ScratchDir dir;
  dir.WriteFile("old.txt", "previous content");
  EXPECT_EQ(HostPlatform().OpenFile(dir.Path("missing"), OpenMode::kRead), nullptr);
  EXPECT_EQ(HostPlatform().OpenFile(dir.Path("missing"), OpenMode::kReadWrite), nullptr);
  EXPECT_FALSE(HostPlatform().Stat(dir.Path("missing")).has_value());

  // Read-only handles refuse writes.
  auto reader = HostPlatform().OpenFile(dir.Path("old.txt"), OpenMode::kRead);
  ASSERT_NE(reader, nullptr);
  std::size_t written = 0;
  EXPECT_FALSE(reader->Write("x", 1, &written));
  reader.reset();

  // Read-write keeps the content; create truncates it.
  auto updater = HostPlatform().OpenFile(dir.Path("old.txt"), OpenMode::kReadWrite);
  ASSERT_NE(updater, nullptr);
  ASSERT_TRUE(updater->Write("P", 1, &written));
  updater.reset();
  EXPECT_EQ(dir.ReadFile("old.txt"), "Previous content");
  ASSERT_NE(HostPlatform().OpenFile(dir.Path("old.txt"), OpenMode::kCreate), nullptr);
  EXPECT_EQ(dir.ReadFile("old.txt"), "");

  // A directory or a FIFO is not a file to open (and must not hang).
  EXPECT_EQ(HostPlatform().OpenFile(dir.root(), OpenMode::kRead), nullptr);
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

TEST(PosixStatTest, AttributeMapping) {
  ScratchDir dir;
  dir.WriteFile("plain.txt", "12345");
  dir.WriteFile("locked.txt", "");
  dir.WriteFile(".lock", "");
  dir.WriteFile(".cfg/inside", "");
  ASSERT_EQ(::chmod(dir.Path("plain.txt").c_str(), 0644), 0);
  // Only the owner's write bit decides read-only.
  ASSERT_EQ(::chmod(dir.Path("locked.txt").c_str(), 0466), 0);
  ASSERT_EQ(::mkdir(dir.Path("sub").c_str(), 0755), 0);

  struct Case {
    std::string path;
    std::uint8_t attributes;
    bool is_regular;
  } cases[] = {
      {dir.Path("plain.txt"), kAttrArchive, true},
      {dir.Path("locked.txt"), kAttrReadOnly | kAttrArchive, true},
      {dir.Path(".lock"), kAttrHidden | kAttrArchive, true},
      {dir.Path(".cfg"), kAttrHidden | kAttrDirectory, false},
      {dir.Path(".cfg/inside"), kAttrArchive, true},  // only the last name counts
      {dir.Path("sub"), kAttrDirectory, false},
      {dir.Path("sub/"), kAttrDirectory, false},
      {dir.Path("sub/."), kAttrDirectory, false},
      {dir.Path("sub/.."), kAttrDirectory, false},
  };
  for (const auto& c : cases) {
    const auto status = HostPlatform().Stat(c.path);
    ASSERT_TRUE(status.has_value()) << c.path;
    EXPECT_EQ(status->attributes, c.attributes) << c.path;
    EXPECT_EQ(status->is_regular, c.is_regular) << c.path;
  }
  const auto plain = HostPlatform().Stat(dir.Path("plain.txt"));
  EXPECT_EQ(plain->size, 5u);
  EXPECT_EQ(plain->native_mode, 0644u);
  EXPECT_EQ(HostPlatform().Stat(dir.Path("locked.txt"))->native_mode, 0466u);
}

TEST(PosixStatTest, SetAttributesAndRestoreNativeMode) {
  ScratchDir dir;
  dir.WriteFile("f", "x");
  const std::string path = dir.Path("f");
  ASSERT_EQ(::chmod(path.c_str(), 0664), 0);

  // Read-only removes every write permission, not only the owner's.
  ASSERT_TRUE(HostPlatform().SetAttributes(path, kAttrReadOnly | kAttrArchive));
  EXPECT_EQ(ModeOf(path), 0444u);
  EXPECT_EQ(HostPlatform().Stat(path)->attributes, kAttrReadOnly | kAttrArchive);
  // Archive alone gives the owner write permission back, nothing more.
  ASSERT_TRUE(HostPlatform().SetAttributes(path, kAttrArchive));
  EXPECT_EQ(ModeOf(path), 0644u);

  for (std::uint32_t mode : {0751u, 0400u, 0606u}) {
    ASSERT_TRUE(HostPlatform().RestoreNativeMode(path, mode));
    EXPECT_EQ(ModeOf(path), mode);
    EXPECT_EQ(HostPlatform().Stat(path)->native_mode, mode);
  }
  EXPECT_FALSE(HostPlatform().SetAttributes(dir.Path("missing"), kAttrArchive));
  EXPECT_FALSE(HostPlatform().RestoreNativeMode(dir.Path("missing"), 0644));
}

TEST(PosixStatTest, ModifiedTimeKeepsNanosecondsAndAccessTime) {
  ScratchDir dir;
  dir.WriteFile("f", "x");
  const std::string path = dir.Path("f");
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);

  // Odd nanoseconds, and a time before 1970 (negative ticks).
  for (std::int64_t ticks : {INT64_C(1234567890123456789), INT64_C(-1500000001)}) {
    ASSERT_TRUE(HostPlatform().SetModifiedTime(path, FileTime{ticks})) << ticks;
    EXPECT_EQ(HostPlatform().Stat(path)->modified.ticks, ticks);
  }
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);
  EXPECT_EQ(after.st_atim.tv_nsec, before.st_atim.tv_nsec);
  EXPECT_FALSE(HostPlatform().SetModifiedTime(dir.Path("missing"), FileTime{0}));
}

TEST(PosixStatTest, SameFileIsFileIdentity) {
  ScratchDir dir;
  dir.WriteFile("X", "upper");
  dir.WriteFile("x", "lower");
  ASSERT_EQ(::symlink(dir.Path("X").c_str(), dir.Path("link").c_str()), 0);
  ASSERT_EQ(::link(dir.Path("X").c_str(), dir.Path("hard").c_str()), 0);
  ASSERT_EQ(::mkdir(dir.Path("d").c_str(), 0755), 0);

  struct Case {
    std::string a, b;
    bool same;
  } cases[] = {
      {dir.Path("X"), dir.Path("X"), true},
      {dir.Path("X"), dir.Path("link"), true},
      {dir.Path("hard"), dir.Path("X"), true},
      {dir.Path("X"), dir.Path("d/../X"), true},
      {dir.Path("X"), dir.Path("x"), false},  // names differing in case only
      {dir.Path("X"), dir.Path("missing"), false},
      {dir.Path("missing"), dir.Path("missing"), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HostPlatform().SameFile(c.a, c.b), c.same) << c.a << " vs " << c.b;
  }
}

TEST(PosixDirectoryTest, ListDirectoryMatchesNamesCaseSensitively) {
  ScratchDir dir;
  dir.WriteFile("one.msg", "");
  dir.WriteFile("TWO.MSG", "");
  dir.WriteFile("noext", "");
  dir.WriteFile(".lock", "");
  ASSERT_EQ(::mkdir(dir.Path("sub").c_str(), 0755), 0);

  std::vector<DirEntry> entries;
  ASSERT_TRUE(HostPlatform().ListDirectory(dir.root(), "*.*", &entries));
  EXPECT_EQ(Names(entries),
            (std::vector<std::string>{".lock", "TWO.MSG", "noext", "one.msg", "sub"}));
  EXPECT_EQ(AttributesOf(entries, "sub"), kAttrDirectory);
  EXPECT_EQ(AttributesOf(entries, ".lock"), kAttrHidden | kAttrArchive);
  EXPECT_EQ(AttributesOf(entries, "noext"), kAttrArchive);

  // A trailing separator changes nothing; the list is replaced, not extended.
  ASSERT_TRUE(HostPlatform().ListDirectory(dir.root() + "/", "*.msg", &entries));
  EXPECT_EQ(Names(entries), std::vector<std::string>{"one.msg"});
  ASSERT_TRUE(HostPlatform().ListDirectory(dir.root(), "*.MSG", &entries));
  EXPECT_EQ(Names(entries), std::vector<std::string>{"TWO.MSG"});

  EXPECT_FALSE(HostPlatform().ListDirectory(dir.Path("missing"), "*.*", &entries));
  EXPECT_FALSE(HostPlatform().ListDirectory(dir.Path("noext"), "*.*", &entries));
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
  for (const char* name : {"to-secret", "to-missing", "plain"}) {
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

TEST(PosixDirectoryTest, MakeRemoveDeleteAndSync) {
  ScratchDir dir;
  const std::string sub = dir.Path("sub");
  ASSERT_TRUE(HostPlatform().MakeDirectory(sub));
  EXPECT_FALSE(HostPlatform().MakeDirectory(sub));  // exists already
  EXPECT_FALSE(HostPlatform().MakeDirectory(dir.Path("no/such/parent")));
  EXPECT_TRUE(HostPlatform().SyncDirectory(sub));
  EXPECT_FALSE(HostPlatform().SyncDirectory(dir.Path("missing")));

  // DeleteFile never removes a directory, even an empty one.
  EXPECT_FALSE(HostPlatform().DeleteFile(sub));
  EXPECT_TRUE(HostPlatform().Stat(sub).has_value());

  dir.WriteFile("sub/f", "x");
  EXPECT_FALSE(HostPlatform().RemoveDirectory(sub));  // not empty
  EXPECT_TRUE(HostPlatform().DeleteFile(dir.Path("sub/f")));
  EXPECT_FALSE(HostPlatform().DeleteFile(dir.Path("sub/f")));
  EXPECT_TRUE(HostPlatform().RemoveDirectory(sub));
  EXPECT_FALSE(HostPlatform().Stat(sub).has_value());

  // A symlink to a directory is removed as a link; the directory stays.
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

TEST(FaultInjectingPlatformTest, FailsTheNthWriteFromThenOn) {
  ScratchDir dir;
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  ASSERT_EQ(&Os(), &faulty);
  auto file = Os().OpenFile(dir.Path("f"), OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  faulty.FailCall(PlatformOp::kWrite, 3);
  std::size_t written = 0;
  EXPECT_TRUE(file->Write("ab", 2, &written));
  EXPECT_TRUE(file->Write("cd", 2, &written));
  EXPECT_FALSE(file->Write("ef", 2, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(file->Write("gh", 2, &written));
  file.reset();
  EXPECT_EQ(dir.ReadFile("f"), "abcd");
  EXPECT_EQ(faulty.Calls(PlatformOp::kWrite), 4);
  EXPECT_EQ(faulty.Failures(), 2);
}

TEST(FaultInjectingPlatformTest, OnceAndShortWrites) {
  ScratchDir dir;
  FaultInjectingPlatform faulty;
  auto file = faulty.OpenFile(dir.Path("f"), OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("0", 1, &written));
  // Counted from now: the next write is short, the one after it fails once.
  faulty.FailCall(PlatformOp::kShortWrite, 1, FailMode::kOnce);
  faulty.FailCall(PlatformOp::kWrite, 2, FailMode::kOnce);
  // A short write fails, as a full disk does, after half the bytes.
  const auto why3 = file->Write("123456", 6, &written);
  EXPECT_FALSE(why3);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(why3.kind(), StatusKind::kNoSpace);
  EXPECT_FALSE(file->Write("xx", 2, &written));
  EXPECT_TRUE(file->Write("789", 3, &written));
  EXPECT_EQ(written, 3u);
  file.reset();
  EXPECT_EQ(dir.ReadFile("f"), "0123789");
}

TEST(FaultInjectingPlatformTest, FailedCallsDoNotReachTheFileSystem) {
  ScratchDir dir;
  dir.WriteFile("keep", "x");
  FaultInjectingPlatform faulty;
  faulty.FailCall(PlatformOp::kDeleteFile, 1);
  faulty.FailCall(PlatformOp::kMakeDirectory, 1);
  faulty.FailCall(PlatformOp::kOpenFile, 2);
  faulty.FailCall(PlatformOp::kListDirectory, 1, FailMode::kOnce);
  faulty.FailCall(PlatformOp::kRunCommandInterpreter, 1);
  EXPECT_FALSE(faulty.DeleteFile(dir.Path("keep")));
  EXPECT_FALSE(faulty.MakeDirectory(dir.Path("new")));
  EXPECT_TRUE(faulty.Stat(dir.Path("keep")).has_value());
  EXPECT_FALSE(faulty.Stat(dir.Path("new")).has_value());
  EXPECT_NE(faulty.OpenFile(dir.Path("keep"), OpenMode::kRead), nullptr);
  EXPECT_EQ(faulty.OpenFile(dir.Path("keep"), OpenMode::kRead), nullptr);
  std::vector<DirEntry> entries;
  EXPECT_FALSE(faulty.ListDirectory(dir.root(), "*.*", &entries));
  EXPECT_TRUE(faulty.ListDirectory(dir.root(), "*.*", &entries));
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_FALSE(faulty.RunCommandInterpreter(" /C exit 0").started);
  faulty.Reset();
  EXPECT_TRUE(faulty.RunCommandInterpreter(" /C exit 0").started);
}

}  // namespace
}  // namespace qlr

#endif  // !_WIN32
