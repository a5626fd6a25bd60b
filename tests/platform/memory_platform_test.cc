// What only the in-memory platform has: a capacity, a settable clock and
// environment, POSIX paths on every host, and a crash model that drops
// exactly what was not made durable. The contract it shares with the host
// is checked in platform_contract_test.cc.
#include "testing/memory_platform.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace qlr::testing {
namespace {

TEST(MemoryPlatformTest, AFullDiskGivesAShortWriteWithNoSpace) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/other", "1234");
  disk.SetCapacity(10);
  auto file = disk.OpenFile("/f", OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("abcd", 4, &written));
  const auto why2 = file->Write("efgh", 4, &written);
  EXPECT_FALSE(why2);
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(why2.kind(), StatusKind::kNoSpace);
  EXPECT_EQ(disk.ReadFileBytes("/f"), "abcdef");
  EXPECT_EQ(disk.UsedBytes(), 10u);
  // Overwriting needs no space; growing does.
  EXPECT_TRUE(file->WriteAt(0, "AB", 2, &written));
  const auto why3 = file->Truncate(7);
  EXPECT_FALSE(why3);
  EXPECT_EQ(why3.kind(), StatusKind::kNoSpace);
  EXPECT_FALSE(file->WriteAt(20, "z", 1, &written));
  EXPECT_EQ(written, 0u);
  // Space freed by a delete can be used again.
  ASSERT_TRUE(disk.DeleteFile("/other"));
  EXPECT_TRUE(file->Write("gh", 2, &written));
}

TEST(MemoryPlatformTest, IdentityFollowsTheFileNotTheName) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/a", "1");
  const auto before = disk.Stat("/a");
  ASSERT_TRUE(before);
  EXPECT_EQ(before->volume, MemoryPlatform::kVolume);
  // A new file under the name is another file, even once the old one is
  // gone: indices are never used again.
  ASSERT_TRUE(disk.DeleteFile("/a"));
  ASSERT_NE(disk.OpenFile("/a", OpenMode::kCreate), nullptr);
  EXPECT_NE(disk.Stat("/a")->file_index, before->file_index);
  EXPECT_TRUE(disk.SameFile("/a", "/./x/../a"));  // ".." is resolved by name
}

TEST(MemoryPlatformTest, PathsArePosixOnEveryHost) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/dir/f", "x");
  EXPECT_TRUE(disk.Stat("dir/f"));  // relative to "/"
  EXPECT_TRUE(disk.Stat("//dir///f"));
  EXPECT_FALSE(disk.Stat("/dir/f/"));  // a file is no directory
  EXPECT_TRUE(disk.Stat("/dir/"));
  EXPECT_FALSE(disk.Stat("/Dir/f"));  // names keep their case
  EXPECT_FALSE(disk.Stat("\\dir\\f"));
  EXPECT_FALSE(disk.Stat(""));
  disk.SetBackslashIsSeparator(true);
  EXPECT_TRUE(disk.Stat("\\dir\\f"));
}

TEST(MemoryPlatformTest, ClockStampsWritesAndCoarseTimesRoundDown) {
  MemoryPlatform disk;
  constexpr std::int64_t kSecond = MemoryPlatform::kTicksPerSecond;
  disk.SetNow(FileTime{10 * kSecond + 700});
  disk.WriteFileBytes("/a", "1");
  disk.WriteFileBytes("/b", "2");
  EXPECT_EQ(disk.Stat("/a")->modified.ticks, 10 * kSecond + 700);
  EXPECT_GT(disk.Stat("/b")->modified.ticks, disk.Stat("/a")->modified.ticks);
  ASSERT_TRUE(disk.SetModifiedTime("/a", FileTime{5 * kSecond + 999}));
  EXPECT_EQ(disk.Stat("/a")->modified.ticks, 5 * kSecond + 999);

  disk.SetTimeGranularity(kSecond);
  ASSERT_TRUE(disk.SetModifiedTime("/a", FileTime{5 * kSecond + 999}));
  EXPECT_EQ(disk.Stat("/a")->modified.ticks, 5 * kSecond);
  ASSERT_TRUE(disk.SetModifiedTime("/a", FileTime{-kSecond / 2}));
  EXPECT_EQ(disk.Stat("/a")->modified.ticks, -kSecond);
  auto file = disk.OpenFile("/b", OpenMode::kReadWrite);
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("x", 1, &written));
  EXPECT_EQ(disk.Stat("/b")->modified.ticks % kSecond, 0);
}

TEST(MemoryPlatformTest, NowAndSleepFollowTheClock) {
  MemoryPlatform disk;
  disk.SetClockStep(0);
  LocalTime now = disk.Now();
  EXPECT_EQ((std::vector<int>{now.year, now.month, now.day, now.hour, now.minute, now.second}),
            (std::vector<int>{2020, 1, 1, 0, 0, 0}));
  // 2024-02-29 13:45:30.25 UTC
  disk.SetNow(FileTime{1'709'214'330 * MemoryPlatform::kTicksPerSecond + 250'000'000});
  now = disk.Now();
  EXPECT_EQ((std::vector<int>{now.year, now.month, now.day, now.hour, now.minute, now.second,
                              now.hundredths}),
            (std::vector<int>{2024, 2, 29, 13, 45, 30, 25}));
  disk.Sleep(3'750);
  now = disk.Now();
  EXPECT_EQ(now.second, 34);
  EXPECT_EQ(now.hundredths, 0);
}

TEST(MemoryPlatformTest, TheProgramsEnvironmentIsSettable) {
  MemoryPlatform disk;
  EXPECT_FALSE(disk.RunCommandInterpreter(" /C exit 0").started);
  std::string seen;
  disk.SetCommandInterpreter([&](std::string_view tail) {
    seen = tail;
    return ProcessResult{true, true, 3};
  });
  EXPECT_EQ(disk.RunCommandInterpreter(" /C arc a x").exit_code, 3);
  EXPECT_EQ(seen, " /C arc a x");
  EXPECT_FALSE(disk.GetEnvironment("COMSPEC"));
  disk.SetEnvironment("COMSPEC", "/bin/sh");
  EXPECT_EQ(disk.GetEnvironment("COMSPEC"), "/bin/sh");
  disk.SetExecutablePath("/opt/qlr/qlr");
  EXPECT_EQ(disk.ExecutablePath(), "/opt/qlr/qlr");
}

// --- crashes ---

// Applies `change` to a disk holding the durable files /d/a = "old" and
// /d/b = "bee", crashes it, and returns the tree and the bytes of a.
struct CrashCase {
  const char* name;
  void (*change)(MemoryPlatform&);
  std::vector<std::string> tree_after;
  std::optional<std::string> a_after;
};

void Overwrite(MemoryPlatform& disk, const char* path, bool sync) {
  auto file = disk.OpenFile(path, OpenMode::kReadWrite);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->WriteAt(0, "NEW", 3, &written));
  if (sync) {
    ASSERT_TRUE(file->Sync());
  }
}

void Create(MemoryPlatform& disk, bool sync_file, bool sync_dir) {
  auto file = disk.OpenFile("/d/c", OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("sea", 3, &written));
  if (sync_file) {
    ASSERT_TRUE(file->Sync());
  }
  if (sync_dir) {
    ASSERT_TRUE(disk.SyncDirectory("/d"));
  }
}

TEST(MemoryPlatformTest, ACrashDropsWhatWasNotDurable) {
  const std::vector<std::string> kBefore = {"/d/", "/d/a", "/d/b"};
  const CrashCase cases[] = {
      {"unsynced write is lost", [](MemoryPlatform& d) { Overwrite(d, "/d/a", false); }, kBefore,
       "old"},
      {"synced write is kept", [](MemoryPlatform& d) { Overwrite(d, "/d/a", true); }, kBefore,
       "NEW"},
      {"a directory sync keeps names, not data",
       [](MemoryPlatform& d) {
         Overwrite(d, "/d/a", false);
         ASSERT_TRUE(d.SyncDirectory("/d"));
       },
       kBefore, "old"},
      {"created file without any sync vanishes", [](MemoryPlatform& d) { Create(d, false, false); },
       kBefore, "old"},
      {"created file synced but not its entry vanishes",
       [](MemoryPlatform& d) { Create(d, true, false); }, kBefore, "old"},
      {"created entry synced without its data",
       [](MemoryPlatform& d) { Create(d, false, true); },
       {"/d/", "/d/a", "/d/b", "/d/c"},
       "old"},
      {"unsynced delete is undone", [](MemoryPlatform& d) { ASSERT_TRUE(d.DeleteFile("/d/a")); },
       kBefore, "old"},
      {"synced delete is kept",
       [](MemoryPlatform& d) {
         ASSERT_TRUE(d.DeleteFile("/d/a"));
         ASSERT_TRUE(d.SyncDirectory("/d/"));
       },
       {"/d/", "/d/b"},
       std::nullopt},
      {"unsynced rename is undone",
       [](MemoryPlatform& d) { ASSERT_TRUE(d.Rename("/d/b", "/d/a")); }, kBefore, "old"},
      {"synced rename is kept",
       [](MemoryPlatform& d) {
         ASSERT_TRUE(d.Rename("/d/b", "/d/a"));
         ASSERT_TRUE(d.SyncDirectory("/d"));
       },
       {"/d/", "/d/a"},
       "bee"},
      {"rename synced only in the target leaves both names",
       [](MemoryPlatform& d) {
         d.MakeDirs("/e");
         ASSERT_TRUE(d.Rename("/d/a", "/e/a"));
         ASSERT_TRUE(d.SyncDirectory("/e"));
       },
       {"/d/", "/d/a", "/d/b", "/e/", "/e/a"},
       "old"},
      {"unsynced directory vanishes with its files",
       [](MemoryPlatform& d) {
         ASSERT_TRUE(d.MakeDirectory("/n"));
         ASSERT_NE(d.OpenFile("/n/f", OpenMode::kCreate), nullptr);
         ASSERT_TRUE(d.SyncDirectory("/n"));
       },
       kBefore, "old"},
      {"file-system sync keeps everything",
       [](MemoryPlatform& d) {
         Overwrite(d, "/d/a", false);
         Create(d, false, false);
         ASSERT_TRUE(d.MakeDirectory("/n"));
         ASSERT_TRUE(d.DeleteFile("/d/b"));
         ASSERT_TRUE(d.SyncFileSystem("/d"));
       },
       {"/d/", "/d/a", "/d/c", "/n/"},
       "NEW"},
  };
  for (const CrashCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryPlatform disk;
    disk.WriteFileBytes("/d/a", "old");
    disk.WriteFileBytes("/d/b", "bee");
    c.change(disk);
    disk.Crash();
    EXPECT_EQ(disk.ListTree(), c.tree_after);
    EXPECT_EQ(disk.ReadFileBytes("/d/a"), c.a_after);
  }
}

TEST(MemoryPlatformTest, ACreatedEntryWithoutDataComesBackEmpty) {
  MemoryPlatform disk;
  disk.MakeDirs("/d");
  Create(disk, false, true);
  disk.Crash();
  EXPECT_EQ(disk.ReadFileBytes("/d/c"), "");
}

TEST(MemoryPlatformTest, SyncFileSystemCanBeMissing) {
  MemoryPlatform disk;
  disk.SetFileSystemSyncSupported(false);
  const auto why8 = disk.SyncFileSystem("/");
  EXPECT_FALSE(why8);
  EXPECT_EQ(why8.kind(), StatusKind::kNotSupported);
  disk.SetFileSystemSyncSupported(true);
  EXPECT_FALSE(disk.SyncFileSystem("/missing"));
  EXPECT_TRUE(disk.SyncFileSystem("/"));
}

TEST(MemoryPlatformTest, HandlesFromBeforeACrashAreDead) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/f", "old");
  auto file = disk.OpenFile("/f", OpenMode::kReadWrite);
  ASSERT_TRUE(file->TryLock(0, 1));
  disk.Crash();
  std::size_t written = 0;
  EXPECT_FALSE(file->Write("new", 3, &written));
  EXPECT_FALSE(file->Sync());
  EXPECT_EQ(disk.ReadFileBytes("/f"), "old");
  auto fresh = disk.OpenFile("/f", OpenMode::kReadWrite);
  EXPECT_TRUE(fresh->TryLock(0, 1));  // the dead handle's lock is gone
}

TEST(MemoryPlatformTest, AnArmedCrashStopsTheProgramAfterTheChosenCall) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/f", "0000");
  auto file = disk.OpenFile("/f", OpenMode::kReadWrite);
  std::size_t written = 0;
  disk.CrashAfter(PlatformOp::kSync, 2);
  ASSERT_TRUE(file->WriteAt(0, "1", 1, &written));
  ASSERT_TRUE(file->Sync());
  ASSERT_TRUE(file->WriteAt(1, "2", 1, &written));
  try {
    (void)file->Sync();
    ADD_FAILURE() << "no crash";
  } catch (const SimulatedCrash& crash) {
    EXPECT_EQ(crash.op, PlatformOp::kSync);
    EXPECT_EQ(crash.nth, 2);
  }
  EXPECT_TRUE(disk.Halted());
  // What a dying program still tries does nothing and is not counted.
  const int writes = disk.Calls(PlatformOp::kWriteAt);
  EXPECT_FALSE(file->WriteAt(2, "3", 1, &written));
  const auto why9 = file->Sync();
  EXPECT_FALSE(why9);
  EXPECT_EQ(why9.kind(), StatusKind::kIoError);
  EXPECT_FALSE(disk.SyncFileSystem("/"));
  EXPECT_FALSE(disk.Stat("/f"));
  EXPECT_EQ(disk.OpenFile("/g", OpenMode::kCreate), nullptr);
  EXPECT_EQ(disk.Calls(PlatformOp::kWriteAt), writes);
  file.reset();
  disk.Crash();
  EXPECT_FALSE(disk.Halted());
  EXPECT_EQ(disk.ReadFileBytes("/f"), "1200");
  EXPECT_EQ(disk.ListTree(), std::vector<std::string>{"/f"});
}

}  // namespace
}  // namespace qlr::testing
