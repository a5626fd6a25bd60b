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

using testing::MemoryPlatform;
using testing::PlatformOp;

const std::string kPath = "/b" + std::string(1, PathSeparator()) + "area";

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
};

void PrintTo(const WriterTraits& f, std::ostream* os) { *os << f.name; }

std::unique_ptr<Message> Tagged(const std::string& tag) {
  auto m = std::make_unique<Message>();
  m->From = "From " + tag;
  m->To = "All";
  m->Subject = tag;
  m->Area = "ECHO";
  m->OrigZone = 2, m->OrigNet = 5020, m->OrigNode = 1;
  const std::string body = "Body of " + tag + "\r";
  m->Text.Write(body.data(), body.size());
  return m;
}

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
  SquishBase writer;
  ASSERT_FALSE(writer.Open(kPath));
  EXPECT_EQ(writer.Count(), live);
  ASSERT_FALSE(writer.AppendMessage(*Tagged("next")));
  SquishBase base;
  ASSERT_FALSE(base.Open(kPath));
  EXPECT_EQ(base.Count(), writer.Count());
  EXPECT_TRUE(base.Damage().ok());
  std::vector<std::uint32_t> chain;
  ASSERT_FALSE(base.MessageChain(&chain));
  const std::string sqi = disk.ReadFileBytes(kPath + ".sqi").value_or("");
  std::vector<std::uint32_t> index;
  for (std::size_t at = 0; at + 12 <= sqi.size(); at += 12)
    index.push_back(DecodeFixed32(reinterpret_cast<const std::uint8_t*>(sqi.data()) + at));
  EXPECT_EQ(chain, index);
  EXPECT_EQ(index.size(), static_cast<std::size_t>(base.Count()));
}

// The texts, the headers, the index and the base header: one sync each.
WriterTraits Jam(const char* name, bool mandatory) {
  return {name,     '!',     mandatory, {".jhr", ".jdx", ".jdt"},
          false,    LockJam, JamLocked, JamLockError,
          CheckJam, 4,       true,      true};
}

// The frames, the index and the header: one sync each.
WriterTraits Squish(const char* name, bool mandatory) {
  return {name,        '$',        mandatory,    {".sqd", ".sqi"},
          true,        LockSquish, SquishLocked, SquishLockError,
          CheckSquish, 3,          false,        false};
}

const WriterTraits kFormats[] = {Jam("Jam", false), Jam("JamWindowsLocks", true),
                                 Squish("Squish", false), Squish("SquishWindowsLocks", true)};

INSTANTIATE_TEST_SUITE_P(Formats, WritersLockContractTest, ::testing::ValuesIn(kFormats),
                         [](const auto& named) { return std::string(named.param.name); });

}  // namespace
}  // namespace qlr
