// The rotation run of *.msg bases: exact console lines, the resulting
// directories, and the promise that no message is ever lost.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e/qlr_fixture.h"
#include "testing/raw_bases.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

class RotationTest : public QlrFixture {
 protected:
  // "processing base [SPEC]... "
  static std::string Processing(const std::string& spec) {
    return "processing base [" + spec + "]... ";
  }
  std::string Sep() const { return std::string(1, fs::path::preferred_separator); }
};

TEST_F(RotationTest, BaseAtTheLimitLivesAndOneOverIsCopied) {
  MakeMsgArea("small", 3);
  MakeMsgArea("large", 4);
  const std::string small = "#" + Path("small");
  const std::string large = "#" + Path("large");
  WriteControlFile(
      {"MaxMessages 3", "Base " + small + " " + Path("old"), "Base " + large + " " + Path("old")});
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + Processing(small) + "only 3 messages. let it live.\r\n" +
                       Processing(large) + "4 messages. copied to [" + Path("old") + Sep() +
                       "00000000]\r\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(FileCount("small"), 3);
  EXPECT_EQ(FileCount("large"), 0);
  EXPECT_TRUE(fs::is_directory(Path("large")));
  EXPECT_EQ(FileCount("old/00000000"), 4);
  EXPECT_EQ(dir_.ReadFile("old/00000000/4.msg"), "message 4");
}

TEST_F(RotationTest, NumbersAreTakenInOrderReusingGaps) {
  fs::create_directories(Path("old/00000000"));
  dir_.WriteFile("old/00000002", "a plain file blocks its number too");
  for (const char* area : {"a", "b", "c"}) MakeMsgArea(area, 1);
  WriteControlFile({"MaxMessages 0", "Base #" + Path("a") + " " + Path("old"),
                    "Base #" + Path("b") + " " + Path("old"),
                    "Base #" + Path("c") + " " + Path("old")});
  const ProgramResult r = Run({"/c"});
  const std::string old = Path("old") + Sep();
  EXPECT_EQ(r.out, kBanner + Processing("#" + Path("a")) + "1 messages. copied to [" + old +
                       "00000001]\r\n" + Processing("#" + Path("b")) + "1 messages. copied to [" +
                       old + "00000003]\r\n" + Processing("#" + Path("c")) +
                       "1 messages. copied to [" + old + "00000004]\r\n");
}

TEST_F(RotationTest, NumberAfterNineIsLowerCaseA) {
  for (int i = 0; i <= 9; ++i) fs::create_directories(Path("old/0000000" + std::to_string(i)));
  MakeMsgArea("a", 2);
  WriteControlFile({"MaxMessages 1", "Base #" + Path("a") + " " + Path("old")});
  EXPECT_EQ(Run({"/c"}).out, kBanner + Processing("#" + Path("a")) + "2 messages. copied to [" +
                                 Path("old") + Sep() + "0000000a]\r\n");
}

TEST_F(RotationTest, LongBaseSpecIsPrintedInFull) {
  // Console lines are not short strings: a spec near 255 characters must
  // not cut the count off its line.
  const std::string name(244 - Path("").size(), 'n');
  MakeMsgArea(name, 2);
  const std::string spec = "#" + Path(name);
  ASSERT_GT(std::string("processing base [" + spec + "]... ").size(), 255u);
  WriteControlFile({"MaxMessages 1", "Base " + spec});
  EXPECT_EQ(Run({"/c"}).out, kBanner + Processing(spec) + "2 messages. copied to [00000000]\r\n");
}

TEST_F(RotationTest, BaseLineThatWouldBeCutIsNeverRotated) {
  // Cut at 255 characters, the target directory would be another one.
  const std::string name(200, 'n');
  MakeMsgArea(name, 2);
  WriteControlFile(
      {"MaxMessages 1", "Base #" + Path(name) + " " + Path("old") + Sep() + std::string(60, 't')});
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + ("wrong line #[2] in [" + Path("bin") + Sep() +
                              "qlr.ctl]\r\npause (3 seconds)...\r\n"
                              "nothing to archiving...\r\nexiting...\r\n"));
  EXPECT_EQ(FileCount(name), 2);
}

TEST_F(RotationTest, BaseLineWithoutTargetCopiesIntoTheCurrentDirectory) {
  MakeMsgArea("a", 2);
  fs::create_directories(Path("cwd"));
  WriteControlFile({"MaxMessages 1", "Base #" + Path("a")});
  EXPECT_EQ(Run({"/c"}, Path("cwd")).out,
            kBanner + Processing("#" + Path("a")) + "2 messages. copied to [00000000]\r\n");
  EXPECT_EQ(FileCount("cwd/00000000"), 2);
}

TEST_F(RotationTest, MissingBaseIsCreatedAndUncreatableOneCannotOpen) {
  dir_.WriteFile("blocker", "a file where a directory should be");
  const std::string fresh = "#" + Path("new/area");
  const std::string blocked = "#" + Path("blocker/area");
  WriteControlFile({"MaxMessages 0", "Base " + fresh + " " + Path("old"),
                    "Base " + blocked + " " + Path("old")});
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + Processing(fresh) + "only 0 messages. let it live.\r\n" +
                       Processing(blocked) + "cannot open!\r\n");
  EXPECT_TRUE(fs::is_directory(Path("new/area")));
}

// A base whose files its format refuses cannot be counted: the run says
// why, fails, and leaves the files as they are.
TEST_F(RotationTest, AnUnreadableBaseSaysWhy) {
  const struct {
    char type;
    const char* file;
    const char* reason;
  } cases[] = {{'!', "j.jhr", "1024 bytes wanted"}, {'$', "s.sqd", "shorter than the 256-byte"}};
  for (const auto& c : cases) {
    MakeRawBase(c.type, Path(std::string(c.file, 1)), 2);
    dir_.WriteFile(c.file, "short");
    const std::string spec = std::string(1, c.type) + Path(std::string(c.file, 1));
    WriteControlFile({"MaxMessages 1", "Base " + spec + " " + Path("old")});
    const ProgramResult r = Run({"/c"});
    EXPECT_EQ(r.out, kBanner + Processing(spec) + "cannot open!\r\n");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("cannot open [" + spec + "]: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_EQ(dir_.ReadFile(c.file), "short");
  }
}

TEST_F(RotationTest, FailedCopyLeavesTheBaseAsItWas) {
  MakeMsgArea("a", 3);
  MakeMsgArea("b", 2);
  dir_.WriteFile("blocker", "not a directory");
  const std::string target = Path("blocker") + Sep() + "old";
  WriteControlFile({"MaxMessages 1", "Base #" + Path("a") + " " + target,
                    "Base #" + Path("b") + " " + Path("old")});
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + Processing("#" + Path("a")) + "3 messages. cannot copy to [" + target +
                       Sep() + "00000000]! base left as it was.\r\n" + Processing("#" + Path("b")) +
                       "2 messages. copied to [" + Path("old") + Sep() + "00000000]\r\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(FileCount("a"), 3);
}

// Archiver command lines for the host's command interpreter: cmd.exe on
// Windows, /bin/sh elsewhere. @ArcName and @FileName both stand for the
// copy directory.
struct ArchiverCommands {
  const char* archive;            // writes @ArcName.tar from the copy, exits 0
  const char* fail;               // exits 1
  const char* archive_then_fail;  // writes @ArcName.tar, then exits 1
  const char* no_archive;         // exits 0 and writes nothing
  const char* killed;             // ended by a signal; null where there are none
  const char* missing_shell;      // a COMSPEC that names no program
  const char* echo_and_archive;   // prints "archiving @FileName", then archives
  const char* echo_line_end;      // the interpreter's own line end
  const char* make_file;          // creates the file named after it
};

#ifdef _WIN32
// cmd.exe has no tar: the "archive" is the copy's messages joined into one
// file, which is all the tests need of it.
constexpr ArchiverCommands kArchiver = {
    .archive = "copy /b @FileName\\*.msg @ArcName.tar >nul",
    .fail = "exit 1",
    .archive_then_fail = "copy /b @FileName\\*.msg @ArcName.tar >nul & exit 1",
    .no_archive = "rem nothing written",
    .killed = nullptr,
    .missing_shell = "C:\\nonexistent\\cmd.exe",
    // No blank before && or echo prints it too.
    .echo_and_archive = "echo archiving @FileName&& copy /b @FileName\\*.msg @ArcName.tar >nul",
    .echo_line_end = "\r\n",
    .make_file = "type nul >",
};
#else
constexpr ArchiverCommands kArchiver = {
    .archive = "tar -cf @ArcName.tar -C @FileName .",
    .fail = "false",
    .archive_then_fail = "tar -cf @ArcName.tar -C @FileName . && false",
    .no_archive = "true",
    .killed = "kill -9 $$",
    .missing_shell = "/nonexistent/shell",
    .echo_and_archive = "echo archiving @FileName && tar -cf @ArcName.tar -C @FileName .",
    .echo_line_end = "\n",
    .make_file = "touch",
};
#endif

// Pack mode: the archiver runs through the command interpreter.
class PackTest : public RotationTest {
 protected:
  void Configure(const std::string& arc_add) {
    MakeMsgArea("a", 2);
    WriteControlFile({"MaxMessages 1", "Base #" + Path("a") + " " + Path("old"),
                      "Arc.Extension tar", "Arc.Add " + arc_add});
  }
  std::string Copied() const { return "copied to [" + copy_ + "]\r\n"; }
  std::string Counted() { return kBanner + Processing("#" + Path("a")) + "2 messages. "; }

  std::string copy_ = dir_.Path("old") + std::string(1, fs::path::preferred_separator) + "00000000";
};

TEST_F(PackTest, SuccessfulArchiverReplacesTheCopyByTheArchive) {
  Configure(kArchiver.archive);
  const ProgramResult r = Run({"/p"});
  EXPECT_EQ(r.out, Counted() + "packed to [" + copy_ + ".tar]\r\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(fs::is_regular_file(copy_ + ".tar"));
  EXPECT_GT(fs::file_size(copy_ + ".tar"), 0u);
  EXPECT_FALSE(fs::exists(copy_));
  EXPECT_EQ(FileCount("a"), 0);
}

TEST_F(PackTest, CopyStaysWhenTheArchiverDidNotDeliver) {
  struct Case {
    const char* what;
    std::string arc_add;
    std::map<std::string, std::string> environment;
  };
  std::vector<Case> cases = {
      {"non-zero exit code", kArchiver.fail, {}},
      // Written under the archiver's private name: never published.
      {"archive written, but non-zero exit code", kArchiver.archive_then_fail, {}},
      {"exit 0, but no archive", kArchiver.no_archive, {}},
      {"empty Arc.Add", "", {}},
      {"COMSPEC names no program", kArchiver.archive, {{"COMSPEC", kArchiver.missing_shell}}},
  };
  if (kArchiver.killed != nullptr) cases.push_back({"ended by a signal", kArchiver.killed, {}});
  for (const Case& c : cases) {
    fs::remove_all(Path("old"));
    Configure(c.arc_add);
    const ProgramResult r = Run({"/p"}, "", c.environment);
    EXPECT_EQ(r.out, Counted() + Copied()) << c.what;
    // The copy is kept, but a scheduler must see that nothing was packed.
    EXPECT_EQ(r.exit_code, 1) << c.what;
    EXPECT_NE(r.err.find("qlr: not packed: "), std::string::npos) << c.what << ": " << r.err;
    EXPECT_EQ(FileCount("old/00000000"), 2) << c.what;
    // Nothing is published under the archive's name unless it was a pack.
    EXPECT_FALSE(Exists("old/00000000.tar")) << c.what;
  }
}

TEST_F(PackTest, ArchiverOutputFollowsTheCount) {
  Configure(kArchiver.echo_and_archive);
  const ProgramResult r = Run({"/p"});
  EXPECT_EQ(r.out, Counted() + "archiving " + copy_ + kArchiver.echo_line_end + "packed to [" +
                       copy_ + ".tar]\r\n");
}

TEST_F(PackTest, CommandThatWouldBeCutIsNotRun) {
  // The Arc.Add line fits the control file; only the expanded command
  // would pass 255 characters.
  const std::string arc_add = std::string(kArchiver.archive) + " ";
  Configure(arc_add + std::string(235 - arc_add.size(), 'x'));
  const ProgramResult r = Run({"/p"});
  EXPECT_EQ(r.out, Counted() + Copied());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_FALSE(Exists("old/00000000.tar"));
}

TEST_F(PackTest, CopyModeNeverStartsTheArchiver) {
  Configure(std::string(kArchiver.make_file) + " " + Path("ran"));
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, Counted() + Copied());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.err.empty()) << r.err;
  EXPECT_FALSE(Exists("ran"));
}

// Read-only files in a *.msg area: copied read-only with their time, and a
// copy holding them is still removed after a successful pack.
class ReadOnlyTest : public PackTest {
 protected:
  // Makes the file read-only with a time in the past (whole seconds: the
  // file systems under test keep at least those); returns that time.
  fs::file_time_type MakeReadOnly(const std::string& relative) {
    const auto earlier = fs::last_write_time(Path(relative)) - std::chrono::hours(1000);
    const fs::file_time_type when(
        std::chrono::duration_cast<std::chrono::seconds>(earlier.time_since_epoch()));
    fs::last_write_time(Path(relative), when);
    fs::permissions(Path(relative), fs::perms::owner_read, fs::perm_options::replace);
    EXPECT_TRUE(ReadOnly(relative)) << relative;
    return when;
  }
  bool ReadOnly(const std::string& relative) {
    return (fs::status(Path(relative)).permissions() & fs::perms::owner_write) == fs::perms::none;
  }
};

TEST_F(ReadOnlyTest, CopyKeepsReadOnlyAttributeAndTime) {
  Configure(kArchiver.archive);
  dir_.WriteFile("a/lastread", "not a message");
  const auto message_time = MakeReadOnly("a/1.msg");
  const auto other_time = MakeReadOnly("a/lastread");
  const ProgramResult r = Run({"/c"});
#ifdef _WIN32
  // Windows does not delete a read-only file, so the base cannot be emptied:
  // the message stays in place and the copy is kept for the operator.
  EXPECT_EQ(r.out, Counted() + "cannot erase! copy kept in [" + copy_ + "]\r\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(dir_.ReadFile("a/1.msg"), "message 1");
  EXPECT_FALSE(Exists("a/2.msg"));
#else
  EXPECT_EQ(r.out, Counted() + Copied());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_FALSE(Exists("a/1.msg"));
#endif
  EXPECT_TRUE(Exists("a/lastread"));  // not a message: never erased
  EXPECT_EQ(dir_.ReadFile("old/00000000/1.msg"), "message 1");
  EXPECT_TRUE(ReadOnly("old/00000000/1.msg"));
  EXPECT_EQ(fs::last_write_time(Path("old/00000000/1.msg")), message_time);
  EXPECT_TRUE(ReadOnly("old/00000000/lastread"));
  EXPECT_EQ(fs::last_write_time(Path("old/00000000/lastread")), other_time);
  EXPECT_FALSE(ReadOnly("old/00000000/2.msg"));
}

TEST_F(ReadOnlyTest, SuccessfulPackRemovesACopyHoldingReadOnlyFiles) {
  Configure(kArchiver.archive);
  dir_.WriteFile("a/lastread", "not a message");
  MakeReadOnly("a/lastread");
  const ProgramResult r = Run({"/p"});
  EXPECT_EQ(r.out, Counted() + "packed to [" + copy_ + ".tar]\r\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(fs::is_regular_file(copy_ + ".tar"));
  EXPECT_FALSE(fs::exists(copy_));
  EXPECT_EQ(FileCount("a"), 1);
}

}  // namespace
}  // namespace qlr::testing
