// Start-up: banner, switch, control file beside the executable, wrong lines
// and the fatal exits, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/qlr_fixture.h"

namespace qlr::testing {
namespace {

const std::string kUsage =
    "usage: qlr.exe [/p]|[/c]\r\n"
    "       /p - pack base\r\n"
    "       /c - only copy base\r\n"
    "\r\n"
    "exiting...\r\n";

class StartupTest : public QlrFixture {
 protected:
  std::string ControlPath() { return Path("bin/qlr.ctl"); }
};

TEST_F(StartupTest, WrongArgumentCountPrintsUsage) {
  WriteControlFile({"MaxMessages 1"});
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"/p", "/c"}}) {
    const ProgramResult r = Run(args);
    EXPECT_EQ(r.out, kBanner + kUsage) << args.size();
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(StartupTest, OnlySlashPAndSlashCInEitherCaseAreSwitches) {
  WriteControlFile({"MaxMessages 1"});
  for (const char* bad : {"-c", "/pack", "p", "/", "/x"}) {
    const ProgramResult r = Run({bad});
    EXPECT_EQ(r.out, std::string(kBanner) + "unknown command line switch\r\nexiting...\r\n") << bad;
    EXPECT_EQ(r.exit_code, 1) << bad;
  }
  for (const char* good : {"/c", "/C", "/p", "/P"}) {
    const ProgramResult r = Run({good});
    // Without Base lines the run stops right after start-up.
    EXPECT_EQ(r.out, std::string(kBanner) + "nothing to archiving...\r\nexiting...\r\n") << good;
  }
}

TEST_F(StartupTest, MissingControlFileIsNamedInFull) {
#ifdef _WIN32
  // The program names it the DOS way (drive, backslashes), so the expected
  // path must be in that form too.
  ASSERT_EQ(ControlPath().substr(1, 2), ":\\");
  ASSERT_EQ(ControlPath().find('/'), std::string::npos);
#endif
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + ("[" + ControlPath() + "] is not found!\r\nexiting...\r\n"));
  EXPECT_EQ(r.exit_code, 1);
  // A directory of that name is no control file either.
  std::filesystem::create_directories(ControlPath());
  EXPECT_EQ(Run({"/c"}).out, kBanner + ("[" + ControlPath() + "] is not found!\r\nexiting...\r\n"));
}

TEST_F(StartupTest, ControlFileIsFoundBesideTheExecutable) {
  WriteControlFile({"MaxMessages 1"});
  // A decoy in the current directory must not be read.
  dir_.WriteFile("elsewhere/qlr.ctl", "Base #decoy\r\n");
  const std::string expected = std::string(kBanner) + "nothing to archiving...\r\nexiting...\r\n";
  EXPECT_EQ(Run({"/c"}, Path("elsewhere")).out, expected);
  // Started through a relative path from another directory.
  const ProgramResult r = RunProgram(std::filesystem::relative(binary_, Path("elsewhere")).string(),
                                     {"/c"}, Path("elsewhere"));
  EXPECT_EQ(r.out, expected);
}

TEST_F(StartupTest, WrongLinesAreReportedInOrderThenThePause) {
  WriteControlFile({"MaxMessages 1", "Bogus line", "; fine", "Base=!C:\\X", "", "MaxMessagesX 3",
                    "Arc.Add a", "Arc.Add b"});
  const ProgramResult r = Run({"/c"});
  const std::string where = " in [" + ControlPath() + "]\r\n";
  EXPECT_EQ(r.out, kBanner + ("wrong line #[2]" + where + "wrong line #[4]" + where +
                              "wrong line #[6]" + where +
                              "pause (3 seconds)...\r\nnothing to archiving...\r\nexiting...\r\n"));
}

}  // namespace
}  // namespace qlr::testing
