// The fault injector fails every operation of the seam the way a real
// implementation fails it, over a platform that is the same on every host.
#include "testing/fault_injecting_platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "testing/memory_platform.h"

namespace qlr::testing {
namespace {

// A disk with /d/f = "abcdefgh", /d/g = "g" and the empty directory /d/e,
// an interpreter and $HOME, and /d/f opened through the injector.
struct Rig {
  MemoryPlatform disk;
  FaultInjectingPlatform faulty{disk};
  std::unique_ptr<FileHandle> file;
  // Room for what the calls under test return.
  char buffer[4] = {};
  std::size_t count = 0;
  std::uint64_t size = 0;
  std::vector<DirEntry> entries;

  Rig() {
    disk.WriteFileBytes("/d/f", "abcdefgh");
    disk.WriteFileBytes("/d/g", "g");
    disk.MakeDirs("/d/e");
    disk.SetEnvironment("HOME", "/home");
    disk.SetCommandInterpreter([](std::string_view) { return ProcessResult{true, true, 0}; });
    file = faulty.OpenFile("/d/f", OpenMode::kReadWrite);
  }
};

struct OpCase {
  PlatformOp op;
  StatusKind kind;  // the Status a failure returns
  bool on_file;     // a call of the file, not of the platform
  // The call's Status; calls that return no Status (SameFile, the running
  // program's calls) give Failed() when they fail.
  std::function<Status(Rig&)> call;
};

Status Failed(bool ok) { return ok ? Status::Ok() : Status(StatusKind::kIoError, "", "failed"); }

std::vector<OpCase> Cases() {
  using K = StatusKind;
  return {
      {PlatformOp::kOpenFile, K::kIoError, false,
       [](Rig& s) { return s.faulty.OpenFile("/d/g", OpenMode::kRead).status(); }},
      {PlatformOp::kRead, K::kIoError, true,
       [](Rig& s) { return s.file->Read(s.buffer, 4, &s.count); }},
      {PlatformOp::kReadAt, K::kIoError, true,
       [](Rig& s) { return s.file->ReadAt(0, s.buffer, 4, &s.count); }},
      {PlatformOp::kWrite, K::kIoError, true,
       [](Rig& s) { return s.file->Write("WXYZ", 4, &s.count); }},
      {PlatformOp::kWriteAt, K::kIoError, true,
       [](Rig& s) { return s.file->WriteAt(0, "WXYZ", 4, &s.count); }},
      {PlatformOp::kSeek, K::kIoError, true, [](Rig& s) { return s.file->Seek(2); }},
      {PlatformOp::kSize, K::kIoError, true, [](Rig& s) { return s.file->Size(&s.size); }},
      {PlatformOp::kTruncate, K::kIoError, true, [](Rig& s) { return s.file->Truncate(1); }},
      {PlatformOp::kSync, K::kIoError, true, [](Rig& s) { return s.file->Sync(); }},
      {PlatformOp::kTryLock, K::kBusy, true, [](Rig& s) { return s.file->TryLock(0, 1); }},
      {PlatformOp::kUnlock, K::kIoError, true,
       [](Rig& s) {
         if (!s.file->TryLock(0, 1)) return Status(K::kBusy, "", "not locked");
         return s.file->Unlock(0, 1);
       }},
      {PlatformOp::kClose, K::kIoError, true, [](Rig& s) { return s.file->Close(); }},
      {PlatformOp::kCopyFrom, K::kIoError, true,
       [](Rig& s) {
         // /d/g ("g") copied over the first byte of /d/f.
         const auto from = s.faulty.OpenFile("/d/g", OpenMode::kRead);
         if (!from) return from.status();
         std::uint64_t copied = 0;
         Status ok = s.file->CopyFrom(*from, 8, &copied);
         if (ok && copied != 1) ok = Status(K::kIoError, "", "wrong count");
         return ok;
       }},
      {PlatformOp::kDeleteFile, K::kIoError, false,
       [](Rig& s) { return s.faulty.DeleteFile("/d/g"); }},
      {PlatformOp::kRename, K::kIoError, false,
       [](Rig& s) { return s.faulty.Rename("/d/g", "/d/h"); }},
      {PlatformOp::kRenameNoReplace, K::kIoError, false,
       [](Rig& s) { return s.faulty.RenameNoReplace("/d/g", "/d/h"); }},
      {PlatformOp::kLink, K::kIoError, false, [](Rig& s) { return s.faulty.Link("/d/g", "/d/l"); }},
      {PlatformOp::kStat, K::kIoError, false,
       [](Rig& s) { return s.faulty.Stat("/d/g").status(); }},
      {PlatformOp::kSetAttributes, K::kIoError, false,
       [](Rig& s) { return s.faulty.SetAttributes("/d/g", kAttrReadOnly); }},
      {PlatformOp::kRestoreNativeMode, K::kIoError, false,
       [](Rig& s) { return s.faulty.RestoreNativeMode("/d/g", 0400); }},
      {PlatformOp::kSetModifiedTime, K::kIoError, false,
       [](Rig& s) { return s.faulty.SetModifiedTime("/d/g", FileTime{1}); }},
      {PlatformOp::kSameFile, K::kIoError, false,
       [](Rig& s) { return Failed(s.faulty.SameFile("/d/g", "/d/g")); }},
      {PlatformOp::kListDirectory, K::kIoError, false,
       [](Rig& s) {
         Status ok = s.faulty.ListDirectory("/d", "*.*", &s.entries);
         if (!ok && !s.entries.empty()) ok = Status::Ok();
         return ok;
       }},
      {PlatformOp::kMakeDirectory, K::kIoError, false,
       [](Rig& s) { return s.faulty.MakeDirectory("/n"); }},
      {PlatformOp::kRemoveDirectory, K::kIoError, false,
       [](Rig& s) { return s.faulty.RemoveDirectory("/d/e"); }},
      {PlatformOp::kSyncDirectory, K::kIoError, false,
       [](Rig& s) { return s.faulty.SyncDirectory("/d"); }},
      {PlatformOp::kSyncFileSystem, K::kIoError, false,
       [](Rig& s) { return s.faulty.SyncFileSystem("/d"); }},
      {PlatformOp::kExecutablePath, K::kIoError, false,
       [](Rig& s) { return Failed(!s.faulty.ExecutablePath().empty()); }},
      {PlatformOp::kGetEnvironment, K::kIoError, false,
       [](Rig& s) { return Failed(s.faulty.GetEnvironment("HOME").has_value()); }},
      {PlatformOp::kRunCommandInterpreter, K::kIoError, false,
       [](Rig& s) { return Failed(s.faulty.RunCommandInterpreter(" /C x").started); }},
  };
}

TEST(FaultInjectingPlatformTest, EveryOperationFailsLikeTheRealOne) {
  std::set<PlatformOp> covered;
  for (const OpCase& c : Cases()) {
    SCOPED_TRACE(std::string(OpName(c.op)));
    covered.insert(c.op);
    // Without a fault the call succeeds, so the failure below is injected.
    {
      Rig clean;
      ASSERT_NE(clean.file, nullptr);
      EXPECT_TRUE(c.call(clean));
    }
    Rig s;
    ASSERT_NE(s.file, nullptr);
    const std::vector<std::string> tree = s.disk.ListTree();
    s.faulty.FailCall(c.op, 1);
    const auto why1 = c.call(s);
    EXPECT_FALSE(why1);
    EXPECT_EQ(s.faulty.Failures(), 1);
    const Status& error = why1;
    EXPECT_EQ(error.kind(), c.kind);
    // The failed call changed nothing.
    EXPECT_EQ(s.disk.ListTree(), tree);
    EXPECT_EQ(s.disk.ReadFileBytes("/d/f"), "abcdefgh");
  }
  // A new operation needs a case here.
  for (PlatformOp op : AllPlatformOps()) {
    if (IsShortVariant(op)) continue;
    EXPECT_EQ(covered.count(op), 1u) << OpName(op);
  }
}

TEST(FaultInjectingPlatformTest, AShortReadLooksLikeTheEndOfTheFile) {
  Rig s;
  char buffer[6];
  std::size_t got = 0;
  s.faulty.FailCall(PlatformOp::kShortRead, 1, FailMode::kOnce);
  ASSERT_TRUE(s.file->Read(buffer, 6, &got));
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(std::string(buffer, 6), std::string("abc\0\0\0", 6));
  // The position moved by what was read; the next read is whole again.
  ASSERT_TRUE(s.file->Read(buffer, 4, &got));
  EXPECT_EQ(std::string(buffer, got), "defg");
  s.faulty.FailCall(PlatformOp::kShortReadAt, 1, FailMode::kOnce);
  ASSERT_TRUE(s.file->ReadAt(4, buffer, 4, &got));
  EXPECT_EQ(std::string(buffer, 4), std::string("ef\0\0", 4));
  EXPECT_EQ(s.faulty.Calls(PlatformOp::kRead), 2);
  EXPECT_EQ(s.faulty.Calls(PlatformOp::kShortReadAt), 1);
}

TEST(FaultInjectingPlatformTest, AShortWriteFailsWithNoSpaceAfterHalfTheBytes) {
  Rig s;
  std::size_t written = 0;
  s.faulty.FailCall(PlatformOp::kShortWrite, 1, FailMode::kOnce);
  const auto why2 = s.file->Write("123456", 6, &written);
  EXPECT_FALSE(why2);
  EXPECT_EQ(written, 3u);
  EXPECT_EQ(why2.kind(), StatusKind::kNoSpace);
  EXPECT_EQ(s.disk.ReadFileBytes("/d/f"), "123defgh");
  s.faulty.FailCall(PlatformOp::kShortWriteAt, 1, FailMode::kOnce);
  EXPECT_FALSE(s.file->WriteAt(6, "XYZW", 4, &written));
  EXPECT_EQ(written, 2u);
  EXPECT_EQ(s.disk.ReadFileBytes("/d/f"), "123defXY");
  // Once only: the next write is whole.
  EXPECT_TRUE(s.file->Write("45", 2, &written));
  EXPECT_EQ(s.disk.ReadFileBytes("/d/f"), "12345fXY");
}

TEST(FaultInjectingPlatformTest, CountsFromNowAndFailsOnceOrFromThenOn) {
  Rig s;
  auto installed = s.faulty.Install();
  ASSERT_EQ(&Os(), &s.faulty);
  std::size_t written = 0;
  ASSERT_TRUE(s.file->Write("0", 1, &written));
  s.faulty.FailCall(PlatformOp::kWrite, 2, FailMode::kOnce);
  s.faulty.FailCall(PlatformOp::kSync, 2);
  EXPECT_TRUE(s.file->Write("1", 1, &written));
  EXPECT_FALSE(s.file->Write("2", 1, &written));
  EXPECT_EQ(written, 0u);  // nothing reached the file
  EXPECT_TRUE(s.file->Write("3", 1, &written));
  EXPECT_TRUE(s.file->Sync());
  EXPECT_FALSE(s.file->Sync());
  EXPECT_FALSE(s.file->Sync());
  EXPECT_EQ(s.faulty.Calls(PlatformOp::kWrite), 4);
  EXPECT_EQ(s.faulty.Failures(), 3);
  EXPECT_EQ(s.disk.ReadFileBytes("/d/f"), "013defgh");
  s.faulty.Reset();
  EXPECT_TRUE(s.file->Sync());
  EXPECT_EQ(s.faulty.Calls(PlatformOp::kSync), 1);
}

TEST(FaultInjectingPlatformTest, AFailedCloseStillClosesAndErrorsOfTheInnerPassThrough) {
  Rig s;
  ASSERT_TRUE(s.file->TryLock(0, 1));
  s.faulty.FailCall(PlatformOp::kClose, 1);
  EXPECT_FALSE(s.file->Close());
  auto other = s.faulty.OpenFile("/d/f", OpenMode::kRead);
  EXPECT_TRUE(other->TryLock(0, 1));  // the failed close released the lock
  const auto why3 = s.faulty.OpenFile("/d/missing", OpenMode::kRead);
  EXPECT_EQ(why3, nullptr);
  EXPECT_EQ(why3.status().kind(), StatusKind::kNotFound);
  auto third = s.faulty.OpenFile("/d/f", OpenMode::kReadWrite);
  const auto why4 = third->TryLock(0, 1);
  EXPECT_FALSE(why4);
  EXPECT_EQ(why4.kind(), StatusKind::kBusy);
  EXPECT_EQ(s.faulty.Failures(), 1);
}

}  // namespace
}  // namespace qlr::testing
