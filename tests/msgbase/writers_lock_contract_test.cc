// The writers' lock of the formats that have one, as other programs on the
// same base see it: two objects taking turns lose nothing, a lock another
// program holds stops every write and deletion without a change, a lock
// the caller holds stays across its writes, and a batch holds the lock
// until it ends. A format takes part with a few lines of traits.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "contract_formats.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"
#include "msgbase/squish/squish_base.h"
#include "platform/host.h"
#include "support/coding.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::Get32;
using testing::MemoryPlatform;
using testing::PlatformOp;
using testing::Tagged;
const std::string& kPath = testing::kContractPath;

// A damage done to the files of a base of three messages, given in the
// order of the format's extensions. Every write path sees it, or only
// those on message 2.
struct Damage {
  const char* name;
  std::function<void(std::vector<std::string>& files)> apply;
  bool whole_base = true;
};

struct WriterTraits {
  const char* name;
  char type;
  bool mandatory_locks;
  std::vector<const char*> extensions;  // the base's files; the lock is on the first one's byte 0
  // A deletion takes the message out of the numbering (else it leaves a
  // number that no longer reads).
  bool count_is_live;
  bool (*lock)(MessageBase& base);  // takes the lock without waiting
  bool (*locked)(MessageBase& base);
  const Status& (*lock_error)(MessageBase& base);
  // The base's own records after `live` messages and `changes` writes and
  // deletions on a base made with `made` messages.
  void (*check)(MemoryPlatform& disk, int made, int live, int changes);
  // Syncs of an ended batch of appends.
  int batch_syncs;
  // A batch counts what it planned before it ends, and one dropped
  // without its end leaves the files as they were (else the reader sees
  // nothing of it and the next writer finds the base whole).
  bool batch_counts_planned;
  bool dropped_batch_writes_nothing;
  std::vector<Damage> (*damages)();
};

void PrintTo(const WriterTraits& f, std::ostream* os) { *os << f.name; }

class WritersLockContractTest : public ::testing::TestWithParam<WriterTraits> {
 protected:
  const WriterTraits& F() const { return GetParam(); }
  std::string Spec() const { return std::string(1, F().type) + kPath; }

  // A base of `count` messages "m1".."mN", durable.
  void MakeBase(int count) {
    disk_->SetBackslashIsSeparator(kHostIsWindows);
    {
      ScopedPlatform installed(*disk_);
      const std::unique_ptr<MessageBase> base = OpenBase(Spec());
      ASSERT_NE(base, nullptr);
      for (int i = 1; i <= count; ++i)
        ASSERT_FALSE(base->WriteMessage(i, *Tagged("m" + std::to_string(i))));
    }
    disk_->MakeAllDurable();
    disk_->SetMandatoryLocks(F().mandatory_locks);
  }

  std::unique_ptr<MessageBase> Open() {
    std::unique_ptr<MessageBase> base = OpenBase(Spec());
    EXPECT_NE(base, nullptr);
    return base;
  }

  // The subjects a fresh reader sees, "-" for a number that does not read.
  std::vector<std::string> Subjects() {
    const std::unique_ptr<MessageBase> base = OpenBase(Spec());
    if (base == nullptr) return {"does not open"};
    std::vector<std::string> subjects;
    for (std::int32_t n = 1; n <= base->Count(); ++n) {
      Message m;
      subjects.push_back(base->ReadMessage(n, m) ? "-" : m.Subject.str());
    }
    return subjects;
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    for (const char* ext : F().extensions)
      files.push_back(disk_->ReadFileBytes(kPath + ext).value_or(""));
    return files;
  }

  std::unique_ptr<MemoryPlatform> disk_ = std::make_unique<MemoryPlatform>();
};

// One step of a script: who acts, what (append, replace n, delete n, a
// batch of two appends) and the tags of what it writes.
struct Step {
  int who;
  char op;  // 'a', 'r', 'd', 'b'
  int n;
  const char* tag;
  const char* tag2 = nullptr;  // the second append of a batch
};

struct Script {
  const char* name;
  int made;  // messages of the base before the script
  std::vector<Step> steps;
};

const Script kScripts[] = {
    // Each object works from a count the other one has changed since.
    {"deletions and replacements in turn",
     2,
     {{0, 'a', 0, "a1"},
      {1, 'a', 0, "b1"},
      {0, 'd', 1, ""},
      {1, 'r', 3, "b2"},
      {0, 'a', 0, "a2"},
      {1, 'd', 2, ""},
      {0, 'r', 1, "a3"},
      {1, 'a', 0, "b3"},
      {0, 'd', 4, ""},
      {1, 'a', 0, "b4"},
      {0, 'r', 4, "a4"},
      {1, 'd', 1, ""}}},
    // The second object still counts three: its append must not land on
    // the first one's message 4.
    {"appends from a stale count",
     3,
     {{0, 'a', 0, "A1"},
      {1, 'a', 0, "B1"},
      {0, 'r', 1, "A replaces 1"},
      {1, 'd', 2, ""},
      {0, 'a', 0, "A2"},
      {1, 'r', 4, "B replaces 4"},
      {1, 'b', 0, "B2", "B3"},
      {0, 'a', 0, "A3"}}},
};

TEST_P(WritersLockContractTest, TwoObjectsTakingTurnsLoseNothing) {
  for (const Script& script : kScripts) {
    SCOPED_TRACE(script.name);
    disk_ = std::make_unique<MemoryPlatform>();
    MakeBase(script.made);
    ScopedPlatform installed(*disk_);
    std::unique_ptr<MessageBase> objects[2] = {Open(), Open()};
    ASSERT_TRUE(objects[0] && objects[1]);
    std::vector<std::string> model;
    for (int i = 1; i <= script.made; ++i) model.push_back("m" + std::to_string(i));
    int changes = 0;
    for (const Step& s : script.steps) {
      SCOPED_TRACE(std::string(1, s.op) + " " + std::to_string(s.n) + " by " +
                   std::to_string(s.who));
      MessageBase& base = *objects[s.who];
      const auto at = static_cast<std::size_t>(s.n - 1);
      if (s.op == 'a') {
        ASSERT_FALSE(base.AppendMessage(*Tagged(s.tag)));
        model.push_back(s.tag);
      } else if (s.op == 'b') {
        ASSERT_FALSE(base.BeginBatch());
        for (const char* tag : {s.tag, s.tag2}) {
          ASSERT_FALSE(base.AppendMessage(*Tagged(tag)));
          model.push_back(tag);
        }
        ASSERT_FALSE(base.EndBatch());
      } else if (s.op == 'r') {
        ASSERT_FALSE(base.WriteMessage(s.n, *Tagged(s.tag)));
        model[at] = s.tag;
      } else {
        ASSERT_FALSE(base.DeleteMessage(s.n));
        if (F().count_is_live) {
          model.erase(model.begin() + s.n - 1);
        } else {
          model[at] = "-";
        }
      }
      changes += s.op == 'b' ? 2 : 1;
      EXPECT_EQ(base.Count(), static_cast<std::int32_t>(model.size()));
      ASSERT_EQ(Subjects(), model);
    }
    objects[0].reset();
    objects[1].reset();
    const int live = static_cast<int>(
        std::count_if(model.begin(), model.end(), [](const std::string& s) { return s != "-"; }));
    F().check(*disk_, script.made, live, changes);
  }
}

TEST_P(WritersLockContractTest, ALockAnotherProgramHoldsStopsWritesAndDeletesWithoutAChange) {
  MakeBase(2);
  ScopedPlatform installed(*disk_);
  const std::vector<std::string> before = Files();
  std::unique_ptr<FileHandle> other =
      disk_->OpenFile(kPath + F().extensions[0], OpenMode::kReadWrite);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(other->TryLock(0, 1));
  if (F().mandatory_locks) {
    // Where the lock is enforced, even the base header cannot be read.
    EXPECT_EQ(OpenBase(Spec()), nullptr);
    EXPECT_EQ(Files(), before);
    return;
  }
  const std::unique_ptr<MessageBase> base = Open();
  ASSERT_NE(base, nullptr);
  EXPECT_TRUE(base->WriteMessage(3, *Tagged("new")));
  EXPECT_TRUE(base->WriteMessage(1, *Tagged("replaced")));
  EXPECT_TRUE(base->AppendMessage(*Tagged("appended")));
  EXPECT_TRUE(base->DeleteMessage(1));
  EXPECT_EQ(base->Count(), 2);
  EXPECT_EQ(Files(), before);
  EXPECT_FALSE(F().locked(*base));
  EXPECT_EQ(F().lock_error(*base).kind(), StatusKind::kBusy);
  // Once it lets go, the same write goes through, under a lock taken for
  // the write only.
  ASSERT_TRUE(other->Unlock(0, 1));
  EXPECT_FALSE(base->WriteMessage(3, *Tagged("new")));
  EXPECT_EQ(base->Count(), 3);
  EXPECT_FALSE(F().locked(*base));
  // A caller that holds the lock itself keeps it across its operations:
  // another handle cannot have it.
  ASSERT_FALSE(F().lock(*base));
  EXPECT_FALSE(base->WriteMessage(4, *Tagged("locked")));
  EXPECT_FALSE(base->DeleteMessage(1));
  EXPECT_TRUE(F().locked(*base));
  EXPECT_FALSE(other->TryLock(0, 1));
}

TEST_P(WritersLockContractTest, ABatchHoldsTheLockAndCommitsOnlyWhenEnded) {
  MakeBase(2);
  ScopedPlatform installed(*disk_);
  const std::unique_ptr<MessageBase> other = Open();
  ASSERT_NE(other, nullptr);
  ASSERT_FALSE(other->AppendMessage(*Tagged("o1")));  // unseen by the batches
  const std::vector<std::string> before = Files();
  {
    const std::unique_ptr<MessageBase> dropped = Open();
    ASSERT_FALSE(dropped->BeginBatch());
    ASSERT_FALSE(dropped->AppendMessage(*Tagged("planned")));
    EXPECT_EQ(dropped->Count(), F().batch_counts_planned ? 4 : 3);
    // The batch takes appends only, once.
    EXPECT_TRUE(dropped->WriteMessage(1, *Tagged("no writes inside a batch")));
    EXPECT_TRUE(dropped->DeleteMessage(1));
    EXPECT_TRUE(dropped->BeginBatch());
  }  // dropped without EndBatch: nothing of it is referenced
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"m1", "m2", "o1"}));
  if (F().dropped_batch_writes_nothing) {
    EXPECT_EQ(Files(), before);
  }

  const std::unique_ptr<MessageBase> batch = Open();
  const int syncs = disk_->Calls(PlatformOp::kSync);
  ASSERT_FALSE(batch->BeginBatch());
  for (const char* tag : {"x1", "x2", "x3", "x4"}) ASSERT_FALSE(batch->AppendMessage(*Tagged(tag)));
  // The other writer waits.
  EXPECT_TRUE(other->AppendMessage(*Tagged("o2")));
  ASSERT_FALSE(batch->EndBatch());
  EXPECT_EQ(disk_->Calls(PlatformOp::kSync) - syncs, F().batch_syncs);
  EXPECT_EQ(batch->Count(), 7);
  ASSERT_FALSE(other->AppendMessage(*Tagged("o2")));
  EXPECT_EQ(Subjects(), (std::vector<std::string>{"m1", "m2", "o1", "x1", "x2", "x3", "x4", "o2"}));
  F().check(*disk_, 2, 8, 6);
}

// Every write path refuses a damaged base before it writes: the files stay
// byte for byte as they were, and the count is never a damaged header's.
TEST_P(WritersLockContractTest, EveryWritePathRefusesADamagedBaseAndLeavesItAsItWas) {
  const struct {
    const char* name;
    bool on_message_2;
    std::function<bool(MessageBase&)> run;
  } writes[] = {
      {"replace 2", true, [](MessageBase& b) { return b.WriteMessage(2, *Tagged("n")); }},
      {"delete 2", true, [](MessageBase& b) { return b.DeleteMessage(2); }},
      {"write past the end", false, [](MessageBase& b) { return b.WriteMessage(4, *Tagged("n")); }},
      {"append", false, [](MessageBase& b) { return b.AppendMessage(*Tagged("n")); }},
      {"batch", false,
       [](MessageBase& b) {
         if (b.BeginBatch()) return true;
         const bool failed = b.AppendMessage(*Tagged("n"));
         return b.EndBatch() || failed;
       }},
  };
  for (const Damage& damage : F().damages()) {
    disk_ = std::make_unique<MemoryPlatform>();
    MakeBase(3);
    std::vector<std::string> files = Files();
    damage.apply(files);
    for (const auto& write : writes) {
      if (!damage.whole_base && !write.on_message_2) continue;
      SCOPED_TRACE(std::string(damage.name) + ": " + write.name);
      for (std::size_t i = 0; i < files.size(); ++i)
        disk_->WriteFileBytes(kPath + F().extensions[i], files[i]);
      ScopedPlatform installed(*disk_);
      const std::unique_ptr<MessageBase> base = OpenBase(Spec());
      if (base == nullptr) continue;  // refused at once
      EXPECT_TRUE(write.run(*base));
      EXPECT_LE(base->Count(), 3);
      EXPECT_EQ(Files(), files);
      EXPECT_FALSE(F().locked(*base));
    }
  }
}

void Put32(std::string& bytes, std::size_t at, std::size_t value) {
  EncodeFixed32(reinterpret_cast<std::uint8_t*>(bytes.data()) + at,
                static_cast<std::uint32_t>(value));
}

// JAM: the lock is byte 0 of the header file; ActiveMsgs counts the live
// messages and ModCounter every change.
bool LockJam(MessageBase& base) { return static_cast<JamBase&>(base).LockBase(0); }
bool JamLocked(MessageBase& base) { return static_cast<JamBase&>(base).Locked(); }
const Status& JamLockError(MessageBase& base) { return static_cast<JamBase&>(base).LockError(); }
void CheckJam(MemoryPlatform&, int made, int live, int changes) {
  JamBase base;
  ASSERT_FALSE(base.Open(kPath));
  EXPECT_EQ(base.BaseHeader().ActiveMsgs, static_cast<std::uint32_t>(live));
  EXPECT_EQ(base.BaseHeader().ModCounter, static_cast<std::uint32_t>(made + 1 + changes));
}

// Squish: the lock is byte 0 of the data file. The next writer takes the
// base, and then the message chain is the index and the count what the
// files hold.
bool LockSquish(MessageBase& base) { return static_cast<SquishBase&>(base).LockBase(0); }
bool SquishLocked(MessageBase& base) { return static_cast<SquishBase&>(base).Locked(); }
const Status& SquishLockError(MessageBase& base) {
  return static_cast<SquishBase&>(base).LockError();
}
void CheckSquish(MemoryPlatform& disk, int, int live, int) {
  testing::SquishTakenByTheNextWriter(disk, live);
}

// Files: .jhr, .jdx, .jdt.
std::vector<Damage> JamDamages() {
  return {
      {"base header without signature", [](auto& f) { f[0][0] = 'X'; }},
      {"more active messages than records", [](auto& f) { Put32(f[0], 12, 0x7FFFFFFF); }},
      {"index record into the base header", [](auto& f) { Put32(f[1], 20, 100); }},
      {"index record past the headers", [](auto& f) { Put32(f[1], 20, 0x7FFFFFF0); }},
      {"message 2 points at no header",
       [](auto& f) { f[0].replace(Get32(f[1], 12), 6, std::string("XXXX\x07\x00", 6)); }, false},
  };
}

// Files: .sqd, .sqi; `frame(i, n)` is where the index puts message n.
std::vector<Damage> SquishDamages() {
  const auto frame = [](const std::string& sqi, std::size_t n) { return Get32(sqi, (n - 1) * 12); };
  return {
      {"EndFrame beyond the file", [](auto& f) { Put32(f[0], 120, f[0].size() + 100); }},
      {"EndFrame inside the last frame", [](auto& f) { Put32(f[0], 120, f[0].size() - 10); }},
      {"sizes in the header", [](auto& f) { f[0][0] = f[0][130] = '\x20'; }},
      {"NumMsg beyond the index", [](auto& f) { f[1].resize(24); }},
      {"hostile NumMsg", [](auto& f) { Put32(f[0], 4, 0x7FFFFFFF); }},
      {"BeginFrame not the first message", [=](auto& f) { Put32(f[0], 104, frame(f[1], 2)); }},
      {"LastFrame not the last message", [=](auto& f) { Put32(f[0], 108, frame(f[1], 2)); }},
      {"free chain beyond EndFrame",
       [](auto& f) {
         Put32(f[0], 112, f[0].size() + 28);
         Put32(f[0], 116, f[0].size() + 28);
       }},
      {"a record on no frame", [](auto& f) { Put32(f[1], 12, 260); }},
      {"a record on a free frame", [=](auto& f) { f[0][frame(f[1], 2) + 24] = '\x01'; }},
      {"two records on one frame", [=](auto& f) { Put32(f[1], 0, frame(f[1], 2)); }},
      {"a NextFrame the index does not follow",
       [=](auto& f) { Put32(f[0], frame(f[1], 2) + 4, frame(f[1], 1)); }},
      {"a PrevFrame the index does not follow",
       [=](auto& f) { Put32(f[0], frame(f[1], 3) + 8, frame(f[1], 1)); }},
  };
}

// The texts, the headers, the index and the base header: one sync each.
WriterTraits Jam(const char* name, bool mandatory) {
  return {name,      '!',     mandatory, {".jhr", ".jdx", ".jdt"},
          false,     LockJam, JamLocked, JamLockError,
          CheckJam,  4,       true,      true,
          JamDamages};
}

// The frames, the index and the header: one sync each.
WriterTraits Squish(const char* name, bool mandatory) {
  return {name,       '$',          mandatory,       {".sqd", ".sqi"}, true,
          LockSquish, SquishLocked, SquishLockError, CheckSquish,      3,
          false,      false,        SquishDamages};
}

const WriterTraits kFormats[] = {Jam("Jam", false), Jam("JamWindowsLocks", true),
                                 Squish("Squish", false), Squish("SquishWindowsLocks", true)};

INSTANTIATE_TEST_SUITE_P(Formats, WritersLockContractTest, ::testing::ValuesIn(kFormats),
                         [](const auto& named) { return std::string(named.param.name); });

}  // namespace
}  // namespace qlr
