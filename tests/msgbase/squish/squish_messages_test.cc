// Reading, writing and deleting Squish messages: the bytes written, the
// chains and index after each operation, and what a reader makes of
// stored frames.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "msgbase/message.h"
#include "msgbase/message_attributes.h"
#include "msgbase/squish/squish_base.h"
#include "msgbase/squish/squish_hash.h"
#include "squish_test_support.h"
#include "support/coding.h"
#include "testing/memory_platform.h"

namespace qlr {
namespace {

using testing::kSquishPath;
using testing::MemoryPlatform;
using testing::TaggedMessage;

const std::string kSqd = std::string(kSquishPath) + ".sqd";
const std::string kSqi = std::string(kSquishPath) + ".sqi";

void Put16(std::string& b, std::size_t at, std::uint16_t v) {
  EncodeFixed16(reinterpret_cast<std::uint8_t*>(b.data()) + at, v);
}
void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  EncodeFixed32(reinterpret_cast<std::uint8_t*>(b.data()) + at, v);
}
std::uint32_t Get32(const std::string& b, std::size_t at) {
  return DecodeFixed32(reinterpret_cast<const std::uint8_t*>(b.data()) + at);
}
void PutText(std::string& b, std::size_t at, std::string_view text) {
  b.replace(at, text.size(), text);
}

std::string EmptyBaseHeader() {
  std::string h(256, '\0');
  Put16(h, 0, 256);
  Put32(h, 16, 1);
  Put32(h, 20, 2);
  Put32(h, 104, 256);
  Put32(h, 120, 256);
  Put16(h, 130, 28);
  return h;
}

class SquishMessagesTest : public ::testing::Test {
 protected:
  std::string Sqd() const { return disk_.ReadFileBytes(kSqd).value_or(""); }
  std::string Sqi() const { return disk_.ReadFileBytes(kSqi).value_or(""); }
  // The label of the message whose frame is at `offset`: its sender
  // without the "From " of TaggedMessage.
  std::string LabelAt(std::uint32_t offset) const {
    const std::string sqd = Sqd();
    std::string from = sqd.substr(offset + 28 + 4, 36);
    from = from.substr(0, from.find('\0'));
    return from.starts_with("From ") ? from.substr(5) : from;
  }
  std::vector<std::string> Labels(const std::vector<std::uint32_t>& offsets) const {
    std::vector<std::string> labels;
    for (const std::uint32_t offset : offsets) labels.push_back(LabelAt(offset));
    return labels;
  }
  // Field `at` (0: the frame offset, 4: the id) of every index record.
  std::vector<std::uint32_t> IndexField(std::size_t field) const {
    const std::string sqi = Sqi();
    std::vector<std::uint32_t> values;
    for (std::size_t at = 0; at + 12 <= sqi.size(); at += 12)
      values.push_back(Get32(sqi, at + field));
    return values;
  }
  std::uint16_t FrameTypeAt(std::uint32_t offset) const {
    const std::string sqd = Sqd();
    return static_cast<std::uint16_t>(static_cast<unsigned char>(sqd[offset + 24]) |
                                      static_cast<unsigned char>(sqd[offset + 25]) << 8);
  }

  SquishMessagesTest() { testing::UseHostSeparator(disk_); }

  MemoryPlatform disk_;
  ScopedPlatform installed_{disk_};
};

// ---- golden bytes ----

TEST_F(SquishMessagesTest, WritesOneNetmailMessageByteForByte) {
  SquishBase base;
  ASSERT_FALSE(base.Create(kSquishPath));
  Message m;
  m.From = "Alice";
  m.To = "Bob";
  m.Subject = "Hi";
  m.Date = "01 Jan 20  12:00:00";
  m.OrigZone = 2;
  m.OrigNet = 5020;
  m.OrigNode = 1;
  m.OrigPoint = 3;
  m.DestZone = 2;
  m.DestNet = 5020;
  m.DestNode = 2;
  m.AttrFlags[0] = true;  // private
  m.AttrFlags[8] = true;  // local
  m.TimesRead = 1;
  m.DateWritten = 0x50216000;  // 2020-01-01 12:00:00, as the Date text says
  m.DateArrived = 0x0000ABCD;
  m.UtcOffset = -60;
  m.ReplyTo = 5;
  m.Replies[0] = 9;
  m.UMsgId = 77;
  m.MsgId = "2:5020/1.3 0000abcd";
  m.TearLine = "x";
  m.Text.Write("Hello\r", 6);
  ASSERT_FALSE(base.WriteMessage(1, m));
  EXPECT_EQ(m.MsgState, 3);
  EXPECT_EQ(base.Count(), 1);

  const std::string control =
      "\x01"
      "FMPT 3\x01MSGID: 2:5020/1.3 0000abcd" +
      std::string(1, '\0');
  const std::string text = "Hello\r--- x\r" + std::string(1, '\0');
  ASSERT_EQ(control.size(), 35u);
  const std::uint32_t frame_length = 238 + 35 + 13;

  std::string header = EmptyBaseHeader();
  Put32(header, 4, 1);  // NumMsg
  Put32(header, 8, 1);  // HighMsg
  // HighWater stays 1: a write never moves the scanners' mark.
  Put32(header, 20, 3);     // Uid
  Put32(header, 104, 256);  // BeginFrame
  Put32(header, 108, 256);  // LastFrame
  Put32(header, 120, 256 + 28 + frame_length);

  std::string frame(28, '\0');
  Put32(frame, 0, 0xAFAE4453);
  Put32(frame, 12, frame_length);
  Put32(frame, 16, frame_length);
  Put32(frame, 20, 35);

  std::string msg(238, '\0');
  Put32(msg, 0, 0x00080101);  // private, local and the read bit
  PutText(msg, 4, "Alice");
  PutText(msg, 40, "Bob");
  PutText(msg, 76, "Hi");
  Put16(msg, 148, 2);
  Put16(msg, 150, 5020);
  Put16(msg, 152, 1);
  Put16(msg, 154, 3);
  Put16(msg, 156, 2);
  Put16(msg, 158, 5020);
  Put16(msg, 160, 2);
  Put32(msg, 164, 0x60005021);  // date word first
  Put32(msg, 168, 0xABCD0000);
  Put16(msg, 172, static_cast<std::uint16_t>(-60));
  Put32(msg, 174, 5);
  Put32(msg, 178, 9);
  Put32(msg, 214, 2);  // the id the index record gets, not the message's 77
  PutText(msg, 218, "01 Jan 20  12:00:00");

  EXPECT_EQ(Sqd(), header + frame + msg + control + text);
  std::string index(12, '\0');
  Put32(index, 0, 256);
  Put32(index, 4, 2);  // the base's Uid, not the message's id
  Put32(index, 8, SquishHash("Bob"));
  EXPECT_EQ(Sqi(), index);

  // And back: the fields only Squish keeps, the next id and the read bit
  // (the others are the round-trip matrix's).
  Message r;
  ASSERT_FALSE(base.ReadMessage(1, r));
  EXPECT_EQ(r.DateWritten, 0x50216000u);
  EXPECT_EQ(r.DateArrived, 0x0000ABCDu);
  EXPECT_EQ(r.UtcOffset, -60);
  EXPECT_EQ(r.Replies[0], 9u);
  EXPECT_EQ(r.TimesRead, 1);
  EXPECT_EQ(r.UMsgId, 3u);
}

TEST_F(SquishMessagesTest, ReadBitFollowsTheLowByteOfTimesRead) {
  const struct {
    std::uint16_t times_read;
    std::uint32_t attr_in;
    bool bit;
  } cases[] = {
      {0, 0, false}, {1, 0, true}, {7, 0, true}, {256, 0, false}, {0, kSquishAttrRead, false}};
  for (const auto& c : cases) {
    SquishBase base;
    ASSERT_FALSE(base.Create(kSquishPath));
    auto m = TaggedMessage("t");
    m->TimesRead = c.times_read;
    m->Attr = c.attr_in;
    ASSERT_FALSE(base.WriteMessage(1, *m));
    EXPECT_EQ((Get32(Sqd(), 256 + 28) & kSquishAttrRead) != 0, c.bit) << c.times_read;
    Message r;
    ASSERT_FALSE(base.ReadMessage(1, r));
    EXPECT_EQ(r.TimesRead, c.bit ? 1 : 0) << c.times_read;
  }
}

// ---- chains and index after write, replace and delete ----

// Parameter: Windows lock semantics, where only the handle that holds the
// lock may touch the locked byte.
class SquishOperationsTest : public SquishMessagesTest, public ::testing::WithParamInterface<bool> {
 protected:
  SquishOperationsTest() { disk_.SetMandatoryLocks(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(LockSemantics, SquishOperationsTest, ::testing::Bool());

TEST_P(SquishOperationsTest, ChainsAndIndexFollowEveryOperation) {
  using Op = std::function<bool(SquishBase&)>;
  const auto write = [](std::int32_t n) {
    return Op([n](SquishBase& b) { return b.WriteMessage(n, *TaggedMessage("new")); });
  };
  const auto erase = [](std::int32_t n) {
    return Op([n](SquishBase& b) { return b.DeleteMessage(n); });
  };
  using LabelList = std::vector<std::string>;
  const struct {
    const char* name;
    int count;
    std::vector<Op> ops;
    LabelList chain;  // message chain, also the index order
    LabelList free;
  } cases[] = {
      {"first message", 0, {write(1)}, {"new"}, {}},
      {"append third", 2, {write(3)}, {"m1", "m2", "new"}, {}},
      {"beyond the end appends", 2, {write(7)}, {"m1", "m2", "new"}, {}},
      {"delete first", 3, {erase(1)}, {"m2", "m3"}, {"m1"}},
      {"delete middle", 3, {erase(2)}, {"m1", "m3"}, {"m2"}},
      {"delete last", 3, {erase(3)}, {"m1", "m2"}, {"m3"}},
      {"delete only", 1, {erase(1)}, {}, {"m1"}},
      {"replace first", 3, {write(1)}, {"new", "m2", "m3"}, {"m1"}},
      {"replace middle", 3, {write(2)}, {"m1", "new", "m3"}, {"m2"}},
      {"replace last", 3, {write(3)}, {"m1", "m2", "new"}, {"m3"}},
      // Freed frames: the first is head and tail, one below the head goes
      // in front, every other one to the tail.
      {"free chain order", 3, {erase(3), erase(1), erase(1)}, {}, {"m1", "m3", "m2"}},
      {"append after delete", 2, {erase(1), write(5)}, {"m2", "new"}, {"m1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::MakeSquishBase(disk_, c.count);
    SquishBase base;
    ASSERT_FALSE(base.Open(kSquishPath));
    for (const Op& op : c.ops) ASSERT_FALSE(op(base));
    EXPECT_EQ(base.Count(), static_cast<std::int32_t>(c.chain.size()));

    std::vector<std::uint32_t> chain;
    std::vector<std::uint32_t> free;
    ASSERT_FALSE(base.MessageChain(&chain));
    ASSERT_FALSE(base.FreeChain(&free));
    EXPECT_EQ(Labels(chain), c.chain);
    EXPECT_EQ(Labels(free), c.free);
    EXPECT_EQ(IndexField(0), chain);
    const SquishBaseHeader& h = base.BaseHeader();
    EXPECT_EQ(h.num_msg, c.chain.size());
    EXPECT_EQ(h.high_msg, c.chain.size());
    EXPECT_EQ(h.last_frame, chain.empty() ? 0 : chain.back());
    if (!chain.empty()) {
      EXPECT_EQ(h.begin_frame, chain.front());
    }
    EXPECT_EQ(h.last_free_frame, free.empty() ? 0 : free.back());
    EXPECT_EQ(h.end_frame, Sqd().size());
    for (const std::uint32_t f : chain) EXPECT_EQ(FrameTypeAt(f), kSquishMessageFrame);
    for (const std::uint32_t f : free) EXPECT_EQ(FrameTypeAt(f), kSquishFreeFrame);
    // The header on disk is the one in memory.
    EXPECT_EQ(Sqd().substr(0, 256), [&] {
      std::string bytes(256, '\0');
      h.EncodeTo(reinterpret_cast<std::uint8_t*>(bytes.data()));
      return bytes;
    }());
  }
}

TEST_F(SquishMessagesTest, DeletingTheMiddleKeepsTheOtherRecordsByteForByte) {
  testing::MakeSquishBase(disk_, 3);
  const std::string before = Sqi();
  SquishBase base;
  ASSERT_FALSE(base.Open(kSquishPath));
  ASSERT_FALSE(base.DeleteMessage(2));
  EXPECT_EQ(Sqi(), before.substr(0, 12) + before.substr(24, 12));
  EXPECT_FALSE(disk_.Exists(kSqi + ".new"));
}

TEST_F(SquishMessagesTest, UniqueIdsOfIndexRecordsAndBase) {
  const struct {
    const char* name;
    std::function<void(SquishBase&)> ops;
    std::vector<std::uint32_t> ids;
    std::uint32_t uid;
  } cases[] = {
      {"appends hand out Uid", [](SquishBase&) {}, {2, 3, 4}, 5},
      {"replacing the last keeps its id",
       [](SquishBase& b) { ASSERT_FALSE(b.WriteMessage(3, *TaggedMessage("new"))); },
       {2, 3, 4},
       5},
      {"replacing the first keeps its id",
       [](SquishBase& b) {
         ASSERT_FALSE(b.DeleteMessage(2));  // ids 2, 4
         ASSERT_FALSE(b.WriteMessage(1, *TaggedMessage("new")));
       },
       {2, 4},
       5},
      {"replacing in the middle keeps its id",
       [](SquishBase& b) {
         ASSERT_FALSE(b.DeleteMessage(2));                      // ids 2, 4
         ASSERT_FALSE(b.WriteMessage(4, *TaggedMessage("x")));  // 2, 4, 5
         ASSERT_FALSE(b.WriteMessage(2, *TaggedMessage("new")));
       },
       {2, 4, 5},
       6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::MakeSquishBase(disk_, 3);
    SquishBase base;
    ASSERT_FALSE(base.Open(kSquishPath));
    c.ops(base);
    EXPECT_EQ(IndexField(4), c.ids);
    EXPECT_EQ(base.BaseHeader().uid, c.uid);
    // Every frame carries its record's id, and no write moved HighWater.
    const std::vector<std::uint32_t> offsets = IndexField(0);
    for (std::size_t i = 0; i < offsets.size(); ++i) {
      EXPECT_EQ(Get32(Sqd(), offsets[i] + 28 + 214), c.ids[i]) << i;
    }
    EXPECT_EQ(base.BaseHeader().high_water, 1u);
    // A reader is told the next id, whatever the record says.
    Message r;
    ASSERT_FALSE(base.ReadMessage(1, r));
    EXPECT_EQ(r.UMsgId, c.uid);
  }
}

// ---- frames from elsewhere ----

// A base of one message frame at 256 built from raw parts.
void WriteRawBase(MemoryPlatform& disk, const SquishFrameHeader& frame, const std::string& after,
                  std::uint32_t index_offset = 256) {
  SquishBaseHeader h;
  h.len = 256;
  h.num_msg = h.high_msg = 1;
  h.uid = 9;
  h.begin_frame = h.last_frame = 256;
  h.sz_frame_header = 28;
  std::vector<std::uint8_t> bytes;
  SquishMsgHeader msg;
  msg.from = "Raw";
  h.end_frame = static_cast<std::uint32_t>(256 + 28 + 238 + after.size());
  h.AppendTo(&bytes);
  frame.AppendTo(&bytes);
  msg.AppendTo(&bytes);
  bytes.insert(bytes.end(), after.begin(), after.end());
  disk.WriteFileBytes(kSqd, std::string(bytes.begin(), bytes.end()));
  SquishIndexRecord record;
  record.offset = index_offset;
  std::vector<std::uint8_t> index;
  record.AppendTo(&index);
  disk.WriteFileBytes(kSqi, std::string(index.begin(), index.end()));
}

SquishFrameHeader RawFrame(std::uint32_t ctrl, std::uint32_t text) {
  SquishFrameHeader f;
  f.frame_id = kSquishFrameId;
  f.ctrl_length = ctrl;
  f.msg_length = f.frame_length = 238 + ctrl + text;
  return f;
}

TEST_F(SquishMessagesTest, ReadsFramesOfOtherWriters) {
  const std::string nul(1, '\0');
  const struct {
    const char* name;
    SquishFrameHeader frame;
    std::string after;
    std::string body;
    std::vector<std::string> kludges;
  } cases[] = {
      {"no control information", RawFrame(0, 6), "Body\r" + nul, "Body\r", {}},
      {"control padded after its NUL",
       RawFrame(8, 3),
       "\x01X: 1" + nul + "zz" + "B\r" + nul,
       "B\r",
       {"X: 1"}},
      {"control without NUL", RawFrame(5, 3), "\x01X: 1B\r" + nul, "B\r", {"X: 1"}},
      {"MsgLength beyond the file", RawFrame(1, 5000), nul + "Cut\r", "Cut\r", {}},
      {"MsgLength short of the control", RawFrame(6, 0), "\x01Y: 2" + nul, "", {"Y: 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SquishFrameHeader frame = c.frame;
    if (std::string(c.name) == "MsgLength short of the control") frame.msg_length = 100;
    WriteRawBase(disk_, frame, c.after);
    SquishBase base;
    ASSERT_FALSE(base.Open(kSquishPath));
    Message r;
    ASSERT_FALSE(base.ReadMessage(1, r));
    EXPECT_EQ(r.From, "Raw");
    std::string body(static_cast<std::size_t>(r.Text.Size()), '\0');
    r.Text.Seek(0);
    r.Text.Read(body.data(), body.size());
    EXPECT_EQ(body, c.body);
    std::vector<std::string> kludges;
    for (const auto& k : r.Kludges) kludges.push_back(std::string(k->Value.view()));
    EXPECT_EQ(kludges, c.kludges);
  }
}

TEST_F(SquishMessagesTest, RefusesFramesThatCannotBeRead) {
  const struct {
    const char* name;
    std::uint32_t index_offset;
    std::uint32_t frame_id;
    std::uint32_t ctrl_length;
    std::uint8_t state;  // MsgState afterwards (9: untouched)
  } cases[] = {
      {"offset beyond the file", 100000, kSquishFrameId, 1, 9},
      {"offset on the base header", 0, kSquishFrameId, 1, 4},
      {"wrong frame id", 256, 0x12345678, 1, 4},
      {"frame header cut by the end", 256 + 200, kSquishFrameId, 1, 4},
      {"control beyond the file", 256, kSquishFrameId, 0xFFFFFFF0, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SquishFrameHeader frame = RawFrame(1, 3);
    frame.frame_id = c.frame_id;
    frame.ctrl_length = c.ctrl_length;
    WriteRawBase(disk_, frame, std::string(1, '\0') + "B\r" + std::string(1, '\0'), c.index_offset);
    SquishBase base;
    ASSERT_FALSE(base.Open(kSquishPath));
    Message r;
    r.MsgState = 9;
    r.From = "untouched";
    EXPECT_TRUE(base.ReadMessage(1, r));
    EXPECT_EQ(r.MsgState, c.state);
    if (c.state == 9) {
      EXPECT_EQ(r.From, "untouched");
    }
  }
}

TEST_F(SquishMessagesTest, AMissingIndexRecordIsNotCounted) {
  testing::MakeSquishBase(disk_, 2);
  disk_.WriteFileBytes(kSqi, Sqi().substr(0, 12));
  SquishBase base;
  ASSERT_FALSE(base.Open(kSquishPath));
  EXPECT_EQ(base.Count(), 1);
  EXPECT_EQ(base.Damage().kind(), StatusKind::kCorruption);
  Message r;
  EXPECT_TRUE(base.ReadMessage(2, r));   // beyond Count
  EXPECT_FALSE(base.ReadMessage(1, r));  // the stream error does not stick
}

TEST_F(SquishMessagesTest, RefusesToWriteWhereTheHeaderPointsWrong) {
  const struct {
    const char* name;
    std::uint32_t end_frame;
  } cases[] = {{"EndFrame inside the base header", 100}, {"EndFrame inside a frame", 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::MakeSquishBase(disk_, 2);
    std::string sqd = Sqd();
    Put32(sqd, 120, c.end_frame);
    disk_.WriteFileBytes(kSqd, sqd);
    const std::string sqi = Sqi();
    SquishBase base;
    ASSERT_FALSE(base.Open(kSquishPath));
    EXPECT_TRUE(base.WriteMessage(3, *TaggedMessage("new")));
    EXPECT_TRUE(base.WriteMessage(1, *TaggedMessage("new")));
    EXPECT_EQ(Sqd(), sqd);
    EXPECT_EQ(Sqi(), sqi);
    EXPECT_EQ(base.Count(), 2);
  }
}

TEST_F(SquishMessagesTest, RefusesToFollowLinksToNoFrame) {
  testing::MakeSquishBase(disk_, 3);
  std::string sqd = Sqd();
  const std::uint32_t second = IndexField(0)[1];
  Put32(sqd, second + 4, 260);  // NextFrame into the first frame's header
  disk_.WriteFileBytes(kSqd, sqd);
  SquishBase base;
  ASSERT_FALSE(base.Open(kSquishPath));
  EXPECT_TRUE(base.DeleteMessage(2));
  EXPECT_EQ(Sqd(), sqd);
  EXPECT_EQ(base.Count(), 3);
  std::vector<std::uint32_t> chain;
  EXPECT_TRUE(base.MessageChain(&chain));
}

TEST_F(SquishMessagesTest, DetectsChainsThatLoop) {
  const struct {
    const char* name;
    int frame;           // whose NextFrame is bent
    int target;          // index of the frame it now points to
    bool fix_prev_link;  // make the target's PrevFrame agree
  } cases[] = {
      {"back to the first", 2, 0, false},
      {"onto itself", 1, 1, false},
      {"back to the middle, prev links agreeing", 2, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::MakeSquishBase(disk_, 3);
    const std::vector<std::uint32_t> offsets = IndexField(0);
    std::string sqd = Sqd();
    Put32(sqd, offsets[static_cast<std::size_t>(c.frame)] + 4,
          offsets[static_cast<std::size_t>(c.target)]);
    if (c.fix_prev_link) {
      Put32(sqd, offsets[static_cast<std::size_t>(c.target)] + 8,
            offsets[static_cast<std::size_t>(c.frame)]);
    }
    disk_.WriteFileBytes(kSqd, sqd);
    SquishBase base;
    ASSERT_FALSE(base.Open(kSquishPath));
    std::vector<std::uint32_t> chain;
    EXPECT_TRUE(base.MessageChain(&chain));
    // The messages are still found through the index.
    EXPECT_EQ(testing::SquishSummary().size(), 4u);
  }
}

}  // namespace
}  // namespace qlr
