// Squish message operations against damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "msgbase/squish/squish_base.h"
#include "squish_test_support.h"
#include "testing/corruption.h"
#include "testing/memory_platform.h"

namespace qlr {
namespace {

using testing::kSquishPath;
using testing::MemoryPlatform;
using testing::SquishSummary;
using testing::TaggedMessage;

const std::string kSqd = std::string(kSquishPath) + ".sqd";
const std::string kSqi = std::string(kSquishPath) + ".sqi";

// A message read from a damaged base is the original, a cut version of it
// (same sender and subject) or refused.
void ExpectReadableOrRefused(const std::vector<std::string>& seen,
                             const std::vector<std::string>& original) {
  if (seen.size() == 1 && seen[0] == "cannot open") return;
  for (std::size_t i = 1; i < seen.size(); ++i) {
    if (seen[i].starts_with("unreadable") || i >= original.size()) continue;
    const std::string head = original[i].substr(0, original[i].rfind('|') + 1);
    EXPECT_TRUE(seen[i].starts_with(head)) << seen[i];
  }
}

TEST(SquishCorruptionTest, EveryCutOfAWrittenBase) {
  MemoryPlatform disk;
  testing::MakeSquishBase(disk, 3);
  ScopedPlatform installed(disk);
  const std::vector<std::string> original = SquishSummary();
  ASSERT_EQ(original.size(), 4u);
  for (const std::string& file : {kSqd, kSqi}) {
    SCOPED_TRACE(file);
    EXPECT_TRUE(testing::ForEachTruncation(
        file,
        [&](std::uint64_t length) {
          SCOPED_TRACE(length);
          const std::vector<std::string> seen = SquishSummary();
          if (file == kSqd && length < 256) {
            EXPECT_EQ(seen, std::vector<std::string>{"cannot open"});
          } else {
            // The count is what the cut index can still hold.
            const std::uint64_t held = file == kSqi ? length / 12 : 3;
            EXPECT_EQ(seen[0], "count " + std::to_string(std::min<std::uint64_t>(3, held)));
          }
          ExpectReadableOrRefused(seen, original);
        },
        disk));
  }
}

TEST(SquishCorruptionTest, EveryByteOfTheHeadersFlipped) {
  MemoryPlatform disk;
  testing::MakeSquishBase(disk, 3);
  ScopedPlatform installed(disk);
  const std::vector<std::string> original = SquishSummary();
  const std::string sqd = *disk.ReadFileBytes(kSqd);
  const std::string sqi = *disk.ReadFileBytes(kSqi);
  // The base header, the first frame's headers, and the whole index.
  struct Target {
    std::string file;
    std::uint64_t end;
  };
  for (const Target& t : {Target{kSqd, 256 + 28 + 238}, Target{kSqi, sqi.size()}}) {
    for (std::uint64_t at = 0; at < t.end; ++at) {
      SCOPED_TRACE(t.file + " byte " + std::to_string(at));
      ASSERT_TRUE(testing::FlipByte(t.file, at, 0xFF, disk));
      const std::vector<std::string> seen = SquishSummary(8);
      ASSERT_FALSE(seen.empty());
      // A damaged first frame does not touch the other messages.
      if (t.file == kSqd && at >= 256) {
        ASSERT_EQ(seen.size(), 4u);
        EXPECT_EQ(seen[2], original[2]);
        EXPECT_EQ(seen[3], original[3]);
      }
      // Writing and deleting on the damaged base either work or refuse.
      {
        SquishBase base;
        if (!base.Open(kSquishPath)) {
          (void)base.WriteMessage(base.Count() + 1, *TaggedMessage("x"));
          (void)base.DeleteMessage(1);
          (void)base.WriteMessage(1, *TaggedMessage("y"));
        }
      }
      (void)SquishSummary(8);
      disk.WriteFileBytes(kSqd, sqd);
      disk.WriteFileBytes(kSqi, sqi);
    }
  }
}

}  // namespace
}  // namespace qlr
