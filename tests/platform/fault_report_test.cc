#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <string>

#include "platform/fault.h"

namespace qlr {
namespace {

struct ReportCase {
  const char* name;
  const char* contact;
  int error_number;
  std::uint32_t address;
  bool has_exception;
  std::uint32_t exception_code;
  std::uint64_t thread_id;
  const char* expected;
};

const ReportCase kReportCases[] = {
    {"AccessViolation", "sysop@2:5020/1", 216, 0x0001A2B4, true, 0xC0000005, 4711,
     "\r\nWarning! Please report to sysop@2:5020/1!!!\r\n"
     "Found bug number 216 at 0001A2B4 (Exception C0000005) TID=4711.\r\n"},
    {"RunErrorHasNoExceptionPart", "me", 213, 0x00401000, false, 0xC0000005, 1,
     "\r\nWarning! Please report to me!!!\r\n"
     "Found bug number 213 at 00401000 TID=1.\r\n"},
    {"ZeroAddressKeepsEightDigits", "x", 217, 0, true, 0xC000013A, 0,
     "\r\nWarning! Please report to x!!!\r\n"
     "Found bug number 217 at 00000000 (Exception C000013A) TID=0.\r\n"},
    {"HexDigitsAreUpperCase", "x", 200, 0xDEADBEEF, true, 0xC000008E, 12,
     "\r\nWarning! Please report to x!!!\r\n"
     "Found bug number 200 at DEADBEEF (Exception C000008E) TID=12.\r\n"},
    {"LargestThreadId", "x", 202, 0xFFFFFFFF, true, 0xC00000FD, UINT64_MAX,
     "\r\nWarning! Please report to x!!!\r\n"
     "Found bug number 202 at FFFFFFFF (Exception C00000FD) TID=18446744073709551615.\r\n"},
    {"SingleDigitNumberAndEmptyContact", "", 0, 0x10, false, 0, 9,
     "\r\nWarning! Please report to !!!\r\n"
     "Found bug number 0 at 00000010 TID=9.\r\n"},
    {"NullContactReadsAsEmpty", nullptr, 211, 0x1234, false, 0, 77,
     "\r\nWarning! Please report to !!!\r\n"
     "Found bug number 211 at 00001234 TID=77.\r\n"},
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class FaultReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(FaultReportTest, FormatsTheWholeBlock) {
  const ReportCase& c = GetParam();
  char buffer[512];
  const std::size_t size =
      FormatFaultReport(buffer, sizeof buffer, c.contact, c.error_number, c.address,
                        c.has_exception, c.exception_code, c.thread_id);
  EXPECT_EQ(std::string(buffer, size), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultReportTest, ::testing::ValuesIn(kReportCases),
                         [](const ::testing::TestParamInfo<ReportCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

TEST(FaultReportTruncationTest, StopsAtTheCapacityAndNeverWritesPastIt) {
  const std::string full =
      "\r\nWarning! Please report to someone!!!\r\n"
      "Found bug number 216 at 00ABCDEF (Exception C0000005) TID=42.\r\n";
  // Every capacity up to the full length gives the matching prefix; the
  // guard bytes after the capacity stay untouched.
  for (std::size_t capacity = 0; capacity <= full.size() + 1; ++capacity) {
    char buffer[256];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    const std::size_t size =
        FormatFaultReport(buffer, capacity, "someone", 216, 0x00ABCDEF, true, 0xC0000005, 42);
    const std::size_t expected = std::min(capacity, full.size());
    ASSERT_EQ(size, expected) << "capacity " << capacity;
    EXPECT_EQ(std::string(buffer, size), full.substr(0, expected)) << "capacity " << capacity;
    for (std::size_t i = size; i < sizeof buffer; ++i) {
      ASSERT_EQ(buffer[i], '#') << "byte " << i << " written at capacity " << capacity;
    }
  }
}

}  // namespace
}  // namespace qlr
