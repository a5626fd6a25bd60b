// The fault report of a real fault: a probe program installs the handler,
// prints a line, then faults on purpose.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <regex>
#include <string>

#include "e2e/qlr_fixture.h"
#include "testing/run_program.h"

namespace qlr::testing {
namespace {

struct FaultCase {
  const char* fault;      // the probe's argument
  int error_number;       // exit code and bug number
  const char* exception;  // exception code, or null for a raised run-time error
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.fault; }

std::string ExpectedPattern(const FaultCase& c) {
  std::string pattern =
      "\r\nWarning! Please report to the quillor maintainers!!!\r\n"
      "Found bug number " +
      std::to_string(c.error_number) + " at ([0-9A-F]{8})";
  if (c.exception != nullptr) pattern += std::string(" \\(Exception ") + c.exception + "\\)";
  pattern += " TID=[0-9]+\\.\r\n";
  return pattern;
}

class FaultReportE2eTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultReportE2eTest, ReportsTheFaultAndExitsWithItsNumber) {
  const FaultCase& c = GetParam();
  const ProgramResult r = RunProgram(FaultProbe(), {c.fault}, ".");

  EXPECT_EQ(r.exit_code, c.error_number);
  // What the program printed and flushed before the fault stays in front.
  EXPECT_EQ(r.out, "probe\r\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(r.err, match, std::regex(ExpectedPattern(c))))
      << "standard error was: [" << r.err << "]";
  // The address is an offset in the probe's image, never null.
  EXPECT_NE(match[1].str(), "00000000");
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultReportE2eTest,
                         ::testing::Values(FaultCase{"segv", 216, "C0000005"},
                                           FaultCase{"div", 200, "C0000094"},
                                           FaultCase{"stack", 202, "C00000FD"},
                                           FaultCase{"runerror", 213, nullptr}),
                         [](const ::testing::TestParamInfo<FaultCase>& param_info) {
                           return std::string(param_info.param.fault);
                         });

}  // namespace
}  // namespace qlr::testing
