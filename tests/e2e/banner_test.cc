#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/run_program.h"

namespace qlr::testing {
namespace {

TEST(BannerTest, StartsWithTheProductLine) {
  const char* binary = std::getenv("QLR_BINARY");
  ASSERT_NE(binary, nullptr);
  ProgramResult r = RunProgram(binary, {}, ".");
  EXPECT_EQ(r.out.rfind("\r\nquillor v0.1\r\n", 0), 0u);
}

}  // namespace
}  // namespace qlr::testing
