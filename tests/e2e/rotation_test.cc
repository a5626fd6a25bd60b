// The rotation run of *.msg bases: exact console lines, the resulting
// directories, and the promise that no message is ever lost.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/qlr_fixture.h"

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
  WriteControlFile({"MaxMessages 3", "Base " + small + " " + Path("old"),
                    "Base " + large + " " + Path("old")});
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
                       "00000001]\r\n" + Processing("#" + Path("b")) +
                       "1 messages. copied to [" + old + "00000003]\r\n" +
                       Processing("#" + Path("c")) + "1 messages. copied to [" + old +
                       "00000004]\r\n");
}

TEST_F(RotationTest, NumberAfterNineIsLowerCaseA) {
  for (int i = 0; i <= 9; ++i) fs::create_directories(Path("old/0000000" + std::to_string(i)));
  MakeMsgArea("a", 2);
  WriteControlFile({"MaxMessages 1", "Base #" + Path("a") + " " + Path("old")});
  EXPECT_EQ(Run({"/c"}).out, kBanner + Processing("#" + Path("a")) +
                                 "2 messages. copied to [" + Path("old") + Sep() +
                                 "0000000a]\r\n");
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

TEST_F(RotationTest, FailedCopyLeavesTheBaseAsItWas) {
  MakeMsgArea("a", 3);
  MakeMsgArea("b", 2);
  dir_.WriteFile("blocker", "not a directory");
  const std::string target = Path("blocker") + Sep() + "old";
  WriteControlFile({"MaxMessages 1", "Base #" + Path("a") + " " + target,
                    "Base #" + Path("b") + " " + Path("old")});
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + Processing("#" + Path("a")) + "3 messages. cannot copy to [" +
                       target + Sep() + "00000000]! base left as it was.\r\n" +
                       Processing("#" + Path("b")) + "2 messages. copied to [" + Path("old") +
                       Sep() + "00000000]\r\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(FileCount("a"), 3);
}

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

  std::string copy_ = dir_.Path("old") + std::string(1, fs::path::preferred_separator) +
                      "00000000";
};

TEST_F(PackTest, SuccessfulArchiverReplacesTheCopyByTheArchive) {
  Configure("tar -cf @ArcName.tar -C @FileName .");
  const ProgramResult r = Run({"/p"});
  EXPECT_EQ(r.out, Counted() + "packed to [" + copy_ + ".tar]\r\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(fs::is_regular_file(copy_ + ".tar"));
  EXPECT_FALSE(fs::exists(copy_));
  EXPECT_EQ(FileCount("a"), 0);
}

TEST_F(PackTest, CopyStaysWhenTheArchiverDidNotDeliver) {
  const struct {
    const char* arc_add;
    std::map<std::string, std::string> environment;
  } cases[] = {
      {"false", {}},                                   // non-zero exit code
      {"true", {}},                                    // exit 0, but no archive
      {"", {}},                                        // empty Arc.Add
      {"kill -9 $$", {}},                              // ended by a signal
      {"tar -cf @ArcName.tar -C @FileName .", {{"COMSPEC", "/nonexistent/shell"}}},
  };
  for (const auto& c : cases) {
    fs::remove_all(Path("old"));
    Configure(c.arc_add);
    const ProgramResult r = Run({"/p"}, "", c.environment);
    EXPECT_EQ(r.out, Counted() + Copied()) << c.arc_add;
    EXPECT_EQ(FileCount("old/00000000"), 2) << c.arc_add;
  }
}

TEST_F(PackTest, ArchiverOutputFollowsTheCount) {
  Configure("echo archiving @FileName && tar -cf @ArcName.tar -C @FileName .");
  const ProgramResult r = Run({"/p"});
  EXPECT_EQ(r.out, Counted() + "archiving " + copy_ + "\n" + "packed to [" + copy_ +
                       ".tar]\r\n");
}

TEST_F(PackTest, CommandThatWouldBeCutIsNotRun) {
  Configure("tar -cf @ArcName.tar -C @FileName . " + std::string(240, 'x'));
  EXPECT_EQ(Run({"/p"}).out, Counted() + Copied());
}

TEST_F(PackTest, CopyModeNeverStartsTheArchiver) {
  Configure("touch " + Path("ran"));
  EXPECT_EQ(Run({"/c"}).out, Counted() + Copied());
  EXPECT_FALSE(Exists("ran"));
}

}  // namespace
}  // namespace qlr::testing
