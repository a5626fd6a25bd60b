// Reading, writing and deleting single messages of a *.msg directory: the
// stored header, its buffer, and the numbers a write may take.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/message_contract.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "testing/fault_sweep.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::MemoryPlatform;
using testing::PlatformOp;

// A path under the memory disk's root in the host's syntax ("area/1.msg"
// -> "/area/1.msg"), which is what the base's path helpers build on.
std::string P(std::string_view relative) {
  std::string path(1, PathSeparator());
  for (char c : relative) path += c == '/' ? PathSeparator() : c;
  return path;
}

std::unique_ptr<MemoryPlatform> NewDisk() {
  auto disk = std::make_unique<MemoryPlatform>();
  disk->SetBackslashIsSeparator(PathSeparator() == '\\');
  disk->MakeDirs(P("area"));
  return disk;
}

std::string U16(std::uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string Field(std::string bytes, std::size_t width) {
  bytes.resize(width, '\0');
  return bytes;
}

// A stored header built by hand: every number distinct, texts with
// left-over bytes after their NULs.
std::string HeaderBytes(const std::string& from = std::string("Bob") + '\0' + "GARBAGE") {
  std::string h = Field(from, 36) + Field("All", 36) + Field("Subject line", 72) +
                  Field("05 Mar 21  10:20:30", 20);
  h += U16(3) + U16(44) + U16(55) + U16(0x0707) + U16(5020) + U16(5030);  // read..dest net
  h += std::string("\x11\x22\x33\x44\x55\x66\x77\x08", 8);                // both dates
  h += U16(0x0909) + U16(0x0103) + U16(0x0A0A);  // replyTo, attribute, nextReply
  return h;
}

class MsgDirMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(base_.Open(P("area/*.msg"))); }

  // Opening again rescans the directory.
  void Reopen() { ASSERT_FALSE(base_.Open(P("area/*.msg"))); }

  std::unique_ptr<MemoryPlatform> disk_ = NewDisk();
  ScopedPlatform installed_{*disk_};
  MsgDirBase base_;
};

TEST_F(MsgDirMessagesTest, ReadTakesTheHeaderFields) {
  disk_->WriteFileBytes(P("area/1.msg"), HeaderBytes());
  ASSERT_FALSE(base_.Open(P("area/*.msg")));
  Message m;
  ASSERT_FALSE(base_.ReadMessage(1, m)) << base_.LastError().ToString();
  EXPECT_EQ(m.From, "Bob");
  EXPECT_EQ(m.To, "All");
  EXPECT_EQ(m.Subject, "Subject line");
  EXPECT_EQ(m.Date, "05 Mar 21  10:20:30");
  EXPECT_EQ(m.TimesRead, 3);
  EXPECT_EQ(m.DestNode, 44);
  EXPECT_EQ(m.OrigNode, 55);
  EXPECT_EQ(m.OrigNet, 5020);
  EXPECT_EQ(m.DestNet, 5030);
  EXPECT_EQ(m.Attr, 0x0103u);  // the word, zero-extended
  EXPECT_EQ(m.DateArrived, 0u);
  EXPECT_EQ(m.MsgState, 2);
  // Cost, replyTo and nextReply stay in the buffer only; the date words
  // are never kept.
  EXPECT_EQ(base_.MsgHeaderBuffer().cost, 0x0707);
  EXPECT_EQ(base_.MsgHeaderBuffer().reply_to, 0x0909);
  EXPECT_EQ(base_.MsgHeaderBuffer().date_written, 0u);
  EXPECT_EQ(base_.MsgHeaderBuffer().date_arrived, 0u);
}

TEST_F(MsgDirMessagesTest, WriteAfterReadKeepsTheBufferedBytes) {
  disk_->WriteFileBytes(P("area/1.msg"), HeaderBytes());
  ASSERT_FALSE(base_.Open(P("area/*.msg")));
  Message read;
  ASSERT_FALSE(base_.ReadMessage(1, read));
  Message m;
  m.From = "Al";
  m.To = std::string(36, 'T');  // fills its field: no NUL
  m.DateWritten = 0x12345678;
  m.DateArrived = 0x12345678;
  ASSERT_FALSE(base_.WriteMessage(2, m)) << base_.LastError().ToString();
  EXPECT_EQ(m.DateWritten, 0u);
  EXPECT_EQ(m.DateArrived, 0u);
  EXPECT_EQ(m.MsgState, 3);
  const std::string bytes = disk_->ReadFileBytes(P("area/2.msg")).value_or("");
  ASSERT_GE(bytes.size(), 190u);
  // "Al", a NUL, then what the first message's field held after its own.
  EXPECT_EQ(bytes.substr(0, 36), Field(std::string("Al") + '\0' + '\0' + "GARBAGE", 36));
  EXPECT_EQ(bytes.substr(36, 36), std::string(36, 'T'));
  EXPECT_EQ(bytes.substr(170, 2), U16(0x0707));  // cost of the message read
  EXPECT_EQ(bytes.substr(176, 8), std::string(8, '\0'));
  EXPECT_EQ(bytes.substr(184, 2), U16(0x0909));  // its replyTo
  EXPECT_EQ(bytes.substr(188, 2), U16(0x0A0A));  // its nextReply
  Message back;
  ASSERT_FALSE(base_.ReadMessage(2, back));
  EXPECT_EQ(back.From, "Al");
  EXPECT_EQ(back.To, std::string(36, 'T'));
}

TEST_F(MsgDirMessagesTest, TransferHeaderMovesTheNumbersBothWays) {
  Message m;
  m.TimesRead = 7;
  m.DestNode = 1;
  m.OrigNode = 2;
  m.OrigNet = 3;
  m.DestNet = 4;
  m.Attr = 0x80010203;  // only the low word is stored
  m.Subject = std::string(72, 's');
  m.Date = "01 Jan 99  00:00:00";
  base_.TransferHeader(false, m);
  const StoredMsgHeader& h = base_.MsgHeaderBuffer();
  EXPECT_EQ(h.times_read, 7);
  EXPECT_EQ(h.dest_node, 1);
  EXPECT_EQ(h.orig_node, 2);
  EXPECT_EQ(h.orig_net, 3);
  EXPECT_EQ(h.dest_net, 4);
  EXPECT_EQ(h.attribute, 0x0203);
  Message back;
  base_.TransferHeader(true, back);
  EXPECT_EQ(back.Attr, 0x0203u);
  EXPECT_EQ(back.Subject, std::string(72, 's'));
  EXPECT_EQ(back.Date, "01 Jan 99  00:00:00");
  EXPECT_EQ(back.OrigNet, 3);
}

TEST_F(MsgDirMessagesTest, ReadRefusesWhatIsNoStoredMessage) {
  std::string header = HeaderBytes();
  disk_->MakeDirs(P("area/4.msg"));  // a directory, not a message
  Message m;
  m.From = "untouched";
  // Every length below the header is damage, never an empty message.
  for (std::size_t n = 0; n < header.size(); ++n) {
    disk_->WriteFileBytes(P("area/3.msg"), header.substr(0, n));
    EXPECT_TRUE(base_.ReadMessage(3, m)) << n;
    EXPECT_EQ(base_.LastError().kind(), StatusKind::kCorruption) << n;
    EXPECT_EQ(m.From, "untouched") << n;
  }
  EXPECT_TRUE(base_.ReadMessage(4, m));
  EXPECT_EQ(m.From, "untouched");
  // Exactly the header: a message with an empty text.
  disk_->WriteFileBytes(P("area/3.msg"), header);
  ASSERT_FALSE(base_.ReadMessage(3, m));
  EXPECT_EQ(testing::TextOf(m), "");
}

TEST_F(MsgDirMessagesTest, AWriteBeyondCountNeverReplacesAndTheTextEndsInANul) {
  for (int n : {1, 3})
    disk_->WriteFileBytes(P("area/" + std::to_string(n) + ".msg"), HeaderBytes());
  disk_->MakeDirs(P("area/5.msg"));
  Reopen();
  ASSERT_EQ(base_.Count(), 5);
  // Another program adds 6 after the base was counted.
  disk_->WriteFileBytes(P("area/6.msg"), "theirs");
  struct Case {
    std::int32_t number;
    bool fails;
    const char* lands_in;  // where the new message is, or nothing
  } const cases[] = {
      {5, true, nullptr},   // a directory is no message to replace
      {6, false, "7.msg"},  // beyond Count: an append, never over theirs
      {4, false, "4.msg"},  // a free gap is filled
      {3, false, "3.msg"},  // a message present is replaced
  };
  Message m;
  m.From = "Writer";
  m.Text.Write("text\r", 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_EQ(base_.WriteMessage(c.number, m), c.fails);
    if (c.lands_in == nullptr) continue;
    const std::string bytes =
        disk_->ReadFileBytes(P(std::string("area/") + c.lands_in)).value_or("");
    EXPECT_EQ(bytes.substr(190), std::string("text\r") + '\0');
  }
  EXPECT_EQ(disk_->ReadFileBytes(P("area/6.msg")), "theirs");
  Reopen();
  EXPECT_EQ(base_.Count(), 7);
}

TEST_F(MsgDirMessagesTest, MessageFileNamesPastTheShortStringLimitAreWhole) {
  Message m;
  // A name cut at 255 characters would be another file.
  const std::string deep = "area/" + std::string(240, 'd');
  disk_->MakeDirs(P(deep));
  MsgDirBase long_base;
  ASSERT_FALSE(long_base.Open(P(deep + "/*.msg")));
  EXPECT_FALSE(long_base.WriteMessage(1, m));
  EXPECT_FALSE(long_base.WriteMessage(123456789, m));
  EXPECT_TRUE(disk_->Exists(P(deep + "/1.msg")));
  EXPECT_TRUE(disk_->Exists(P(deep + "/123456789.msg")));
}

TEST_F(MsgDirMessagesTest, DeleteReportsAFileThatStays) {
  disk_->WriteFileBytes(P("area/1.msg"), HeaderBytes());
  Reopen();
  testing::FaultInjectingPlatform faulty(*disk_);
  faulty.FailCall(PlatformOp::kDeleteFile, 1);
  auto installed = faulty.Install();
  EXPECT_TRUE(base_.DeleteMessage(1));
  EXPECT_FALSE(base_.LastError().ok());
  EXPECT_TRUE(disk_->Exists(P("area/1.msg")));
}

TEST_F(MsgDirMessagesTest, PresentNumbersAreTheNumberedEntriesInOrder) {
  for (const char* name : {"7.old.msg", "1.msg", "0003.msg", "x.msg", "99999999999.msg", "12.txt",
                           "-2.msg", "1.msg.qlr-new"}) {
    disk_->WriteFileBytes(P(std::string("area/") + name), "x");
  }
  disk_->MakeDirs(P("area/5.msg"));
  EXPECT_EQ(base_.PresentNumbers(), (std::vector<std::int32_t>{1, 3, 5, 7}));
  MsgDirBase closed;
  EXPECT_FALSE(closed.PresentNumbers().has_value());
}

// ---- Round trip of every field the format carries ----

void FillNetmail(Message& m) {
  m.From = "Sender Name";
  m.To = "Recipient Name";
  m.Subject = "A subject, with punctuation!";
  m.Date = "05 Mar 21  10:20:30";
  m.TimesRead = 2;
  m.OrigZone = 2;
  m.OrigNet = 5020;
  m.OrigNode = 1042;
  m.OrigPoint = 7;
  m.OrigDomain = "fidonet";
  m.DestZone = 1;
  m.DestNet = 2;
  m.DestNode = 3;
  m.DestPoint = 4;
  m.DestDomain = "fidonet";
  m.Intl = "1:2/3 2:5020/1042";
  m.MsgId = "2:5020/1042.7@fidonet 1234abcd";
  m.ReplyId = "1:2/3.4@fidonet 87654321";
  m.Pid = "Writer 1.0";
  m.Tid = "Tosser 2.5";
  m.AttrFlags[0] = true;  // Pvt
  m.AttrFlags[8] = true;  // Loc
  m.ExtFlags[1] = true;   // Dir
  m.ExtFlags[4] = true;   // Imm
  testing::AddLine(m.Kludges, "\x01", "CHRS: IBMPC 2");
  testing::AddLine(m.Kludges, "\x01", "TZUTC: 0300");
  const std::string body = "Hello there\rSecond line with a trailing blank \r";
  m.Text.Write(body.data(), body.size());
  m.TearLine = "Editor 3";
  m.Origin = "My BBS ";
  testing::AddLine(m.TrailLines, "\x01Via ", "2:5020/1042 @20210305.102030");
  testing::AddLine(m.TrailLines, "\x01Via ", "1:2/3 @20210305.112030");
}

TEST_F(MsgDirMessagesTest, RoundTripKeepsEveryFieldTheFormatCarries) {
  Message m;
  FillNetmail(m);
  ASSERT_FALSE(base_.WriteMessage(1, m));
  MsgDirBase reader;
  ASSERT_FALSE(reader.Open(P("area/*.msg")));
  Message r;
  ASSERT_FALSE(reader.ReadMessage(1, r)) << reader.LastError().ToString();
  // The fields every format carries are the round-trip matrix's; here
  // what the *.MSG header and its kludges keep in their own way.
  EXPECT_EQ(r.TimesRead, 2);
  EXPECT_EQ(r.OrigAddressText(), "2:5020/1042.7");
  EXPECT_EQ(r.DestAddressText(), "1:2/3.4");
  EXPECT_EQ(r.OrigDomain, "fidonet");
  EXPECT_EQ(r.DestDomain, "fidonet");
  EXPECT_TRUE(r.HadMsgId);
  EXPECT_TRUE(r.HadIntl);
  EXPECT_EQ(r.Attr, 0x0101u);
  EXPECT_EQ(r.Flags, "");
  EXPECT_EQ(r.OtherFlags, "");
  EXPECT_NE(r.DateWritten, 0u);  // taken from the date text
  // The file is the header, the composed lines and the NUL that ends them.
  const std::string file = disk_->ReadFileBytes(P("area/1.msg")).value_or("");
  ASSERT_GT(file.size(), 191u);
  EXPECT_EQ(file.substr(file.size() - 2), std::string("\r") + '\0');
  EXPECT_NE(file.find("\x01"
                      "FMPT 7\r"),
            std::string::npos);
  EXPECT_NE(file.find(" * Origin: My BBS (2:5020/1042.7)\r"), std::string::npos);
  // Written again from what was read, the file is the same byte for byte.
  ASSERT_FALSE(reader.WriteMessage(2, r));
  EXPECT_EQ(disk_->ReadFileBytes(P("area/2.msg")), file);
}

}  // namespace
}  // namespace qlr
