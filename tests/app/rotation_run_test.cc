// The rotation run never loses a message: whatever call of the platform
// fails, and wherever the machine crashes, every message is still readable
// with its bytes intact, in the base or in a copy under a rotation name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/packer_app.h"
#include "platform/host.h"
#include "testing/fault_injecting_platform.h"
#include "testing/fault_sweep.h"
#include "testing/forwarding_platform.h"
#include "testing/memory_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;
using testing::FailMode;
using testing::FaultInjectingPlatform;
using testing::FaultRun;
using testing::MemoryPlatform;
using testing::PlatformOp;

constexpr int kMessages = 3;

// Distinct bytes per message, a little over one copy block.
std::string MessageBytes(int number) {
  std::string bytes;
  while (bytes.size() < 70000) bytes += "message " + std::to_string(number) + " ";
  return bytes;
}

std::string MessageName(int number) { return std::to_string(number) + ".msg"; }

// A path from the root in the host's style (the memory disk takes both).
std::string HostPath(std::string_view name) { return PathSeparator() + std::string(name); }

// One rotation of a *.MSG base /area into /old, on a memory disk.
struct Rotation {
  MemoryPlatform disk;
  PackerApp app;
  std::string output;

  explicit Rotation(bool syncfs, bool pack = false) {
    disk.SetBackslashIsSeparator(PathSeparator() == '\\');
    disk.SetFileSystemSyncSupported(syncfs);
    for (int i = 1; i <= kMessages; ++i) {
      disk.WriteFileBytes("/area/" + MessageName(i), MessageBytes(i));
    }
    disk.MakeDirs("/old");
    // Half the files linked, half copied: message 2 lies where no link
    // can be made (another file system, the link limit).
    disk.SetLinkRefusal([](std::string_view from) { return from.ends_with("2.msg"); });
    app.MaxMessages = 1;
    app.RunLockPath = HostPath("qlr.lck");
    app.BaseLines.push_back(NewStr("#" + HostPath("area") + " " + HostPath("old")));
    if (pack) {
      app.PackMode = true;
      SetStr(app.ArcAddCommand, "arc @ArcName @FileName");
      SetStr(app.ArcExtension, "arc");
      disk.SetCommandInterpreter([this](std::string_view tail) { return Archive(tail); });
    }
  }

  MemoryPlatform& platform() { return disk; }

  void Run() {
    ::testing::internal::CaptureStdout();
    try {
      app.Run();
    } catch (const testing::SimulatedCrash&) {
      output = ::testing::internal::GetCapturedStdout();
      throw;
    }
    output = ::testing::internal::GetCapturedStdout();
  }

  // The archiver: packs /old/00000000/ into @ArcName.arc (the bytes of
  // every message, each after its name and a newline) and exits 0. It
  // writes and syncs the archive as a careful archiver would.
  ProcessResult Archive(std::string_view tail) {
    const std::string_view rest = tail.substr(tail.find("arc ") + 4);
    const std::string stem(rest.substr(0, rest.find(' ')));
    std::vector<DirEntry> entries;
    if (!disk.ListDirectory("/old/00000000", "*.*", &entries)) return ProcessResult{true, true, 2};
    std::string archive;
    for (const DirEntry& entry : entries) {
      const auto bytes = disk.ReadFileBytes("/old/00000000/" + entry.name);
      if (!bytes) return ProcessResult{true, true, 2};
      archive += entry.name + "\n" + *bytes;
    }
    auto file = disk.OpenFile(stem + ".arc", OpenMode::kCreate);
    std::size_t written = 0;
    if (!file || !file->Write(archive.data(), archive.size(), &written) || !file->Sync() ||
        !disk.SyncDirectory(JustPathName(stem))) {
      return ProcessResult{true, true, 2};
    }
    return ProcessResult{true, true, 0};
  }
};

// The rotation names under /old: eight hex digits.
bool IsRotationName(std::string_view name) {
  return name.size() == 8 && name.find_first_not_of("0123456789abcdefABCDEF") == name.npos;
}

// Whether message `number` survives intact somewhere a restart finds it.
bool MessageIsKept(MemoryPlatform& disk, int number) {
  const std::string bytes = MessageBytes(number);
  if (disk.ReadFileBytes("/area/" + MessageName(number)) == bytes) return true;
  std::vector<DirEntry> entries;
  if (!disk.ListDirectory("/old", "*.*", &entries)) return false;
  for (const DirEntry& entry : entries) {
    const std::string path = "/old/" + entry.name;
    if ((entry.attributes & kAttrDirectory) != 0 && IsRotationName(entry.name) &&
        disk.ReadFileBytes(path + "/" + MessageName(number)) == bytes) {
      return true;
    }
    const auto archive = disk.ReadFileBytes(path);
    if (archive && IsRotationName(std::string_view(entry.name).substr(0, 8)) &&
        archive->find(MessageName(number) + "\n" + bytes) != std::string::npos) {
      return true;
    }
  }
  return false;
}

std::string Tree(const MemoryPlatform& disk) {
  std::string tree;
  for (const std::string& path : disk.ListTree()) tree += path + " ";
  return tree;
}

void ExpectEveryMessageKept(MemoryPlatform& disk) {
  for (int i = 1; i <= kMessages; ++i) {
    EXPECT_TRUE(MessageIsKept(disk, i)) << "message " << i << " lost; left: " << Tree(disk);
  }
}

// After a fault: nothing lost; a run that says it copied the base has each
// message in that copy or, when the copy could not vouch for it, still in
// the base; a run the fault never reached rotated the whole base.
void CheckAfterFault(Rotation& rotation, const FaultRun& run) {
  MemoryPlatform& disk = rotation.disk;
  ExpectEveryMessageKept(disk);
  const std::string copied = "copied to [" + HostPath("old") + PathSeparator() + "00000000]";
  if (rotation.output.find(copied) != std::string::npos) {
    for (int i = 1; i <= kMessages; ++i) {
      const std::string bytes = MessageBytes(i);
      EXPECT_TRUE(disk.ReadFileBytes("/old/00000000/" + MessageName(i)) == bytes ||
                  disk.ReadFileBytes("/area/" + MessageName(i)) == bytes)
          << "message " << i << "; left: " << Tree(disk);
    }
  }
  if (!run.fired) {
    EXPECT_EQ(rotation.app.ExitCode(), 0) << rotation.output;
    EXPECT_FALSE(disk.Exists("/area/1.msg")) << rotation.output;
  }
}

// The operations a clean rotation calls, short variants included.
std::vector<PlatformOp> OpsOfARotation(bool syncfs, bool pack) {
  Rotation rotation(syncfs, pack);
  FaultInjectingPlatform counting(rotation.disk);
  {
    auto installed = counting.Install();
    rotation.Run();
  }
  std::vector<PlatformOp> ops;
  for (PlatformOp op : testing::AllPlatformOps()) {
    if (counting.Calls(op) > 0) ops.push_back(op);
  }
  return ops;
}

// The base keeps nanoseconds, the copy's disk only whole seconds (ext2,
// FAT, some network shares): the copies never carry the base's times, and
// the base must be emptied all the same, once.
TEST(RotationOnCoarseDiskTest, TargetThatRoundsTimesStillGetsTheBaseEmptied) {
  Rotation rotation(/*syncfs=*/true);
  ScopedPlatform installed(rotation.disk);
  rotation.disk.SetTimeGranularity(1'000'000'000);  // from now on: seconds
  rotation.Run();
  EXPECT_NE(rotation.output.find("copied to ["), std::string::npos) << rotation.output;
  EXPECT_EQ(rotation.app.ExitCode(), 0);
  for (int i = 1; i <= kMessages; ++i) {
    EXPECT_FALSE(rotation.disk.Exists("/area/" + MessageName(i))) << i;
    EXPECT_TRUE(rotation.disk.ReadFileBytes("/old/00000000/" + MessageName(i)) == MessageBytes(i));
  }
  rotation.Run();
  EXPECT_NE(rotation.output.find("only 0 messages. let it live."), std::string::npos)
      << rotation.output;
}

class RotationSweepTest : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(RotationSweepTest, AFailingCallAnywhereLosesNoMessage) {
  const auto [syncfs, pack] = GetParam();
  const std::vector<PlatformOp> ops = OpsOfARotation(syncfs, pack);
  // The sweep must reach the copy, the erase and the durability calls.
  for (PlatformOp op : {PlatformOp::kRead, PlatformOp::kWrite, PlatformOp::kDeleteFile,
                        PlatformOp::kListDirectory, PlatformOp::kStat}) {
    EXPECT_NE(std::find(ops.begin(), ops.end(), op), ops.end()) << testing::OpName(op);
  }
  for (PlatformOp op : ops) {
    for (FailMode mode : {FailMode::kOnce, FailMode::kFromThenOn}) {
      const auto report = testing::SweepFaults<Rotation>(
          op, mode, [&] { return std::make_unique<Rotation>(syncfs, pack); },
          [](Rotation& rotation) { rotation.Run(); }, CheckAfterFault);
      EXPECT_TRUE(report.completed) << testing::OpName(op);
    }
  }
}

TEST_P(RotationSweepTest, ACrashAtAnySyncPointLosesNoMessage) {
  const auto [syncfs, pack] = GetParam();
  int crashes = 0;
  // Kept deletions: the erased base reached the disk, so only a durable
  // copy holds the messages.
  for (auto keeps :
       {MemoryPlatform::CrashKeeps::kNothing, MemoryPlatform::CrashKeeps::kDeletions}) {
    for (PlatformOp op : testing::SyncOps()) {
      const auto report = testing::SweepCrashes<Rotation>(
          op, [&] { return std::make_unique<Rotation>(syncfs, pack); },
          [](Rotation& rotation) { rotation.Run(); },
          [](Rotation& rotation, const FaultRun&) {
            ExpectEveryMessageKept(rotation.disk);
            // The restart finishes what the crash cut short: no message
            // stays shared by the base and a copy.
            ScopedPlatform installed(rotation.disk);
            rotation.Run();
            ExpectEveryMessageKept(rotation.disk);
            for (int i = 1; i <= kMessages; ++i) {
              const auto status = rotation.disk.Stat("/area/" + MessageName(i));
              EXPECT_TRUE(!status || status->link_count == 1) << i << ": " << Tree(rotation.disk);
            }
          },
          keeps);
      crashes += report.runs - 1;
    }
  }
  // A rotation syncs its copy before it erases anything.
  EXPECT_GE(crashes, 2);
}

INSTANTIATE_TEST_SUITE_P(SyncAndPack, RotationSweepTest,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

// The same run on real files, where a fault leaves the base as it was.
class RotationRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 1; i <= 3; ++i) {
      dir_.WriteFile("area/" + std::to_string(i) + ".msg", std::string(100000, 'm'));
    }
    app_.MaxMessages = 1;
    app_.RunLockPath = dir_.Path("qlr.lck");
    app_.BaseLines.push_back(NewStr("#" + dir_.Path("area") + " " + dir_.Path("old")));
  }

  std::string RunCapturingOutput() {
    ::testing::internal::CaptureStdout();
    app_.Run();
    return ::testing::internal::GetCapturedStdout();
  }

  std::string Copy() const { return dir_.Path("old") + PathSeparator() + "00000000"; }
  std::string Spec() const { return "#" + dir_.Path("area"); }

  testing::ScratchDir dir_;
  PackerApp app_;
};

TEST_F(RotationRunTest, AFailedCopyLeavesTheBaseAsItWas) {
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kShortWrite, 2, FailMode::kOnce);
  faulty.FailCall(PlatformOp::kLink, 1);  // no links: the files are copied
  const std::string out = RunCapturingOutput();
  EXPECT_EQ(out, "processing base [" + Spec() + "]... 3 messages. cannot copy to [" + Copy() +
                     "]! base left as it was.\r\n");
  EXPECT_EQ(app_.ExitCode(), 1);
  EXPECT_FALSE(fs::exists(Copy()));
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(dir_.ReadFile("area/" + std::to_string(i) + ".msg").size(), 100000u);
  }
}

TEST_F(RotationRunTest, EraseThatLeavesMessagesIsNotARotation) {
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kDeleteFile, 1, FailMode::kOnce);
  app_.PackMode = true;
  const std::string out = RunCapturingOutput();
  EXPECT_EQ(out, "processing base [" + Spec() + "]... 3 messages. cannot erase! copy kept in [" +
                     Copy() + "]\r\n");
  EXPECT_EQ(app_.ExitCode(), 1);
  // The archiver was never started, and the copy is complete.
  EXPECT_EQ(faulty.Calls(PlatformOp::kRunCommandInterpreter), 0);
  EXPECT_EQ(dir_.ReadFile("old/00000000/3.msg").size(), 100000u);
}

TEST_F(RotationRunTest, InterpreterThatCannotStartKeepsTheCopy) {
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kRunCommandInterpreter, 1);
  app_.PackMode = true;
  SetStr(app_.ArcAddCommand, "tar -cf @ArcName.tar -C @FileName .");
  SetStr(app_.ArcExtension, "tar");
  const std::string out = RunCapturingOutput();
  EXPECT_EQ(out, "processing base [" + Spec() + "]... 3 messages. copied to [" + Copy() + "]\r\n");
  EXPECT_EQ(app_.ExitCode(), 1);  // nothing was packed
  EXPECT_EQ(dir_.ReadFile("old/00000000/1.msg").size(), 100000u);
  EXPECT_FALSE(fs::exists(dir_.Path("area/1.msg")));
}

TEST_F(RotationRunTest, DirectoryThatCannotBeListedIsNotCountedAsEmpty) {
  FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(PlatformOp::kListDirectory, 1);
  const std::string out = RunCapturingOutput();
  EXPECT_EQ(out, "processing base [" + Spec() + "]... cannot open!\r\n");
  // Its messages were never counted: the run did not do its job.
  EXPECT_EQ(app_.ExitCode(), 1);
  EXPECT_FALSE(fs::exists(Copy()));
  EXPECT_EQ(dir_.ReadFile("area/3.msg").size(), 100000u);
}

TEST_F(RotationRunTest, BaseThatCannotBeCreatedLeavesTheExitCodeAlone) {
  dir_.WriteFile("plain", "a file where a directory should be");
  app_.BaseLines.clear();
  app_.BaseLines.push_back(NewStr("#" + dir_.Path("plain/net") + " " + dir_.Path("old")));
  const std::string out = RunCapturingOutput();
  EXPECT_EQ(out, "processing base [#" + dir_.Path("plain/net") + "]... cannot open!\r\n");
  EXPECT_EQ(app_.ExitCode(), 0);
}

// Ticks per second of the host's FileTime: FILETIME counts 100 ns.
constexpr std::int64_t kTicksPerSecond = kHostIsWindows ? 10'000'000 : 1'000'000'000;

// A target directory whose file system keeps whole seconds: times set or
// read under it lose their fraction.
class CoarseTargetPlatform : public testing::ForwardingPlatform {
 public:
  explicit CoarseTargetPlatform(std::string root) : root_(std::move(root)) {}
  Result<FileStatus> Stat(std::string_view path) override {
    Result<FileStatus> status = inner_.Stat(path);
    if (status && path.starts_with(root_)) status->modified = Round(status->modified);
    return status;
  }
  Status SetModifiedTime(std::string_view path, FileTime time) override {
    return inner_.SetModifiedTime(path, path.starts_with(root_) ? Round(time) : time);
  }
  static FileTime Round(FileTime time) {
    return FileTime{time.ticks - time.ticks % kTicksPerSecond};
  }

 private:
  std::string root_;
};

TEST_F(RotationRunTest, TargetWithCoarseTimesGetsEachMessageOnce) {
  // Times with a fraction of a second, which the target cannot keep. Set
  // through the host's platform: the C++ library of MinGW sets whole
  // seconds only.
  for (int i = 1; i <= 3; ++i) {
    const std::string message = dir_.Path("area/" + std::to_string(i) + ".msg");
    const std::optional<FileStatus> status = Os().Stat(message);
    ASSERT_TRUE(status.has_value()) << message;
    const FileTime when{CoarseTargetPlatform::Round(status->modified).ticks -
                        100 * kTicksPerSecond + kTicksPerSecond / 2};
    ASSERT_TRUE(Os().SetModifiedTime(message, when)) << message;
    ASSERT_EQ(Os().Stat(message)->modified, when) << message;
  }
  CoarseTargetPlatform coarse(dir_.Path("old"));
  ScopedPlatform installed(coarse);
  EXPECT_EQ(RunCapturingOutput(),
            "processing base [" + Spec() + "]... 3 messages. copied to [" + Copy() + "]\r\n");
  EXPECT_EQ(app_.ExitCode(), 0);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_FALSE(fs::exists(dir_.Path("area/" + std::to_string(i) + ".msg"))) << i;
  }
  // The next run finds the base empty instead of copying it again.
  EXPECT_EQ(RunCapturingOutput(),
            "processing base [" + Spec() + "]... only 0 messages. let it live.\r\n");
}

// A run killed in its erase leaves files under their aside names and, in
// pack mode, a copy half removed after its archive was made. The next run
// finishes both: what was aside is counted and rotated with the rest, and
// the partial copy goes even when the base is not rotated again.
TEST_F(RotationRunTest, TheNextRunFinishesWhatAKilledEraseLeftAside) {
  fs::rename(dir_.Path("area/2.msg"), dir_.Path("area/2.qlr"));
  EXPECT_EQ(RunCapturingOutput(),
            "processing base [" + Spec() + "]... 3 messages. copied to [" + Copy() + "]\r\n");
  EXPECT_EQ(app_.ExitCode(), 0);
  EXPECT_EQ(dir_.ReadFile("old/00000000/2.msg").size(), 100000u);
  EXPECT_TRUE(fs::is_empty(dir_.Path("area")));
}

// A run killed after it published a copy made of links, before its erase:
// meanwhile a writer rewrote 2.msg in place (into the copy's file) and
// replaced 3.msg by a new file. The next run removes from the base what is
// still the copy's file, keeps the new one, and only then counts.
TEST_F(RotationRunTest, TheNextRunFinishesTheEraseOfALinkedCopy) {
  fs::create_directories(dir_.Path("old/00000000"));
  for (const char* name : {"1.msg", "2.msg", "3.msg"}) {
    std::error_code error;
    fs::create_hard_link(dir_.Path(std::string("area/") + name),
                         dir_.Path(std::string("old/00000000/") + name), error);
    if (error) GTEST_SKIP() << "no hard links here: " << error.message();
  }
  dir_.WriteFile("old/00000000/.qlr-lock", "");
  {
    std::FILE* file = std::fopen(dir_.Path("area/2.msg").c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    ASSERT_GE(std::fputs("marked", file), 0);
    ASSERT_EQ(std::fclose(file), 0);
  }
  dir_.WriteFile("area/3.new", "written anew");
  fs::rename(dir_.Path("area/3.new"), dir_.Path("area/3.msg"));
  // The count of a *.MSG base is its highest number.
  app_.MaxMessages = 3;
  EXPECT_EQ(RunCapturingOutput(),
            "processing base [" + Spec() + "]... only 3 messages. let it live.\r\n");
  EXPECT_EQ(app_.ExitCode(), 0);
  EXPECT_FALSE(fs::exists(dir_.Path("area/1.msg")));
  EXPECT_FALSE(fs::exists(dir_.Path("area/2.msg")));
  EXPECT_EQ(dir_.ReadFile("area/3.msg"), "written anew");
  EXPECT_EQ(dir_.ReadFile("old/00000000/2.msg").substr(0, 6), "marked");
  EXPECT_EQ(dir_.ReadFile("old/00000000/3.msg"), std::string(100000, 'm'));
  EXPECT_FALSE(fs::exists(dir_.Path("old/00000000/.qlr-lock")));
}

TEST_F(RotationRunTest, PartialCopiesOfAKilledRunGoEvenWhenTheBaseIsNotRotated) {
  app_.MaxMessages = 10;
  dir_.WriteFile("old/qlr-partial.00000000/1.msg", "half removed");
  dir_.WriteFile("old/qlr-partial.00000001", "a file is not ours to judge");
  EXPECT_EQ(RunCapturingOutput(),
            "processing base [" + Spec() + "]... only 3 messages. let it live.\r\n");
  EXPECT_FALSE(fs::exists(dir_.Path("old/qlr-partial.00000000")));
  EXPECT_TRUE(fs::exists(dir_.Path("old/qlr-partial.00000001")));
}

}  // namespace
}  // namespace qlr
