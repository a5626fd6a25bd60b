// Two processes started together make MSGID serials side by side; no
// serial may come from both.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "e2e/qlr_fixture.h"
#include "testing/run_program.h"
#include "testing/scratch_dir.h"

namespace qlr::testing {
namespace {

constexpr int kPerProcess = 100'000;

// One line of the probe's output. It writes text lines, which Windows ends
// in CR LF.
bool NextLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

TEST(SerialProcessesTest, TwoProcessesStartedTogetherShareNoSerial) {
  const std::string probe = ProgramUnderTest("QLR_SERIAL_PROBE", QLR_DEFAULT_SERIAL_PROBE);
  ScratchDir dir;
  ProgramResult a, b;
  std::thread first([&] { a = RunProgram(probe, {std::to_string(kPerProcess)}, dir.Path("")); });
  b = RunProgram(probe, {std::to_string(kPerProcess)}, dir.Path(""));
  first.join();
  ASSERT_EQ(a.exit_code, 0) << a.err;
  ASSERT_EQ(b.exit_code, 0) << b.err;

  std::set<std::string> seen;
  std::string pids[2];
  int index = 0;
  for (const ProgramResult* result : {&a, &b}) {
    std::istringstream lines(result->out);
    NextLine(lines, pids[index++]);
    int count = 0;
    for (std::string line; NextLine(lines, line); ++count) {
      ASSERT_EQ(line.size(), 8u) << line;
      ASSERT_TRUE(seen.insert(line).second) << "serial " << line << " made twice";
    }
    EXPECT_EQ(count, kPerProcess);
  }
  EXPECT_NE(pids[0], pids[1]);
}

}  // namespace
}  // namespace qlr::testing
