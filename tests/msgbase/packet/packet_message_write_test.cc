#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_message_support.h"
#include "msgbase/packet/packet_test_support.h"
#include "platform/host.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using testing::FillNetmail;
using testing::FixedPart;
using testing::PackedMessage;
using testing::PackedNetmail;
using testing::PacketBytes;
using testing::PacketHeaderBytes;
using testing::SameBytes;
using testing::ScratchDir;
using testing::TextOf;
using testing::U16;

class PacketWriteTest : public ::testing::Test {
 protected:
  std::string PacketPath() const { return dir_.Path("p.pkt"); }
  std::string Content() const { return dir_.ReadFile("p.pkt"); }

  ScratchDir dir_;
  testing::PacketTestPlatform platform_{HostPlatform()};
  ScopedPlatform installed_ = platform_.Install();
};

std::vector<std::string> ThreeMessages() {
  return {PackedMessage("one\r"), PackedMessage("two\r", 'g'), PackedMessage("three\r", 'h')};
}

TEST_F(PacketWriteTest, EchomailGoldenBytesAndReadBack) {
  PacketBase base;
  ASSERT_FALSE(base.Create(PacketPath()));
  Message m;
  m.To = "Alice";
  m.From = "Bob";
  m.Subject = "Hi";
  m.Date = "01 Jan 24  12:00:00";
  m.OrigZone = 2;
  m.OrigNet = 123;
  m.OrigNode = 45;
  m.DestNet = 124;
  m.DestNode = 46;
  m.Cost = 7;
  m.AttrFlags[0] = true;  // private
  m.AttrFlags[8] = true;  // local
  m.Area = "TEST";
  m.Origin = "My BBS ";
  testing::SetText(m, "Hello\r");
  ASSERT_FALSE(base.WriteMessage(1, m));
  EXPECT_EQ(m.MsgState, 3);

  const std::string header = Content().substr(0, 58);
  const std::string expected = header + U16(2) +
                               FixedPart(45, 46, 123, 124, 0x0101, 7, "01 Jan 24  12:00:00") +
                               "Alice" + '\0' + "Bob" + '\0' + "Hi" + '\0' + "AREA:TEST\r" +
                               "Hello\r * Origin: My BBS (2:123/45)\r" + std::string(3, '\0');
  EXPECT_TRUE(SameBytes(Content(), expected));
  EXPECT_EQ(base.Count(), 1);
  EXPECT_EQ(base.Boundaries(),
            (std::vector<std::int32_t>{57, static_cast<std::int32_t>(expected.size()) - 3}));

  // Back, with what only a packet keeps (the rest is the round-trip
  // matrix's): the area line taken from the text, and the cost.
  Message r;
  ASSERT_FALSE(base.ReadMessage(1, r));
  EXPECT_EQ(r.Area, "TEST");
  EXPECT_EQ(TextOf(r), "Hello\r");
  EXPECT_EQ(r.Cost, 7);
}

TEST_F(PacketWriteTest, DateFieldKeepsNineteenCharactersAndANul) {
  struct Case {
    std::string date;
    std::string field;
  };
  const std::vector<Case> cases = {
      {"", std::string(20, '\0')},
      {"01 Jan 24  12:00:00", std::string("01 Jan 24  12:00:00") + '\0'},
      {"01 Jan 2024 12:00:00", std::string("01 Jan 2024 12:00:0") + '\0'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.date);
    PacketBase base;
    ASSERT_FALSE(base.Create(PacketPath()));
    // A date read before must not leave bytes behind in the field.
    Message m;
    FillNetmail(m, "t", "f", "s", "b\r");
    m.Date = c.date;
    ASSERT_FALSE(base.WriteMessage(0, m));
    const std::string content = Content();
    EXPECT_EQ(content.substr(60 + 12, 20), c.field);
    base.Discard();
    dir_.WriteFile("p.pkt", "");
  }
}

TEST_F(PacketWriteTest, NamesStopAtTheirTerminatorsAndTheTextLosesItsNuls) {
  PacketBase base;
  ASSERT_FALSE(base.Create(PacketPath()));
  Message m;
  FillNetmail(m, std::string("to\0rest", 7), "fr\rom", "subj", std::string("a\0b\r", 4));
  ASSERT_FALSE(base.WriteMessage(0, m));
  EXPECT_EQ(Content().substr(58), PackedNetmail("to", "fr", "subj", "ab\r") + std::string(2, '\0'));
  // To and From have 36 bytes, Subject 72, each including the NUL.
  const std::string t(35, 't'), f(35, 'f'), s(71, 's');
  FillNetmail(m, t + "t", f + "ff", s + "s", "b\r");
  ASSERT_FALSE(base.WriteMessage(0, m));
  FillNetmail(m, t, f, s, "b\r");
  ASSERT_FALSE(base.WriteMessage(0, m));
  const std::string cut = PackedNetmail(t, f, s, "b\r");
  EXPECT_EQ(Content().substr(Content().size() - 2 * cut.size() - 2),
            cut + cut + std::string(2, '\0'));
}

TEST_F(PacketWriteTest, APacketChangedSinceItsScanIsNotCutApart) {
  const std::string other =
      PacketBytes({PackedMessage("one, longer\r"), PackedMessage("two\r", 'g')});
  for (const bool renamed_over : {true, false}) {
    // Windows refuses to rename over a file that is open (here by `stale`),
    // so there the packet can only be changed in place.
    if (renamed_over && kHostIsWindows) continue;
    dir_.WriteFile("p.pkt", PacketBytes(ThreeMessages()));
    PacketBase stale;
    ASSERT_FALSE(stale.Open(PacketPath()));
    // Another program renames a new packet over it, or rewrites it in place.
    dir_.WriteFile(renamed_over ? "other.pkt" : "p.pkt", other);
    if (renamed_over) std::filesystem::rename(dir_.Path("other.pkt"), PacketPath());
    Message m;
    FillNetmail(m, "t", "f", "s", "b\r");
    // A deletion is taken with the bytes of the message the scan saw. The
    // purge removes the message with those bytes from the packet as it is
    // then, or nothing when it is not where the scan saw it.
    (void)stale.DeleteMessage(2);
    std::string expected = other;
    if (renamed_over) {
      // The old file, unlinked, is read by nobody: an append goes to the
      // end of the packet that took its name. Its second message is the
      // one deleted.
      EXPECT_FALSE(stale.AppendMessage(m));
      expected = PacketBytes({PackedMessage("one, longer\r"), PackedNetmail("t", "f", "s", "b\r")});
    } else {
      stale.AddPendingDelete(stale.Boundaries()[0] + 1, stale.Boundaries()[1] + 1);
    }
    stale.Purge();
    EXPECT_TRUE(SameBytes(Content(), expected));
  }
}

TEST_F(PacketWriteTest, ReplaceAppliesThePendingDeletionsTooAndTheLastMessageCanGo) {
  const auto old = ThreeMessages();
  dir_.WriteFile("p.pkt", PacketBytes(old));
  PacketBase base;
  ASSERT_FALSE(base.Open(PacketPath()));
  ASSERT_FALSE(base.DeleteMessage(1));
  Message m;
  FillNetmail(m, "x", "y", "z", "last\r");
  ASSERT_FALSE(base.WriteMessage(3, m));
  const std::vector<std::string> now = {old[1], PackedNetmail("x", "y", "z", "last\r")};
  EXPECT_TRUE(SameBytes(Content(), PacketBytes(now)));
  EXPECT_EQ(base.Count(), 2);
  EXPECT_EQ(base.PendingDeleteCount(), 0);
}

TEST_F(PacketWriteTest, AFailedReplaceChangesNothingAndKeepsThePendingDeletions) {
  const auto old = ThreeMessages();
  const std::string before = PacketBytes(old);
  dir_.WriteFile("p.pkt", before);
  PacketBase base;
  ASSERT_FALSE(base.Open(PacketPath()));
  ASSERT_FALSE(base.DeleteMessage(3));
  platform_.fail_rename = true;
  Message m;
  FillNetmail(m, "x", "y", "z", "never\r");
  EXPECT_TRUE(base.WriteMessage(1, m));
  EXPECT_TRUE(SameBytes(Content(), before));
  EXPECT_EQ(base.Count(), 3);
  EXPECT_EQ(base.PendingDeleteCount(), 1);
  EXPECT_FALSE(std::filesystem::exists(PacketPath() + ".qlr-tmp"));
  // The deletion recorded before still happens.
  platform_.fail_rename = false;
  base.Purge();
  EXPECT_TRUE(SameBytes(Content(), PacketBytes({old[0], old[1]})));
}

// How the end of the packet decides where the new message goes.
TEST_F(PacketWriteTest, TheTailOfThePacketDecidesWhereTheMessageGoes) {
  const std::string one = PackedMessage("one\r");
  const std::string packed = PackedNetmail("t", "f", "s", "b\r");
  struct Case {
    const char* name;
    std::string file;
    std::string expected;
    std::int32_t count;
    std::int32_t number = 0;  // written as; 1 replaces `one`
  };
  const std::string body = PacketHeaderBytes() + one;
  // What an append killed before its closing NUL leaves: it is cut off.
  const std::string cut = packed.substr(0, packed.size() - 3);
  const std::vector<Case> cases = {
      {"terminator 00 00", body + U16(0), body + packed + U16(0), 2},
      // What an append that stopped after its type word leaves.
      {"stopped append 02 00", body + U16(2), body + packed + U16(0), 2},
      // No terminator: the last two bytes stay, a NUL closes that text.
      {"no terminator", body + "xy", body + "xy" + '\0' + packed + U16(0), 2},
      {"empty packet", PacketHeaderBytes() + U16(0), PacketHeaderBytes() + packed + U16(0), 1},
      {"empty packet, odd tail", PacketHeaderBytes() + "zz", PacketHeaderBytes() + packed + U16(0),
       1},
      {"cut append", body + cut, body + packed + U16(0), 2},
      {"cut in the fixed part", body + packed.substr(0, 12), body + packed + U16(0), 2},
      {"cut first message", PacketHeaderBytes() + cut, PacketHeaderBytes() + packed + U16(0), 1},
      {"cut append, replace", body + cut, PacketHeaderBytes() + packed + U16(0), 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir_.WriteFile("p.pkt", c.file);
    PacketBase base;
    ASSERT_FALSE(base.Open(PacketPath()));
    const BaseState state = base.State();
    Message m;
    FillNetmail(m, "t", "f", "s", "b\r");
    ASSERT_FALSE(base.WriteMessage(c.number, m));
    EXPECT_TRUE(SameBytes(Content(), c.expected));
    EXPECT_EQ(base.Count(), c.count);
    // The object's boundaries agree with a fresh scan.
    if (state == BaseState::kOpened) {
      PacketBase again;
      ASSERT_FALSE(again.Open(PacketPath()));
      EXPECT_EQ(base.Boundaries(), again.Boundaries());
      again.Discard();
    } else {
      // Opened empty: writable, but not readable until opened again.
      EXPECT_EQ(state, BaseState::kOpenError);
      Message r;
      EXPECT_TRUE(base.ReadMessage(1, r));
    }
    base.Discard();
  }
}

TEST_F(PacketWriteTest, RefusesFilesWithoutAPlaceForAMessage) {
  struct Case {
    const char* name;
    std::string file;  // empty: no file
  };
  std::string version1 = PacketHeaderBytes(1) + U16(0);
  const std::vector<Case> cases = {
      {"short file", std::string(40, 'x')},
      {"empty packet of version 1", version1},
      {"no file", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(PacketPath());
    if (!c.file.empty()) dir_.WriteFile("p.pkt", c.file);
    PacketBase base;
    (void)base.Open(PacketPath());
    Message m;
    FillNetmail(m, "t", "f", "s", "b\r");
    EXPECT_TRUE(base.WriteMessage(0, m));
    EXPECT_EQ(base.Count(), 0);
    if (c.file.empty()) {
      EXPECT_FALSE(std::filesystem::exists(PacketPath()));
    } else {
      EXPECT_EQ(Content(), c.file);
    }
  }
  // A packet of another version is refused at Open and stays closed.
  dir_.WriteFile("p.pkt", PacketBytes({PackedMessage("x")}).replace(18, 2, U16(1)));
  PacketBase bad;
  EXPECT_TRUE(bad.Open(PacketPath()));
  Message m;
  EXPECT_TRUE(bad.WriteMessage(0, m));
  EXPECT_TRUE(bad.DeleteMessage(1));
}

}  // namespace
}  // namespace qlr
