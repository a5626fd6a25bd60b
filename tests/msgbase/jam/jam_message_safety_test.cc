// JAM messages against damage and failure: the reader over every cut and
// flipped byte of a written base, writes and deletes under injected
// faults and cut off by crashes, and a large base written and read back.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jam_message_support.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/message_attributes.h"
#include "testing/corruption.h"
#include "testing/fault_sweep.h"
#include "testing/forwarding_platform.h"
#include "testing/memory_platform.h"
#include "testing/platform_op.h"

namespace qlr {
namespace {

using testing::BaseView;
using testing::FailMode;
using testing::FaultRun;
using testing::FillMessage;
using testing::MemoryPlatform;
using testing::PlatformOp;
using testing::ViewBase;

constexpr std::string_view kBase = "/area";
constexpr const char* kFiles[] = {"/area.jhr", "/area.jdt", "/area.jdx"};

// A base of three messages with every kind of subfield and a text with
// tear and origin lines, so that damage can hit every part of a message.
void MakeRichBase() {
  JamBase base;
  ASSERT_FALSE(base.Create(kBase));
  for (int i = 1; i <= 3; ++i) {
    Message m;
    FillMessage(m, "Message " + std::to_string(i), "Body " + std::to_string(i) + "\rmore\r");
    m.ReplyId = "2:5020/9 00000001";
    m.Pid = "QLR";
    m.TearLine = "qlr";
    m.Area = "TEST";
    m.Origin = "Node ";
    m.AttrFlags[4] = true;  // Att: subfield 9 too
    m.ExtFlags[kExtZoneGate] = true;
    m.AddVia("2:5020/1 @20000101.000000");
    auto kludge = std::make_unique<KludgeLine>();
    kludge->Prefix = NewStr("\001");
    kludge->Value = NewStr("CHRS: IBMPC 2");
    m.Kludges.Insert(std::move(kludge));
    ASSERT_FALSE(base.WriteMessage(i, m));
  }
}

// Reads, writes and deletes on whatever the files hold now: none of it
// may crash or touch memory it should not (the sanitizer build checks).
void Exercise() {
  const BaseView view = ViewBase(kBase);
  if (!view.opens) return;
  JamBase base;
  ASSERT_FALSE(base.Open(kBase));
  Message m;
  FillMessage(m, "New", "new\r");
  static_cast<void>(base.WriteMessage(2, m));
  static_cast<void>(base.DeleteMessage(1));
  static_cast<void>(base.WriteMessage(base.Count() + 1, m));
  for (std::int32_t n = 1; n <= base.Count(); ++n)
    static_cast<void>(testing::DescribeMessage(base, n));
}

class JamDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeRichBase();
    for (const char* file : kFiles) original_.push_back(testing::FileBytes(disk_, file));
  }
  void Restore() {
    for (std::size_t i = 0; i < original_.size(); ++i)
      disk_.WriteFileBytes(kFiles[i], original_[i]);
  }

  MemoryPlatform disk_;
  ScopedPlatform installed_{disk_};
  std::vector<std::string> original_;
};

TEST_F(JamDamageTest, EveryCutOfEveryFileIsReadWithoutHarm) {
  for (std::size_t i = 0; i < std::size(kFiles); ++i) {
    SCOPED_TRACE(kFiles[i]);
    ASSERT_TRUE(testing::ForEachTruncation(
        kFiles[i],
        [&](std::uint64_t length) {
          SCOPED_TRACE(length);
          const BaseView view = ViewBase(kBase);
          if (i == 0) {
            EXPECT_EQ(view.opens, length >= 1024);
          }
          if (i == 2) {
            EXPECT_EQ(view.count, static_cast<std::int32_t>(length / 8));
          }
          Exercise();
          Restore();
          // ForEachTruncation puts the cut back before the next length.
        },
        disk_));
  }
}

TEST_F(JamDamageTest, EveryFlippedHeaderOrIndexByteIsReadWithoutHarm) {
  for (std::size_t i = 0; i < std::size(kFiles); ++i) {
    SCOPED_TRACE(kFiles[i]);
    // The base header is not interpreted by the reader; the messages are.
    const std::uint64_t from = i == 0 ? 1024 : 0;
    for (std::uint64_t offset = from; offset < original_[i].size(); ++offset) {
      SCOPED_TRACE(offset);
      for (const std::uint8_t mask : {std::uint8_t{0xFF}, std::uint8_t{0x80}}) {
        ASSERT_TRUE(testing::FlipByte(kFiles[i], offset, mask, disk_));
        Exercise();
        Restore();
      }
    }
  }
}

TEST_F(JamDamageTest, HostileLengthsAndOffsetsGiveAFailureOrAPartialRead) {
  struct Field {
    const char* name;
    std::uint64_t offset;  // in the header of message 1
  };
  const Field fields[] = {{"SubfieldLen", 8}, {"TxtOffset", 60}, {"TxtLen", 64}};
  for (const Field& field : fields) {
    for (const std::uint32_t value : {0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x7FFFFFF0u}) {
      SCOPED_TRACE(std::string(field.name) + " " + std::to_string(value));
      std::string jhr = original_[0];
      jhr.replace(1024 + field.offset, 4, testing::Le32(value));
      disk_.WriteFileBytes("/area.jhr", jhr);
      const BaseView view = ViewBase(kBase);
      ASSERT_TRUE(view.opens);
      ASSERT_EQ(view.count, 3);
      // Message 1 is read as far as the files hold it; the others whole.
      EXPECT_TRUE(view.messages[0].has_value());
      JamBase base;
      ASSERT_FALSE(base.Open(kBase));
      Message m;
      ASSERT_FALSE(base.ReadMessage(1, m));
      if (field.offset != 8) {
        EXPECT_EQ(testing::TextOf(m), "");
      }
      EXPECT_EQ(view.messages[1], ViewBase(kBase).messages[1]);
      Exercise();
      Restore();
    }
  }
  // Index records that point anywhere but at a header.
  for (const std::uint32_t offset : {0u, 1023u, 0x7FFFFFFFu, 0xFFFFFFFEu}) {
    SCOPED_TRACE(offset);
    std::string jdx = original_[2];
    jdx.replace(4, 4, testing::Le32(offset));
    disk_.WriteFileBytes("/area.jdx", jdx);
    JamBase base;
    ASSERT_FALSE(base.Open(kBase));
    Message m;
    EXPECT_TRUE(base.ReadMessage(1, m));
    EXPECT_TRUE(base.DeleteMessage(1));
    Exercise();
    Restore();
  }
}

// --- faults and crashes ---

struct Env {
  MemoryPlatform disk;
  bool failed = false;
  MemoryPlatform& platform() { return disk; }
};

// Whether the disk has the mandatory byte-range locks of Windows, where
// only the handle that holds the lock on .jhr may touch its byte 0.
bool mandatory_locks = false;

std::unique_ptr<Env> MakeEnv() {
  auto env = std::make_unique<Env>();
  ScopedPlatform installed(env->disk);
  testing::MakeBase(kBase, 3);
  env->disk.MakeAllDurable();
  env->disk.SetMandatoryLocks(mandatory_locks);
  return env;
}

using Operation = std::function<bool(JamBase&)>;

struct Scenario {
  const char* name;
  Operation operation;
};

bool WriteAs(JamBase& base, std::int32_t number) {
  Message m;
  FillMessage(m, "Written as " + std::to_string(number), "new text\r");
  return number == 0 ? base.AppendMessage(m) : base.WriteMessage(number, m);
}

// The group commit of three appends: before the batch, or with all three.
bool AppendBatch(JamBase& base) {
  if (base.BeginBatch()) return true;
  const bool failed = WriteAs(base, 0) || WriteAs(base, 0) || WriteAs(base, 0);
  return base.EndBatch() || failed;
}

const Scenario kScenarios[] = {
    {"append", [](JamBase& base) { return WriteAs(base, 4); }},
    {"replace", [](JamBase& base) { return WriteAs(base, 2); }},
    {"delete", [](JamBase& base) { return base.DeleteMessage(2); }},
    // Reopened under its own lock, as a rotation's writer does.
    {"write under the base's lock",
     [](JamBase& base) { return base.LockBase(0) || base.Open(kBase) || WriteAs(base, 2); }},
    {"batch of appends", AppendBatch},
};

// Each sweep runs with advisory (POSIX) and with mandatory (Windows) locks.
class JamMessageFaultTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { mandatory_locks = GetParam(); }
  void TearDown() override { mandatory_locks = false; }
};

void RunScenario(Env& env, const Operation& operation) {
  JamBase base;
  env.failed = base.Open(kBase) || operation(base);
}

// The views before and after the operation, on a disk without faults.
std::pair<BaseView, BaseView> BeforeAndAfter(const Operation& operation) {
  const std::unique_ptr<Env> env = MakeEnv();
  ScopedPlatform installed(env->disk);
  const BaseView before = ViewBase(kBase);
  RunScenario(*env, operation);
  EXPECT_FALSE(env->failed);
  const BaseView after = ViewBase(kBase);
  EXPECT_NE(before, after);
  return {before, after};
}

TEST_P(JamMessageFaultTest, FailedOperationsLeaveTheBaseAsBeforeOrAsAfter) {
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    const auto [before, after] = BeforeAndAfter(scenario.operation);
    for (const PlatformOp op : testing::AllPlatformOps()) {
      for (const FailMode mode : {FailMode::kOnce, FailMode::kFromThenOn}) {
        const testing::SweepReport report = testing::SweepFaults<Env>(
            op, mode, MakeEnv, [&](Env& env) { RunScenario(env, scenario.operation); },
            [&](Env& env, const FaultRun&) {
              const BaseView view = ViewBase(kBase);
              EXPECT_TRUE(view == before || view == after) << ToString(view);
              // A failure is never reported as success.
              if (!env.failed) {
                EXPECT_EQ(view, after) << ToString(view);
              }
            });
        EXPECT_TRUE(report.completed);
      }
    }
  }
}

TEST_P(JamMessageFaultTest, CrashesLeaveTheBaseAsBeforeOrAsAfter) {
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    const auto [before, after] = BeforeAndAfter(scenario.operation);
    for (const PlatformOp op : {PlatformOp::kSync, PlatformOp::kWrite, PlatformOp::kWriteAt}) {
      int crashed = 0;
      const testing::SweepReport report = testing::SweepCrashes<Env>(
          op, MakeEnv, [&](Env& env) { RunScenario(env, scenario.operation); },
          [&](Env&, const FaultRun& run) {
            const BaseView view = ViewBase(kBase);
            EXPECT_TRUE(view == before || view == after) << ToString(view);
            // Done without a crash, everything it wrote is on disk.
            if (!run.fired) {
              EXPECT_EQ(view, after) << ToString(view);
            }
            if (run.fired) ++crashed;
          });
      EXPECT_TRUE(report.completed);
      // Each of these is reached: the operation syncs and writes.
      EXPECT_GT(crashed, 0) << testing::OpName(op);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Locks, JamMessageFaultTest, ::testing::Bool(),
                         [](const auto& test) { return test.param ? "Mandatory" : "Advisory"; });

// --- a large base ---

// The durability of the disk is not what this test measures: syncing
// would copy the whole memory file every time.
class SyncFreeFile final : public testing::ForwardingFile {
 public:
  using ForwardingFile::ForwardingFile;
  bool Sync() override { return true; }
};

class SyncFreePlatform final : public testing::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) override {
    std::unique_ptr<FileHandle> file = ForwardingPlatform::OpenFile(path, mode);
    if (file == nullptr) return nullptr;
    return std::make_unique<SyncFreeFile>(std::move(file));
  }
};

TEST(JamLargeBaseTest, TenThousandMessagesAreWrittenAndReadBack) {
  constexpr int kMessages = 10000;
  MemoryPlatform disk;
  SyncFreePlatform platform(disk);
  ScopedPlatform installed(platform);
  {
    JamBase base;
    ASSERT_FALSE(base.Create(kBase));
    for (int i = 1; i <= kMessages; ++i) {
      Message m;
      FillMessage(m, "Message " + std::to_string(i), "Text " + std::to_string(i) + "\r");
      ASSERT_FALSE(base.WriteMessage(i, m)) << i;
    }
  }
  JamBase base;
  ASSERT_FALSE(base.Open(kBase));
  ASSERT_EQ(base.Count(), kMessages);
  EXPECT_EQ(base.BaseHeader().ActiveMsgs, static_cast<std::uint32_t>(kMessages));
  EXPECT_EQ(base.BaseHeader().ModCounter, static_cast<std::uint32_t>(kMessages + 1));
  for (int i = 1; i <= kMessages; ++i) {
    Message m;
    ASSERT_FALSE(base.ReadMessage(i, m)) << i;
    ASSERT_EQ(m.Subject, "Message " + std::to_string(i));
    ASSERT_EQ(testing::TextOf(m), "Text " + std::to_string(i) + "\r");
  }
}

}  // namespace
}  // namespace qlr
