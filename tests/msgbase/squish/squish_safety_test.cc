// Squish message operations against damaged files, failing calls and
// crashes, and at size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/squish/squish_base.h"
#include "squish_test_support.h"
#include "testing/corruption.h"
#include "testing/fault_sweep.h"
#include "testing/memory_platform.h"

namespace qlr {
namespace {

using testing::FaultRun;
using testing::kSquishPath;
using testing::MemoryPlatform;
using testing::PlatformOp;
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

// ---- failing calls and crashes ----

struct Operation {
  const char* name;
  std::function<bool(SquishBase&)> run;
};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"append", [](SquishBase& b) { return b.WriteMessage(4, *TaggedMessage("new")); }},
      {"replace", [](SquishBase& b) { return b.WriteMessage(2, *TaggedMessage("new")); }},
      {"delete", [](SquishBase& b) { return b.DeleteMessage(2); }},
  };
  return ops;
}

// A base of three messages, and what a reader sees of it before and after
// an operation.
struct Disk {
  Disk() { testing::UseHostSeparator(*disk); }
  std::unique_ptr<MemoryPlatform> disk = std::make_unique<MemoryPlatform>();
  bool failed = true;
  MemoryPlatform& platform() { return *disk; }
};

struct Expected {
  std::string sqd, sqi;
  std::vector<std::string> before, after;
};

Expected Expect(const Operation& op) {
  Expected e;
  MemoryPlatform disk;
  testing::MakeSquishBase(disk, 3);
  e.sqd = *disk.ReadFileBytes(kSqd);
  e.sqi = *disk.ReadFileBytes(kSqi);
  ScopedPlatform installed(disk);
  e.before = SquishSummary();
  {
    SquishBase base;
    EXPECT_FALSE(base.Open(kSquishPath));
    EXPECT_FALSE(op.run(base));
  }
  e.after = SquishSummary();
  return e;
}

std::unique_ptr<Disk> MakeDisk(const Expected& e) {
  auto d = std::make_unique<Disk>();
  d->disk->WriteFileBytes(kSqd, e.sqd);
  d->disk->WriteFileBytes(kSqi, e.sqi);
  return d;
}

void RunOperation(const Operation& op, Disk& d) {
  SquishBase base;
  d.failed = base.Open(kSquishPath) || op.run(base);
}

void ExpectBeforeOrAfter(const Expected& e, const std::vector<std::string>& seen) {
  EXPECT_TRUE(seen == e.before || seen == e.after) << ::testing::PrintToString(seen);
}

TEST(SquishFaultTest, EveryFailingCallLeavesTheBaseBeforeOrAfter) {
  int fired_runs = 0;
  for (const Operation& op : Operations()) {
    const Expected e = Expect(op);
    for (const PlatformOp fail : testing::AllPlatformOps()) {
      for (const testing::FailMode mode :
           {testing::FailMode::kOnce, testing::FailMode::kFromThenOn}) {
        SCOPED_TRACE(std::string(op.name) + " " + std::string(testing::OpName(fail)));
        const testing::SweepReport report = testing::SweepFaults<Disk>(
            fail, mode, [&] { return MakeDisk(e); }, [&](Disk& d) { RunOperation(op, d); },
            [&](Disk& d, const FaultRun& run) {
              const std::vector<std::string> seen = SquishSummary();
              ExpectBeforeOrAfter(e, seen);
              // A reported success is a complete operation.
              if (!d.failed) {
                EXPECT_EQ(seen, e.after);
              }
              if (!run.fired) {
                EXPECT_FALSE(d.failed);
              }
              EXPECT_FALSE(d.disk->Exists(kSqi + ".new"));
            });
        EXPECT_TRUE(report.completed);
        fired_runs += report.runs - 1;
      }
    }
  }
  // Every operation makes dozens of calls; each was failed once and on.
  EXPECT_GT(fired_runs, 150);
}

// Parameter: Windows lock semantics.
class SquishCrashTest : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(LockSemantics, SquishCrashTest, ::testing::Bool());

TEST_P(SquishCrashTest, ACrashAtEverySyncPointLeavesTheBaseBeforeOrAfter) {
  for (const Operation& op : Operations()) {
    const Expected e = Expect(op);
    const auto make_disk = [&] {
      std::unique_ptr<Disk> d = MakeDisk(e);
      d->disk->SetMandatoryLocks(GetParam());
      return d;
    };
    for (const PlatformOp sync : testing::SyncOps()) {
      for (const auto keeps :
           {MemoryPlatform::CrashKeeps::kNothing, MemoryPlatform::CrashKeeps::kDeletions}) {
        SCOPED_TRACE(std::string(op.name) + " " + std::string(testing::OpName(sync)));
        int crashed = 0;
        testing::SweepCrashes<Disk>(
            sync, make_disk, [&](Disk& d) { RunOperation(op, d); },
            [&](Disk&, const FaultRun& run) {
              crashed += run.fired ? 1 : 0;
              const std::vector<std::string> seen = SquishSummary();
              ExpectBeforeOrAfter(e, seen);
              // The run that was not cut made everything durable.
              if (!run.fired) {
                EXPECT_EQ(seen, e.after);
              }
            },
            keeps);
        if (sync == PlatformOp::kSync) {
          EXPECT_GE(crashed, 2);
        }
      }
    }
  }
}

// ---- size ----

#if defined(__SANITIZE_ADDRESS__)
constexpr int kManyMessages = 2000;
#else
constexpr int kManyMessages = 10000;
#endif

TEST(SquishSizeTest, ManyMessagesWriteAndReadBack) {
  MemoryPlatform disk;
  testing::UseHostSeparator(disk);
  ScopedPlatform installed(disk);
  {
    SquishBase base;
    ASSERT_FALSE(base.Create(kSquishPath));
    ASSERT_FALSE(base.LockBase(0));
    for (int i = 1; i <= kManyMessages; ++i) {
      ASSERT_FALSE(base.WriteMessage(i, *TaggedMessage("m" + std::to_string(i)))) << i;
    }
  }
  SquishBase base;
  ASSERT_FALSE(base.Open(kSquishPath));
  ASSERT_EQ(base.Count(), kManyMessages);
  for (int i = 1; i <= kManyMessages; ++i) {
    Message m;
    ASSERT_FALSE(base.ReadMessage(i, m)) << i;
    ASSERT_EQ(m.From, "From m" + std::to_string(i));
  }
  std::vector<std::uint32_t> chain;
  ASSERT_FALSE(base.MessageChain(&chain));
  EXPECT_EQ(chain.size(), static_cast<std::size_t>(kManyMessages));
}

}  // namespace
}  // namespace qlr
