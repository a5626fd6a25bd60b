#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_test_support.h"
#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"
#include "util/files.h"

namespace qlr {
namespace {

using testing::FaultInjectingPlatform;
using testing::PackedMessage;
using testing::PacketBytes;
using testing::PacketHeaderBytes;
using testing::PlatformOp;
using testing::SameBytes;
using testing::ScratchDir;

// Four messages of different sizes; the second is larger than the copy
// piece and the scan chunk, so the purge copies it in several pieces.
std::vector<std::string> FourMessages() {
  return {PackedMessage("first"), PackedMessage(std::string(70000, '2')),
          PackedMessage("third message"), PackedMessage("4")};
}

// What is left of the four after deleting messages 1 and 3.
std::string WithoutFirstAndThird() {
  const auto m = FourMessages();
  return PacketHeaderBytes() + m[1] + m[3] + testing::kTerminator;
}

// Records the ranges of messages 1 and 3 the way a deletion does: from the
// byte after the previous boundary through the message's closing NUL.
void DeleteFirstAndThird(PacketBase& base) {
  const auto& b = base.Boundaries();
  ASSERT_EQ(b.size(), 5u);
  base.AddPendingDelete(b[2] + 1, b[3] + 1);
  base.AddPendingDelete(b[0] + 1, b[1] + 1);
}

class PacketPurgeTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_.WriteFile("p.pkt", PacketBytes(FourMessages())); }

  std::string PacketPath() const { return dir_.Path("p.pkt"); }
  std::string TempPath() const { return PacketPath() + ".qlr-tmp"; }
  std::string Content() const { return dir_.ReadFile("p.pkt"); }

  ScratchDir dir_;
  FaultInjectingPlatform faulty_;
  testing::PacketTestPlatform platform_{faulty_};
  ScopedPlatform installed_ = platform_.Install();
};

TEST_F(PacketPurgeTest, RemovesTheRangesAndRescans) {
  PacketBase base;
  ASSERT_FALSE(base.Open(PacketPath()));
  DeleteFirstAndThird(base);
  EXPECT_EQ(base.PendingDeleteCount(), 2);
  base.Purge();
  EXPECT_TRUE(SameBytes(Content(), WithoutFirstAndThird()));
  EXPECT_EQ(base.State(), BaseState::kOpened);
  EXPECT_EQ(base.Count(), 2);
  EXPECT_EQ(base.PendingDeleteCount(), 0);
  const auto m = FourMessages();
  EXPECT_EQ(base.Boundaries(), testing::ExpectedBoundaries({m[1], m[3]}));
  EXPECT_FALSE(std::filesystem::exists(TempPath()));
#ifdef _WIN32
  // The first is refused while the lock's handle holds the packet open.
  EXPECT_EQ(platform_.renames, 2);
#else
  EXPECT_EQ(platform_.renames, 1);
#endif
}

TEST_F(PacketPurgeTest, DestructionPurges) {
  {
    PacketBase base;
    ASSERT_FALSE(base.Open(PacketPath()));
    DeleteFirstAndThird(base);
  }
  EXPECT_TRUE(SameBytes(Content(), WithoutFirstAndThird()));
}

TEST_F(PacketPurgeTest, DiscardLeavesTheFileAlone) {
  const std::string before = Content();
  {
    PacketBase base;
    ASSERT_FALSE(base.Open(PacketPath()));
    DeleteFirstAndThird(base);
    base.Discard();
    EXPECT_EQ(base.State(), BaseState::kClosed);
    EXPECT_EQ(base.PacketStream(), nullptr);
  }
  EXPECT_TRUE(SameBytes(Content(), before));
  EXPECT_EQ(platform_.renames, 0);
}

TEST_F(PacketPurgeTest, NothingPendingTouchesNothing) {
  const std::string before = Content();
  PacketBase base;
  ASSERT_FALSE(base.Open(PacketPath()));
  base.Purge();
  EXPECT_TRUE(SameBytes(Content(), before));
  EXPECT_EQ(platform_.renames, 0);
  EXPECT_EQ(base.Count(), 4);
}

TEST_F(PacketPurgeTest, PendingRangesAreKeptOncePerStart) {
  PacketBase base;
  ASSERT_FALSE(base.Open(PacketPath()));
  base.AddPendingDelete(100, 200);
  base.AddPendingDelete(100, 300);
  base.AddPendingDelete(50, 60);
  EXPECT_EQ(base.PendingDeleteCount(), 2);
  // Open and Create forget what was not purged.
  ASSERT_FALSE(base.Open(PacketPath()));
  EXPECT_EQ(base.PendingDeleteCount(), 0);
}

TEST_F(PacketPurgeTest, OddRanges) {
  const std::string before = Content();
  const auto size = static_cast<std::int32_t>(before.size());
  struct Case {
    const char* name;
    std::vector<PacketBase::RangeItem> ranges;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // A reversed range is ignored; the others still apply.
      {"reversed", {{70, 60}, {100, 110}}, before.substr(0, 100) + before.substr(110)},
      // A range beyond the end stops the ranges after it.
      {"beyond_end",
       {{10, 20}, {30, size + 1}, {40, 50}},
       before.substr(0, 10) + before.substr(20)},
      // Overlapping ranges remove their union, and nothing comes back.
      {"overlap", {{10, 50}, {20, 30}}, before.substr(0, 10) + before.substr(50)},
      {"up_to_the_end", {{size - 2, size}}, before.substr(0, before.size() - 2)},
  };
  for (const Case& c : cases) {
    dir_.WriteFile("p.pkt", before);
    PacketBase base;
    ASSERT_FALSE(base.Open(PacketPath()));
    for (const auto& r : c.ranges) base.AddPendingDelete(r.start, r.end);
    base.Purge();
    EXPECT_TRUE(SameBytes(Content(), c.expected)) << c.name;
  }
}

#ifndef _WIN32
TEST_F(PacketPurgeTest, KeepsThePacketsPermissions) {
  namespace fs = std::filesystem;
  fs::permissions(PacketPath(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  PacketBase base;
  ASSERT_FALSE(base.Open(PacketPath()));
  DeleteFirstAndThird(base);
  base.Purge();
  EXPECT_TRUE(SameBytes(Content(), WithoutFirstAndThird()));
  EXPECT_EQ(fs::status(PacketPath()).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}
#endif

TEST_F(PacketPurgeTest, FailedRenameLeavesThePacket) {
  const std::string before = Content();
  platform_.fail_rename = true;
  PacketBase base;
  ASSERT_FALSE(base.Open(PacketPath()));
  DeleteFirstAndThird(base);
  // The caller learns that the deletions were not made, and why.
  const Status why = base.Purge();
  EXPECT_EQ(why.kind(), StatusKind::kIoError) << why.ToString();
  EXPECT_TRUE(SameBytes(Content(), before));
  EXPECT_FALSE(std::filesystem::exists(TempPath()));
  EXPECT_EQ(base.PendingDeleteCount(), 0);  // dropped, not retried
  EXPECT_EQ(base.Count(), 4);
}

// Every open, read, write, sync and close that the purge makes before its rename
// is failed in turn; each time the packet must stay byte for byte as it
// was and no temporary file may be left.
TEST_F(PacketPurgeTest, AnyFailureBeforeTheRenameLeavesThePacket) {
  const std::string before = Content();
  for (const PlatformOp op : {PlatformOp::kOpenFile, PlatformOp::kReadAt, PlatformOp::kWrite,
                              PlatformOp::kShortWrite, PlatformOp::kSync, PlatformOp::kClose}) {
    // A clean run tells how many such calls come before the rename.
    int calls_before_rename = -1;
    {
      dir_.WriteFile("p.pkt", before);
      PacketBase base;
      ASSERT_FALSE(base.Open(PacketPath()));
      DeleteFirstAndThird(base);
      const int at_start = faulty_.Calls(op);
      platform_.on_rename = [&] { calls_before_rename = faulty_.Calls(op) - at_start; };
      EXPECT_TRUE(base.Purge().ok());
      platform_.on_rename = nullptr;
      ASSERT_TRUE(SameBytes(Content(), WithoutFirstAndThird()));
    }
    ASSERT_GT(calls_before_rename, 0) << static_cast<int>(op);
    // The first close is the copy's. Where an open file cannot be replaced
    // (Windows), the packet's read handles are closed after it, before the
    // rename; a failing close of a file only read from loses nothing, so
    // the purge goes on.
    const int last = op == PlatformOp::kClose ? 1 : calls_before_rename;
    for (int nth = 1; nth <= last; ++nth) {
      dir_.WriteFile("p.pkt", before);
      const int renames = platform_.renames;
      {
        PacketBase base;
        ASSERT_FALSE(base.Open(PacketPath()));
        DeleteFirstAndThird(base);
        faulty_.FailCall(op, nth, testing::FailMode::kOnce);
        EXPECT_FALSE(base.Purge().ok()) << static_cast<int>(op) << " call " << nth;
        faulty_.Reset();
        EXPECT_EQ(base.PendingDeleteCount(), 0);
      }
      EXPECT_EQ(platform_.renames, renames) << static_cast<int>(op) << " call " << nth;
      EXPECT_TRUE(SameBytes(Content(), before)) << static_cast<int>(op) << " call " << nth;
      EXPECT_FALSE(std::filesystem::exists(TempPath())) << static_cast<int>(op) << " " << nth;
    }
  }
}

TEST_F(PacketPurgeTest, FailedReopenAfterTheRenameKeepsThePurgedFile) {
  PacketBase base;
  ASSERT_FALSE(base.Open(PacketPath()));
  DeleteFirstAndThird(base);
  // The opens of the lock and of the temporary file succeed, the reopen of
  // the packet not.
  faulty_.FailCall(PlatformOp::kOpenFile, 3, testing::FailMode::kOnce);
  base.Purge();
  EXPECT_TRUE(SameBytes(Content(), WithoutFirstAndThird()));
  EXPECT_EQ(base.State(), BaseState::kOpenError);
  EXPECT_EQ(base.Count(), 0);
}

// The same purge with the host's own rename. It needs a platform that
// implements Rename; where it does not, the purge must leave the packet
// unchanged instead (checked by FailedRenameLeavesThePacket).
TEST(PacketPurgeHostTest, PurgesARealFile) {
  ScratchDir dir;
  dir.WriteFile("p.pkt", PacketBytes(FourMessages()));
  {
    PacketBase base;
    ASSERT_FALSE(base.Open(dir.Path("p.pkt")));
    DeleteFirstAndThird(base);
  }
  EXPECT_TRUE(SameBytes(dir.ReadFile("p.pkt"), WithoutFirstAndThird()));
  EXPECT_FALSE(FileExists(dir.Path("p.pkt.qlr-tmp")));
}

}  // namespace
}  // namespace qlr
