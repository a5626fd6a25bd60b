#include "msgbase/base_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "testing/fault_injecting_platform.h"
#include "testing/forwarding_platform.h"
#include "testing/scratch_dir.h"
#include "util/files.h"
#include "util/paths.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;
using testing::FaultInjectingPlatform;
using testing::PlatformOp;

const std::string kSep(1, PathSeparator());

class BaseFilesTest : public ::testing::Test {
 protected:
  // A *.msg area with two messages, a file that is no message and a
  // subdirectory.
  std::string MakeMsgArea() {
    dir_.WriteFile("area/1.msg", std::string(300, 'a'));
    dir_.WriteFile("area/2.msg", std::string(70000, 'b'));
    dir_.WriteFile("area/lastread", "7");
    dir_.WriteFile("area/sub/3.msg", "c");
    return dir_.Path("area");
  }

  testing::ScratchDir dir_;
};

TEST_F(BaseFilesTest, CopiesEveryFileOfAMsgAreaButNoSubdirectory) {
  const std::string area = MakeMsgArea();
  const std::string copy = dir_.Path("old/00000000");
  EXPECT_FALSE(CopyBaseFiles("#" + area, copy));
  EXPECT_EQ(dir_.ReadFile("old/00000000/1.msg"), std::string(300, 'a'));
  EXPECT_EQ(dir_.ReadFile("old/00000000/2.msg"), std::string(70000, 'b'));
  EXPECT_EQ(dir_.ReadFile("old/00000000/lastread"), "7");
  EXPECT_FALSE(fs::exists(copy + kSep + "sub"));
}

TEST_F(BaseFilesTest, CopiesTheFileSetOfSingleFileFormats) {
  const struct {
    const char* spec_prefix;
    std::vector<std::string> present;
    std::vector<std::string> copied;
  } cases[] = {
      // A missing .jdx is skipped; the other two are still copied.
      {"!", {"MY.AREA.jhr", "MY.AREA.jdt", "MY.AREA.jlr"}, {"MY.AREA.jhr", "MY.AREA.jdt"}},
      {"$", {"MY.AREA.sqd", "MY.AREA.sqi", "MY.AREA.sql"}, {"MY.AREA.sqd", "MY.AREA.sqi"}},
      {"P", {"MY.AREA.pkt"}, {"MY.AREA.pkt"}},
  };
  // Also into a directory of 250 characters, where the names of the
  // copied files pass 255: each is copied under its whole name. (Not on
  // Windows, whose calls take no path of MAX_PATH characters.)
  std::vector<std::string> copies = {"copy"};
  if (!kHostIsWindows) copies.push_back(std::string(249 - dir_.Path("set0").size(), 'd'));
  int n = 0;
  for (const auto& c : cases) {
    for (const std::string& copy : copies) {
      const std::string sub = "set" + std::to_string(n++);
      for (const std::string& f : c.present) dir_.WriteFile(sub + "/" + f, f);
      const std::string target = dir_.Path(sub + "/" + copy);
      EXPECT_FALSE(CopyBaseFiles(c.spec_prefix + dir_.Path(sub + "/MY.AREA"), target));
      std::vector<std::string> found;
      for (const auto& e : fs::directory_iterator(target)) {
        found.push_back(e.path().filename().string());
      }
      std::sort(found.begin(), found.end());
      std::vector<std::string> expected = c.copied;
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(found, expected) << c.spec_prefix << " " << target.size();
      for (const std::string& f : expected) EXPECT_EQ(dir_.ReadFile(sub + "/" + copy + "/" + f), f);
    }
  }
}

TEST_F(BaseFilesTest, DestinationThatCannotBeMadeCopiesNothing) {
  const std::string area = MakeMsgArea();
  dir_.WriteFile("blocker", "a file, not a directory");
  EXPECT_TRUE(CopyBaseFiles("#" + area, dir_.Path("blocker/00000000")));
  EXPECT_TRUE(CopyBaseFiles("", dir_.Path("x")));
  EXPECT_TRUE(CopyBaseFiles("C:\\X.DAT", dir_.Path("y")));
}

// A file system without links: the files are copied.
class NoLinkPlatform : public testing::ForwardingPlatform {
 public:
  Status Link(std::string_view from, std::string_view) override {
    return Status::Invalid(from, "links not supported");
  }
};

TEST_F(BaseFilesTest, AFailedWriteAnywhereIsReported) {
  const std::string area = MakeMsgArea();
  // Where the host syncs whole file systems the copy is made durable by
  // the second such call (the first asks whether the platform has it);
  // elsewhere by a sync of each file and directory.
  for (PlatformOp op : {PlatformOp::kWrite, PlatformOp::kShortWrite, PlatformOp::kSync,
                        PlatformOp::kSyncDirectory, PlatformOp::kSyncFileSystem}) {
    NoLinkPlatform no_links;  // the bytes are written: nothing is linked
    FaultInjectingPlatform faulty(no_links);
    auto installed = faulty.Install();
    faulty.FailCall(op, 2);
    const std::string copy = dir_.Path("fail" + std::to_string(static_cast<int>(op)));
    const bool failed = CopyBaseFiles("#" + area, copy);
    // A sync kind the host does not use never fires; any that fires fails.
    EXPECT_EQ(failed, faulty.Failures() > 0) << static_cast<int>(op);
    if (op == PlatformOp::kWrite || op == PlatformOp::kShortWrite) {
      EXPECT_TRUE(failed);
    }
  }
}

TEST_F(BaseFilesTest, EraseRemovesMessagesAndLeavesOtherFiles) {
  const std::string area = MakeMsgArea();
  auto base = EraseBase("#" + area);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->State(), BaseState::kCreated);
  EXPECT_EQ(base->Count(), 0);
  EXPECT_FALSE(fs::exists(area + kSep + "1.msg"));
  EXPECT_FALSE(fs::exists(area + kSep + "2.msg"));
  EXPECT_TRUE(fs::exists(area + kSep + "lastread"));
  EXPECT_TRUE(fs::exists(area + kSep + "sub" + kSep + "3.msg"));
}

TEST_F(BaseFilesTest, EraseAfterACopyKeepsMessagesTheCopyDoesNotHold) {
  const std::string area = MakeMsgArea();
  NoLinkPlatform no_links;
  ScopedPlatform installed(no_links);
  const std::string copy = dir_.Path("old/00000000");
  CopyManifest copied;
  ASSERT_FALSE(CopyBaseFiles("#" + area, copy, &copied));
  // A tosser writes between the copy and the erase: a new message, and a
  // new text for message 1.
  dir_.WriteFile("area/4.msg", "arrived late");
  dir_.WriteFile("area/1.msg", "rewritten");
  auto base = EraseBase("#" + area, &copied);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->Count(), 4);
  EXPECT_EQ(dir_.ReadFile("area/4.msg"), "arrived late");
  EXPECT_EQ(dir_.ReadFile("area/1.msg"), "rewritten");
  EXPECT_FALSE(fs::exists(area + kSep + "2.msg"));
  EXPECT_EQ(dir_.ReadFile("old/00000000/2.msg"), std::string(70000, 'b'));
}

TEST_F(BaseFilesTest, EraseThatLeavesAMessageBehindFails) {
  const std::string area = MakeMsgArea();
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kDeleteFile, 1, testing::FailMode::kOnce);
  EXPECT_EQ(EraseBase("#" + area), nullptr);
}

TEST_F(BaseFilesTest, EraseOfAnUnknownFormatTouchesNothing) {
  const std::string area = MakeMsgArea();
  EXPECT_EQ(EraseBase("C:\\X.DAT"), nullptr);
  EXPECT_EQ(EraseBase(""), nullptr);
  EXPECT_TRUE(fs::exists(area + kSep + "1.msg"));
}

// Modification times on a file system that keeps whole seconds: every
// time set or read under `coarse_root` loses its fraction, as on a target
// disk with coarse timestamps.
// Ticks per second of the host's FileTime: FILETIME counts 100 ns.
constexpr std::int64_t kTicksPerSecond = kHostIsWindows ? 10'000'000 : 1'000'000'000;

class CoarseTimePlatform : public testing::ForwardingPlatform {
 public:
  explicit CoarseTimePlatform(std::string coarse_root) : coarse_root_(std::move(coarse_root)) {}

  Result<FileStatus> Stat(std::string_view path) override {
    Result<FileStatus> status = inner_.Stat(path);
    if (status && IsCoarse(path)) status->modified = Round(status->modified);
    return status;
  }
  Status SetModifiedTime(std::string_view path, FileTime time) override {
    return inner_.SetModifiedTime(path, IsCoarse(path) ? Round(time) : time);
  }

 private:
  static FileTime Round(FileTime time) {
    return FileTime{time.ticks - time.ticks % kTicksPerSecond};
  }
  bool IsCoarse(std::string_view path) const { return path.starts_with(coarse_root_); }

  std::string coarse_root_;
};

// Gives a file a modification time half a second past a whole second,
// through the host's platform: the C++ library of MinGW sets whole seconds
// only, which would leave nothing for the coarse target to lose.
void SetFractionalTime(const std::string& path, int seconds_ago) {
  const std::optional<FileStatus> status = Os().Stat(path);
  ASSERT_TRUE(status.has_value()) << path;
  const std::int64_t now = status->modified.ticks;
  const FileTime when{now - now % kTicksPerSecond - seconds_ago * kTicksPerSecond +
                      kTicksPerSecond / 2};
  ASSERT_TRUE(Os().SetModifiedTime(path, when)) << path;
  ASSERT_EQ(Os().Stat(path)->modified, when) << path;
}

TEST_F(BaseFilesTest, TargetWithCoarseTimesIsEmptiedAfterTheCopy) {
  const std::string area = MakeMsgArea();
  for (const char* name : {"1.msg", "2.msg", "lastread"}) {
    SetFractionalTime(area + kSep + name, 100);
  }
  CoarseTimePlatform coarse(dir_.Path("old"));
  ScopedPlatform installed(coarse);
  const std::string copy = dir_.Path("old/00000000");
  CopyManifest copied;
  ASSERT_FALSE(CopyBaseFiles("#" + area, copy, &copied));
  // The copy does not keep the source's time: comparing with it would
  // find every message changed and erase none.
  ASSERT_NE(Os().Stat(copy + kSep + "1.msg")->modified, Os().Stat(area + kSep + "1.msg")->modified);

  auto base = EraseBase("#" + area, &copied);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->Count(), 0);
  EXPECT_FALSE(fs::exists(area + kSep + "1.msg"));
  EXPECT_FALSE(fs::exists(area + kSep + "2.msg"));
  EXPECT_TRUE(fs::exists(area + kSep + "lastread"));
  EXPECT_EQ(dir_.ReadFile("old/00000000/2.msg"), std::string(70000, 'b'));
}

// File identities as a platform reports them, for a host whose own
// platform may not tell them: every path has identity 1 until the test
// says another file took its name.
class IdentityPlatform : public testing::ForwardingPlatform {
 public:
  void FileReplaced(const std::string& path) { ++identity_[path]; }

  Result<FileStatus> Stat(std::string_view path) override {
    Result<FileStatus> status = inner_.Stat(path);
    if (!status) return status;
    const auto found = identity_.find(std::string(path));
    status->volume = 1;
    status->file_index = 1 + (found == identity_.end() ? 0 : found->second);
    return status;
  }

 private:
  std::map<std::string, std::uint64_t> identity_;
};

TEST_F(BaseFilesTest, EraseKeepsAMessageReplacedUnderItsNameSinceTheCopy) {
  const std::string area = MakeMsgArea();
  IdentityPlatform platform;
  ScopedPlatform installed(platform);
  CopyManifest copied;
  ASSERT_FALSE(CopyBaseFiles("#" + area, dir_.Path("old/00000000"), &copied));
  // Same bytes, same time, but another file: written beside the message
  // and renamed over it, as editors and tossers do.
  const std::string message = area + kSep + "1.msg";
  dir_.WriteFile("area/1.tmp", std::string(300, 'a'));
  fs::last_write_time(area + kSep + "1.tmp", fs::last_write_time(message));
  fs::rename(area + kSep + "1.tmp", message);
  platform.FileReplaced(message);
  auto base = EraseBase("#" + area, &copied);
  ASSERT_NE(base, nullptr);
  EXPECT_TRUE(fs::exists(message));
  EXPECT_FALSE(fs::exists(area + kSep + "2.msg"));
}

TEST_F(BaseFilesTest, ManifestRecordsEachCopiedFileOnce) {
  const std::string area = MakeMsgArea();
  CopyManifest copied;
  ASSERT_FALSE(CopyBaseFiles("#" + area, dir_.Path("old/00000000"), &copied));
  std::vector<std::string> sources;
  for (const CopiedFile& file : copied.Files()) sources.push_back(file.source);
  std::sort(sources.begin(), sources.end());
  EXPECT_EQ(sources, (std::vector<std::string>{area + kSep + "1.msg", area + kSep + "2.msg",
                                               area + kSep + "lastread"}));
  EXPECT_TRUE(copied.Unchanged(area + kSep + "2.msg"));
  EXPECT_FALSE(copied.Unchanged(area + kSep + "sub" + kSep + "3.msg"));
}

// Watches how a copy is made durable: counts file syncs, directory syncs
// and file-system syncs, notes whether a file-system sync came after the
// last write, and answers SyncFileSystem as the test says.
class DurabilityPlatform : public testing::ForwardingPlatform {
 public:
  enum class FsSync { kSupported, kUnsupported, kFailsAfterCopy, kFailsAlways };
  explicit DurabilityPlatform(FsSync mode) : mode_(mode) {}

  int file_syncs = 0;
  int directory_syncs = 0;
  int fs_syncs = 0;
  bool wrote_after_last_fs_sync = false;

  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
    auto file = inner_.OpenFile(path, mode);
    if (!file) return file;
    return std::make_unique<WatchedFile>(std::move(file), *this);
  }
  Status SyncDirectory(std::string_view path) override {
    ++directory_syncs;
    return inner_.SyncDirectory(path);
  }
  Status SyncFileSystem(std::string_view path) override {
    ++fs_syncs;
    wrote_after_last_fs_sync = false;
    switch (mode_) {
      case FsSync::kSupported:
        return Status::Ok();
      case FsSync::kUnsupported:
        return Status::NotSupported(path, "file-system sync");
      case FsSync::kFailsAfterCopy:
        if (fs_syncs == 1) return Status::Ok();
        break;
      case FsSync::kFailsAlways:
        break;
    }
    return Status(StatusKind::kIoError, path, "I/O error");
  }

 private:
  class WatchedFile : public testing::ForwardingFile {
   public:
    WatchedFile(std::unique_ptr<FileHandle> inner, DurabilityPlatform& owner)
        : ForwardingFile(std::move(inner)), owner_(owner) {}
    Status Write(const void* buffer, std::size_t n, std::size_t* written) override {
      owner_.wrote_after_last_fs_sync = true;
      return inner_->Write(buffer, n, written);
    }
    Status Sync() override {
      ++owner_.file_syncs;
      return inner_->Sync();
    }

   private:
    DurabilityPlatform& owner_;
  };

  FsSync mode_;
};

TEST_F(BaseFilesTest, CopyIsMadeDurableByOneFileSystemSyncWhereThereIsOne) {
  using FsSync = DurabilityPlatform::FsSync;
  const std::string area = MakeMsgArea();  // three files to copy
  const struct {
    FsSync mode;
    bool fails;
    int file_syncs;
    bool directory_syncs;
  } cases[] = {
      // No file is flushed by itself: the one sync after the last write
      // covers them all.
      {FsSync::kSupported, false, 0, false},
      // Without the call every file and the directories are flushed.
      {FsSync::kUnsupported, false, 3, true},
      // A sync that fails for another reason fails the copy.
      {FsSync::kFailsAfterCopy, true, 0, false},
      {FsSync::kFailsAlways, true, 0, false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(n);
    DurabilityPlatform platform(c.mode);
    ScopedPlatform installed(platform);
    CopyManifest copied;
    const std::string copy = dir_.Path("copy" + std::to_string(n++));
    EXPECT_EQ(CopyBaseFiles("#" + area, copy, &copied), c.fails);
    EXPECT_EQ(platform.file_syncs, c.file_syncs);
    EXPECT_EQ(platform.directory_syncs > 0, c.directory_syncs);
    if (c.mode == FsSync::kSupported) {
      EXPECT_FALSE(platform.wrote_after_last_fs_sync);
      EXPECT_EQ(dir_.ReadFile("copy0/2.msg"), std::string(70000, 'b'));
    }
    // A copy refused before it began writes nothing.
    if (c.mode == FsSync::kFailsAlways) {
      EXPECT_TRUE(copied.Files().empty());
    }
  }
}

}  // namespace
}  // namespace qlr
