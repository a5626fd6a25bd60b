#include "msgbase/serial.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/platform.h"
#include "support/random.h"
#include "testing/memory_platform.h"
#include "util/strings.h"

namespace qlr {
namespace {

using qlr::testing::MemoryPlatform;

// 1999-03-05 23:04:10.37: (seconds-like sum x 128) OR 37, computed by hand
// with the full year; the sum exceeds 32 bits and wraps.
constexpr std::int64_t kSeconds = 920675050;
constexpr std::uint32_t kTimePart = 0xFFD3B525u;

TEST(SerialTest, SerialIsTheClockPlusADrawFromTheProgramGenerator) {
  MemoryPlatform platform;
  platform.SetNow(FileTime{kSeconds * MemoryPlatform::kTicksPerSecond + 370'000'000});
  platform.SetClockStep(0);
  ScopedPlatform installed(platform);

  // Two serials in the same hundredth of a second differ only by the
  // generator's draws, which come from the program's one generator.
  PseudoRandom predicted = ProgramRandom();
  const std::uint32_t first_draw = predicted.Draw(65535);
  const std::uint32_t second_draw = predicted.Draw(65535);
  const ShortString first = NewSerial();
  const ShortString second = NewSerial();
  // The time part is so close to 2^32 that the draw wraps it around.
  EXPECT_EQ(first, HexLong(kTimePart + first_draw));
  EXPECT_EQ(second, HexLong(kTimePart + second_draw));
  EXPECT_EQ(ProgramRandom().seed(), predicted.seed());
  for (const ShortString& serial : {first, second}) {
    ASSERT_EQ(serial.size(), 8u);
    for (char c : serial.view())
      EXPECT_NE(std::string_view("0123456789abcdef").find(c), std::string_view::npos);
  }
}

}  // namespace
}  // namespace qlr
