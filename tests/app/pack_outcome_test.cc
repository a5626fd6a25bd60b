// What counts as a pack: the archiver exited 0 AND left a new, non-empty
// archive under the private name it was given, which the run flushes to
// stable storage and only then names NNNNNNNN.ext, before the copy goes.
// Every other outcome keeps the copy, leaves nothing under the archive's
// final name, says "copied to", ends with exit code 1 and names the cause
// on standard error.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "app/packer_app.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::MemoryPlatform;

std::string HostPath(std::string_view name) { return PathSeparator() + std::string(name); }
// Where the archiver of the first rotation into /old is told to write.
std::string Private() {
  return HostPath("old") + PathSeparator() + "qlr-packing.00000000" + PathSeparator() +
         "00000000.arc";
}

struct PackRun {
  MemoryPlatform disk;
  PackerApp app;
  std::string out;
  std::string err;
  std::string tail;  // the archiver's command tail

  PackRun() {
    disk.SetBackslashIsSeparator(PathSeparator() == '\\');
    for (int i = 1; i <= 2; ++i) {
      disk.WriteFileBytes("/area/" + std::to_string(i) + ".msg", "message " + std::to_string(i));
    }
    app.MaxMessages = 1;
    app.PackMode = true;
    app.RunLockPath = HostPath("qlr.lck");
    SetStr(app.ArcExtension, "arc");
    SetStr(app.ArcAddCommand, "arc @ArcName");
    app.BaseLines.push_back(NewStr("#" + HostPath("area") + " " + HostPath("old")));
  }
  void Run() {
    ScopedPlatform installed(disk);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    app.Run();
    err = ::testing::internal::GetCapturedStderr();
    out = ::testing::internal::GetCapturedStdout();
  }
  std::string Copy() const { return HostPath("old") + PathSeparator() + "00000000"; }
  std::string Counted() const {
    return "processing base [#" + HostPath("area") + "]... 2 messages. ";
  }
  // The archive the archiver was told to write: @ArcName in its tail.
  std::string Private() const { return std::string(tail.substr(tail.find("arc ") + 4)) + ".arc"; }
  // Writes the archive without flushing it, as a careless archiver does.
  bool WriteArchive(std::string_view bytes) {
    auto file = disk.OpenFile(Private(), OpenMode::kCreate);
    std::size_t written = 0;
    return file && file->Write(bytes.data(), bytes.size(), &written) && file->Close();
  }
};

TEST(PackOutcome, CopyStaysAndTheCauseIsNamed) {
  struct Case {
    const char* what;
    std::function<ProcessResult(PackRun&)> archiver;  // null: cannot start
    std::string cause;
  };
  const Case cases[] = {
      {"interpreter cannot start", nullptr,
       "qlr: not packed: cannot start the command interpreter ["},
      {"ended by a signal",
       [](PackRun&) {
         return ProcessResult{true, false, -1};
       },
       "qlr: not packed: the archiver was ended by a signal\r\n"},
      {"non-zero exit",
       [](PackRun&) {
         return ProcessResult{true, true, 3};
       },
       "qlr: not packed: the archiver ended with exit code 3\r\n"},
      {"exit 0, nothing written",
       [](PackRun&) {
         return ProcessResult{true, true, 0};
       },
       "qlr: not packed: the archiver made no archive [" + Private() + "]\r\n"},
      {"exit 0, empty archive",
       [](PackRun& run) {
         EXPECT_TRUE(run.WriteArchive(""));
         return ProcessResult{true, true, 0};
       },
       "qlr: not packed: the archive [" + Private() + "] is empty\r\n"},
      {"exit 0, an archive older than the archiver's start",
       [](PackRun& run) {
         EXPECT_TRUE(run.WriteArchive("old bytes"));
         EXPECT_TRUE(run.disk.SetModifiedTime(run.Private(), FileTime{1}));
         return ProcessResult{true, true, 0};
       },
       "qlr: not packed: the archive [" + Private() + "] is older than the archiver's start\r\n"},
      {"exit 0, the final name taken meanwhile",
       [](PackRun& run) {
         EXPECT_TRUE(run.WriteArchive("1.msg 2.msg"));
         run.disk.WriteFileBytes("/old/00000000.arc", "somebody else's");
         return ProcessResult{true, true, 0};
       },
       "qlr: not packed: the archive cannot be named [" + HostPath("old") + PathSeparator() +
           "00000000.arc]: "},
      {"exit 0, a directory where the archive should be",
       [](PackRun& run) {
         run.disk.MakeDirs(run.Private());
         return ProcessResult{true, true, 0};
       },
       "qlr: not packed: the archiver made no archive ["},
  };
  for (const Case& c : cases) {
    PackRun run;
    if (c.archiver) {
      run.disk.SetCommandInterpreter([&run, &c](std::string_view tail) {
        run.tail = tail;
        return c.archiver(run);
      });
    }
    run.Run();
    EXPECT_EQ(run.out, run.Counted() + "copied to [" + run.Copy() + "]\r\n") << c.what;
    EXPECT_EQ(run.app.ExitCode(), 1) << c.what;
    EXPECT_EQ(run.err.rfind(c.cause, 0), 0u) << c.what << ": " << run.err;
    EXPECT_EQ(run.disk.ReadFileBytes("/old/00000000/2.msg"), "message 2") << c.what;
    // Nothing the run did not confirm is left under the final name, and
    // the private directory is gone.
    if (run.disk.Exists("/old/00000000.arc")) {
      EXPECT_EQ(run.disk.ReadFileBytes("/old/00000000.arc"), "somebody else's") << c.what;
    }
    // (A directory the archiver made in it is not descended into.)
    EXPECT_EQ(run.disk.Exists("/old/qlr-packing.00000000"),
              c.cause.rfind("qlr: not packed: the archiver made no archive [", 0) == 0 &&
                  run.disk.Exists(Private()))
        << c.what;
  }
}

TEST(PackOutcome, ArchiveIsOnStableStorageBeforeTheCopyGoes) {
  PackRun run;
  run.disk.SetFileSystemSyncSupported(false);
  run.disk.SetCommandInterpreter([&run](std::string_view tail) {
    run.tail = tail;
    EXPECT_TRUE(run.WriteArchive("1.msg 2.msg"));
    return ProcessResult{true, true, 0};
  });
  run.Run();
  ASSERT_EQ(run.out, run.Counted() + "packed to [" + run.Copy() + ".arc]\r\n");
  EXPECT_EQ(run.app.ExitCode(), 0);
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_FALSE(run.disk.Exists("/old/00000000"));
  // The worst crash: the copy's removal and the erase reached the disk,
  // nothing else that was not flushed did.
  run.disk.Crash(MemoryPlatform::CrashKeeps::kDeletions);
  EXPECT_EQ(run.disk.ReadFileBytes("/old/00000000.arc"), "1.msg 2.msg");
}

TEST(PackOutcome, CopyIsMovedAsideBeforeItsFilesAreDeleted) {
  // A crash at any deletion, the erase's or the packed copy's, must not
  // leave a partial directory under the rotation name, even when every
  // deletion reached the disk and nothing else did.
  int crashes = 0;
  for (int nth = 1;; ++nth) {
    PackRun run;
    run.disk.SetFileSystemSyncSupported(false);
    run.disk.SetCommandInterpreter([&run](std::string_view tail) {
      run.tail = tail;
      EXPECT_TRUE(run.WriteArchive("both messages"));
      return ProcessResult{true, true, 0};
    });
    run.disk.CrashAfter(testing::PlatformOp::kDeleteFile, nth);
    bool crashed = false;
    ::testing::internal::CaptureStdout();
    try {
      ScopedPlatform installed(run.disk);
      run.app.Run();
    } catch (const testing::SimulatedCrash&) {
      crashed = true;
    }
    ::testing::internal::GetCapturedStdout();
    if (!crashed) break;
    ++crashes;
    run.disk.Crash(MemoryPlatform::CrashKeeps::kDeletions);
    const bool copy = run.disk.Exists("/old/00000000");
    EXPECT_TRUE(!copy || (run.disk.ReadFileBytes("/old/00000000/1.msg") == "message 1" &&
                          run.disk.ReadFileBytes("/old/00000000/2.msg") == "message 2"))
        << "partial copy under the rotation name after deletion " << nth;
    ASSERT_LT(nth, 50);
  }
  EXPECT_GE(crashes, 3);  // the erase's two, and the copy's
}

TEST(EraseOutcome, FailedEraseNamesTheCause) {
  PackRun run;
  run.app.PackMode = false;
  // A read-only directory refuses the removal of its files.
  run.disk.MakeDirs("/area");
  ScopedPlatform installed(run.disk);
  ASSERT_TRUE(run.disk.SetAttributes("/area", kAttrReadOnly));
  run.Run();
  EXPECT_EQ(run.out, run.Counted() + "cannot erase! copy kept in [" + run.Copy() + "]\r\n");
  EXPECT_EQ(run.app.ExitCode(), 1);
  EXPECT_EQ(run.err.rfind("qlr: cannot erase [#" + HostPath("area") + "]: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("area"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace qlr
