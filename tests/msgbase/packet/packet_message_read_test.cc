#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_message_support.h"
#include "msgbase/packet/packet_test_support.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using testing::FixedPart;
using testing::PackedMessage;
using testing::PacketBytes;
using testing::PacketHeaderBytes;
using testing::ScratchDir;
using testing::TextOf;
using testing::U16;

// A packed message with the given names (each followed by a NUL) and
// text, and a fixed part of zeros.
std::string Packed(std::string_view names, std::string_view text) {
  return U16(2) + std::string(32, '\0') + std::string(names) + std::string(text) + '\0';
}

std::string Names(std::string_view to, std::string_view from, std::string_view subject) {
  return std::string(to) + '\0' + std::string(from) + '\0' + std::string(subject) + '\0';
}

class PacketReadTest : public ::testing::Test {
 protected:
  std::string PacketPath() const { return dir_.Path("p.pkt"); }

  // Writes the packet and reads message `n` of it into message_.
  bool ReadFrom(const std::string& bytes, std::int32_t n = 1) {
    dir_.WriteFile("p.pkt", bytes);
    base_.Discard();
    EXPECT_FALSE(base_.Open(PacketPath()));
    return base_.ReadMessage(n, message_);
  }

  ScratchDir dir_;
  testing::PacketTestPlatform platform_{HostPlatform()};
  ScopedPlatform installed_ = platform_.Install();
  PacketBase base_;
  Message message_;
};

TEST_F(PacketReadTest, TheAreaLineIsTheFirstLineOfTheText) {
  struct Case {
    std::string text;
    std::string area;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"AREA:TEST\rbody\r", "TEST", "body\r"},
      {"area:local\rbody\r", "local", "body\r"},
      {"AREA: spaced\rbody\r", " spaced", "body\r"},
      {"AREA:TEST\r\nbody\r", "TEST", "body\r"},
      {"AREA:TEST\n\rbody\r", "TEST", "body\r"},
      {"AREA:TEST\n\nbody\r", "TEST", "\nbody\r"},
      {"AREA:ONLY", "ONLY", ""},
      {"Hello\rthere\r", "", "Hello\rthere\r"},
      {"AREAFIX\rbody\r", "", "AREAFIX\rbody\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_FALSE(ReadFrom(PacketBytes({Packed(Names("t", "f", "s"), c.text)})));
    EXPECT_EQ(message_.Area, c.area);
    EXPECT_EQ(TextOf(message_), c.body);
  }
}

TEST_F(PacketReadTest, NamesAreBoundedAndNeverReadIntoTheNextMessage) {
  struct Case {
    const char* name;
    std::string names;
    std::string to, from, subject, body;
  };
  const std::string long40(40, 'L');
  const std::string huge(1000, 'H');
  const std::vector<Case> cases = {
      {"plain", Names("to", "from", "subj"), "to", "from", "subj", "text\r"},
      {"cut to 36 and 72", Names(long40, long40, std::string(80, 'S')), long40.substr(0, 36),
       long40.substr(0, 36), std::string(72, 'S'), "text\r"},
      {"longer than a scan piece", Names(huge, "from", "subj"), huge.substr(0, 36), "from", "subj",
       "text\r"},
      {"ended by CR", "to\rfrom\rsubj\r", "to", "from", "subj", "text\r"},
      // The subject has no NUL: it runs on into the text, up to the CR
      // there, and the message keeps no text.
      {"subject without NUL", std::string("to") + '\0' + "from" + '\0' + "subject", "to", "from",
       "subjecttext", ""},
  };
  const std::string next = PackedMessage("next\r");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(ReadFrom(PacketBytes({Packed(c.names, "text\r"), next})));
    EXPECT_EQ(message_.To, c.to);
    EXPECT_EQ(message_.From, c.from);
    EXPECT_EQ(message_.Subject, c.subject);
    EXPECT_EQ(TextOf(message_), c.body);
    Message second;
    ASSERT_FALSE(base_.ReadMessage(2, second));
    EXPECT_EQ(second.To, "to");
    EXPECT_EQ(TextOf(second), "next\r");
  }
}

TEST_F(PacketReadTest, FixedPartFields) {
  // A date of 20 characters without NUL, as some writers fill the field.
  const std::string fixed = FixedPart(1, 2, 3, 4, 0x8201, 9, "01 Jan 2024 12:00:00");
  ASSERT_FALSE(ReadFrom(PacketBytes({U16(2) + fixed + Names("t", "f", "s") + "x\r" + '\0'})));
  EXPECT_EQ(message_.OrigNode, 1);
  EXPECT_EQ(message_.DestNode, 2);
  EXPECT_EQ(message_.OrigNet, 3);
  EXPECT_EQ(message_.DestNet, 4);
  EXPECT_EQ(message_.Attr, 0x8201u);
  EXPECT_EQ(message_.Cost, 9);
  EXPECT_EQ(message_.MsgState, 2);
  // The read made the date agree with its parsed form; the field itself
  // reads whole.
  Message raw;
  base_.TransferHeader(true, raw);
  EXPECT_EQ(raw.Date, "01 Jan 2024 12:00:00");
}

TEST_F(PacketReadTest, ALastMessageCountsOnlyWithItsClosingNul) {
  // What follows the last whole message: the start of one that an append
  // killed before its closing NUL is no message; a whole one reads whole
  // with all, part or none of the terminator after it.
  const std::string whole = PackedMessage("one");
  const std::string next = PackedMessage("two");
  struct Case {
    const char* name;
    std::string tail;  // after the header and `whole`
    std::int32_t count;
  };
  const std::vector<Case> cases = {
      {"only the type word", U16(2), 1},
      {"inside the fixed part", U16(2) + std::string(10, 'f'), 1},
      {"inside a name", next.substr(0, 40), 1},
      {"after the names", next.substr(0, next.size() - 2), 1},
      {"all but the closing NUL", next.substr(0, next.size() - 1), 1},
      {"no terminator", next, 2},
      {"half a terminator", next + '\0', 2},
      {"whole", next + testing::kTerminator, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(ReadFrom(PacketHeaderBytes() + whole + c.tail, c.count));
    EXPECT_EQ(base_.Count(), c.count);
    EXPECT_EQ(TextOf(message_), c.count == 1 ? "one" : "two");
  }
  // A first message cut short leaves no message at all.
  ASSERT_TRUE(ReadFrom(PacketHeaderBytes() + whole.substr(0, 45)));
  EXPECT_EQ(base_.Count(), 0);
}

}  // namespace
}  // namespace qlr
