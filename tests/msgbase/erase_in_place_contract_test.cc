// The erase of a rotation, the one step that destroys messages, against
// every failing platform call and every crash, for every format. The base
// has been copied and the copy made durable; then EraseBase empties the
// base, as copied or with a message written after the copy. One set of
// rules for all formats:
//   - the copy is never touched: it reads whole after any fault or crash;
//   - what the base still reads is messages of the base, each one whole
//     (or none at all); the message written after the copy stays in it,
//     and a file-set base keeps its files (emptied, never removed);
//   - a reported success is the base the plain erase leaves, and survives
//     a crash; an erase no fault reached does what the plain one does;
//   - after a crash and the next run's recovery, the same holds, and a run
//     the crash did not cut is durable.
// A format takes part with a few lines of traits.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "contract_formats.h"
#include "msgbase/base_files.h"
#include "msgbase/copy_manifest.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"
#include "platform/host.h"
#include "testing/fault_sweep.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::FailMode;
using testing::FaultRun;
using testing::MemoryPlatform;
using testing::PlatformOp;

const std::string kSep(1, PathSeparator());
const std::string& kPath = testing::kContractPath;
const std::string kCopyDirectory = "/old" + kSep + "00000000" + kSep;

struct EraseTraits {
  const char* name = nullptr;
  char type = 0;           // the base type letter of a base line
  bool directory = false;  // the base is a directory of message files
  bool links = false;      // the platform lets the copy link the base's files
  bool mandatory_locks = false;
  // Faults and crashes that reached a call, over every kind of call: far
  // fewer mean the sweeps missed the erase. The erase makes fewer calls on
  // Windows than on POSIX: the floors fit both hosts.
  int min_fired_faults = 0;
  int min_fired_crashes = 0;
};

void PrintTo(const EraseTraits& f, std::ostream* os) { *os << f.name; }

std::string BaseSpec(const EraseTraits& f) { return std::string(1, f.type) + kPath; }

// The copy's files carry the base's names: a directory of message files,
// or the file set under the base's name.
std::string CopySpec(const EraseTraits& f) {
  return std::string(1, f.type) + (f.directory ? kCopyDirectory.substr(0, kCopyDirectory.size() - 1)
                                               : kCopyDirectory + "area");
}

std::string TextOf(Message& m) {
  m.Text.ClearError();
  std::string text(static_cast<std::size_t>(std::max(m.Text.Size(), 0)), '\0');
  m.Text.Seek(0);
  if (!text.empty()) m.Text.Read(text.data(), text.size());
  return text;
}

// What a fresh reader finds: "closed" when the base does not open, else
// each message as sender, subject and text ("-" when it does not read).
std::vector<std::string> Read(const std::string& spec) {
  const std::unique_ptr<MessageBase> base = OpenBase(spec);
  if (base == nullptr) return {"closed"};
  std::vector<std::string> messages;
  for (std::int32_t n = 1; n <= base->Count() && n <= 100; ++n) {
    Message m;
    messages.push_back(
        base->ReadMessage(n, m) ? "-" : m.From.str() + "/" + m.Subject.str() + "/" + TextOf(m));
  }
  return messages;
}

std::string Show(const std::vector<std::string>& messages) {
  std::string out;
  for (const std::string& m : messages) out += "\n  " + m;
  return out;
}

struct Env {
  MemoryPlatform disk;
  CopyManifest manifest;
  bool erased = false;
  MemoryPlatform& platform() { return disk; }
};

// The rotation's erase as it finds the base: as copied, or with a message
// that a program which ignores the writers' lock added after the copy.
// That one is only in the base: the erase must leave it there.
struct Scenario {
  const char* name;
  bool late_message;
};
const Scenario kScenarios[] = {{"as copied", false}, {"written after the copy", true}};
const std::string kLate = "From late/late/Body of late\r";

class EraseInPlaceContractTest : public ::testing::TestWithParam<EraseTraits> {
 protected:
  const EraseTraits& F() const { return GetParam(); }

  // A base of three messages and its copy, both durable.
  std::unique_ptr<Env> MakeEnv(const Scenario& scenario) const {
    auto env = std::make_unique<Env>();
    env->disk.SetBackslashIsSeparator(kHostIsWindows);
    if (!F().links) env->disk.SetLinkRefusal([](std::string_view) { return true; });
    {
      ScopedPlatform installed(env->disk);
      const auto append = [&](const std::string& tag) {
        const std::unique_ptr<MessageBase> base = OpenBase(BaseSpec(F()));
        ASSERT_NE(base, nullptr);
        EXPECT_FALSE(base->AppendMessage(*testing::Tagged(tag)));
      };
      for (int i = 1; i <= 3; ++i) append("m" + std::to_string(i));
      EXPECT_FALSE(CopyBaseFiles(BaseSpec(F()), kCopyDirectory, &env->manifest));
      if (scenario.late_message) append("late");
    }
    env->disk.MakeAllDurable();
    env->disk.SetMandatoryLocks(F().mandatory_locks);
    return env;
  }

  void Erase(Env& env) const { env.erased = EraseBase(BaseSpec(F()), &env.manifest) != nullptr; }

  struct Expected {
    bool late = false;
    std::vector<std::string> copied;  // what the copy must always read
    bool erased = false;              // the erase that no fault reached
    std::vector<std::string> after;   // and the base it leaves
    std::vector<std::string> files;   // of a file set: emptied, never removed
  };

  Expected Expect(const Scenario& scenario) const {
    const std::unique_ptr<Env> env = MakeEnv(scenario);
    ScopedPlatform installed(env->disk);
    Expected e;
    e.late = scenario.late_message;
    e.copied = Read(CopySpec(F()));
    // The disk lists its paths with '/' between names on every host.
    std::string prefix = kPath;
    std::replace(prefix.begin(), prefix.end(), PathSeparator(), '/');
    for (const std::string& path : env->disk.ListTree())
      if (!F().directory && path.starts_with(prefix)) e.files.push_back(path);
    EXPECT_EQ(e.files.empty(), F().directory);
    EXPECT_EQ(e.copied.size(), 3u) << Show(e.copied);
    Erase(*env);
    e.erased = env->erased;
    e.after = Read(BaseSpec(F()));
    if (!e.late) {
      EXPECT_TRUE(e.erased);
      EXPECT_EQ(e.after, std::vector<std::string>{});
    }
    return e;
  }

  // The rules that hold after any fault or any crash and recovery.
  void ExpectNothingLost(const Env& env, const Expected& e) {
    EXPECT_EQ(Read(CopySpec(F())), e.copied) << "the copy changed";
    for (const std::string& path : e.files) EXPECT_TRUE(env.disk.Exists(path)) << path;
    const std::vector<std::string> left = Read(BaseSpec(F()));
    if (left == std::vector<std::string>{"closed"}) {
      EXPECT_FALSE(env.erased) << "reported erased, but the base does not open";
      EXPECT_FALSE(e.late) << "the message written after the copy is lost";
      return;
    }
    // A message that does not read is gone from the base (a gap of a
    // directory, a deleted record): the copy holds it.
    for (const std::string& m : left) {
      if (m == "-") continue;
      EXPECT_TRUE(std::find(e.copied.begin(), e.copied.end(), m) != e.copied.end() ||
                  (e.late && m == kLate))
          << "not a whole message of the base: " << m << Show(left);
    }
    if (e.late) {
      EXPECT_NE(std::find(left.begin(), left.end(), kLate), left.end())
          << "the message written after the copy is lost" << Show(left);
    }
    if (env.erased) {
      EXPECT_EQ(left, e.after) << "reported erased, but the base holds" << Show(left);
    }
  }
};

TEST_P(EraseInPlaceContractTest, AFailedCallLosesNoMessageAndIsReported) {
  int fired = 0;
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    const Expected e = Expect(scenario);
    for (const PlatformOp call : testing::AllPlatformOps()) {
      for (const FailMode mode : {FailMode::kOnce, FailMode::kFromThenOn}) {
        const testing::SweepReport report = testing::SweepFaults<Env>(
            call, mode, [&] { return MakeEnv(scenario); }, [&](Env& env) { Erase(env); },
            [&](Env& env, const FaultRun& run) {
              fired += run.fired ? 1 : 0;
              ExpectNothingLost(env, e);
              if (!run.fired) {
                EXPECT_EQ(env.erased, e.erased);
                EXPECT_EQ(Read(BaseSpec(F())), e.after);
              }
              // A fault the erase did not depend on may pass; one it did
              // must be reported: a reported erase survives a crash.
              if (env.erased) {
                env.disk.Crash();
                EXPECT_EQ(Read(BaseSpec(F())), e.after)
                    << "a fault that undid the erase was not reported";
              }
            });
        EXPECT_TRUE(report.completed) << testing::OpName(call);
      }
    }
  }
  EXPECT_GE(fired, F().min_fired_faults);
}

TEST_P(EraseInPlaceContractTest, ACrashAtAnyCallLeavesEachMessageInTheBaseOrTheCopy) {
  int fired = 0;
  for (const Scenario& scenario : kScenarios) {
    SCOPED_TRACE(scenario.name);
    const Expected e = Expect(scenario);
    for (const PlatformOp call : testing::AllPlatformOps()) {
      // The simulated crash is an exception: it must not be thrown by the
      // close or unlock of a destructor.
      if (testing::IsShortVariant(call) || call == PlatformOp::kClose ||
          call == PlatformOp::kUnlock) {
        continue;
      }
      for (const auto keeps :
           {MemoryPlatform::CrashKeeps::kNothing, MemoryPlatform::CrashKeeps::kDeletions}) {
        const testing::SweepReport report = testing::SweepCrashes<Env>(
            call, [&] { return MakeEnv(scenario); }, [&](Env& env) { Erase(env); },
            [&](Env& env, const FaultRun& run) {
              fired += run.fired ? 1 : 0;
              // The next run puts back what the killed one left aside.
              const bool aside = !RecoverInterruptedErase(BaseSpec(F())).ok();
              ExpectNothingLost(env, e);
              if (!run.fired) {
                EXPECT_FALSE(aside);
                EXPECT_EQ(env.erased, e.erased);
                EXPECT_EQ(Read(BaseSpec(F())), e.after)
                    << "an erase that ran to its end is durable";
              }
            },
            keeps);
        EXPECT_TRUE(report.completed) << testing::OpName(call);
      }
    }
  }
  EXPECT_GE(fired, F().min_fired_crashes);
}

EraseTraits Format(const char* name, char type, bool mandatory, int faults, int crashes) {
  EraseTraits f;
  f.name = name, f.type = type, f.mandatory_locks = mandatory;
  f.min_fired_faults = faults, f.min_fired_crashes = crashes;
  return f;
}

// JAM and Squish are emptied in place under the writers' lock; a packet is
// replaced by an empty one; a directory's message files are moved aside
// and deleted, or given up to the copy that links them.
EraseTraits MsgDir(const char* name, bool links, int faults, int crashes) {
  EraseTraits f = Format(name, '#', false, faults, crashes);
  f.directory = true, f.links = links;
  return f;
}

const EraseTraits kFormats[] = {
    Format("Jam", '!', false, 50, 45),
    Format("JamWindowsLocks", '!', true, 50, 45),
    Format("Squish", '$', false, 30, 26),
    Format("SquishWindowsLocks", '$', true, 30, 26),
    Format("Packet", 'P', false, 40, 34),
    // Copied, a file per message is read and compared; linked, it is given
    // up to the copy.
    MsgDir("MsgDirCopied", false, 200, 150),
    MsgDir("MsgDirLinked", true, 60, 60),
};

INSTANTIATE_TEST_SUITE_P(Formats, EraseInPlaceContractTest, ::testing::ValuesIn(kFormats),
                         [](const auto& named) { return std::string(named.param.name); });

}  // namespace
}  // namespace qlr
