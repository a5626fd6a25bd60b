// Two library objects on one base, as a tosser and this library are on a
// live node: the first object runs a write, append, replace or delete and
// is stopped after each of its platform calls in turn, the second one runs
// a whole operation there, then the first goes on. Whatever either object
// reported as done must be in the base afterwards exactly once, nothing
// else may have changed, and the base must reopen and read whole. An
// operation refused because the other object held the base's lock was
// reported as failed and lost nothing; it is tried once more after the
// first object is done, as its caller would.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "contract_formats.h"
#include "message_contract.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"
#include "platform/host.h"
#include "testing/interleaving_platform.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::InterleavingPlatform;
using testing::MemoryPlatform;
using testing::Tagged;

struct FormatCase {
  const char* name;
  char type;
  // Count is the number of live messages (not the highest number or slot).
  bool count_is_live;
  bool mandatory_locks;
  testing::HeaderCheck check_header;  // null: nothing beyond what a reader sees
  // An object opened before another one rewrote the base under a new file
  // refuses to write through the old one: its caller opens the base anew.
  bool reopens_after_refusal = false;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

const FormatCase kFormats[] = {
    {"Jam", '!', false, false, testing::CheckJamHeader},
    {"Squish", '$', true, false, testing::CheckSquishHeader},
    {"MsgDir", '#', false, false, nullptr},
    {"Packet", 'P', true, false, nullptr, true},
    {"JamWindowsLocks", '!', false, true, testing::CheckJamHeader},
    {"SquishWindowsLocks", '$', true, true, testing::CheckSquishHeader},
    {"PacketWindowsLocks", 'P', true, true, nullptr, true},
};

enum class Op { kAppend, kWrite, kReplace, kDelete };

// What each object does. The originals are o1, o2, o3 (numbers 1 to 3).
// The first object replaces number 3 and deletes number 2; the second
// replaces or deletes number 1, which neither of the first object's
// operations renumbers, and is paired with a delete only where the first
// object addresses no number. A write names a number past every message,
// which appends.
struct Turns {
  Op first;
  Op second;
};

const Turns kTurns[] = {
    {Op::kAppend, Op::kAppend},   {Op::kWrite, Op::kAppend},   {Op::kReplace, Op::kAppend},
    {Op::kDelete, Op::kAppend},   {Op::kAppend, Op::kReplace}, {Op::kWrite, Op::kReplace},
    {Op::kReplace, Op::kReplace}, {Op::kDelete, Op::kReplace}, {Op::kAppend, Op::kDelete},
    {Op::kWrite, Op::kDelete},
};

const char* OpName(Op op) {
  switch (op) {
    case Op::kAppend:
      return "Append";
    case Op::kWrite:
      return "Write";
    case Op::kReplace:
      return "Replace";
    case Op::kDelete:
      return "Delete";
  }
  return "?";
}

constexpr int kOriginals = 3;
constexpr std::int32_t kPastTheEnd = 100;

// Runs `op` on `base` (number: its target); true on failure. On success
// `expected` (the subjects the base must hold) is brought up to date.
bool Apply(MessageBase& base, Op op, std::int32_t number, const std::string& tag,
           std::vector<std::string>* expected) {
  const auto drop = [&] {
    const auto it = std::find(expected->begin(), expected->end(), "o" + std::to_string(number));
    if (it != expected->end()) expected->erase(it);
  };
  auto m = Tagged(tag);
  switch (op) {
    case Op::kAppend:
      if (base.AppendMessage(*m)) return true;
      break;
    case Op::kWrite:
      if (base.WriteMessage(kPastTheEnd, *m)) return true;
      break;
    case Op::kReplace:
      if (base.WriteMessage(number, *m)) return true;
      drop();
      break;
    case Op::kDelete:
      if (base.DeleteMessage(number)) return true;
      drop();
      return false;
  }
  expected->push_back(tag);
  return false;
}

class InterleavingContractTest : public ::testing::TestWithParam<std::tuple<FormatCase, Turns>> {
 protected:
  const FormatCase& Format() const { return std::get<0>(GetParam()); }
  const Turns& Ops() const { return std::get<1>(GetParam()); }
  std::string Spec() const {
    return std::string(1, Format().type) + "/b" + std::string(1, PathSeparator()) + "area";
  }

  std::unique_ptr<MemoryPlatform> FreshDisk() const {
    auto disk = std::make_unique<MemoryPlatform>();
    disk->SetBackslashIsSeparator(kHostIsWindows);
    disk->SetMandatoryLocks(Format().mandatory_locks);
    ScopedPlatform installed(*disk);
    auto base = OpenBase(Spec());
    EXPECT_NE(base, nullptr);
    for (int i = 1; base != nullptr && i <= kOriginals; ++i) {
      EXPECT_FALSE(base->WriteMessage(i, *Tagged("o" + std::to_string(i))));
    }
    base.reset();
    disk->MakeAllDurable();
    return disk;
  }

  // The subjects of every live message, sorted, or lines naming what could
  // not be opened or read; then the count check of formats whose Count is
  // the number of live messages.
  std::vector<std::string> Contents(const MemoryPlatform& disk) const {
    auto base = OpenBase(Spec());
    if (base == nullptr) return {"base does not open"};
    std::vector<std::string> subjects;
    for (std::int32_t i = 1; i <= base->Count(); ++i) {
      if (!base->IsValidMsg(i)) continue;
      Message m;
      subjects.push_back(base->ReadMessage(i, m) ? "unreadable " + std::to_string(i)
                                                 : std::string(m.Subject.view()));
    }
    const std::size_t live = subjects.size();
    if (Format().count_is_live && base->Count() != static_cast<std::int32_t>(subjects.size())) {
      subjects.push_back("Count " + std::to_string(base->Count()));
    }
    if (Format().check_header != nullptr) {
      const std::string path = Spec().substr(1);
      for (std::string& line : Format().check_header(disk, path, live)) {
        subjects.push_back(std::move(line));
      }
    }
    std::sort(subjects.begin(), subjects.end());
    return subjects;
  }

  // One run: the second object acts after call `nth` of the first one's
  // operation. False when the operation made fewer calls.
  bool RunOnce(int nth) {
    SCOPED_TRACE("second object after call " + std::to_string(nth));
    const auto disk = FreshDisk();
    std::vector<std::string> expected;
    for (int i = 1; i <= kOriginals; ++i) expected.push_back("o" + std::to_string(i));

    InterleavingPlatform turns(*disk);
    std::unique_ptr<MessageBase> first;
    std::unique_ptr<MessageBase> second;
    {
      ScopedPlatform direct(*disk);
      second = OpenBase(Spec());
    }
    ScopedPlatform installed(turns);
    first = OpenBase(Spec());
    if (first == nullptr || second == nullptr) {
      ADD_FAILURE() << "the base does not open twice";
      return false;
    }
    const Op op1 = Ops().first;
    const std::int32_t number1 = op1 == Op::kReplace ? 3 : 2;
    const auto run_second = [&] { return Apply(*second, Ops().second, 1, "second", &expected); };
    bool second_failed = true;
    turns.Pause(nth, [&] { second_failed = run_second(); });
    bool first_failed = Apply(*first, op1, number1, "first", &expected);
    const bool fired = turns.Fired();
    if (nth == 1 && !fired) ADD_FAILURE() << "the operation made no platform call";
    turns.Pause(0, nullptr);
    const auto retry = [&](std::unique_ptr<MessageBase>& base, const std::function<bool()>& op) {
      if (!op()) return false;
      if (!Format().reopens_after_refusal) return true;
      base = OpenBase(Spec());
      return base == nullptr || op();
    };
    if (first_failed) {
      first_failed = retry(first, [&] { return Apply(*first, op1, number1, "first", &expected); });
    }
    if (second_failed) second_failed = retry(second, run_second);
    EXPECT_FALSE(first_failed) << "the first object's operation failed again alone";
    EXPECT_FALSE(second_failed) << "the second object's operation failed again alone";
    first.reset();
    second.reset();

    ScopedPlatform direct(*disk);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Contents(*disk), expected);
    return fired;
  }
};

TEST_P(InterleavingContractTest, EveryDoneOperationIsInTheBaseExactlyOnce) {
  constexpr int kMostCalls = 3000;
  int nth = 1;
  while (RunOnce(nth) && !HasFailure() && nth < kMostCalls) ++nth;
  EXPECT_LT(nth, kMostCalls) << "the operation never ended its calls";
  RecordProperty("interleavings", nth);
}

INSTANTIATE_TEST_SUITE_P(Formats, InterleavingContractTest,
                         ::testing::Combine(::testing::ValuesIn(kFormats),
                                            ::testing::ValuesIn(kTurns)),
                         [](const ::testing::TestParamInfo<std::tuple<FormatCase, Turns>>& named) {
                           const Turns& pair = std::get<1>(named.param);
                           return std::string(std::get<0>(named.param).name) + "_" +
                                  OpName(pair.first) + "_" + OpName(pair.second);
                         });

}  // namespace
}  // namespace qlr
