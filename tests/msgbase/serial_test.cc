#include "msgbase/serial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "testing/memory_platform.h"
#include "util/strings.h"

namespace qlr {
namespace {

using qlr::testing::MemoryPlatform;

constexpr std::int64_t kNow = 1'800'000'000;  // a clock in 2027

std::vector<std::uint32_t> Make(SerialCounter& counter, std::int64_t seconds, std::uint32_t pid,
                                int n) {
  std::vector<std::uint32_t> out;
  out.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) out.push_back(counter.Next(seconds, pid));
  return out;
}

bool Disjoint(std::vector<std::uint32_t> a, std::vector<std::uint32_t> b) {
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  std::vector<std::uint32_t> common;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(common));
  return common.empty();
}

TEST(SerialTest, AMillionFromOneProcessRiseStrictlyAtAFrozenClock) {
  SerialCounter counter;
  const std::vector<std::uint32_t> serials = Make(counter, kNow, 4242, 1'000'000);
  // Strictly increasing implies all distinct.
  EXPECT_TRUE(std::adjacent_find(serials.begin(), serials.end(),
                                 [](std::uint32_t a, std::uint32_t b) { return a >= b; }) ==
              serials.end());
  EXPECT_EQ(serials.front(),
            (static_cast<std::uint32_t>(kNow / 8) << 8) | SerialCounter::Tag(4242));
}

TEST(SerialTest, ProcessesStartedTogetherShareNone) {
  // Pids of processes started at the same moment: neighbours, pids a wrap
  // of the low byte apart, Windows pids (multiples of 4), and pids that
  // differ only above their low byte.
  const struct {
    std::uint32_t first, second;
  } cases[] = {{1000, 1001}, {4194303, 4194302}, {77, 78 + 256 * 3}, {4, 8}, {8, 12},
               {4, 12},      {300, 300 + 256},   {0x1234, 0x11234}};
  for (const auto& c : cases) {
    SerialCounter a, b;
    EXPECT_TRUE(Disjoint(Make(a, kNow, c.first, 100'000), Make(b, kNow, c.second, 100'000)))
        << c.first << " and " << c.second;
  }
}

TEST(SerialTest, TheTagSpreadsPidsThatDifferOnlyByMultiplesOf4OrInHighBits) {
  // 256 pids of each kind: a tag drawn at random gives about 162 distinct
  // values, the low byte of the pid 64 for multiples of 4 and 1 for pids
  // that differ only in high bits.
  const struct {
    std::uint32_t first, step;
  } cases[] = {{4, 4}, {0x42, 0x100}, {0x42, 0x1000}, {1000, 1}};
  for (const auto& c : cases) {
    std::set<std::uint32_t> tags;
    for (std::uint32_t i = 0; i < 256; ++i) {
      SerialCounter counter;
      tags.insert(counter.Next(kNow, c.first + i * c.step) & 0xFF);
    }
    EXPECT_GE(tags.size(), 128u) << c.first << " step " << c.step;
  }
}

TEST(SerialTest, TheClockLiftsTheCounterButNeverLowersIt) {
  const struct {
    std::int64_t later;     // the clock at the second serial
    std::uint32_t counter;  // the counter part it gets
  } cases[] = {
      {kNow, kNow / 8 + 1},                // same step: the last one plus 1
      {kNow + 8 * 1000, kNow / 8 + 1000},  // the clock moved on: it wins
      {kNow - 8 * 1000, kNow / 8 + 1},     // a clock set back changes nothing
      {-5, kNow / 8 + 1},                  // nor one before 1970
  };
  for (const auto& c : cases) {
    SerialCounter counter;
    const std::uint32_t first = counter.Next(kNow, 9);
    const std::uint32_t second = counter.Next(c.later, 9);
    EXPECT_EQ(second, ((c.counter & 0xFFFFFF) << 8) | SerialCounter::Tag(9)) << c.later;
    EXPECT_GT(second, first) << c.later;
  }
}

TEST(SerialTest, ALaterRunContinuesAboveAnEarlierOne) {
  // An earlier run made 300 serials (40 minutes of the clock); a run an
  // hour later with the same pid, so the same tag, starts above every one
  // of them.
  SerialCounter earlier, later;
  const std::vector<std::uint32_t> before = Make(earlier, kNow, 300, 300);
  EXPECT_GT(later.Next(kNow + 3600, 300), before.back());
}

TEST(SerialTest, NewSerialIsEightHexDigitsFromThePlatformClockAndPid) {
  MemoryPlatform platform;
  platform.SetClockStep(0);
  platform.SetProcessId(0x1234);
  ScopedPlatform installed(platform);
  const ShortString first = NewSerial();
  const ShortString second = NewSerial();
  ASSERT_EQ(first.size(), 8u);
  EXPECT_EQ(first.view().find_first_not_of("0123456789abcdef"), std::string_view::npos);
  EXPECT_EQ(std::stoul(first.str().substr(6), nullptr, 16), SerialCounter::Tag(0x1234));
  EXPECT_LT(first.str(), second.str());  // same width, so text order is number order
}

}  // namespace
}  // namespace qlr
