// What failures, crashes and damaged files do to packed messages: every
// write and deletion swept with the fault injector and cut by the crash
// simulator, the reader driven over cut and flipped packets, and a large
// packet written and read back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "msgbase/base_files.h"
#include "msgbase/message.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_message_support.h"
#include "msgbase/packet/packet_test_support.h"
#include "platform/host.h"
#include "testing/corruption.h"
#include "testing/fault_sweep.h"
#include "testing/forwarding_platform.h"
#include "testing/memory_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::FailMode;
using testing::FaultRun;
using testing::FillNetmail;
using testing::MemoryPlatform;
using testing::PlatformOp;
using testing::ReadAllDigests;

// In the host's style, as the packet code splits paths: on Windows it
// finds the directory only after a "\", and "/area" would never be made.
const std::string kPacket = "/area" + std::string(1, PathSeparator()) + "p.pkt";

// Three messages written by the library itself: an echomail, a netmail and
// another echomail, so their texts hold area lines, kludges and origins.
void WriteThree(PacketBase& base) {
  for (int i = 1; i <= 3; ++i) {
    Message m;
    FillNetmail(m, "To " + std::to_string(i), "From", "Subject " + std::to_string(i),
                "Body of message " + std::to_string(i) + "\rsecond line\r");
    m.OrigZone = 2;
    m.OrigNet = 5020;
    m.OrigNode = static_cast<std::uint16_t>(i);
    m.MsgId = "2:5020/1 0000000" + std::to_string(i);
    if (i != 2) {
      m.Area = "AREA.ONE";
      m.Origin = "Somewhere ";
    }
    ASSERT_FALSE(base.WriteMessage(0, m));
  }
}

// The packet the sweeps start from, made durable.
std::unique_ptr<MemoryPlatform> ThreeMessageDisk() {
  auto disk = std::make_unique<MemoryPlatform>();
  disk->SetBackslashIsSeparator(kHostIsWindows);
  {
    ScopedPlatform installed(*disk);
    PacketBase base;
    EXPECT_FALSE(base.Create(kPacket));
    WriteThree(base);
  }
  disk->MakeAllDurable();
  return disk;
}

struct Env {
  std::unique_ptr<MemoryPlatform> disk = ThreeMessageDisk();
  // Whether the operation reported a failure.
  bool failed = false;
  MemoryPlatform& platform() { return *disk; }
};

struct Scenario {
  const char* name;
  std::function<bool(PacketBase&)> run;  // true: the operation failed
};

std::vector<Scenario> Scenarios() {
  const auto write = [](std::int32_t number) {
    return [number](PacketBase& base) {
      Message m;
      FillNetmail(m, "Newcomer", "Writer", "Fresh", "New text\r");
      m.Area = "AREA.TWO";
      return base.WriteMessage(number, m);
    };
  };
  return {
      {"append", write(0)},
      {"replace", write(2)},
      {"delete and purge",
       [](PacketBase& base) {
         if (base.DeleteMessage(2)) return true;
         // Explicitly, not through the destructor: a simulated crash must
         // not unwind through it.
         base.Purge();
         return false;
       }},
  };
}

// Runs the scenario on the packet; false when it could not even open.
void RunScenario(Env& env, const Scenario& scenario) {
  PacketBase base;
  if (base.Open(kPacket)) {
    env.failed = true;
    return;
  }
  env.failed = scenario.run(base);
}

// What the packet reads as before and after the scenario, without faults.
struct Views {
  std::vector<std::string> before;
  std::vector<std::string> after;
};

Views ViewsOf(const Scenario& scenario) {
  Env env;
  ScopedPlatform installed(*env.disk);
  Views views;
  views.before = ReadAllDigests(kPacket).value_or(std::vector<std::string>{});
  RunScenario(env, scenario);
  EXPECT_FALSE(env.failed);
  views.after = ReadAllDigests(kPacket).value_or(std::vector<std::string>{});
  EXPECT_NE(views.before, views.after);
  return views;
}

TEST(PacketMessageSafetyTest, FaultsLeaveThePacketAsBeforeOrReportedAsAfter) {
  for (const Scenario& scenario : Scenarios()) {
    SCOPED_TRACE(scenario.name);
    const Views views = ViewsOf(scenario);
    ASSERT_EQ(views.before.size(), 3u);
    for (const PlatformOp op : testing::AllPlatformOps()) {
      for (const FailMode mode : {FailMode::kOnce, FailMode::kFromThenOn}) {
        const auto report = testing::SweepFaults<Env>(
            op, mode, [] { return std::make_unique<Env>(); },
            [&](Env& env) { RunScenario(env, scenario); },
            [&](Env& env, const FaultRun& run) {
              const auto now = ReadAllDigests(kPacket);
              ASSERT_TRUE(now.has_value());
              if (!run.fired) {
                EXPECT_FALSE(env.failed);
              }
              // A reported success is the new content, a reported failure
              // the old one; a deletion reports nothing and may be either.
              if (std::string_view(scenario.name) == "delete and purge") {
                EXPECT_TRUE(*now == views.before || *now == views.after);
              } else {
                EXPECT_EQ(*now, env.failed ? views.before : views.after);
              }
            });
        EXPECT_TRUE(report.completed);
      }
    }
  }
}

TEST(PacketMessageSafetyTest, CrashesLeaveThePacketAsBeforeOrAsAfter) {
  std::vector<PlatformOp> ops = testing::SyncOps();
  ops.push_back(PlatformOp::kWrite);
  ops.push_back(PlatformOp::kRename);
  ops.push_back(PlatformOp::kTruncate);
  for (const Scenario& scenario : Scenarios()) {
    SCOPED_TRACE(scenario.name);
    const Views views = ViewsOf(scenario);
    for (const PlatformOp op : ops) {
      int crashes = 0;
      const auto report = testing::SweepCrashes<Env>(
          op, [] { return std::make_unique<Env>(); }, [&](Env& env) { RunScenario(env, scenario); },
          [&](Env&, const FaultRun& run) {
            if (run.fired) ++crashes;
            const auto now = ReadAllDigests(kPacket);
            ASSERT_TRUE(now.has_value());
            EXPECT_TRUE(*now == views.before || *now == views.after);
            // A crash after the end of the scenario keeps all of it.
            if (!run.fired && op == PlatformOp::kSync) {
              EXPECT_EQ(*now, views.after);
            }
          });
      EXPECT_TRUE(report.completed);
      // Every operation syncs the packet or its copy at least once.
      if (op == PlatformOp::kSync) {
        EXPECT_GE(crashes, 1);
      }
    }
  }
}

TEST(PacketMessageSafetyTest, AnAppendCutAfterItsTypeWordReadsAsBefore) {
  // The first sync of an append makes the type word durable; the crash
  // there leaves the packet ending in 00 02 00.
  Env env;
  env.disk->CrashAfter(PlatformOp::kSync, 1);
  {
    ScopedPlatform installed(*env.disk);
    const auto before = ReadAllDigests(kPacket);
    try {
      RunScenario(env, Scenarios()[0]);
      ADD_FAILURE() << "no crash";
    } catch (const testing::SimulatedCrash&) {
    }
    env.disk->Crash();
    const std::string bytes = env.disk->ReadFileBytes(kPacket).value_or("");
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_EQ(bytes.substr(bytes.size() - 3), std::string("\0\2\0", 3));
    EXPECT_EQ(ReadAllDigests(kPacket), before);
    // The next write takes the 02 00 for the terminator it stands for.
    PacketBase base;
    ASSERT_FALSE(base.Open(kPacket));
    Message m;
    FillNetmail(m, "t", "f", "s", "b\r");
    ASSERT_FALSE(base.WriteMessage(0, m));
    EXPECT_EQ(base.Count(), 4);
    PacketBase again;
    ASSERT_FALSE(again.Open(kPacket));
    EXPECT_EQ(again.Boundaries(), base.Boundaries());
  }
}

TEST(PacketMessageSafetyTest, AKilledEraseLeavesTheCopiedPacketOrAnEmptyOne) {
  const std::string spec = "P/area" + std::string(1, PathSeparator()) + "p";
  const auto before = [] {
    Env env;
    ScopedPlatform installed(*env.disk);
    return ReadAllDigests(kPacket).value_or(std::vector<std::string>{});
  }();
  ASSERT_EQ(before.size(), 3u);
  for (const PlatformOp op : testing::AllPlatformOps()) {
    // The worst case: every unsynced deletion reached the disk.
    const auto report = testing::SweepCrashes<Env>(
        op, [] { return std::make_unique<Env>(); }, [&](Env&) { (void)EraseBase(spec, nullptr); },
        [&](Env& env, const FaultRun& run) {
          ASSERT_TRUE(env.disk->Exists(kPacket));
          const auto now = ReadAllDigests(kPacket);
          ASSERT_TRUE(now.has_value());
          EXPECT_TRUE(now->empty() || (run.fired && *now == before));
        },
        MemoryPlatform::CrashKeeps::kDeletions);
    EXPECT_TRUE(report.completed);
  }
}

// A written packet, its digests and its boundaries, on the host.
class PacketCorruptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PacketBase base;
    ASSERT_FALSE(base.Create(path_));
    WriteThree(base);
    boundaries_ = base.Boundaries();
    base.Discard();
    digests_ = ReadAllDigests(path_).value_or(std::vector<std::string>{});
    ASSERT_EQ(digests_.size(), 3u);
  }

  // Opens and reads every message; the messages whose seam (closing NUL
  // and the next type word) ends before `intact_before` must read as
  // written.
  void CheckReads(std::int64_t intact_before) {
    PacketBase base;
    if (base.Open(path_)) return;
    EXPECT_LE(base.Count(), 3);
    for (std::int32_t n = 1; n <= base.Count(); ++n) {
      Message m;
      const bool failed = base.ReadMessage(n, m);
      EXPECT_FALSE(failed) << "message " << n;
      const std::size_t i = static_cast<std::size_t>(n);
      if (n < 3 && boundaries_[i] + 3 <= intact_before) {
        EXPECT_EQ(testing::Digest(m), digests_[i - 1]) << "message " << n;
      }
    }
    base.Discard();
  }

  testing::ScratchDir dir_;
  std::string path_ = dir_.Path("p.pkt");
  testing::PacketTestPlatform platform_{HostPlatform()};
  ScopedPlatform installed_ = platform_.Install();
  std::vector<std::int32_t> boundaries_;
  std::vector<std::string> digests_;
};

TEST_F(PacketCorruptionTest, EveryTruncatedLength) {
  ASSERT_TRUE(testing::ForEachTruncation(path_, [&](std::uint64_t length) {
    SCOPED_TRACE(length);
    CheckReads(static_cast<std::int64_t>(length));
  }));
}

TEST_F(PacketCorruptionTest, EveryFlippedByte) {
  const auto size = static_cast<std::int64_t>(dir_.ReadFile("p.pkt").size());
  for (std::int64_t at = 0; at < size; ++at) {
    SCOPED_TRACE(at);
    ASSERT_TRUE(testing::FlipByte(path_, static_cast<std::uint64_t>(at)));
    if (at == 18 || at == 19) {
      PacketBase base;
      EXPECT_TRUE(base.Open(path_));
      EXPECT_EQ(base.State(), BaseState::kBadFormat);
    } else if (at < 58) {
      // The header holds nothing a message needs.
      EXPECT_EQ(ReadAllDigests(path_), digests_);
    } else {
      CheckReads(at - 1);
    }
    ASSERT_TRUE(testing::FlipByte(path_, static_cast<std::uint64_t>(at)));
  }
}

// The host's files, but a sync that costs nothing: the large packet below
// measures the library, not the disk's flush time.
class NoSyncFile final : public testing::ForwardingFile {
 public:
  using ForwardingFile::ForwardingFile;
  Status Sync() override { return Status::Ok(); }
};

class NoSyncPlatform final : public testing::ForwardingPlatform {
 public:
  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
    auto file = ForwardingPlatform::OpenFile(path, mode);
    if (!file) return file;
    return std::make_unique<NoSyncFile>(std::move(file));
  }
};

// A few seconds under the sanitizers too.
constexpr int kLargeCount = 10000;

TEST(PacketLargeTest, TenThousandMessagesWrittenAndReadBack) {
  testing::ScratchDir dir;
  NoSyncPlatform platform;
  ScopedPlatform installed(platform);
  const std::string path = dir.Path("big.pkt");
  {
    PacketBase base;
    ASSERT_FALSE(base.Create(path));
    for (int i = 1; i <= kLargeCount; ++i) {
      Message m;
      FillNetmail(m, "All", "Writer", "Number " + std::to_string(i),
                  "Text " + std::to_string(i) + "\r");
      m.Area = "BIG";
      ASSERT_FALSE(base.WriteMessage(0, m)) << i;
    }
    EXPECT_EQ(base.Count(), kLargeCount);
  }
  PacketBase base;
  ASSERT_FALSE(base.Open(path));
  ASSERT_EQ(base.Count(), kLargeCount);
  for (int i = 1; i <= kLargeCount; ++i) {
    Message m;
    ASSERT_FALSE(base.ReadMessage(i, m));
    ASSERT_EQ(m.Subject, "Number " + std::to_string(i));
    ASSERT_EQ(testing::TextOf(m), "Text " + std::to_string(i) + "\r");
    ASSERT_EQ(m.Area, "BIG");
  }
}

}  // namespace
}  // namespace qlr
