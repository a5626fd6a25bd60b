#include "msgbase/packet/packet_base.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "msgbase/packet/packet_test_support.h"
#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using testing::ExpectedBoundaries;
using testing::PackedMessage;
using testing::PacketBytes;
using testing::PacketHeaderBytes;
using testing::ScratchDir;
using testing::U16;

// The header date of the test platform's clock: 2024-02-29 23:58:07, with
// the month counted from 0.
std::string FixedDateBytes() { return U16(2024) + U16(1) + U16(29) + U16(23) + U16(58) + U16(7); }

class PacketCreateTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
  testing::PacketTestPlatform platform_{HostPlatform()};
  ScopedPlatform installed_ = platform_.Install();
};

TEST_F(PacketCreateTest, NewPacketGoldenBytes) {
  const std::string path = dir_.Path("new.pkt");
  {
    PacketBase base;
    EXPECT_FALSE(base.Create(path));
    EXPECT_EQ(base.State(), BaseState::kCreated);
    EXPECT_EQ(base.Count(), 0);
    EXPECT_EQ(base.Boundaries(), std::vector<std::int32_t>{57});
    EXPECT_EQ(base.Path(), path);
  }
  std::string expected(60, '\0');
  expected.replace(4, 12, FixedDateBytes());
  expected.replace(18, 2, U16(2));
  EXPECT_EQ(dir_.ReadFile("new.pkt"), expected);
}

TEST_F(PacketCreateTest, HeaderSettersReachTheFileAtCreate) {
  const std::string path = dir_.Path("set.pkt");
  {
    PacketBase base;
    base.SetOrigAddress("2:123/45.7");
    base.SetDestAddress("1:5020/9");
    base.SetPassword("secret");
    EXPECT_FALSE(base.Create(path));
  }
  std::string expected(60, '\0');
  expected.replace(0, 2, U16(45));  // orig node
  expected.replace(2, 2, U16(9));   // dest node
  expected.replace(4, 12, FixedDateBytes());
  expected.replace(18, 2, U16(2));
  expected.replace(20, 2, U16(123));   // orig net
  expected.replace(22, 2, U16(5020));  // dest net
  expected.replace(26, 7, std::string("secret") + '\0');
  expected.replace(34, 2, U16(2));  // orig zone, first copy
  expected.replace(36, 2, U16(1));  // dest zone, first copy
  expected.replace(46, 2, U16(2));
  expected.replace(48, 2, U16(1));
  expected.replace(50, 2, U16(7));  // orig point
  EXPECT_EQ(dir_.ReadFile("set.pkt"), expected);

  PacketBase reread;
  EXPECT_FALSE(reread.Open(path));
  EXPECT_EQ(reread.State(), BaseState::kOpenError);  // exactly 60 bytes: empty
  ShortString text;
  reread.GetOrigAddress(text);
  EXPECT_EQ(text, "2:123/45.7");
  reread.GetDestAddress(text);
  EXPECT_EQ(text, "1:5020/9");
  reread.GetPassword(text);
  EXPECT_EQ(text, "secret");
}

TEST_F(PacketCreateTest, CreateOverAPacketKeepsItsMessages) {
  const std::vector<std::string> messages = {PackedMessage("one"), PackedMessage("two"),
                                             PackedMessage("three")};
  const std::string old = PacketBytes(messages);
  dir_.WriteFile("old.pkt", old);
  PacketBase base;
  EXPECT_FALSE(base.Create(dir_.Path("old.pkt")));
  EXPECT_EQ(base.State(), BaseState::kCreated);
  EXPECT_EQ(base.Count(), 3);
  EXPECT_EQ(base.Boundaries(), ExpectedBoundaries(messages));
  const std::string now = dir_.ReadFile("old.pkt");
  ASSERT_EQ(now.size(), old.size());
  // The date is new, the header fields that Create does not own are
  // zero (never read by this object), the messages are untouched.
  EXPECT_EQ(now.substr(4, 12), FixedDateBytes());
  EXPECT_EQ(now.substr(54, 4), std::string(4, '\0'));
  EXPECT_EQ(now.substr(58), old.substr(58));
}

TEST_F(PacketCreateTest, CreateAfterOpenKeepsTheFieldsItRead) {
  dir_.WriteFile("p.pkt", PacketBytes({PackedMessage("x")}));
  PacketBase base;
  EXPECT_FALSE(base.Open(dir_.Path("p.pkt")));
  EXPECT_FALSE(base.Create(dir_.Path("p.pkt")));
  EXPECT_EQ(dir_.ReadFile("p.pkt").substr(54, 4), "HDR!");
  EXPECT_EQ(base.Count(), 1);
}

TEST_F(PacketCreateTest, CreateOfAShortFileMakesAnEmptyPacket) {
  dir_.WriteFile("short.pkt", std::string(40, 'z'));
  PacketBase base;
  EXPECT_FALSE(base.Create(dir_.Path("short.pkt")));
  EXPECT_EQ(base.Count(), 0);
  const std::string bytes = dir_.ReadFile("short.pkt");
  ASSERT_EQ(bytes.size(), 60u);
  EXPECT_EQ(bytes.substr(58), testing::kTerminator);
}

TEST_F(PacketCreateTest, CreateThatCannotMakeTheFileFails) {
  // The directory exists, but the name is taken by a directory.
  std::filesystem::create_directories(dir_.Path("taken.pkt"));
  PacketBase base;
  EXPECT_TRUE(base.Create(dir_.Path("taken.pkt")));
  EXPECT_NE(base.State(), BaseState::kCreated);
  EXPECT_EQ(base.Count(), 0);
  EXPECT_EQ(base.PacketStream(), nullptr);
}

// ---- Open ----

struct BoundaryCase {
  const char* name;
  std::vector<std::string> messages;
};

class PacketBoundaryTest : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(PacketBoundaryTest, FindsEveryMessageEnd) {
  const auto& messages = GetParam().messages;
  ScratchDir dir;
  dir.WriteFile("p.pkt", PacketBytes(messages));
  PacketBase base;
  EXPECT_FALSE(base.Open(dir.Path("p.pkt")));
  EXPECT_EQ(base.State(), BaseState::kOpened);
  EXPECT_EQ(base.Boundaries(), ExpectedBoundaries(messages));
  EXPECT_EQ(base.Count(), static_cast<std::int32_t>(messages.size()));
}

// A fixed part holding the seam bytes 00 02 00 where no text is: the scan
// must skip it (addresses such as node 512 look like this).
std::string SeamInFixedPart(std::string_view text) {
  std::string m = PackedMessage(text);
  const std::string seam("\0\x02\0", 3);
  m.replace(2, 3, seam);
  m.replace(20, 3, seam);
  m.replace(31, 3, seam);
  return m;
}

INSTANTIATE_TEST_SUITE_P(
    Packets, PacketBoundaryTest,
    ::testing::Values(
        BoundaryCase{"three_messages",
                     {PackedMessage("first"), PackedMessage("second text"), PackedMessage("3")}},
        BoundaryCase{"empty_texts", {PackedMessage(""), PackedMessage(""), PackedMessage("")}},
        BoundaryCase{"seam_in_fixed_parts",
                     {SeamInFixedPart("a"), SeamInFixedPart("b"), SeamInFixedPart("c")}},
        BoundaryCase{"text_with_two_byte_not_after_nul",
                     {PackedMessage("x\x02\x02y"), PackedMessage("z")}},
        // The scan looks for the byte 02 first: a text made of it, and
        // one that puts it right after the NUL of a name (00 02 but no
        // 00 after), are candidates that must all be turned down.
        BoundaryCase{"text_of_two_bytes",
                     {PackedMessage(std::string(5000, '\x02')), PackedMessage("\x02z")}},
        BoundaryCase{"two_byte_after_a_name_nul",
                     {PackedMessage("\x02x"), PackedMessage("\x02\x02"), PackedMessage("y")}}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(PacketScanTest, TailWithoutTerminatorEndsAtItsClosingNul) {
  ScratchDir dir;
  const std::string bytes = PacketHeaderBytes() + PackedMessage("one") + PackedMessage("two");
  dir.WriteFile("p.pkt", bytes);
  PacketBase base;
  EXPECT_FALSE(base.Open(dir.Path("p.pkt")));
  ASSERT_EQ(base.Count(), 2);
  EXPECT_EQ(base.Boundaries().back(), static_cast<std::int32_t>(bytes.size()) - 1);
}

TEST(PacketScanTest, FileEndingInASeamCountsItsLastMessageOnce) {
  ScratchDir dir;
  // The last message's NUL and a type word, and nothing after it.
  const std::string bytes = PacketHeaderBytes() + PackedMessage("one") + U16(2);
  dir.WriteFile("p.pkt", bytes);
  PacketBase base;
  EXPECT_FALSE(base.Open(dir.Path("p.pkt")));
  EXPECT_EQ(base.Boundaries(),
            (std::vector<std::int32_t>{57, static_cast<std::int32_t>(bytes.size()) - 3}));
}

// The scan reads 32768-byte chunks from offset 92 on. One long message
// puts its closing NUL at every offset around a chunk edge, so the seam
// 00 02 00 lies wholly before, across (both ways) and wholly after it,
// and the skip over the next fixed part crosses it too.
TEST(PacketScanTest, SeamsAroundChunkEdges) {
  ScratchDir dir;
  const std::int32_t text_start = 92 + 13;  // after the three names
  for (const std::int32_t edge : {92 + 32768, 92 + 2 * 32768}) {
    for (std::int32_t nul_at = edge - 40; nul_at <= edge + 40; ++nul_at) {
      const std::vector<std::string> messages = {
          PackedMessage(std::string(static_cast<std::size_t>(nul_at - text_start), 't')),
          PackedMessage("b"), PackedMessage("c")};
      ASSERT_EQ(ExpectedBoundaries(messages)[1], nul_at);
      dir.WriteFile("edge.pkt", PacketBytes(messages));
      PacketBase base;
      EXPECT_FALSE(base.Open(dir.Path("edge.pkt")));
      EXPECT_EQ(base.Boundaries(), ExpectedBoundaries(messages))
          << "edge " << edge << " nul " << nul_at;
    }
  }
}

TEST(PacketScanTest, ManySmallMessagesOverManyChunks) {
  ScratchDir dir;
  std::vector<std::string> messages;
  for (int i = 0; i < 3000; ++i) messages.push_back(PackedMessage(std::to_string(i)));
  dir.WriteFile("many.pkt", PacketBytes(messages));
  PacketBase base;
  EXPECT_FALSE(base.Open(dir.Path("many.pkt")));
  EXPECT_EQ(base.Count(), 3000);
  EXPECT_EQ(base.Boundaries(), ExpectedBoundaries(messages));
}

TEST(PacketScanTest, ReadsWholeChunksNotBytes) {
  ScratchDir dir;
  std::vector<std::string> messages;
  for (int i = 0; i < 4; ++i) messages.push_back(PackedMessage(std::string(50000, 'm')));
  dir.WriteFile("big.pkt", PacketBytes(messages));
  testing::FaultInjectingPlatform counting;
  auto installed = counting.Install();
  PacketBase base;
  EXPECT_FALSE(base.Open(dir.Path("big.pkt")));
  EXPECT_EQ(base.Count(), 4);
  // About 200 KB: a handful of 32 KB reads, not one per byte or buffer.
  EXPECT_LE(counting.Calls(testing::PlatformOp::kRead), 12);
}

TEST(PacketScanTest, ReadErrorEndsTheScanWithTheLastMessage) {
  ScratchDir dir;
  std::vector<std::string> messages;
  // Each message is longer than a piece of the scan.
  const auto longer = static_cast<std::size_t>(PacketBase::kScanChunk + PacketBase::kScanChunk / 4);
  for (int i = 0; i < 4; ++i) messages.push_back(PackedMessage(std::string(longer, 'm')));
  const std::string bytes = PacketBytes(messages);
  dir.WriteFile("p.pkt", bytes);
  testing::FaultInjectingPlatform faulty;
  auto installed = faulty.Install();
  faulty.FailCall(testing::PlatformOp::kRead, 3);  // header, first chunk, then fail
  PacketBase base;
  EXPECT_FALSE(base.Open(dir.Path("p.pkt")));
  EXPECT_EQ(base.State(), BaseState::kOpened);
  EXPECT_EQ(base.Boundaries().back(), static_cast<std::int32_t>(bytes.size()) - 3);
  EXPECT_LT(base.Count(), 4);
  EXPECT_TRUE(base.PacketStream()->Ok());
}

TEST(PacketOpenLimitTest, FileBeyondTwoGibIsRefused) {
  ScratchDir dir;
  dir.WriteFile("huge.pkt", PacketBytes({PackedMessage("x")}));
  std::error_code ec;
  // Sparse: no data blocks are written.
  std::filesystem::resize_file(dir.Path("huge.pkt"), (std::uint64_t{1} << 31) + 100, ec);
  if (ec) GTEST_SKIP() << "cannot make a large sparse file here";
  PacketBase opened;
  EXPECT_TRUE(opened.Open(dir.Path("huge.pkt")));
  EXPECT_EQ(opened.State(), BaseState::kOpenError);
  EXPECT_EQ(opened.Count(), 0);
  EXPECT_EQ(opened.PacketStream(), nullptr);
  PacketBase created;
  EXPECT_TRUE(created.Create(dir.Path("huge.pkt")));
  EXPECT_NE(created.State(), BaseState::kCreated);
}

// ---- header accessors ----

struct AddressCase {
  const char* text;
  const char* shown;
  std::uint16_t zone, net, node, point;
};

const AddressCase kAddressCases[] = {
    {"2:123/45.7", "2:123/45.7", 2, 123, 45, 7},
    {"2:123/45", "2:123/45", 2, 123, 45, 0},
    {"2:123/45.7@fidonet", "2:123/45.7", 2, 123, 45, 7},
    {"123/45", "123:45/0", 123, 45, 0, 0},  // words by position only
    {"1:2/3.0", "1:2/3", 1, 2, 3, 0},
    {"70000:1/2", "4464:1/2", 4464, 1, 2, 0},  // low 16 bits
    {"x:y/z", "0:0/0", 0, 0, 0, 0},
    {"", "0:0/0", 0, 0, 0, 0},
};

std::uint16_t WordAt(const PacketBase& base, std::size_t offset) {
  const auto& b = base.PktHeaderBuffer();
  return static_cast<std::uint16_t>(b[offset] | (b[offset + 1] << 8));
}

// Each address sits in five words of the header: the zone twice, net,
// node and point; setting one leaves the other address as it was.
TEST(PacketHeaderAccessTest, AddressRoundTrip) {
  const struct {
    bool orig;
    std::size_t zone, zone_copy, net, node, point;
  } sides[] = {{true, 34, 46, 20, 0, 50}, {false, 36, 48, 22, 2, 52}};
  for (const auto& side : sides) {
    for (const AddressCase& c : kAddressCases) {
      SCOPED_TRACE(std::string(side.orig ? "orig " : "dest ") + c.text);
      PacketBase base;
      ShortString shown;
      if (side.orig) {
        base.SetDestAddress("9:9/9.9");
        base.SetOrigAddress(c.text);
        base.GetOrigAddress(shown);
      } else {
        base.SetOrigAddress("9:9/9.9");
        base.SetDestAddress(c.text);
        base.GetDestAddress(shown);
      }
      EXPECT_EQ(shown, c.shown);
      EXPECT_EQ(WordAt(base, side.zone), c.zone);
      EXPECT_EQ(WordAt(base, side.zone_copy), c.zone);
      EXPECT_EQ(WordAt(base, side.net), c.net);
      EXPECT_EQ(WordAt(base, side.node), c.node);
      EXPECT_EQ(WordAt(base, side.point), c.point);
      if (side.orig) {
        base.GetDestAddress(shown);
      } else {
        base.GetOrigAddress(shown);
      }
      EXPECT_EQ(shown, "9:9/9.9");
    }
  }
}

TEST(PacketHeaderAccessTest, PasswordIsEightBytesAtMost) {
  PacketBase base;
  base.SetOrigAddress("513:1/1");  // zone copy at 34 right after the field
  base.SetPassword("0123456789");
  ShortString password;
  base.GetPassword(password);
  EXPECT_EQ(password, "01234567");
  const auto& b = base.PktHeaderBuffer();
  EXPECT_EQ(std::string(b.begin() + 26, b.begin() + 34), "01234567");  // no NUL
  EXPECT_EQ(WordAt(base, 34), 513);

  // A shorter one ends in a NUL; the bytes after it stay as they were.
  base.SetPassword("ab");
  base.GetPassword(password);
  EXPECT_EQ(password, "ab");
  EXPECT_EQ(std::string(b.begin() + 26, b.begin() + 34), std::string("ab\0"
                                                                     "34567",
                                                                     8));

  base.SetPassword("");
  base.GetPassword(password);
  EXPECT_EQ(password, "");
  EXPECT_EQ(b[26], 0);
}

TEST(PacketHeaderAccessTest, OpenReadsTheHeaderFields) {
  ScratchDir dir;
  std::string bytes = PacketBytes({PackedMessage("x")});
  bytes.replace(0, 2, U16(45));
  bytes.replace(20, 2, U16(123));
  bytes.replace(46, 2, U16(2));
  bytes.replace(50, 2, U16(7));
  bytes.replace(34, 2, U16(99));  // the first zone copy is never read
  bytes.replace(26, 8, std::string("pass\0zzz", 8));
  dir.WriteFile("p.pkt", bytes);
  PacketBase base;
  EXPECT_FALSE(base.Open(dir.Path("p.pkt")));
  ShortString text;
  base.GetOrigAddress(text);
  EXPECT_EQ(text, "2:123/45.7");
  base.GetPassword(text);
  EXPECT_EQ(text, "pass");
}

}  // namespace
}  // namespace qlr
