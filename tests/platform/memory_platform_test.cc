// The in-memory platform keeps the contract of the real ones, and its
// crash model drops exactly what was not made durable.
#include "testing/memory_platform.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace qlr::testing {
namespace {

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
  std::vector<std::string> names;
  for (const DirEntry& entry : entries) names.push_back(entry.name);
  return names;
}

TEST(MemoryPlatformTest, ReadsStopAtTheEndAndZeroFillTheRest) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/f", "abcdef");
  auto file = disk.OpenFile("/f", OpenMode::kRead);
  ASSERT_NE(file, nullptr);
  char buffer[8];
  std::size_t got = 0;
  ASSERT_TRUE(file->Read(buffer, 4, &got));
  EXPECT_EQ(std::string(buffer, got), "abcd");
  ASSERT_TRUE(file->Read(buffer, 8, &got));
  EXPECT_EQ(std::string(buffer, 8), std::string("ef\0\0\0\0\0\0", 8));
  EXPECT_EQ(got, 2u);
  // Positional reads neither use nor move the position.
  ASSERT_TRUE(file->ReadAt(5, buffer, 3, &got));
  EXPECT_EQ(std::string(buffer, 3), std::string("f\0\0", 3));
  ASSERT_TRUE(file->ReadAt(100, buffer, 2, &got));
  EXPECT_EQ(got, 0u);
  ASSERT_TRUE(file->Read(buffer, 1, &got));
  EXPECT_EQ(got, 0u);
  // A read-only handle refuses writes.
  const auto why1 = file->Write("x", 1, &got);
  EXPECT_FALSE(why1);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(why1.kind(), StatusKind::kIoError);
}

TEST(MemoryPlatformTest, WritesFillGapsWithZerosAndPositionalOnesKeepThePosition) {
  MemoryPlatform disk;
  auto file = disk.OpenFile("/f", OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->Seek(3));
  ASSERT_TRUE(file->Write("ab", 2, &written));
  ASSERT_TRUE(file->WriteAt(0, "X", 1, &written));
  ASSERT_TRUE(file->Write("c", 1, &written));
  EXPECT_EQ(disk.ReadFileBytes("/f"), std::string("X\0\0abc", 6));
  ASSERT_TRUE(file->Truncate(2));
  std::uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, 2u);
  ASSERT_TRUE(file->Truncate(4));
  EXPECT_EQ(disk.ReadFileBytes("/f"), std::string("X\0\0\0", 4));
  ASSERT_TRUE(file->Close());
  EXPECT_FALSE(file->Size(&size));
}

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

TEST(MemoryPlatformTest, RenameReplacesInOneStepAndNoReplaceRefuses) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/a", "new");
  disk.WriteFileBytes("/b", "old");
  disk.WriteFileBytes("/c", "third");
  const std::uint64_t identity = disk.Stat("/a")->file_index;

  const auto why4 = disk.RenameNoReplace("/c", "/b");
  EXPECT_FALSE(why4);
  EXPECT_EQ(why4.kind(), StatusKind::kBusy);
  EXPECT_EQ(disk.ReadFileBytes("/b"), "old");
  EXPECT_EQ(disk.ReadFileBytes("/c"), "third");

  ASSERT_TRUE(disk.Rename("/a", "/b"));
  EXPECT_FALSE(disk.Exists("/a"));
  EXPECT_EQ(disk.ReadFileBytes("/b"), "new");
  EXPECT_EQ(disk.Stat("/b")->file_index, identity);

  ASSERT_TRUE(disk.RenameNoReplace("/c", "/d"));
  EXPECT_EQ(disk.ReadFileBytes("/d"), "third");

  disk.MakeDirs("/dir/sub");
  EXPECT_FALSE(disk.Rename("/b", "/dir"));  // a file never replaces a directory
  EXPECT_FALSE(disk.Rename("/dir", "/dir/sub/x"));
  const auto why5 = disk.Rename("/missing", "/e");
  EXPECT_FALSE(why5);
  EXPECT_EQ(why5.kind(), StatusKind::kNotFound);
  EXPECT_FALSE(disk.Rename("/b", "/nodir/b"));
  EXPECT_EQ(disk.ReadFileBytes("/b"), "new");
  ASSERT_TRUE(disk.Rename("/dir", "/moved"));
  EXPECT_TRUE(disk.Exists("/moved/sub/"));
}

TEST(MemoryPlatformTest, LocksConflictBetweenHandlesAndDieWithThem) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/base.jhr", "JAM");
  auto first = disk.OpenFile("/base.jhr", OpenMode::kRead);
  auto second = disk.OpenFile("/base.jhr", OpenMode::kReadWrite);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(first->TryLock(0, 1));
  const auto why6 = second->TryLock(0, 1);
  EXPECT_FALSE(why6);
  EXPECT_EQ(why6.kind(), StatusKind::kBusy);
  EXPECT_FALSE(second->TryLock(0, 10));
  EXPECT_TRUE(second->TryLock(1, 1));
  EXPECT_FALSE(second->Unlock(0, 1));  // not its lock
  ASSERT_TRUE(first->Unlock(0, 1));
  EXPECT_TRUE(second->TryLock(0, 1));
  // Close and destruction release.
  ASSERT_TRUE(second->Close());
  ASSERT_TRUE(first->TryLock(0, 2));
  first.reset();
  auto third = disk.OpenFile("/base.jhr", OpenMode::kRead);
  EXPECT_TRUE(third->TryLock(0, 2));
}

TEST(MemoryPlatformTest, MandatoryLocksBarOtherHandlesFromTheRange) {
  MemoryPlatform disk;
  disk.SetMandatoryLocks(true);
  disk.WriteFileBytes("/base.sqd", "SQUISH");
  auto holder = disk.OpenFile("/base.sqd", OpenMode::kReadWrite);
  auto other = disk.OpenFile("/base.sqd", OpenMode::kReadWrite);
  ASSERT_NE(holder, nullptr);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(holder->TryLock(0, 1));
  char byte[2] = {};
  std::size_t n = 0;
  const auto why7 = other->ReadAt(0, byte, 2, &n);
  EXPECT_FALSE(why7);
  EXPECT_EQ(why7.kind(), StatusKind::kBusy);
  EXPECT_FALSE(other->WriteAt(0, "x", 1, &n));
  EXPECT_FALSE(other->Truncate(0));
  EXPECT_TRUE(other->ReadAt(1, byte, 2, &n));  // outside the range
  EXPECT_TRUE(other->WriteAt(1, "q", 1, &n));
  EXPECT_TRUE(holder->ReadAt(0, byte, 2, &n));  // the holder itself may
  EXPECT_TRUE(holder->WriteAt(0, "s", 1, &n));
  ASSERT_TRUE(holder->Close());
  EXPECT_TRUE(other->Truncate(0));
  EXPECT_EQ(disk.ReadFileBytes("/base.sqd"), "");
}

TEST(MemoryPlatformTest, IdentityFollowsTheFileNotTheName) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/a", "1");
  const auto before = disk.Stat("/a");
  ASSERT_TRUE(before);
  EXPECT_EQ(before->volume, MemoryPlatform::kVolume);
  // Truncating the same file keeps it; a new file under the name does not.
  ASSERT_NE(disk.OpenFile("/a", OpenMode::kCreate), nullptr);
  EXPECT_EQ(disk.Stat("/a")->file_index, before->file_index);
  ASSERT_TRUE(disk.DeleteFile("/a"));
  ASSERT_NE(disk.OpenFile("/a", OpenMode::kCreate), nullptr);
  EXPECT_NE(disk.Stat("/a")->file_index, before->file_index);
  EXPECT_TRUE(disk.SameFile("/a", "/./x/../a"));
  disk.WriteFileBytes("/b", "1");
  EXPECT_FALSE(disk.SameFile("/a", "/b"));
  EXPECT_FALSE(disk.SameFile("/a", "/missing"));
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

TEST(MemoryPlatformTest, ListsMatchingNamesWithCaseAndAttributes) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/area/1.msg", "a");
  disk.WriteFileBytes("/area/2.MSG", "b");
  disk.WriteFileBytes("/area/.lock", "c");
  disk.MakeDirs("/area/5.msg");
  std::vector<DirEntry> entries;
  ASSERT_TRUE(disk.ListDirectory("/area/", "*.msg", &entries));
  EXPECT_EQ(Names(entries), (std::vector<std::string>{"1.msg", "5.msg"}));
  EXPECT_EQ(entries[0].attributes, kAttrArchive);
  EXPECT_EQ(entries[1].attributes, kAttrDirectory);
  ASSERT_TRUE(disk.ListDirectory("/area", "*.*", &entries));
  EXPECT_EQ(Names(entries), (std::vector<std::string>{".lock", "1.msg", "2.MSG", "5.msg"}));
  EXPECT_EQ(entries[0].attributes, kAttrArchive | kAttrHidden);
  EXPECT_FALSE(disk.ListDirectory("/area/1.msg", "*.*", &entries));
  EXPECT_FALSE(disk.ListDirectory("/none", "*.*", &entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(disk.RemoveDirectory("/area"));  // not empty
  EXPECT_TRUE(disk.RemoveDirectory("/area/5.msg"));
  EXPECT_FALSE(disk.MakeDirectory("/area/1.msg"));
  EXPECT_FALSE(disk.MakeDirectory("/x/y"));
  EXPECT_FALSE(disk.DeleteFile("/area"));
}

TEST(MemoryPlatformTest, ReadOnlyFilesAndDirectories) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/dir/f", "x");
  ASSERT_TRUE(disk.SetAttributes("/dir/f", kAttrReadOnly));
  const auto status = disk.Stat("/dir/f");
  EXPECT_EQ(status->attributes, kAttrReadOnly | kAttrArchive);
  EXPECT_EQ(disk.OpenFile("/dir/f", OpenMode::kReadWrite), nullptr);
  EXPECT_EQ(disk.OpenFile("/dir/f", OpenMode::kCreate), nullptr);
  EXPECT_NE(disk.OpenFile("/dir/f", OpenMode::kRead), nullptr);
  ASSERT_TRUE(disk.SetAttributes("/dir/f", kAttrArchive));
  EXPECT_NE(disk.OpenFile("/dir/f", OpenMode::kReadWrite), nullptr);
  ASSERT_TRUE(disk.RestoreNativeMode("/dir/f", status->native_mode));
  EXPECT_EQ(disk.Stat("/dir/f")->native_mode, status->native_mode);
  // A directory without write permission keeps its entries as they are.
  ASSERT_TRUE(disk.SetAttributes("/dir", kAttrReadOnly));
  EXPECT_EQ(disk.OpenFile("/dir/g", OpenMode::kCreate), nullptr);
  EXPECT_FALSE(disk.DeleteFile("/dir/f"));
  EXPECT_FALSE(disk.Rename("/dir/f", "/f"));
  EXPECT_TRUE(disk.Exists("/dir/f"));
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
