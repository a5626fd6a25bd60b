#include "support/random.h"

#include <gtest/gtest.h>

namespace qlr {
namespace {

TEST(PseudoRandomTest, FollowsTheLinearCongruence) {
  PseudoRandom r;
  // seed 0 -> 1: (1 * 255) >> 32 is 0, so the first draw is always 0.
  EXPECT_EQ(r.Draw(255), 0u);
  EXPECT_EQ(r.seed(), 1u);
  // 1 * 134775813 + 1
  EXPECT_EQ(r.Draw(65535), static_cast<std::uint32_t>((134775814ull * 65535) >> 32));
  EXPECT_EQ(r.seed(), 134775814u);
  // Wraps modulo 2^32.
  const std::uint32_t expected = 134775814u * 134775813u + 1u;
  r.Draw(10);
  EXPECT_EQ(r.seed(), expected);
}

TEST(PseudoRandomTest, StaysBelowTheRange) {
  PseudoRandom r;
  for (int i = 0; i < 10000; ++i) EXPECT_LT(r.Draw(7), 7u);
  EXPECT_EQ(r.Draw(0), 0u);
}

}  // namespace
}  // namespace qlr
