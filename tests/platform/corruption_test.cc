// The corruption helpers damage exactly what they say, on real files and
// on the memory disk alike.
#include "testing/corruption.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <vector>

#include "testing/memory_platform.h"
#include "testing/scratch_dir.h"

namespace qlr::testing {
namespace {

TEST(CorruptionTest, EveryTruncationIsVisitedAndTheFileRestored) {
  MemoryPlatform disk;
  disk.WriteFileBytes("/f", "abcd");
  std::vector<std::string> seen;
  EXPECT_TRUE(ForEachTruncation(
      "/f",
      [&](std::uint64_t length) {
        seen.push_back(std::to_string(length) + ":" + disk.ReadFileBytes("/f").value_or("?"));
        disk.WriteFileBytes("/f", "damage done by the check");
      },
      disk));
  EXPECT_EQ(seen, (std::vector<std::string>{"0:", "1:a", "2:ab", "3:abc"}));
  EXPECT_EQ(disk.ReadFileBytes("/f"), "abcd");
  bool result = true;
  EXPECT_NONFATAL_FAILURE(result = ForEachTruncation(
                              "/missing", [](std::uint64_t) {}, disk),
                          "cannot read");
  EXPECT_FALSE(result);
}

TEST(CorruptionTest, BytesAreFlippedAndSetInPlace) {
  ScratchDir dir;
  dir.WriteFile("f", "abcd");
  const std::string real = dir.Path("f");
  ASSERT_TRUE(FlipByte(real, 1, 0x20));
  ASSERT_TRUE(SetByte(real, 3, '!'));
  EXPECT_EQ(dir.ReadFile("f"), "aBc!");
  EXPECT_FALSE(SetByte(real, 4, 'x'));
  EXPECT_EQ(dir.ReadFile("f"), "aBc!");

  MemoryPlatform disk;
  disk.WriteFileBytes("/f", std::string("\x00\xff", 2));
  const auto identity = disk.Stat("/f")->file_index;
  ASSERT_TRUE(FlipByte("/f", 0, 0xFF, disk));
  ASSERT_TRUE(FlipByte("/f", 1, 0x0F, disk));
  EXPECT_EQ(disk.ReadFileBytes("/f"), std::string("\xff\xf0", 2));
  EXPECT_EQ(disk.Stat("/f")->file_index, identity);
  EXPECT_FALSE(FlipByte("/missing", 0, 1, disk));
}

}  // namespace
}  // namespace qlr::testing
