#include "util/file_name_case.h"

#include <gtest/gtest.h>

#include "testing/scratch_dir.h"

namespace qlr {
namespace {

TEST(ResolveFileNameCaseTest, FindsTheOneNameThatDiffersInCaseOnly) {
  if (kHostPathStyle == PathStyle::kDos) GTEST_SKIP() << "Windows ignores case itself";
  testing::ScratchDir dir;
  dir.WriteFile("AREA.JHR", "h");
  dir.WriteFile("exact.jdt", "d");
  dir.WriteFile("Twice.sqd", "1");
  dir.WriteFile("TWICE.SQD", "2");
  struct Case {
    const char* asked;
    const char* found;
  } cases[] = {
      {"area.jhr", "AREA.JHR"},    // moved from DOS
      {"AREA.JHR", "AREA.JHR"},    // exact
      {"exact.jdt", "exact.jdt"},  // exact wins without a search
      {"twice.sqd", "twice.sqd"},  // two candidates: no guess
      {"none.jdx", "none.jdx"},    // nothing at all
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolveFileNameCase(dir.Path(c.asked)), dir.Path(c.found)) << c.asked;
  }
}

TEST(ResolveFileNameCaseTest, DosStyleNamesAreTakenAsGiven) {
  EXPECT_EQ(ResolveFileNameCase("C:\\MAIL\\area.jhr", PathStyle::kDos), "C:\\MAIL\\area.jhr");
}

}  // namespace
}  // namespace qlr
