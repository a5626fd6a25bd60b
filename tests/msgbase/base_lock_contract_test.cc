// The writers' lock of the formats that have one (JAM, Squish): byte 0 of
// the format's lock file, held against every other handle from LockBase
// until UnlockBase or the object's end, kept across the Create of an
// erase, and waited for in pauses up to a timeout while another program
// holds it. A format takes part with a few lines of traits.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "contract_formats.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/message_base.h"
#include "msgbase/squish/squish_base.h"
#include "platform/host.h"
#include "testing/forwarding_platform.h"
#include "testing/memory_platform.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using testing::MemoryPlatform;

const std::string& kPath = testing::kContractPath;

struct LockTraits {
  const char* name = nullptr;
  const char* lock_extension = nullptr;  // the file whose byte 0 is the lock
  int pause_ms = 0;                      // the wait between two attempts
  std::unique_ptr<MessageBase> (*make)() = nullptr;
  bool (*lock)(MessageBase& base, int timeout_ms) = nullptr;  // true on failure
  void (*unlock)(MessageBase& base) = nullptr;
  bool (*locked)(MessageBase& base) = nullptr;
  Status (*error)(MessageBase& base) = nullptr;
};

void PrintTo(const LockTraits& f, std::ostream* os) { *os << f.name; }

template <class Base>
LockTraits Traits(const char* name, const char* lock_extension, int pause_ms) {
  LockTraits f;
  f.name = name, f.lock_extension = lock_extension, f.pause_ms = pause_ms;
  f.make = [] { return std::unique_ptr<MessageBase>(new Base); };
  f.lock = [](MessageBase& base, int timeout) {
    return static_cast<Base&>(base).LockBase(timeout);
  };
  f.unlock = [](MessageBase& base) { static_cast<Base&>(base).UnlockBase(); };
  f.locked = [](MessageBase& base) { return static_cast<Base&>(base).Locked(); };
  f.error = [](MessageBase& base) { return static_cast<Base&>(base).LockError(); };
  return f;
}

// The memory disk, with the first `busy_tries` attempts at a lock refused
// as `failure` says (another program holding it), and every pause recorded
// before the disk's clock moves on by it.
class ScriptedLocks final : public testing::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;

  int busy_tries = 0;
  StatusKind failure = StatusKind::kBusy;
  int tries = 0;
  std::vector<int> pauses;
  std::function<void(int pause)> on_pause;

  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
    Result<std::unique_ptr<FileHandle>> file = ForwardingPlatform::OpenFile(path, mode);
    if (!file) return file;
    return std::make_unique<File>(std::move(file), *this);
  }
  void Sleep(int milliseconds) override {
    pauses.push_back(milliseconds);
    ForwardingPlatform::Sleep(milliseconds);
    if (on_pause) on_pause(static_cast<int>(pauses.size()));
  }

 private:
  class File final : public testing::ForwardingFile {
   public:
    File(std::unique_ptr<FileHandle> inner, ScriptedLocks& owner)
        : ForwardingFile(std::move(inner)), owner_(owner) {}
    Status TryLock(std::uint64_t offset, std::uint64_t length) override {
      if (owner_.tries++ < owner_.busy_tries) return Status(owner_.failure, "", "held");
      return ForwardingFile::TryLock(offset, length);
    }

   private:
    ScriptedLocks& owner_;
  };
};

class BaseLockContractTest : public ::testing::TestWithParam<LockTraits> {
 protected:
  BaseLockContractTest() {
    disk_.SetBackslashIsSeparator(kHostIsWindows);
    EXPECT_FALSE(F().make()->Create(kPath));
  }
  const LockTraits& F() const { return GetParam(); }

  std::unique_ptr<MessageBase> Opened() const {
    std::unique_ptr<MessageBase> base = F().make();
    EXPECT_FALSE(base->Open(kPath));
    return base;
  }
  // Another program's handle on the lock file.
  std::unique_ptr<FileHandle> Other() const {
    std::unique_ptr<FileHandle> other =
        Os().OpenFile(kPath + F().lock_extension, OpenMode::kReadWrite);
    EXPECT_NE(other, nullptr);
    return other;
  }
  // True when another handle could take the lock (it lets go at once).
  bool OtherCanLock() const {
    const std::unique_ptr<FileHandle> other = Other();
    if (other == nullptr || !other->TryLock(0, 1)) return false;
    EXPECT_TRUE(other->Unlock(0, 1));
    return true;
  }

  MemoryPlatform disk_;
  ScriptedLocks platform_{disk_};
  ScopedPlatform installed_{platform_};
};

TEST_P(BaseLockContractTest, TheLockShutsOtherHandlesOutUntilReleasedOrTheObjectEnds) {
  const std::unique_ptr<MessageBase> base = Opened();
  ASSERT_FALSE(F().lock(*base, 1000)) << F().error(*base).ToString();
  EXPECT_TRUE(F().locked(*base));
  EXPECT_TRUE(platform_.pauses.empty());
  EXPECT_FALSE(OtherCanLock());
  EXPECT_FALSE(F().lock(*base, 0)) << "already held";
  // Another object of the format is another program: it finds it held.
  const std::unique_ptr<MessageBase> second = Opened();
  EXPECT_TRUE(F().lock(*second, 0));
  EXPECT_EQ(F().error(*second).kind(), StatusKind::kBusy);
  EXPECT_FALSE(F().locked(*second));
  // Emptying the base (the erase after a copy) keeps the lock.
  ASSERT_FALSE(base->Create(kPath));
  EXPECT_TRUE(F().locked(*base));
  EXPECT_FALSE(OtherCanLock());
  F().unlock(*base);
  EXPECT_FALSE(F().locked(*base));
  EXPECT_TRUE(OtherCanLock());
  {
    const std::unique_ptr<MessageBase> ending = Opened();
    ASSERT_FALSE(F().lock(*ending, 0));
    EXPECT_FALSE(OtherCanLock());
  }
  EXPECT_TRUE(OtherCanLock());
  EXPECT_FALSE(F().lock(*second, 0));
}

// Attempts refused while another program holds the lock, the timeout, and
// the pauses made, in halves of the format's pause: the last pause is cut
// to what is left of the timeout.
struct Wait {
  int busy_tries;
  int timeout_halves;
  bool fails;
  std::vector<int> pause_halves;
};
const Wait kWaits[] = {
    {0, 0, false, {}},         {1, 0, true, {}},           // no waiting asked for
    {1, 10, false, {2}},       {3, 10, false, {2, 2, 2}},  // free after the pauses
    {100, 5, true, {2, 2, 1}}, {100, 7, true, {2, 2, 2, 1}},
    {100, 2, true, {2}},
};

TEST_P(BaseLockContractTest, ABusyLockIsRetriedInPausesUpToTheTimeout) {
  for (const Wait& w : kWaits) {
    SCOPED_TRACE(std::to_string(w.busy_tries) + " busy, " + std::to_string(w.timeout_halves));
    const std::unique_ptr<MessageBase> base = Opened();
    platform_.busy_tries = w.busy_tries, platform_.tries = 0, platform_.pauses.clear();
    EXPECT_EQ(F().lock(*base, w.timeout_halves * F().pause_ms / 2), w.fails);
    EXPECT_EQ(F().locked(*base), !w.fails);
    EXPECT_EQ(F().error(*base).kind(), w.fails ? StatusKind::kBusy : StatusKind::kOk);
    std::vector<int> pauses;
    for (const int halves : w.pause_halves) pauses.push_back(halves * F().pause_ms / 2);
    EXPECT_EQ(platform_.pauses, pauses);
  }
}

TEST_P(BaseLockContractTest, TheLockIsTakenWhenTheOtherHolderLetsGo) {
  std::unique_ptr<FileHandle> other = Other();
  ASSERT_TRUE(other->TryLock(0, 1));
  platform_.on_pause = [&](int pause) {
    if (pause == 3) other.reset();
  };
  const std::unique_ptr<MessageBase> base = Opened();
  EXPECT_FALSE(F().lock(*base, 100 * F().pause_ms));
  EXPECT_TRUE(F().locked(*base));
  EXPECT_EQ(platform_.pauses.size(), 3u);
}

TEST_P(BaseLockContractTest, AFailureOtherThanABusyLockIsNotWaitedFor) {
  platform_.busy_tries = 100;
  platform_.failure = StatusKind::kIoError;
  const std::unique_ptr<MessageBase> base = Opened();
  EXPECT_TRUE(F().lock(*base, 1000));
  EXPECT_EQ(F().error(*base).kind(), StatusKind::kIoError);
  EXPECT_TRUE(platform_.pauses.empty());
  EXPECT_EQ(platform_.tries, 1);
}

TEST_P(BaseLockContractTest, ABaseThatIsNotOpenCannotBeLocked) {
  const std::unique_ptr<MessageBase> closed = F().make();
  EXPECT_TRUE(F().lock(*closed, 100));
  disk_.WriteFileBytes(kPath + F().lock_extension, "short");
  const std::unique_ptr<MessageBase> damaged = F().make();
  EXPECT_TRUE(damaged->Open(kPath));
  EXPECT_TRUE(F().lock(*damaged, 100));
  EXPECT_FALSE(F().locked(*damaged));
  EXPECT_TRUE(platform_.pauses.empty());
  EXPECT_TRUE(OtherCanLock());
}

// The host's own locks: two objects conflict, or a host without them says
// so at once.
TEST_P(BaseLockContractTest, OnTheHostTwoObjectsConflictOrLocksAreRefusedAtOnce) {
  testing::ScratchDir dir;
  ScopedPlatform host(HostPlatform());
  const std::unique_ptr<MessageBase> a = F().make();
  const std::unique_ptr<MessageBase> b = F().make();
  ASSERT_FALSE(a->Create(dir.Path("area")));
  ASSERT_FALSE(b->Open(dir.Path("area")));
  if (F().lock(*a, 0)) {
    if (F().error(*a).kind() == StatusKind::kNotSupported) {
      GTEST_SKIP() << "host has no locks: " << F().error(*a).ToString();
    }
    FAIL() << F().error(*a).ToString();
  }
  EXPECT_TRUE(F().lock(*b, 0));
  EXPECT_EQ(F().error(*b).kind(), StatusKind::kBusy);
  F().unlock(*a);
  EXPECT_FALSE(F().lock(*b, 0));
}

const LockTraits kFormats[] = {Traits<JamBase>("Jam", ".jhr", kLockRetryStepMs),
                               Traits<SquishBase>("Squish", ".sqd", kLockRetryStepMs)};

INSTANTIATE_TEST_SUITE_P(Formats, BaseLockContractTest, ::testing::ValuesIn(kFormats),
                         [](const auto& named) { return std::string(named.param.name); });

}  // namespace
}  // namespace qlr
