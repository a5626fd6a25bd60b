#include "util/files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/platform.h"
#include "testing/fault_injecting_platform.h"
#include "testing/forwarding_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;
using testing::FaultInjectingPlatform;
using testing::PlatformOp;
using testing::ScratchDir;

constexpr bool kPosixHost = kHostPathStyle == PathStyle::kPosix;
const std::string kSep(1, PathSeparator());

// Content larger than one copy block, so the copy loop runs more than once.
std::string BigContent() {
  std::string s(150000, '\0');
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

// An odd time in the past, with a fraction that a two-second or even a
// one-second resolution would lose. Set through the host's platform: the
// C++ library of MinGW sets whole seconds only. FileTime counts 100 ns on
// Windows, nanoseconds elsewhere.
void SetOddTime(const std::string& path) {
  constexpr std::int64_t kTicksPerSecond = kHostIsWindows ? 10'000'000 : 1'000'000'000;
  const std::optional<FileStatus> status = Os().Stat(path);
  ASSERT_TRUE(status.has_value()) << path;
  const std::int64_t now = status->modified.ticks;
  const FileTime when{now - now % kTicksPerSecond - 1000 * 3600 * kTicksPerSecond +
                      kTicksPerSecond / 1000 * 123 + 4567};
  ASSERT_TRUE(Os().SetModifiedTime(path, when)) << path;
  ASSERT_EQ(Os().Stat(path)->modified, when) << path;
}

class FilesTest : public ::testing::Test {
 protected:
  std::string P(std::string_view name) const { return scratch_.Path(name); }
  bool Exists(std::string_view name) const { return fs::exists(fs::symlink_status(P(name))); }
  ScratchDir scratch_;
};

TEST_F(FilesTest, ExistenceTests) {
  scratch_.WriteFile("file.txt", "x");
  fs::create_directory(P("dir"));
  fs::create_directory(P("dir.d"));

  EXPECT_TRUE(FileExists(P("file.txt")));
  EXPECT_FALSE(FileExists(P("dir")));
  EXPECT_FALSE(FileExists(P("missing")));
  EXPECT_FALSE(FileExists(""));

  EXPECT_TRUE(DirExists(P("dir")));
  EXPECT_TRUE(DirExists(P("dir") + kSep));
  EXPECT_TRUE(DirExists(P("dir.d")));
  EXPECT_FALSE(DirExists(P("file.txt")));
  EXPECT_FALSE(DirExists(P("file.txt") + kSep));
  EXPECT_FALSE(DirExists(P("missing")));
  EXPECT_TRUE(DirExists(""));  // the current directory
  if (kPosixHost) {
    EXPECT_TRUE(DirExists("/"));
  }
}

TEST_F(FilesTest, DeleteFileIfExistsDeletesFilesOnly) {
  scratch_.WriteFile("file.txt", "x");
  fs::create_directory(P("dir"));
  DeleteFileIfExists(P("file.txt"));
  DeleteFileIfExists(P("dir"));
  DeleteFileIfExists(P("missing"));
  EXPECT_FALSE(Exists("file.txt"));
  EXPECT_TRUE(fs::is_directory(P("dir")));
}

TEST_F(FilesTest, MakePathCreatesEveryLevelOfTheDirectoryPart) {
  EXPECT_TRUE(MakePath(P("a/b/c/")));
  EXPECT_TRUE(fs::is_directory(P("a/b/c")));

  // The last component is a file name and is not created.
  EXPECT_TRUE(MakePath(P("x/y/name.txt")));
  EXPECT_TRUE(fs::is_directory(P("x/y")));
  EXPECT_FALSE(Exists("x/y/name.txt"));

  // Existing levels are fine; empty components are skipped.
  EXPECT_TRUE(MakePath(P("a") + kSep + kSep + "b" + kSep + "d" + kSep));
  EXPECT_TRUE(fs::is_directory(P("a/b/d")));
}

TEST_F(FilesTest, MakePathFailsWhereAFileBlocksTheWay) {
  scratch_.WriteFile("blocker", "x");
  EXPECT_FALSE(MakePath(P("blocker/sub/")));
  scratch_.WriteFile("ok/file", "x");
  EXPECT_FALSE(MakePath(P("ok/file/deeper/")));
  EXPECT_TRUE(fs::is_regular_file(P("ok/file")));
}

TEST_F(FilesTest, MakePathWithoutDirectoryPartDoesNothing) {
  EXPECT_TRUE(MakePath("just-a-name"));
  EXPECT_FALSE(fs::exists("just-a-name"));
}

TEST_F(FilesTest, CopyFileToCopiesContentTimeAndMode) {
  const std::string content = BigContent();
  scratch_.WriteFile("src.bin", content);
  SetOddTime(P("src.bin"));
  fs::permissions(P("src.bin"), fs::perms::owner_read | fs::perms::group_read,
                  fs::perm_options::replace);
  const fs::perms source_perms = fs::status(P("src.bin")).permissions();

  EXPECT_FALSE(CopyFileTo(P("src.bin"), P("dst.bin"), false));

  EXPECT_EQ(scratch_.ReadFile("dst.bin"), content);
  EXPECT_EQ(fs::last_write_time(P("dst.bin")), fs::last_write_time(P("src.bin")));
  EXPECT_EQ(Os().Stat(P("dst.bin"))->modified, Os().Stat(P("src.bin"))->modified);
  EXPECT_EQ(fs::status(P("dst.bin")).permissions(), source_perms);
  EXPECT_NE(Os().Stat(P("dst.bin"))->attributes & kAttrReadOnly, 0);
  // The source keeps its read-only mode.
  EXPECT_EQ(fs::status(P("src.bin")).permissions(), source_perms);
}

TEST_F(FilesTest, CopyFileToReplacesOrAppends) {
  scratch_.WriteFile("src", "new");
  scratch_.WriteFile("dst", "old content");
  EXPECT_FALSE(CopyFileTo(P("src"), P("dst"), false));
  EXPECT_EQ(scratch_.ReadFile("dst"), "new");

  EXPECT_FALSE(CopyFileTo(P("src"), P("dst"), true));
  EXPECT_EQ(scratch_.ReadFile("dst"), "newnew");

  // Append to a missing file creates it.
  EXPECT_FALSE(CopyFileTo(P("src"), P("fresh"), true));
  EXPECT_EQ(scratch_.ReadFile("fresh"), "new");

  scratch_.WriteFile("empty", "");
  EXPECT_FALSE(CopyFileTo(P("empty"), P("dst"), false));
  EXPECT_EQ(scratch_.ReadFile("dst"), "");
}

TEST_F(FilesTest, CopyFileToFailsWhenTheDestinationCannotBeCreated) {
  scratch_.WriteFile("src", "data");
  EXPECT_TRUE(CopyFileTo(P("src"), P("no-such-dir/dst"), false));
  EXPECT_TRUE(CopyFileTo(P("src"), P("no-such-dir/dst"), true));
  fs::create_directory(P("a-dir"));
  EXPECT_TRUE(CopyFileTo(P("src"), P("a-dir"), false));
  EXPECT_EQ(scratch_.ReadFile("src"), "data");
}

TEST_F(FilesTest, CopyFileToHasNothingToDoWithoutASourceFile) {
  fs::create_directory(P("dir"));
  EXPECT_FALSE(CopyFileTo(P("missing"), P("dst"), false));
  EXPECT_FALSE(CopyFileTo(P("dir"), P("dst"), false));
  EXPECT_FALSE(Exists("dst"));
}

TEST_F(FilesTest, CopyFileToOntoItselfLeavesTheFileIntact) {
  const std::string content = BigContent();
  scratch_.WriteFile("src", content);
  EXPECT_FALSE(CopyFileTo(P("src"), P("src"), false));
  EXPECT_FALSE(CopyFileTo(P("src"), P("src"), true));
  EXPECT_FALSE(CopyFileTo(P("src"), P(".") + kSep + "src", false));
  EXPECT_EQ(scratch_.ReadFile("src"), content);
}

TEST_F(FilesTest, CopyFileToThroughASymlinkToTheSourceIsTheSameFile) {
  if (!kPosixHost) GTEST_SKIP() << "file identity through symbolic links";
  const std::string content = BigContent();
  scratch_.WriteFile("src", content);
  fs::create_symlink(P("src"), P("link"));
  EXPECT_FALSE(CopyFileTo(P("src"), P("link"), false));
  EXPECT_FALSE(CopyFileTo(P("link"), P("src"), false));
  EXPECT_EQ(scratch_.ReadFile("src"), content);
}

TEST_F(FilesTest, CopyFileToNamesDifferingInCaseAreDifferentFilesOnPosix) {
  if (!kPosixHost) GTEST_SKIP() << "case-sensitive names";
  scratch_.WriteFile("Name", "upper");
  scratch_.WriteFile("name", "lower");
  EXPECT_FALSE(CopyFileTo(P("Name"), P("name"), false));
  EXPECT_EQ(scratch_.ReadFile("name"), "upper");
}

TEST_F(FilesTest, CopyFileToReportsEveryWriteFailure) {
  scratch_.WriteFile("src", BigContent());
  const struct {
    PlatformOp op;
    int nth;
  } faults[] = {
      {PlatformOp::kWrite, 1},         {PlatformOp::kWrite, 2},
      {PlatformOp::kShortWrite, 3},    {PlatformOp::kRead, 2},
      {PlatformOp::kCopyFrom, 1},      {PlatformOp::kSync, 1},
      {PlatformOp::kOpenFile, 1},      {PlatformOp::kOpenFile, 2},
      {PlatformOp::kSyncDirectory, 1}, {PlatformOp::kSetModifiedTime, 1},
  };
  for (const auto& fault : faults) {
    FaultInjectingPlatform faulty;
    auto installed = faulty.Install();
    faulty.FailCall(fault.op, fault.nth);
    EXPECT_TRUE(CopyFileTo(P("src"), P("dst"), false))
        << "op " << static_cast<int>(fault.op) << " call " << fault.nth;
    EXPECT_EQ(faulty.Failures(), 1) << "op " << static_cast<int>(fault.op);
  }
  // Without faults the same copy succeeds.
  EXPECT_FALSE(CopyFileTo(P("src"), P("dst"), false));
  EXPECT_EQ(scratch_.ReadFile("dst"), BigContent());
}

TEST_F(FilesTest, CopyFileToWritesInBlocksOf65535Bytes) {
  scratch_.WriteFile("src", std::string(65535 * 2 + 1, 'b'));
  FaultInjectingPlatform counting;
  auto installed = counting.Install();
  EXPECT_FALSE(CopyFileTo(P("src"), P("dst"), false));
  EXPECT_EQ(counting.Calls(PlatformOp::kWrite), 3);
  EXPECT_EQ(counting.Calls(PlatformOp::kSync), 1);
}

// Source tree used by the CopyTree and RemoveTree tests:
//   tree/one.msg, tree/two.msg, tree/.lock, tree/sub/three.msg,
//   tree/sub/deeper/four.msg
void MakeTree(const ScratchDir& scratch) {
  scratch.WriteFile("tree/one.msg", "1");
  scratch.WriteFile("tree/two.msg", "22");
  scratch.WriteFile("tree/.lock", "L");
  scratch.WriteFile("tree/sub/three.msg", "333");
  scratch.WriteFile("tree/sub/deeper/four.msg", "4444");
}

TEST_F(FilesTest, CopyLeftToTheCallerToSyncFlushesNothingAndRecordsEachFile) {
  scratch_.WriteFile("src", "12345");
  MakeTree(scratch_);
  std::vector<CopiedFile> copied;
  const CopyOptions options{CopyDurability::kCallerSyncs, &copied};
  FaultInjectingPlatform counting;
  auto installed = counting.Install();
  EXPECT_FALSE(CopyFileTo(P("src"), P("dst"), false, options));
  EXPECT_FALSE(CopyTree(P("tree"), P("copy"), true, options));
  EXPECT_EQ(counting.Calls(PlatformOp::kSync), 0);
  EXPECT_EQ(counting.Calls(PlatformOp::kSyncDirectory), 0);
  // src and the five files of the tree, each with the size it was read at.
  ASSERT_EQ(copied.size(), 6u);
  EXPECT_EQ(copied[0].source, P("src"));
  EXPECT_EQ(copied[0].dest, P("dst"));
  EXPECT_EQ(copied[0].status.size, 5u);
  EXPECT_EQ(scratch_.ReadFile("copy/sub/deeper/four.msg"), "4444");
}

TEST_F(FilesTest, CopyTreeWithoutRecursionSkipsSubdirectories) {
  MakeTree(scratch_);
  EXPECT_FALSE(CopyTree(P("tree"), P("out/copy"), false));
  EXPECT_EQ(scratch_.ReadFile("out/copy/one.msg"), "1");
  EXPECT_EQ(scratch_.ReadFile("out/copy/two.msg"), "22");
  if (kPosixHost) {
    EXPECT_EQ(scratch_.ReadFile("out/copy/.lock"), "L");
  }
  EXPECT_FALSE(Exists("out/copy/sub"));
}

TEST_F(FilesTest, CopyTreeWithRecursionCopiesEveryLevel) {
  MakeTree(scratch_);
  EXPECT_FALSE(CopyTree(P("tree") + kSep, P("copy") + kSep, true));
  EXPECT_EQ(scratch_.ReadFile("copy/one.msg"), "1");
  EXPECT_EQ(scratch_.ReadFile("copy/sub/three.msg"), "333");
  EXPECT_EQ(scratch_.ReadFile("copy/sub/deeper/four.msg"), "4444");
}

TEST_F(FilesTest, CopyTreeOntoItselfFailsAndChangesNothing) {
  MakeTree(scratch_);
  EXPECT_TRUE(CopyTree(P("tree"), P("tree"), true));
  EXPECT_TRUE(CopyTree(P("tree"), P("tree") + kSep, false));
  if (kPosixHost) {
    fs::create_directory_symlink(P("tree"), P("alias"));
    EXPECT_TRUE(CopyTree(P("alias"), P("tree"), true));
  }
  EXPECT_EQ(scratch_.ReadFile("tree/one.msg"), "1");
  EXPECT_EQ(scratch_.ReadFile("tree/sub/three.msg"), "333");
}

TEST_F(FilesTest, CopyTreeFailsUpFront) {
  scratch_.WriteFile("file", "x");
  MakeTree(scratch_);
  EXPECT_TRUE(CopyTree(P("missing"), P("out"), false));
  EXPECT_TRUE(CopyTree(P("file"), P("out"), false));
  EXPECT_FALSE(Exists("out"));
  // A file where the destination directory should go.
  EXPECT_TRUE(CopyTree(P("tree"), P("file/out"), false));
}

TEST_F(FilesTest, CopyTreeReportsASingleFailedFileAndCopiesTheRest) {
  MakeTree(scratch_);
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kWrite, 1, testing::FailMode::kOnce);
  EXPECT_TRUE(CopyTree(P("tree"), P("copy"), true));
  EXPECT_EQ(faulty.Failures(), 1);
  EXPECT_EQ(scratch_.ReadFile("copy/sub/deeper/four.msg"), "4444");
}

TEST_F(FilesTest, CopyTreeReportsASubdirectoryThatCannotBeMade) {
  MakeTree(scratch_);
  scratch_.WriteFile("copy/sub", "a file in the way");
  EXPECT_TRUE(CopyTree(P("tree"), P("copy"), true));
  EXPECT_EQ(scratch_.ReadFile("copy/one.msg"), "1");
}

TEST_F(FilesTest, CopyTreeIntoItsOwnSubdirectoryEnds) {
  MakeTree(scratch_);
  EXPECT_FALSE(CopyTree(P("tree"), P("tree/sub/inner"), true));
  EXPECT_EQ(scratch_.ReadFile("tree/sub/inner/one.msg"), "1");
  EXPECT_EQ(scratch_.ReadFile("tree/sub/inner/sub/three.msg"), "333");
  EXPECT_FALSE(Exists("tree/sub/inner/sub/inner"));
}

TEST_F(FilesTest, RemoveTreeWithoutRecursionKeepsSubdirectoriesAndTheDirectory) {
  MakeTree(scratch_);
  RemoveTree(P("tree"), false);
  EXPECT_FALSE(Exists("tree/one.msg"));
  EXPECT_FALSE(Exists("tree/two.msg"));
  if (kPosixHost) {
    EXPECT_FALSE(Exists("tree/.lock"));
  }
  EXPECT_EQ(scratch_.ReadFile("tree/sub/three.msg"), "333");
  EXPECT_TRUE(fs::is_directory(P("tree")));
}

TEST_F(FilesTest, RemoveTreeWithRecursionRemovesReadOnlyFilesAndEveryLevel) {
  MakeTree(scratch_);
  fs::permissions(P("tree/one.msg"), fs::perms::owner_read, fs::perm_options::replace);
  fs::permissions(P("tree/sub/deeper/four.msg"), fs::perms::owner_read, fs::perm_options::replace);
  RemoveTree(P("tree"), true);
  if (kPosixHost) {
    EXPECT_FALSE(Exists("tree"));
  } else {
    // DOS rules skip names starting with a dot: .lock stays, and so does
    // the directory that still holds it.
    EXPECT_FALSE(Exists("tree/one.msg"));
    EXPECT_FALSE(Exists("tree/sub"));
    EXPECT_EQ(scratch_.ReadFile("tree/.lock"), "L");
  }
  EXPECT_TRUE(fs::is_directory(scratch_.root()));
}

TEST_F(FilesTest, RemoveTreeDeletesALinkToADirectoryNotWhatItPointsTo) {
  if (!kPosixHost) GTEST_SKIP() << "symbolic links are a POSIX matter here";
  MakeTree(scratch_);
  scratch_.WriteFile("precious/keep.msg", "do not touch");
  fs::create_directory_symlink(P("precious"), P("tree/link"));
  RemoveTree(P("tree"), true);
  EXPECT_FALSE(Exists("tree"));
  EXPECT_EQ(scratch_.ReadFile("precious/keep.msg"), "do not touch");
}

TEST_F(FilesTest, RemoveTreeWithTrailingSeparatorKeepsTheDirectory) {
  MakeTree(scratch_);
  RemoveTree(P("tree") + kSep, true);
  EXPECT_TRUE(fs::is_directory(P("tree")));
  if (kPosixHost) {
    EXPECT_TRUE(fs::is_empty(P("tree")));
  } else {
    // Only the dot file, which DOS rules skip, is left.
    EXPECT_FALSE(Exists("tree/one.msg"));
    EXPECT_FALSE(Exists("tree/sub"));
    EXPECT_TRUE(Exists("tree/.lock"));
  }
}

TEST_F(FilesTest, RemoveTreeOfAMissingDirectoryDoesNothing) {
  MakeTree(scratch_);
  RemoveTree(P("missing"), true);
  RemoveTree(P("tree/one.msg"), true);  // a file, not a directory
  EXPECT_EQ(scratch_.ReadFile("tree/one.msg"), "1");
}

TEST_F(FilesTest, RemoveTreeNeverTouchesTheRootOrTheEmptyPath) {
  // Every call that could delete anything fails here, so a fault in the
  // guard cannot do harm; the counts show whether it was even tried.
  for (const std::string& dir : {std::string(), kSep, kSep + kSep}) {
    FaultInjectingPlatform guard;
    auto installed = guard.Install();
    for (PlatformOp op : {PlatformOp::kListDirectory, PlatformOp::kDeleteFile,
                          PlatformOp::kRemoveDirectory, PlatformOp::kSetAttributes}) {
      guard.FailCall(op, 1);
    }
    RemoveTree(dir, true);
    RemoveTree(dir, false);
    EXPECT_EQ(guard.Calls(PlatformOp::kListDirectory), 0) << "'" << dir << "'";
    EXPECT_EQ(guard.Calls(PlatformOp::kDeleteFile), 0) << "'" << dir << "'";
    EXPECT_EQ(guard.Calls(PlatformOp::kRemoveDirectory), 0) << "'" << dir << "'";
  }
}

// Only a platform that really has no locks lets a caller go on without
// one; any other refusal (an invalid request, an I/O error) is a failure.
TEST(FileByteLockTest, OnlyAMissingLockServiceCountsAsNoLocks) {
  class RefusingLocks final : public testing::ForwardingPlatform {
   public:
    StatusKind refusal = StatusKind::kOk;
    Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
      class File final : public testing::ForwardingFile {
       public:
        File(std::unique_ptr<FileHandle> inner, StatusKind refusal)
            : ForwardingFile(std::move(inner)), refusal_(refusal) {}
        Status TryLock(std::uint64_t, std::uint64_t) override {
          return Status(refusal_, "", "refused");
        }

       private:
        StatusKind refusal_;
      };
      auto inner = ForwardingPlatform::OpenFile(path, mode);
      if (!inner) return inner;
      return std::make_unique<File>(std::move(inner), refusal);
    }
  };
  const struct {
    StatusKind refusal;
    FileByteLock::Outcome outcome;
  } cases[] = {
      {StatusKind::kNotSupported, FileByteLock::Outcome::kNoLocks},
      {StatusKind::kInvalidArgument, FileByteLock::Outcome::kFailed},
      {StatusKind::kIoError, FileByteLock::Outcome::kFailed},
      {StatusKind::kBusy, FileByteLock::Outcome::kBusy},
  };
  testing::ScratchDir dir;
  for (const auto& c : cases) {
    RefusingLocks platform;
    platform.refusal = c.refusal;
    ScopedPlatform installed(platform);
    FileByteLock lock;
    EXPECT_EQ(lock.Acquire(dir.Path("run.lck"), /*create=*/true, 0), c.outcome)
        << static_cast<int>(c.refusal);
    EXPECT_FALSE(lock.Held());
  }
}

#ifndef _WIN32
// A lock file that is a link not yet pointing at a file: the run lock is
// made where the link points (the package links it into /var/lib), any
// other lock is never made through a link.
TEST(FileByteLockTest, ADanglingLinkIsFollowedOnlyWhereLinksAre) {
  testing::ScratchDir dir;
  for (const bool follow : {true, false}) {
    SCOPED_TRACE(follow);
    const std::string target = dir.Path(follow ? "followed.lck" : "planted.lck");
    const std::string link = dir.Path(follow ? "run.lck" : "base.lck");
    std::filesystem::create_symlink(target, link);
    FileByteLock lock;
    EXPECT_EQ(lock.Acquire(link, /*create=*/true, 0, follow),
              follow ? FileByteLock::Outcome::kLocked : FileByteLock::Outcome::kFailed);
    EXPECT_EQ(std::filesystem::exists(target), follow);
  }
}
#endif

}  // namespace
}  // namespace qlr
