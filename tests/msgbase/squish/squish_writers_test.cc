// Squish bases that other writers share: crashes that must leave a base
// the next writer can take, with the lock as Windows enforces it, and
// damaged bases that every write path refuses.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/squish/squish_base.h"
#include "squish_test_support.h"
#include "support/coding.h"
#include "testing/fault_sweep.h"
#include "testing/memory_platform.h"

namespace qlr {
namespace {

using testing::kSquishPath;
using testing::MemoryPlatform;
using testing::PlatformOp;
using testing::TaggedMessage;

const std::string kSqd = std::string(kSquishPath) + ".sqd";
const std::string kSqi = std::string(kSquishPath) + ".sqi";

void Put32(std::string& b, std::size_t at, std::size_t v) {
  EncodeFixed32(reinterpret_cast<std::uint8_t*>(b.data()) + at, static_cast<std::uint32_t>(v));
}
std::uint32_t Get32(const std::string& b, std::size_t at) {
  return DecodeFixed32(reinterpret_cast<const std::uint8_t*>(b.data()) + at);
}

// What a reader sees: "count N" and the sender tag of every message.
std::vector<std::string> Tags() {
  std::vector<std::string> tags;
  for (const std::string& line : testing::SquishSummary()) {
    tags.push_back(line.starts_with("From ") ? line.substr(5, line.find('|') - 5) : line);
  }
  return tags;
}

std::vector<std::string> Expected(const std::vector<std::string>& model) {
  std::vector<std::string> lines = {"count " + std::to_string(model.size())};
  lines.insert(lines.end(), model.begin(), model.end());
  return lines;
}

// The base's own consistency check, after one more message: the next
// writer takes the base (finishing what a crash cut short), and then the
// message chain is the index and the count what the files hold.
void ExpectConsistentAndWritable(MemoryPlatform& disk) {
  SquishBase writer;
  ASSERT_FALSE(writer.Open(kSquishPath));
  ASSERT_FALSE(writer.AppendMessage(*TaggedMessage("next")));
  SquishBase base;
  ASSERT_FALSE(base.Open(kSquishPath));
  EXPECT_EQ(base.Count(), writer.Count());
  EXPECT_TRUE(base.Damage().ok());
  std::vector<std::uint32_t> chain;
  ASSERT_FALSE(base.MessageChain(&chain));
  const std::string sqi = *disk.ReadFileBytes(kSqi);
  std::vector<std::uint32_t> index;
  for (std::size_t at = 0; at + 12 <= sqi.size(); at += 12) index.push_back(Get32(sqi, at));
  EXPECT_EQ(chain, index);
  EXPECT_EQ(index.size(), static_cast<std::size_t>(base.Count()));
}

// Parameter: Windows lock semantics on the memory platform.
class SquishWritersTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    testing::MakeSquishBase(disk_, 2);
    disk_.SetMandatoryLocks(GetParam());
  }
  MemoryPlatform disk_;
};

INSTANTIATE_TEST_SUITE_P(LockSemantics, SquishWritersTest, ::testing::Bool());

// ---- crashes ----

struct Scenario {
  const char* name;
  std::function<bool(SquishBase&)> run;
  std::vector<std::string> after;  // from m1, m2, m3
};

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = {
      {"delete first", [](SquishBase& b) { return b.DeleteMessage(1); }, {"m2", "m3"}},
      {"delete middle", [](SquishBase& b) { return b.DeleteMessage(2); }, {"m1", "m3"}},
      {"delete last", [](SquishBase& b) { return b.DeleteMessage(3); }, {"m1", "m2"}},
      {"append",
       [](SquishBase& b) { return b.AppendMessage(*TaggedMessage("a")); },
       {"m1", "m2", "m3", "a"}},
      {"batch",
       [](SquishBase& b) {
         if (b.BeginBatch()) return true;
         for (const char* tag : {"b1", "b2", "b3"}) {
           if (b.AppendMessage(*TaggedMessage(tag))) return true;
         }
         return b.EndBatch();
       },
       {"m1", "m2", "m3", "b1", "b2", "b3"}},
  };
  return scenarios;
}

TEST_P(SquishWritersTest, ACrashAtEveryStepLeavesEveryMessageAndAWritableBase) {
  const bool mandatory = GetParam();
  for (const Scenario& s : Scenarios()) {
    for (const PlatformOp op : {PlatformOp::kSync, PlatformOp::kWriteAt, PlatformOp::kTruncate}) {
      SCOPED_TRACE(std::string(s.name) + " " + std::string(testing::OpName(op)));
      int crashes = 0;
      testing::SweepCrashes<MemoryPlatform>(
          op,
          [&] {
            auto disk = std::make_unique<MemoryPlatform>();
            testing::MakeSquishBase(*disk, 3);
            disk->SetMandatoryLocks(mandatory);
            return disk;
          },
          [&](MemoryPlatform& disk) {
            const std::uint64_t index_file = disk.Stat(kSqi)->file_index;
            SquishBase base;
            ASSERT_FALSE(base.Open(kSquishPath));
            const bool failed = s.run(base);
            EXPECT_FALSE(failed);
            // The index is the same file: never replaced by another.
            EXPECT_EQ(disk.Stat(kSqi)->file_index, index_file);
          },
          [&](MemoryPlatform& disk, const testing::FaultRun& run) {
            crashes += run.fired ? 1 : 0;
            const std::vector<std::string> seen = Tags();
            EXPECT_TRUE(seen == Expected({"m1", "m2", "m3"}) || seen == Expected(s.after))
                << ::testing::PrintToString(seen);
            if (!run.fired) {
              EXPECT_EQ(seen, Expected(s.after));
            }
            ExpectConsistentAndWritable(disk);
          });
      // Every operation makes at least two syncs.
      if (op == PlatformOp::kSync) {
        EXPECT_GE(crashes, 2);
      }
    }
  }
}

// ---- damaged bases ----

TEST(SquishDamagedBaseTest, EveryWritePathRefusesAndLeavesTheFiles) {
  using Mutation = std::function<void(std::string & sqd, std::string & sqi)>;
  // Offsets of the three frames of the base.
  const auto frame = [](const std::string& sqi, std::size_t n) { return Get32(sqi, (n - 1) * 12); };
  const struct {
    const char* name;
    Mutation mutate;
  } cases[] = {
      {"EndFrame beyond the file", [](auto& d, auto&) { Put32(d, 120, d.size() + 100); }},
      {"EndFrame inside the last frame", [](auto& d, auto&) { Put32(d, 120, d.size() - 10); }},
      {"sizes in the header", [](auto& d, auto&) { d[0] = d[130] = '\x20'; }},
      {"NumMsg beyond the index", [](auto&, auto& i) { i.resize(24); }},
      {"hostile NumMsg", [](auto& d, auto&) { Put32(d, 4, 0x7FFFFFFF); }},
      {"BeginFrame not the first message", [&](auto& d, auto& i) { Put32(d, 104, frame(i, 2)); }},
      {"LastFrame not the last message", [&](auto& d, auto& i) { Put32(d, 108, frame(i, 2)); }},
      {"free chain beyond EndFrame",
       [](auto& d, auto&) {
         Put32(d, 112, d.size() + 28);
         Put32(d, 116, d.size() + 28);
       }},
      {"a record on no frame", [](auto&, auto& i) { Put32(i, 12, 260); }},
      {"a record on a free frame", [&](auto& d, auto& i) { d[frame(i, 2) + 24] = '\x01'; }},
      {"two records on one frame", [&](auto&, auto& i) { Put32(i, 0, frame(i, 2)); }},
      {"a NextFrame the index does not follow",
       [&](auto& d, auto& i) { Put32(d, frame(i, 2) + 4, frame(i, 1)); }},
      {"a PrevFrame the index does not follow",
       [&](auto& d, auto& i) { Put32(d, frame(i, 3) + 8, frame(i, 1)); }},
  };
  const struct {
    const char* name;
    std::function<bool(SquishBase&)> run;
  } writes[] = {
      {"append", [](SquishBase& b) { return b.AppendMessage(*TaggedMessage("n")); }},
      {"replace 2", [](SquishBase& b) { return b.WriteMessage(2, *TaggedMessage("n")); }},
      {"delete 2", [](SquishBase& b) { return b.DeleteMessage(2); }},
      {"batch",
       [](SquishBase& b) {
         if (b.BeginBatch()) return true;
         const bool failed = b.AppendMessage(*TaggedMessage("n"));
         return b.EndBatch() || failed;
       }},
  };
  for (const auto& c : cases) {
    MemoryPlatform disk;
    testing::MakeSquishBase(disk, 3);
    std::string sqd = *disk.ReadFileBytes(kSqd);
    std::string sqi = *disk.ReadFileBytes(kSqi);
    c.mutate(sqd, sqi);
    for (const auto& w : writes) {
      SCOPED_TRACE(std::string(c.name) + ": " + w.name);
      disk.WriteFileBytes(kSqd, sqd);
      disk.WriteFileBytes(kSqi, sqi);
      ScopedPlatform installed(disk);
      SquishBase base;
      if (base.Open(kSquishPath)) continue;
      EXPECT_TRUE(w.run(base));
      EXPECT_LE(base.Count(), 3);  // never the header's count of a damaged base
      EXPECT_EQ(*disk.ReadFileBytes(kSqd), sqd);
      EXPECT_EQ(*disk.ReadFileBytes(kSqi), sqi);
    }
  }
}

}  // namespace
}  // namespace qlr
