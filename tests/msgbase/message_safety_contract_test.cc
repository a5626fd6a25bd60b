// Every message operation of every format against failing platform calls
// and crashes, and a large base written and read back. One set of rules
// for all formats:
//   - after a failed call the base reads as before or as after the
//     operation, and a reported success is the whole operation;
//   - an operation that no fault reached succeeds;
//   - after a crash at any call the base reads as before or as after, and
//     a run the crash did not cut made all of it durable;
//   - nothing is left beside the base but the format's temporary files.
// A format takes part with a few lines of traits.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "contract_formats.h"
#include "message_contract.h"
#include "msgbase/ftn_date.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/message.h"
#include "msgbase/message_attributes.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "msgbase/open_base.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/squish/squish_base.h"
#include "platform/host.h"
#include "testing/corruption.h"
#include "testing/fault_sweep.h"
#include "testing/forwarding_platform.h"
#include "testing/memory_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::AddLine;
using testing::Describe;
using testing::FailMode;
using testing::FaultRun;
using testing::MemoryPlatform;
using testing::PlatformOp;
using testing::TextOf;

const std::string& kPath = testing::kContractPath;

// The base as a fresh reader finds it (Os() the disk that holds it).
struct View {
  bool opens = false;
  std::int32_t count = 0;
  std::vector<std::string> messages;  // "-": does not read
  std::vector<std::string> files;     // path and bytes, where they are the view

  friend bool operator==(const View&, const View&) = default;
};

std::string ToString(const View& view) {
  std::string out = view.opens ? "opens, count " + std::to_string(view.count) : "does not open";
  for (const std::string& m : view.messages) out += "\n  " + m;
  for (const std::string& f : view.files) out += "\n  file " + f;
  return out;
}

// A call that operations must reach at least `runs` times in a sweep:
// every operation, every writing one ("writes") or the one named.
struct Reach {
  PlatformOp op;
  int runs;
  const char* operation = nullptr;
};

struct FormatTraits {
  const char* name = nullptr;
  char type = 0;  // the base type letter of a base line
  bool mandatory_locks = false;
  // A new object of the format and the path its Open takes.
  std::unique_ptr<MessageBase> (*make)() = nullptr;
  std::string open_path = kPath;
  // Takes the format's writers' lock on an open object and leaves it
  // ready for writes, as a rotation's writer does; null: no such step.
  bool (*lock)(MessageBase& base) = nullptr;
  // The bytes of every file are what a reader sees (no header field that
  // an interrupted write may leave behind).
  bool files_are_the_view = false;
  // A file whose name ends so is the format's temporary, no message.
  const char* temp_suffix = nullptr;
  // Every call a write makes is one it depends on: a fault on any of them
  // is reported.
  bool every_fault_reported = false;
  // An object whose write failed still counts what it counted before.
  bool failed_write_keeps_count = false;
  // A batch of appends is one group commit (else each append is its own).
  bool group_commit = true;
  // A deletion reported done survives a crash.
  bool deletions_durable = true;
  // The deferred work of an operation, done explicitly after it (a
  // simulated crash must not unwind through a destructor that does it),
  // and the release without it, after that work or in its place when the
  // crash came first; null: none. `finish` is true when that work failed.
  bool (*finish)(MessageBase& base) = nullptr;
  void (*abandon)(MessageBase& base) = nullptr;
  // WriteMessage with a number that names no message appends (else it is
  // refused, as a number below 1 is).
  bool writes_append_at_free_numbers = false;
  int large_count = 0;  // 0: kManyMessages
  // The file (of the base path and this extension) an operation writes in
  // place: it stays the same file, never replaced by another.
  const char* kept_in_place = nullptr;
  // What the next writer must find after a crash, beyond what it reads.
  void (*after_crash)(MemoryPlatform& disk) = nullptr;
  // A directory that cannot be made leaves the object closed, which the
  // caller tells from a base by its state, not by a failure.
  bool unmade_directory_closes = false;
  // Open refuses a base with a file beyond 2 GiB, which no 32-bit offset
  // of its records reaches.
  bool large_files_refused = true;
  // A message cut short is refused or read with its whole header.
  bool cut_keeps_headers = true;
  // A cut that loses bytes of a message is found by the check: the base
  // records the length of what it holds.
  bool cuts_show = true;
  // The files of a base of three messages (the base path and these
  // suffixes), cut at every length and flipped at every byte from
  // `flip_from` (the part of the file a reader interprets) to `flip_to`
  // (0: its end); and what the view of the damaged base must show.
  std::vector<std::string> files;
  std::vector<std::uint64_t> flip_from, flip_to;
  void (*check_cut)(std::size_t file, std::uint64_t length, const View& seen,
                    const View& whole) = nullptr;
  void (*check_flip)(std::size_t file, std::uint64_t at, const View& seen,
                     const View& whole) = nullptr;
  std::vector<Reach> fault_reach;
  std::vector<Reach> crash_reach;
  // What the format keeps about a large base beyond its messages.
  void (*check_large)(MessageBase& base, int messages) = nullptr;
  // Faults that reached a call, over every operation and call: far fewer
  // mean the sweep missed most of the work.
  int min_fired_faults = 0;
};

void PrintTo(const FormatTraits& f, std::ostream* os) { *os << f.name; }

std::string Spec(const FormatTraits& f) { return std::string(1, f.type) + kPath; }

// A netmail with kludges, tear and origin lines, attributes and a routing
// line, so that a fault can hit every part of a stored message.
void FillMessage(Message& m, const std::string& tag) {
  m.Clear();
  m.From = "From " + tag;
  m.To = "Bob";
  m.Subject = "Subject " + tag;
  m.Date = "05 Mar 21  10:20:30";
  m.DateWritten = PackDateTime(DateTime{2021, 3, 5, 10, 20, 30});
  m.OrigZone = 2, m.OrigNet = 5020, m.OrigNode = 1, m.OrigPoint = 7;
  m.DestZone = 2, m.DestNet = 5020, m.DestNode = 2, m.DestPoint = 3;
  m.MsgId = "2:5020/1.7 " + tag;
  m.ReplyId = "2:5020/9 00000001";
  m.Pid = "QLR";
  m.TearLine = "qlr";
  m.Origin = "Node ";
  m.AttrFlags[0] = true;  // Pvt
  m.AttrFlags[4] = true;  // Att
  m.ExtFlags[kExtZoneGate] = true;
  // The second message is an echomail: an area line and no netmail kludges.
  if (tag == "m2") m.Area = "TEST";
  AddLine(m.Kludges, "\001", "CHRS: IBMPC 2");
  AddLine(m.TrailLines, "\001Via ", "2:5020/1 @20210305.102030");
  const std::string body = "Body of " + tag + "\rsecond line\r";
  m.Text.Write(body.data(), body.size());
}

bool IsTemporary(const FormatTraits& f, const std::string& path) {
  return f.temp_suffix != nullptr && path.ends_with(f.temp_suffix);
}

View ViewOf(const FormatTraits& f, const MemoryPlatform& disk, std::int32_t most = 1000) {
  View view;
  if (f.files_are_the_view) {
    for (const std::string& path : disk.ListTree()) {
      if (!IsTemporary(f, path) && !path.ends_with('/'))
        view.files.push_back(path + ":" + disk.ReadFileBytes(path).value_or("?"));
    }
  }
  const std::unique_ptr<MessageBase> base = OpenBase(Spec(f));
  if (base == nullptr) return view;
  view.opens = true;
  view.count = base->Count();
  for (std::int32_t n = 1; n <= view.count && n <= most; ++n) {
    Message m;
    view.messages.push_back(base->ReadMessage(n, m) ? "-" : Describe(m));
  }
  return view;
}

struct Operation {
  const char* name;
  bool writes;  // false: it only deletes
  // Runs on an open object; true on failure. False in `applies` when the
  // format has no such operation.
  std::function<bool(MessageBase&, const FormatTraits&)> run;
  bool (*applies)(const FormatTraits&) = nullptr;
};

bool Put(MessageBase& base, std::int32_t number, const std::string& tag) {
  Message m;
  FillMessage(m, tag);
  return number == 0 ? base.AppendMessage(m) : base.WriteMessage(number, m);
}

// The group commit of three appends: before the batch, or with all three.
bool AppendBatch(MessageBase& base) {
  if (base.BeginBatch()) return true;
  const bool failed = Put(base, 0, "b1") || Put(base, 0, "b2") || Put(base, 0, "b3");
  return base.EndBatch() || failed;
}

const Operation kOperations[] = {
    {"write past the end", true,
     [](MessageBase& base, const FormatTraits&) { return Put(base, 4, "new"); }},
    {"append", true, [](MessageBase& base, const FormatTraits&) { return Put(base, 0, "new"); }},
    {"replace", true, [](MessageBase& base, const FormatTraits&) { return Put(base, 2, "new"); }},
    {"replace the first", true,
     [](MessageBase& base, const FormatTraits&) { return Put(base, 1, "new"); }},
    {"replace the last", true,
     [](MessageBase& base, const FormatTraits&) { return Put(base, 3, "new"); }},
    {"delete", false, [](MessageBase& base, const FormatTraits&) { return base.DeleteMessage(2); }},
    {"delete the first", false,
     [](MessageBase& base, const FormatTraits&) { return base.DeleteMessage(1); }},
    {"delete the last", false,
     [](MessageBase& base, const FormatTraits&) { return base.DeleteMessage(3); }},
    {"write under the base's lock", true,
     [](MessageBase& base, const FormatTraits& f) { return f.lock(base) || Put(base, 2, "new"); },
     [](const FormatTraits& f) { return f.lock != nullptr; }},
    {"batch of appends", true,
     [](MessageBase& base, const FormatTraits&) { return AppendBatch(base); },
     [](const FormatTraits& f) { return f.group_commit; }},
};

struct Env {
  MemoryPlatform disk;
  bool opened = false;
  bool failed = true;
  std::int32_t count_at_open = -1;
  std::int32_t count_after = -1;  // the object's own Count after the operation
  MemoryPlatform& platform() { return disk; }
};

class MessageSafetyContractTest : public ::testing::TestWithParam<FormatTraits> {
 protected:
  const FormatTraits& F() const { return GetParam(); }

  // A base of three messages, durable, on a fresh disk.
  std::unique_ptr<Env> MakeEnv() const {
    auto env = std::make_unique<Env>();
    env->disk.SetBackslashIsSeparator(kHostIsWindows);
    {
      ScopedPlatform installed(env->disk);
      const std::unique_ptr<MessageBase> base = OpenBase(Spec(F()));
      EXPECT_NE(base, nullptr);
      for (int i = 1; base != nullptr && i <= 3; ++i)
        EXPECT_FALSE(Put(*base, i, "m" + std::to_string(i)));
    }
    env->disk.MakeAllDurable();
    env->disk.SetMandatoryLocks(F().mandatory_locks);
    return env;
  }

  void Run(Env& env, const Operation& op) const {
    std::unique_ptr<MessageBase> base = F().make();
    env.opened = !base->Open(F().open_path);
    if (!env.opened) return;
    env.count_at_open = base->Count();
    const std::string kept = kPath + (F().kept_in_place ? F().kept_in_place : "");
    const auto file_before = env.disk.Stat(kept);
    try {
      env.failed = op.run(*base, F());
      env.count_after = base->Count();
      if (F().finish != nullptr && F().finish(*base)) env.failed = true;
    } catch (const testing::SimulatedCrash&) {
      if (F().abandon != nullptr) F().abandon(*base);
      throw;
    }
    if (F().abandon != nullptr) F().abandon(*base);
    if (F().kept_in_place != nullptr && file_before) {
      EXPECT_EQ(std::optional<FileStatus>(env.disk.Stat(kept)).value_or(FileStatus{}).file_index,
                file_before->file_index);
    }
  }

  struct Expected {
    View before, after;
    std::int32_t count_after = -1;
    std::set<std::string> files;  // every file before or after
  };

  Expected Expect(const Operation& op) const {
    const std::unique_ptr<Env> env = MakeEnv();
    ScopedPlatform installed(env->disk);
    Expected e;
    e.before = ViewOf(F(), env->disk);
    for (const std::string& path : env->disk.ListTree()) e.files.insert(path);
    Run(*env, op);
    EXPECT_FALSE(env->failed);
    e.after = ViewOf(F(), env->disk);
    e.count_after = env->count_after;
    for (const std::string& path : env->disk.ListTree()) e.files.insert(path);
    EXPECT_NE(e.before, e.after);
    return e;
  }

  void ExpectBeforeOrAfter(const Expected& e, const Env& env) const {
    const View view = ViewOf(F(), env.disk);
    EXPECT_TRUE(view == e.before || view == e.after) << ToString(view);
    for (const std::string& path : env.disk.ListTree()) {
      EXPECT_TRUE(e.files.count(path) != 0 || IsTemporary(F(), path)) << "left behind: " << path;
    }
  }

  static std::vector<const Operation*> OperationsOf(const FormatTraits& f) {
    std::vector<const Operation*> ops;
    for (const Operation& op : kOperations)
      if (op.applies == nullptr || op.applies(f)) ops.push_back(&op);
    return ops;
  }

  static void ExpectReached(const std::vector<Reach>& reach, const Operation& op, PlatformOp call,
                            int fired) {
    for (const Reach& r : reach) {
      const bool applies =
          r.operation == nullptr ||
          (std::string_view(r.operation) == "writes" ? op.writes
                                                     : std::string_view(r.operation) == op.name);
      if (r.op == call && applies) {
        EXPECT_GE(fired, r.runs) << testing::OpName(call);
      }
    }
  }
};

TEST_P(MessageSafetyContractTest, AFailedCallLeavesTheBaseAsBeforeOrReportedAsAfter) {
  int all_fired = 0;
  for (const Operation* op : OperationsOf(F())) {
    SCOPED_TRACE(op->name);
    const Expected e = Expect(*op);
    for (const PlatformOp call : testing::AllPlatformOps()) {
      for (const FailMode mode : {FailMode::kOnce, FailMode::kFromThenOn}) {
        int fired = 0;
        const testing::SweepReport report = testing::SweepFaults<Env>(
            call, mode, [&] { return MakeEnv(); }, [&](Env& env) { Run(env, *op); },
            [&](Env& env, const FaultRun& run) {
              fired += run.fired ? 1 : 0;
              ExpectBeforeOrAfter(e, env);
              const View view = ViewOf(F(), env.disk);
              // A failure is never reported as success, and no fault no
              // failure.
              if (!env.failed) {
                EXPECT_EQ(view, e.after) << ToString(view);
                EXPECT_EQ(env.count_after, e.count_after);
              } else if (env.opened && F().failed_write_keeps_count) {
                EXPECT_EQ(env.count_after, env.count_at_open) << "a failed write must not count";
              }
              if (!run.fired) {
                EXPECT_FALSE(env.failed);
              }
              // A failing Stat is a missing file, which may be no failure.
              if (run.fired && F().every_fault_reported && call != PlatformOp::kStat) {
                EXPECT_TRUE(env.failed);
              }
            });
        EXPECT_TRUE(report.completed);
        if (mode == FailMode::kOnce) ExpectReached(F().fault_reach, *op, call, fired);
        all_fired += fired;
      }
    }
  }
  EXPECT_GE(all_fired, F().min_fired_faults);
}

TEST_P(MessageSafetyContractTest, ACrashAtAnyCallLeavesTheBaseAsBeforeOrAsAfter) {
  for (const Operation* op : OperationsOf(F())) {
    SCOPED_TRACE(op->name);
    const Expected e = Expect(*op);
    for (const PlatformOp call : testing::AllPlatformOps()) {
      // The simulated crash is an exception: it must not be thrown by the
      // close or unlock of a destructor.
      if (testing::IsShortVariant(call) || call == PlatformOp::kClose ||
          call == PlatformOp::kUnlock) {
        continue;
      }
      for (const auto keeps :
           {MemoryPlatform::CrashKeeps::kNothing, MemoryPlatform::CrashKeeps::kDeletions}) {
        int crashed = 0;
        const testing::SweepReport report = testing::SweepCrashes<Env>(
            call, [&] { return MakeEnv(); }, [&](Env& env) { Run(env, *op); },
            [&](Env& env, const FaultRun& run) {
              crashed += run.fired ? 1 : 0;
              ExpectBeforeOrAfter(e, env);
              // Done without a crash, everything it wrote is on disk.
              if (!run.fired) {
                EXPECT_FALSE(env.failed);
                if (op->writes || F().deletions_durable) {
                  EXPECT_EQ(ViewOf(F(), env.disk), e.after);
                }
              }
              // Last: it writes.
              if (F().after_crash != nullptr) F().after_crash(env.disk);
            },
            keeps);
        EXPECT_TRUE(report.completed);
        ExpectReached(F().crash_reach, *op, call, crashed);
      }
    }
  }
}

// Every cut of every file of a base and every flipped byte: a fresh
// reader opens the base or refuses it, a message it reads is one of the
// base's (by its sender), and reads, writes and deletions on the damaged
// base end without harm (the sanitizer build checks the memory).
TEST_P(MessageSafetyContractTest, EveryCutAndFlippedByteIsReadWithoutHarm) {
  if (F().files.empty() || F().mandatory_locks) GTEST_SKIP() << "the same files as another case";
  const std::unique_ptr<Env> env = MakeEnv();
  MemoryPlatform& disk = env->disk;
  ScopedPlatform installed(disk);
  const View whole = ViewOf(F(), disk);
  std::vector<std::pair<std::string, std::string>> original;
  for (const std::string& path : disk.ListTree())
    if (!path.ends_with('/')) original.emplace_back(path, *disk.ReadFileBytes(path));
  const auto restore = [&] {
    for (const std::string& path : disk.ListTree())
      if (!path.ends_with('/')) (void)disk.DeleteFile(path);
    for (const auto& [path, bytes] : original) disk.WriteFileBytes(path, bytes);
  };
  // No silent damage: a damaged base that checks sound opens, counts as
  // the whole one and reads every message, and a cut one reads as whole.
  // A flip may change what a message says: one inside a name or a text
  // is another valid message, which these formats (no checksums) cannot
  // tell from the one written.
  const BaseReference spec = ParseBaseReference(Spec(F()));
  const auto exercise = [&](const View& seen, bool cut) {
    if (spec.format->check(spec.location).sound()) {
      EXPECT_TRUE(seen.opens && seen.count == whole.count &&
                  std::count(seen.messages.begin(), seen.messages.end(), "-") == 0)
          << ToString(seen);
      EXPECT_TRUE(!cut || !F().cuts_show || seen.messages == whole.messages) << ToString(seen);
    }
    for (std::size_t n = 0;
         cut && F().cut_keeps_headers && n < seen.messages.size() && n < whole.messages.size();
         ++n) {
      const std::string& m = seen.messages[n];
      const std::string sender = whole.messages[n].substr(0, whole.messages[n].find('/') + 1);
      EXPECT_TRUE(m == "-" || m.starts_with(sender) ||
                  std::find(whole.messages.begin(), whole.messages.end(), m) !=
                      whole.messages.end())
          << m;
    }
    {
      // Gone before the restore: a format may finish its work when closed.
      const std::unique_ptr<MessageBase> base = F().make();
      if (!base->Open(F().open_path)) {
        static_cast<void>(Put(*base, 2, "x"));
        static_cast<void>(base->DeleteMessage(1));
        static_cast<void>(Put(*base, base->Count() + 1, "y"));
      }
    }
    static_cast<void>(ViewOf(F(), disk, 8));
    restore();
  };
  for (std::size_t i = 0; i < F().files.size(); ++i) {
    const std::string path = kPath + F().files[i];
    SCOPED_TRACE(path);
    ASSERT_TRUE(testing::ForEachTruncation(
        path,
        [&](std::uint64_t length) {
          SCOPED_TRACE("cut to " + std::to_string(length));
          const View seen = ViewOf(F(), disk, 8);
          if (F().check_cut != nullptr) F().check_cut(i, length, seen, whole);
          exercise(seen, true);
        },
        disk));
    const std::uint64_t size = disk.ReadFileBytes(path)->size();
    const std::uint64_t to = F().flip_to.empty() || F().flip_to[i] == 0 ? size : F().flip_to[i];
    for (std::uint64_t at = F().flip_from.empty() ? 0 : F().flip_from[i]; at < to; ++at) {
      for (const std::uint8_t mask : {std::uint8_t{0xFF}, std::uint8_t{0x80}}) {
        SCOPED_TRACE("byte " + std::to_string(at) + " flipped by " + std::to_string(mask));
        ASSERT_TRUE(testing::FlipByte(path, at, mask, disk));
        const View seen = ViewOf(F(), disk, 8);
        if (F().check_flip != nullptr) F().check_flip(i, at, seen, whole);
        exercise(seen, false);
      }
    }
  }
}

// Create on a fresh disk against every failing call: a failure leaves an
// object that is not usable (no count, no message, no lock), a success a
// base that a fresh object opens empty (an empty packet opens, in a state
// of its own), and a Create no fault reached
// succeeds.
TEST_P(MessageSafetyContractTest, ACreateThatFailsIsReportedAndACreatedBaseOpensEmpty) {
  struct Fresh {
    MemoryPlatform disk;
    bool failed = true;
    BaseState state = BaseState::kClosed;
    std::int32_t count = -1;
    bool reads = false, locks = false;
    MemoryPlatform& platform() { return disk; }
  };
  int fired = 0;
  for (const PlatformOp call : testing::AllPlatformOps()) {
    for (const FailMode mode : {FailMode::kOnce, FailMode::kFromThenOn}) {
      const testing::SweepReport report = testing::SweepFaults<Fresh>(
          call, mode,
          [] {
            auto fresh = std::make_unique<Fresh>();
            fresh->disk.SetBackslashIsSeparator(kHostIsWindows);
            return fresh;
          },
          [&](Fresh& fresh) {
            const std::unique_ptr<MessageBase> base = F().make();
            fresh.failed = base->Create(F().open_path);
            fresh.state = base->State();
            fresh.count = base->Count();
            Message m;
            fresh.reads = !base->ReadMessage(1, m);
            if (fresh.failed && F().lock != nullptr) fresh.locks = !F().lock(*base);
          },
          [&](Fresh& fresh, const FaultRun& run) {
            fired += run.fired ? 1 : 0;
            EXPECT_EQ(fresh.count, 0);
            EXPECT_FALSE(fresh.reads);
            if (!run.fired) {
              EXPECT_FALSE(fresh.failed);
            }
            if (fresh.failed) {
              EXPECT_NE(fresh.state, BaseState::kCreated);
              EXPECT_NE(fresh.state, BaseState::kOpened);
              EXPECT_FALSE(fresh.locks) << "a base that failed to be made was locked";
              return;
            }
            if (F().unmade_directory_closes && fresh.state == BaseState::kClosed) return;
            EXPECT_EQ(fresh.state, BaseState::kCreated);
            const std::unique_ptr<MessageBase> base = F().make();
            ASSERT_FALSE(base->Open(F().open_path));
            EXPECT_EQ(base->Count(), 0);
          });
      EXPECT_TRUE(report.completed) << testing::OpName(call);
    }
  }
  // Every format's Create makes a dozen calls or more.
  EXPECT_GE(fired, 12);
}

TEST_P(MessageSafetyContractTest, AnObjectNotOpenAndNumbersOutsideTheBaseAreRefused) {
  const std::unique_ptr<Env> env = MakeEnv();
  ScopedPlatform installed(env->disk);
  const View before = ViewOf(F(), env->disk);
  Message m;
  m.From = "untouched";
  const std::unique_ptr<MessageBase> closed = F().make();
  EXPECT_TRUE(closed->WriteMessage(1, m));
  EXPECT_TRUE(closed->ReadMessage(1, m));
  EXPECT_TRUE(closed->DeleteMessage(1));
  const std::unique_ptr<MessageBase> base = F().make();
  ASSERT_FALSE(base->Open(F().open_path));
  for (const std::int32_t number : {-3, 0}) {
    EXPECT_TRUE(F().writes_append_at_free_numbers || base->WriteMessage(number, m)) << number;
    EXPECT_TRUE(base->DeleteMessage(number)) << number;
  }
  for (const std::int32_t number : {-1, 0, 4, 5}) {
    EXPECT_TRUE(base->ReadMessage(number, m)) << number;
    EXPECT_EQ(m.From, "untouched");
  }
  EXPECT_TRUE(base->DeleteMessage(4));
  EXPECT_EQ(base->Count(), 3);
  EXPECT_EQ(ViewOf(F(), env->disk), before);
  // Nor is a number of a base created empty.
  MemoryPlatform fresh;
  fresh.SetBackslashIsSeparator(kHostIsWindows);
  ScopedPlatform on_fresh(fresh);
  const std::unique_ptr<MessageBase> empty = F().make();
  ASSERT_FALSE(empty->Create(F().open_path));
  EXPECT_TRUE(empty->ReadMessage(1, m));
  EXPECT_TRUE(empty->DeleteMessage(1));
  EXPECT_TRUE(F().writes_append_at_free_numbers || empty->WriteMessage(0, m));
  EXPECT_EQ(m.From, "untouched");
}

// A file of the set one past the last position a record can name (sparse
// where the host allows): Open refuses the base rather than read offsets
// it cannot hold.
TEST_P(MessageSafetyContractTest, AFileBeyondTwoGiBIsRefused) {
  if (F().mandatory_locks) GTEST_SKIP() << "the same files as another case";
  if (!F().large_files_refused) GTEST_SKIP() << "no offsets to outgrow";
  const std::string suffix = F().open_path.substr(kPath.size());
  for (const std::string& extension : F().files) {
    SCOPED_TRACE(extension);
    testing::ScratchDir dir;
    ScopedPlatform host(HostPlatform());
    const std::string path = dir.Path("area");
    {
      const std::unique_ptr<MessageBase> base = F().make();
      ASSERT_FALSE(base->Create(path + suffix));
      ASSERT_FALSE(Put(*base, 1, "m1"));
    }
    std::error_code ec;
    std::filesystem::resize_file(path + extension, std::uintmax_t{1} << 31, ec);
    if (ec) GTEST_SKIP() << "cannot make a large sparse file here: " << ec.message();
    const std::unique_ptr<MessageBase> base = F().make();
    EXPECT_TRUE(base->Open(path + suffix));
    EXPECT_EQ(base->State(), BaseState::kOpenError);
    EXPECT_EQ(base->Count(), 0);
  }
}

// The durability of the disk is not what the large base measures: a sync
// would copy the whole memory file every time.
class SyncFreeFile final : public testing::ForwardingFile {
 public:
  using ForwardingFile::ForwardingFile;
  Status Sync() override { return Status::Ok(); }
};

class SyncFreePlatform final : public testing::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
    auto file = ForwardingPlatform::OpenFile(path, mode);
    if (!file) return file;
    return std::make_unique<SyncFreeFile>(std::move(file));
  }
};

#if defined(__SANITIZE_ADDRESS__)
constexpr int kManyMessages = 2000;
#else
constexpr int kManyMessages = 10000;
#endif

TEST_P(MessageSafetyContractTest, ALargeBaseIsWrittenAndReadBack) {
  if (F().mandatory_locks) GTEST_SKIP() << "the locks do not change a single writer's base";
  const int many = F().large_count != 0 ? F().large_count : kManyMessages;
  MemoryPlatform disk;
  disk.SetBackslashIsSeparator(kHostIsWindows);
  SyncFreePlatform platform(disk);
  ScopedPlatform installed(platform);
  {
    const std::unique_ptr<MessageBase> base = OpenBase(Spec(F()));
    ASSERT_NE(base, nullptr);
    if (F().lock != nullptr) {
      ASSERT_FALSE(F().lock(*base));
    }
    for (int i = 1; i <= many; ++i) {
      Message m;
      m.From = "From m" + std::to_string(i);
      m.Subject = "Message " + std::to_string(i);
      const std::string text = "Text " + std::to_string(i) + "\r";
      m.Text.Write(text.data(), text.size());
      ASSERT_FALSE(base->WriteMessage(i, m)) << i;
    }
  }
  const std::unique_ptr<MessageBase> base = OpenBase(Spec(F()));
  ASSERT_NE(base, nullptr);
  ASSERT_EQ(base->Count(), many);
  for (int i = 1; i <= many; ++i) {
    Message m;
    ASSERT_FALSE(base->ReadMessage(i, m)) << i;
    ASSERT_EQ(m.From, "From m" + std::to_string(i));
    ASSERT_EQ(m.Subject, "Message " + std::to_string(i));
    ASSERT_EQ(TextOf(m), "Text " + std::to_string(i) + "\r");
  }
  if (F().check_large != nullptr) F().check_large(*base, many);
}

bool LockJam(MessageBase& base) {
  // Reopened under its own lock, as a rotation's writer does.
  auto& jam = static_cast<JamBase&>(base);
  return jam.LockBase(0) || jam.Open(kPath);
}

bool LockSquish(MessageBase& base) { return static_cast<SquishBase&>(base).LockBase(0); }

void CheckLargeJam(MessageBase& base, int messages) {
  const JamBaseHeader& header = static_cast<JamBase&>(base).BaseHeader();
  EXPECT_EQ(header.ActiveMsgs, static_cast<std::uint32_t>(messages));
  EXPECT_EQ(header.ModCounter, static_cast<std::uint32_t>(messages + 1));
}

void CheckLargeSquish(MessageBase& base, int messages) {
  std::vector<std::uint32_t> chain;
  ASSERT_FALSE(static_cast<SquishBase&>(base).MessageChain(&chain));
  EXPECT_EQ(chain.size(), static_cast<std::size_t>(messages));
}

template <class Base>
FormatTraits Format(const char* name, char type, bool mandatory) {
  FormatTraits f;
  f.name = name, f.type = type, f.mandatory_locks = mandatory;
  f.make = [] { return std::unique_ptr<MessageBase>(new Base); };
  return f;
}

// JAM: every operation syncs and writes, through Write and WriteAt.
FormatTraits Jam(const char* name, bool mandatory) {
  FormatTraits f = Format<JamBase>(name, '!', mandatory);
  f.lock = LockJam;
  f.crash_reach = {{PlatformOp::kSync, 1}, {PlatformOp::kWrite, 1}, {PlatformOp::kWriteAt, 1}};
  // The base header is not interpreted by the reader; the messages are.
  f.files = {".jhr", ".jdt", ".jdx"};
  f.cut_keeps_headers = false;  // a header cut short reads with empty fields
  f.flip_from = {1024, 0, 0};
  f.check_cut = [](std::size_t file, std::uint64_t length, const View& seen, const View&) {
    if (file == 0) {
      EXPECT_EQ(seen.opens, length >= 1024);
    } else if (file == 2) {
      EXPECT_EQ(seen.count, static_cast<std::int32_t>(length / 8));
    }
  };
  if (!mandatory) f.check_large = CheckLargeJam;
  return f;
}

// Squish syncs the data and the index of every operation.
FormatTraits Squish(const char* name, bool mandatory) {
  FormatTraits f = Format<SquishBase>(name, '$', mandatory);
  f.lock = LockSquish;
  f.fault_reach = f.crash_reach = {{PlatformOp::kSync, 2}};
  f.min_fired_faults = 150;
  f.kept_in_place = ".sqi";
  // The base header, the first frame's headers, and the whole index.
  f.files = {".sqd", ".sqi"};
  f.flip_to = {256 + 28 + 238, 0};
  f.check_cut = [](std::size_t file, std::uint64_t length, const View& seen, const View&) {
    // The count is what the cut index can still hold.
    if (file == 0 && length < 256) {
      EXPECT_FALSE(seen.opens);
    } else {
      EXPECT_EQ(seen.count,
                static_cast<std::int32_t>(std::min<std::uint64_t>(3, file == 1 ? length / 12 : 3)));
    }
  };
  // A damaged first frame does not touch the other messages.
  f.check_flip = [](std::size_t file, std::uint64_t at, const View& seen, const View& whole) {
    if (file != 0 || at < 256) return;
    ASSERT_EQ(seen.messages.size(), 3u);
    EXPECT_EQ(seen.messages[1], whole.messages[1]);
    EXPECT_EQ(seen.messages[2], whole.messages[2]);
  };
  f.after_crash = [](MemoryPlatform& disk) { testing::SquishTakenByTheNextWriter(disk); };
  if (!mandatory) f.check_large = CheckLargeSquish;
  return f;
}

// Where the messages of the packet of three end: entry i is the NUL that
// ends message i (entry 0 the header's last byte).
const std::vector<std::int32_t>& PacketEnds() {
  static const std::vector<std::int32_t> ends = [] {
    MemoryPlatform disk;
    disk.SetBackslashIsSeparator(kHostIsWindows);
    ScopedPlatform installed(disk);
    PacketBase base;
    EXPECT_FALSE(base.Create(kPath + ".pkt"));
    for (int i = 1; i <= 3; ++i) EXPECT_FALSE(Put(base, i, "m" + std::to_string(i)));
    return base.Boundaries();
  }();
  return ends;
}

// The messages whose seam (closing NUL and the next type word) ends before
// `intact_before` read as written.
void ExpectPacketIntactBefore(std::int64_t intact_before, const View& seen, const View& whole) {
  for (std::size_t n = 1; n < 3; ++n) {
    if (PacketEnds()[n] + 3 > intact_before) break;
    ASSERT_GE(seen.messages.size(), n) << ToString(seen);
    EXPECT_EQ(seen.messages[n - 1], whole.messages[n - 1]);
  }
}

// A packet writes a message over its terminator in two durable steps;
// replacements and deletions rewrite it aside and rename it into place.
FormatTraits Packet(const char* name, bool mandatory) {
  FormatTraits f = Format<PacketBase>(name, 'P', mandatory);
  f.open_path = kPath + ".pkt";
  f.temp_suffix = PacketBase::kPurgeTempSuffix.data();
  f.finish = [](MessageBase& base) { return !static_cast<PacketBase&>(base).Purge().ok(); };
  f.abandon = [](MessageBase& base) { static_cast<PacketBase&>(base).Discard(); };
  f.writes_append_at_free_numbers = true;
  f.crash_reach = {{PlatformOp::kSync, 1}};
  // What a crash left after the last message (a type word, a message cut
  // short) the next writer takes for the terminator it stands for; its
  // scan then agrees with a fresh one.
  f.after_crash = [](MemoryPlatform&) {
    PacketBase writer;
    ASSERT_FALSE(writer.Open(kPath + ".pkt"));
    const std::int32_t count = writer.Count();
    Message m;
    m.From = "next";
    ASSERT_FALSE(writer.AppendMessage(m));
    EXPECT_EQ(writer.Count(), count + 1);
    PacketBase fresh;
    ASSERT_FALSE(fresh.Open(kPath + ".pkt"));
    EXPECT_EQ(fresh.Boundaries(), writer.Boundaries());
    fresh.Discard(), writer.Discard();
  };
  f.files = {".pkt"};
  // The packet header holds nothing a message needs, but its version.
  f.check_cut = [](std::size_t, std::uint64_t length, const View& seen, const View& whole) {
    ExpectPacketIntactBefore(static_cast<std::int64_t>(length), seen, whole);
  };
  f.check_flip = [](std::size_t, std::uint64_t at, const View& seen, const View& whole) {
    if (at == 18 || at == 19) {
      EXPECT_FALSE(seen.opens);
    } else if (at < 58) {
      EXPECT_EQ(seen, whole);
    } else {
      ExpectPacketIntactBefore(static_cast<std::int64_t>(at) - 1, seen, whole);
    }
  };
  return f;
}

// A message is one file, written aside and renamed into place.
FormatTraits MsgDir() {
  FormatTraits f = Format<MsgDirBase>("MsgDir", '#', false);
  f.open_path = kPath + PathSeparator() + "*.msg";
  f.files_are_the_view = f.every_fault_reported = f.failed_write_keeps_count = true;
  f.unmade_directory_closes = true;
  f.large_files_refused = false;  // a message file has no offsets
  f.temp_suffix = kNewMsgFileSuffix.data();
  f.group_commit = false;
  // A message file cut inside its text is a shorter message: nothing
  // records its length.
  f.cuts_show = false;
  for (const char* name : {"1.msg", "2.msg", "3.msg"})
    f.files.push_back(PathSeparator() + std::string(name));
  f.large_count = 1000;  // a file per message: the directory scan is the cost
  f.fault_reach = {{PlatformOp::kOpenFile, 1, "writes"},      {PlatformOp::kWrite, 1, "writes"},
                   {PlatformOp::kSync, 1, "writes"},          {PlatformOp::kClose, 1, "writes"},
                   {PlatformOp::kSyncDirectory, 1, "writes"}, {PlatformOp::kRename, 1, "replace"},
                   {PlatformOp::kDeleteFile, 1, "delete"}};
  return f;
}

const FormatTraits kFormats[] = {Jam("Jam", false),
                                 Jam("JamWindowsLocks", true),
                                 Squish("Squish", false),
                                 Squish("SquishWindowsLocks", true),
                                 Packet("Packet", false),
                                 Packet("PacketWindowsLocks", true),
                                 MsgDir()};

INSTANTIATE_TEST_SUITE_P(Formats, MessageSafetyContractTest, ::testing::ValuesIn(kFormats),
                         [](const auto& named) { return std::string(named.param.name); });

}  // namespace
}  // namespace qlr
