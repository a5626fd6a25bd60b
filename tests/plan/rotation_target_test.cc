// Which directory entries block a rotation number, and what the run makes
// of the target directory when others use it too: earlier archives under
// another extension, partial copies of dead runs, a number taken while the
// copy was being made, parents the run had to create.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/packer_app.h"
#include "plan/rotation_target.h"
#include "testing/fault_injecting_platform.h"
#include "testing/forwarding_platform.h"
#include "testing/memory_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::MemoryPlatform;

TEST(RotationNames, NumberAndPartialNamesAreToldApart) {
  struct Case {
    const char* name;
    std::optional<std::uint32_t> number;
    bool partial;
  };
  const Case cases[] = {
      {"00000000", 0u, false},
      {"0000001f", 31u, false},
      {"0000001F", 31u, false},        // Windows names ignore case
      {"00000000.zip", 0u, false},     // an archive of any extension
      {"00000002.tar.gz", 2u, false},  //
      {"00000003.", 3u, false},        // the archive of an empty Arc.Extension
      {"ffffffff", 0xFFFFFFFFu, false},
      {"0000000", std::nullopt, false},    // seven digits
      {"000000001", std::nullopt, false},  // nine digits
      {"0000000g", std::nullopt, false},
      {"00000000x", std::nullopt, false},
      {"x0000000", std::nullopt, false},
      {"qlr-partial.00000000", std::nullopt, true},
      {"qlr-partial.0000001f", std::nullopt, true},
      {"qlr-partial.0000001", std::nullopt, false},
      {"qlr-partial.000000001", std::nullopt, false},
      {"qlr-partial.", std::nullopt, false},
      {"xqlr-partial.00000000", std::nullopt, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RotationNumberOf(c.name), c.number) << c.name;
    EXPECT_EQ(IsPartialCopyName(c.name), c.partial) << c.name;
    // A partial copy can never be mistaken for a rotation, nor the reverse.
    EXPECT_FALSE(IsPartialCopyName(c.name) && RotationNumberOf(c.name)) << c.name;
  }
}

std::string HostPath(std::string_view name) { return PathSeparator() + std::string(name); }
std::string OldPath(std::string_view name) {
  return HostPath("old") + PathSeparator() + std::string(name);
}

// A copy-mode run of the *.MSG base /area (3 messages) into `target`.
struct MemoryRun {
  MemoryPlatform disk;
  PackerApp app;
  std::string out;
  std::string err;

  explicit MemoryRun(const std::string& target = HostPath("old")) {
    disk.SetBackslashIsSeparator(PathSeparator() == '\\');
    for (int i = 1; i <= 3; ++i) {
      disk.WriteFileBytes("/area/" + std::to_string(i) + ".msg", "message " + std::to_string(i));
    }
    app.MaxMessages = 1;
    app.RunLockPath = HostPath("qlr.lck");
    app.BaseLines.push_back(NewStr("#" + HostPath("area") + " " + target));
  }

  void Run(Platform& platform) {
    ScopedPlatform installed(platform);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    app.Run();
    err = ::testing::internal::GetCapturedStderr();
    out = ::testing::internal::GetCapturedStdout();
  }
  void Run() { Run(disk); }

  std::string Counted() const {
    return "processing base [#" + HostPath("area") + "]... 3 messages. ";
  }
  bool BaseIntact() const {
    for (int i = 1; i <= 3; ++i) {
      if (disk.ReadFileBytes("/area/" + std::to_string(i) + ".msg") !=
          "message " + std::to_string(i)) {
        return false;
      }
    }
    return true;
  }
};

TEST(RotationTarget, EveryEntryNamedByANumberBlocksIt) {
  struct Case {
    const char* what;
    std::vector<std::string> files;
    std::vector<std::string> dirs;
    const char* copy;
  };
  const Case cases[] = {
      {"archive under another extension", {"00000000.zip"}, {}, "00000001"},
      {"archives of an empty and a double extension",
       {"00000000.", "00000001.tar.gz"},
       {},
       "00000002"},
      {"earlier copy and a plain file", {"00000001"}, {"00000000"}, "00000002"},
      {"names that only look like numbers", {"0000000", "000000001", "00000000x"}, {}, "00000000"},
      {"a gap is reused", {"00000000.tar", "00000002.tar"}, {}, "00000001"},
  };
  for (const Case& c : cases) {
    MemoryRun run;
    for (const std::string& file : c.files) run.disk.WriteFileBytes("/old/" + file, "earlier");
    for (const std::string& dir : c.dirs) run.disk.MakeDirs("/old/" + dir);
    SetStr(run.app.ArcExtension, "tar");
    run.Run();
    EXPECT_EQ(run.out, run.Counted() + "copied to [" + OldPath(c.copy) + "]\r\n") << c.what;
    for (const std::string& file : c.files) {
      EXPECT_EQ(run.disk.ReadFileBytes("/old/" + file), "earlier") << c.what;
    }
  }
}

// Another program that makes /old/00000000 (with a file of its own) at the
// moment the run makes its first directory, after the run listed /old.
class RacingPlatform : public testing::ForwardingPlatform {
 public:
  explicit RacingPlatform(MemoryPlatform& disk) : ForwardingPlatform(disk), disk_(disk) {}
  Status MakeDirectory(std::string_view path) override {
    if (!raced_) {
      raced_ = true;
      disk_.WriteFileBytes("/old/00000000/theirs", "not the run's");
    }
    return ForwardingPlatform::MakeDirectory(path);
  }

 private:
  MemoryPlatform& disk_;
  bool raced_ = false;
};

TEST(RotationTarget, NumberTakenDuringTheCopyIsPassedOver) {
  MemoryRun run;
  run.disk.MakeDirs("/old");
  RacingPlatform racing(run.disk);
  run.Run(racing);
  EXPECT_EQ(run.out, run.Counted() + "copied to [" + OldPath("00000001") + "]\r\n");
  EXPECT_EQ(run.app.ExitCode(), 0);
  // The other program's directory holds only what it put there.
  EXPECT_EQ(run.disk.ReadFileBytes("/old/00000000/theirs"), "not the run's");
  EXPECT_FALSE(run.disk.Exists("/old/00000000/1.msg"));
  EXPECT_EQ(run.disk.ReadFileBytes("/old/00000001/3.msg"), "message 3");
}

TEST(RotationTarget, FailedCopyRemovesOnlyWhatTheRunMade) {
  MemoryRun run;
  run.disk.MakeDirs("/old");
  RacingPlatform racing(run.disk);
  testing::FaultInjectingPlatform faulty(racing);
  faulty.FailCall(testing::PlatformOp::kWrite, 2);
  faulty.FailCall(testing::PlatformOp::kLink, 1);  // no links: the files are copied
  run.Run(faulty);
  EXPECT_EQ(run.out, run.Counted() + "cannot copy to [" + OldPath("00000000") +
                         "]! base left as it was.\r\n");
  EXPECT_EQ(run.app.ExitCode(), 1);
  EXPECT_TRUE(run.BaseIntact());
  EXPECT_EQ(run.disk.ReadFileBytes("/old/00000000/theirs"), "not the run's");
  EXPECT_FALSE(run.disk.Exists("/old/qlr-partial.00000000"));
  // The cause names the file that failed and why.
  EXPECT_EQ(run.err.rfind("qlr: cannot copy to [" + OldPath("00000000") + "]: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("qlr-partial.00000000"), std::string::npos) << run.err;
}

// A name longer than the file system takes (the archive NNNNNNNN.<ext>
// past 255 bytes) is refused by the host before anything is made.
TEST(RotationTarget, NameTheSystemCannotTakeIsRefusedUntouched) {
  testing::ScratchDir dir;
  RotationTarget target(AddBackslash(dir.root()), true);
  target.SetArchiveExtension(std::string(250, 'x'));
  Status error;
  EXPECT_TRUE(target.Foresee(&error));
  EXPECT_TRUE(error.IsPathTooLong()) << error.ToString();
  EXPECT_TRUE(target.Prepare(&error));
  EXPECT_TRUE(error.IsPathTooLong()) << error.ToString();
  std::vector<DirEntry> entries;
  ASSERT_TRUE(Os().ListDirectory(dir.root(), "*", &entries));
  for (const DirEntry& entry : entries) EXPECT_TRUE(entry.name == "." || entry.name == "..");
}

TEST(RotationTarget, FailedCopyRemovesTheParentsItMade) {
  MemoryRun run(HostPath("new1") + PathSeparator() + "new2" + PathSeparator() + "old");
  run.disk.WriteFileBytes("/keep/file", "x");
  testing::FaultInjectingPlatform faulty(run.disk);
  faulty.FailCall(testing::PlatformOp::kWrite, 1);
  faulty.FailCall(testing::PlatformOp::kLink, 1);  // no links: the files are copied
  run.Run(faulty);
  EXPECT_EQ(run.app.ExitCode(), 1);
  EXPECT_TRUE(run.BaseIntact());
  EXPECT_FALSE(run.disk.Exists("/new1"));
}

TEST(RotationTarget, PartialCopiesOfDeadRunsAreRemovedOnlyTheirFiles) {
  MemoryRun run;
  run.disk.WriteFileBytes("/old/qlr-partial.00000000/1.msg", "half a copy");
  run.disk.WriteFileBytes("/old/qlr-partial.00000001/2.msg", "another");
  run.disk.WriteFileBytes("/old/qlr-partial.00000001/sub/file", "not a copy's");
  run.disk.WriteFileBytes("/old/qlr-partial.00000002", "a plain file of that name");
  run.disk.WriteFileBytes("/old/qlr-partial.x/1.msg", "not of the partial kind");
  run.Run();
  EXPECT_EQ(run.out, run.Counted() + "copied to [" + OldPath("00000000") + "]\r\n");
  EXPECT_FALSE(run.disk.Exists("/old/qlr-partial.00000000"));
  EXPECT_FALSE(run.disk.Exists("/old/qlr-partial.00000001/2.msg"));
  EXPECT_EQ(run.disk.ReadFileBytes("/old/qlr-partial.00000001/sub/file"), "not a copy's");
  EXPECT_EQ(run.disk.ReadFileBytes("/old/qlr-partial.00000002"), "a plain file of that name");
  EXPECT_EQ(run.disk.ReadFileBytes("/old/qlr-partial.x/1.msg"), "not of the partial kind");
}

TEST(RotationTarget, PartialCopyWhoseLockIsHeldBelongsToAnotherRunAndStays) {
  // Another installation sharing the target writes its partial copy.
  MemoryRun run;
  run.disk.WriteFileBytes("/old/qlr-partial.00000000/1.msg", "being written");
  run.disk.WriteFileBytes("/old/qlr-partial.00000000/.qlr-lock", "");
  std::unique_ptr<FileHandle> theirs =
      run.disk.OpenFile("/old/qlr-partial.00000000/.qlr-lock", OpenMode::kReadWrite);
  ASSERT_NE(theirs, nullptr);
  ASSERT_TRUE(theirs->TryLock(0, 1));
  run.Run();
  EXPECT_EQ(run.out, run.Counted() + "copied to [" + OldPath("00000000") + "]\r\n");
  EXPECT_EQ(run.disk.ReadFileBytes("/old/qlr-partial.00000000/1.msg"), "being written");
  // The run's own lock file went with its partial name.
  EXPECT_EQ(run.disk.ReadFileBytes("/old/00000000/3.msg"), "message 3");
  EXPECT_FALSE(run.disk.Exists("/old/00000000/.qlr-lock"));
  // Once the other run is gone, its partial is a dead run's.
  theirs.reset();
  run.disk.WriteFileBytes("/area/4.msg", "message 4");
  run.disk.WriteFileBytes("/area/5.msg", "message 5");
  run.Run();
  EXPECT_FALSE(run.disk.Exists("/old/qlr-partial.00000000"));
}

TEST(RotationTarget, PartialCopiesAreLeftAloneWhileAnotherRunMayOwnThem) {
  // A system without byte-range locks cannot tell a dead run from a live
  // one: nothing is removed.
  class NoLocks : public testing::ForwardingPlatform {
   public:
    using ForwardingPlatform::ForwardingPlatform;
    Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
      struct Unlockable : testing::ForwardingFile {
        using ForwardingFile::ForwardingFile;
        Status TryLock(std::uint64_t, std::uint64_t) override {
          return Status::NotSupported("", "locks");
        }
      };
      auto inner = ForwardingPlatform::OpenFile(path, mode);
      if (!inner) return inner;
      return std::make_unique<Unlockable>(std::move(inner));
    }
  };
  MemoryRun run;
  run.disk.WriteFileBytes("/old/qlr-partial.00000000/1.msg", "a live run's");
  NoLocks no_locks(run.disk);
  run.Run(no_locks);
  EXPECT_EQ(run.out, run.Counted() + "copied to [" + OldPath("00000000") + "]\r\n");
  EXPECT_EQ(run.disk.ReadFileBytes("/old/qlr-partial.00000000/1.msg"), "a live run's");
}

class DurableParentsTest : public ::testing::TestWithParam<bool> {};

TEST_P(DurableParentsTest, NewParentDirectoriesSurviveACrash) {
  MemoryRun run(HostPath("new1") + PathSeparator() + "new2" + PathSeparator() + "old");
  run.disk.SetFileSystemSyncSupported(GetParam());
  run.Run();
  ASSERT_EQ(run.app.ExitCode(), 0) << run.out;
  // The worst case: the erase reached the disk, nothing else unsynced did.
  run.disk.Crash(MemoryPlatform::CrashKeeps::kDeletions);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(run.disk.ReadFileBytes("/new1/new2/old/00000000/" + std::to_string(i) + ".msg"),
              "message " + std::to_string(i));
  }
}

INSTANTIATE_TEST_SUITE_P(SyncFileSystem, DurableParentsTest, ::testing::Bool());

}  // namespace
}  // namespace qlr
