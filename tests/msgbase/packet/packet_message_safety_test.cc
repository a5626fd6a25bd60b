// The one crash of a packet append whose bytes the contract suites cannot
// name: the sweeps of every operation, of damaged packets, of the erase
// and of a large packet are those of the format contracts.
#include <gtest/gtest.h>

#include <string>

#include "msgbase/message.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_message_support.h"
#include "platform/host.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::FillNetmail;
using testing::MemoryPlatform;
using testing::PlatformOp;
using testing::ReadAllDigests;

// In the host's style, as the packet code splits paths: on Windows it
// finds the directory only after a "\", and "/area" would never be made.
const std::string kPacket = "/area" + std::string(1, PathSeparator()) + "p.pkt";

TEST(PacketMessageSafetyTest, AnAppendCutAfterItsTypeWordReadsAsBefore) {
  MemoryPlatform disk;
  disk.SetBackslashIsSeparator(kHostIsWindows);
  ScopedPlatform installed(disk);
  {
    PacketBase base;
    ASSERT_FALSE(base.Create(kPacket));
    for (int i = 1; i <= 3; ++i) {
      Message m;
      FillNetmail(m, "To", "From", "Subject " + std::to_string(i), "Body\r");
      ASSERT_FALSE(base.WriteMessage(0, m));
    }
  }
  disk.MakeAllDurable();
  const auto before = ReadAllDigests(kPacket);
  // The first sync of an append makes the type word durable; the crash
  // there leaves the packet ending in 00 02 00.
  disk.CrashAfter(PlatformOp::kSync, 1);
  try {
    PacketBase base;
    ASSERT_FALSE(base.Open(kPacket));
    Message m;
    FillNetmail(m, "Newcomer", "Writer", "Fresh", "New text\r");
    (void)base.WriteMessage(0, m);
    base.Discard();
    ADD_FAILURE() << "no crash";
  } catch (const testing::SimulatedCrash&) {
  }
  disk.Crash();
  const std::string bytes = disk.ReadFileBytes(kPacket).value_or("");
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

}  // namespace
}  // namespace qlr
