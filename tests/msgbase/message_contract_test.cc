// What every format does with single messages: where a write past the
// last message goes, what a replacement and a deletion leave for the next
// reader, a write after another program's, how long names read back, what
// an echomail stores, an empty message and an empty base, a read under a
// failing call, and a copy into each format. Where the formats differ,
// their traits give the format's own answer and the case checks that one.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "contract_formats.h"
#include "message_contract.h"
#include "msgbase/ftn_date.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/message.h"
#include "msgbase/message_attributes.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "msgbase/open_base.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/squish/squish_base.h"
#include "platform/host.h"
#include "testing/fault_sweep.h"
#include "testing/memory_platform.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

using testing::AddLine;
using testing::LinesOf;
using testing::MemoryPlatform;
using testing::PlatformOp;
using testing::TextOf;
using Strings = std::vector<std::string>;

const std::string& kPath = testing::kContractPath;
constexpr std::int32_t kPastTheEnd = 10;

// A tagged echomail with a MSGID of its own, so that two writes of it
// read back the same.
std::unique_ptr<Message> Tagged(const std::string& tag) {
  auto m = testing::Tagged(tag);
  m->MsgId = "2:5020/1 " + tag;
  return m;
}

enum class Deletion {
  kLeavesAGap,  // the number stays, with no message behind it
  kRenumbers,   // the later messages move down by one
  kDeferred,    // the message reads on until the object is closed
};

struct MessageTraits {
  const char* name = nullptr;
  char type = 0;  // the base type letter of a base line
  std::unique_ptr<MessageBase> (*make)() = nullptr;
  std::string suffix;  // of the path Open takes, after the base path
  Deletion deletion = Deletion::kLeavesAGap;
  bool mandatory_locks = false;
  // A replacement removes the old message and appends the new one.
  bool replacement_goes_last = false;
  // The object's Count grows with a replacement until the base is opened
  // again (it counts the writes, not the messages).
  bool replacement_counts = false;
  // A write at a free number past the last message takes that number
  // (else the next one after the last).
  bool writes_take_free_numbers = false;
  // Longer names and subjects read back cut to these.
  std::size_t name_width = 36, subject_width = 72;
  // An echomail's point is read back from its origin line.
  bool echomail_point_read_back = false;
  // A write at the number after the last one counted at Open, which
  // another writer has taken since, replaces that writer's message (else
  // it goes after it).
  bool stale_number_replaces = false;
  BaseState empty_state = BaseState::kOpened;  // of an empty base opened
  // Every failing call of a read is reported (a short read is the end of
  // a file, and may be none).
  bool every_read_fault_reported = false;
  testing::HeaderCheck check_header = nullptr;
  // What the format cannot hold, by the names of FieldsOf(): "attr:" and
  // "ext:" name one attribute by its FLAGS name ("b16" and "b17" are the
  // two carried bits without one).
  std::set<std::string> lost;
};

void PrintTo(const MessageTraits& f, std::ostream* os) { *os << f.name; }

using Fields = std::map<std::string, std::string>;

Fields FieldsOf(Message& m) {
  Fields f = {
      {"From", m.From.str()},
      {"To", m.To.str()},
      {"Subject", m.Subject.str()},
      {"Date", m.Date.str()},
      {"DateWritten", HexLong(m.DateWritten).str()},
      {"DateArrived", HexLong(m.DateArrived).str()},
      {"MsgId", m.MsgId.str()},
      {"ReplyId", m.ReplyId.str()},
      {"Intl", m.Intl.str()},
      {"Pid", m.Pid.str()},
      {"Tid", m.Tid.str()},
      {"TearLine", m.TearLine.str()},
      {"Origin", m.Origin.str()},
      {"OtherFlags", m.OtherFlags.str()},
      {"Orig", m.OrigAddressText().str()},
      {"Dest", m.DestAddressText().str()},
      {"Kludges", LinesOf(m.Kludges)},
      {"TrailLines", LinesOf(m.TrailLines)},
      {"Text", TextOf(m)},
  };
  // Every named bit but "deleted" (a deleted message is not read).
  for (std::size_t i = 0; i + 1 < kAttrMasks.size(); ++i) {
    const std::string name =
        i < kNamedAttrCount ? TrimBlanks(kFlagsNames[i]).str() : "b" + std::to_string(i + 1);
    f["attr:" + name] = m.AttrFlags[i] ? "set" : "clear";
  }
  for (std::size_t i = 0; i < m.ExtFlags.size(); ++i) {
    f["ext:" + TrimBlanks(kFlagsNames[kFirstExtFlagName + i]).str()] =
        m.ExtFlags[i] ? "set" : "clear";
  }
  return f;
}

// A netmail with every field set, as a reader would give it back.
void FillEveryField(Message& m) {
  m.From = "Sender Name";
  m.To = "Receiver Name";
  m.Subject = "Every field";
  const DateTime written{2026, 12, 9, 21, 14, 37};
  m.DateWritten = PackDateTime(written);
  m.Date = FormatFtsDate(written);  // the odd second
  m.DateArrived = PackDateTime(DateTime{2026, 12, 9, 22, 0, 10});
  m.OrigZone = 2, m.OrigNet = 5020, m.OrigNode = 1042, m.OrigPoint = 7;
  m.DestZone = 1, m.DestNet = 234, m.DestNode = 56, m.DestPoint = 3;
  m.MsgId = "2:5020/1042.7 1a2b3c4d";
  m.ReplyId = "1:234/56.3 00c0ffee";
  m.Intl = "1:234/56 2:5020/1042";
  m.Pid = "Editor 1.2";
  m.Tid = "Tosser 3.4";
  m.TearLine = "Editor 1.2";
  m.Origin = "The Test BBS ";
  m.OtherFlags = "XYZ NEW1";
  m.AttrFlags.fill(true);
  m.AttrFlags[17] = false;
  m.ExtFlags.fill(true);
  AddLine(m.Kludges, "\001", "CHRS: IBMPC 2");
  AddLine(m.Kludges, "\001", "TZUTC: 0100");
  AddLine(m.TrailLines, "\001Via ", "2:5020/1042 @20261209.211437");
  AddLine(m.TrailLines, "SEEN-BY: ", "5020/1042 1043");
  AddLine(m.TrailLines, "\001PATH: ", "5020/1042");
  const std::string body = "Hello,\r\rthis is the body.\r";
  m.Text.Write(body.data(), body.size());
}

class MessageContractTest : public ::testing::TestWithParam<MessageTraits> {
 protected:
  MessageContractTest() {
    disk_.SetBackslashIsSeparator(kHostIsWindows);
    disk_.SetMandatoryLocks(F().mandatory_locks);
  }
  const MessageTraits& F() const { return GetParam(); }
  std::string OpenPath() const { return kPath + F().suffix; }

  // A base of the messages m1 .. m<count>, each written at its number.
  void MakeBase(int count) {
    const std::unique_ptr<MessageBase> base = F().make();
    ASSERT_FALSE(base->Create(OpenPath()));
    for (int i = 1; i <= count; ++i)
      ASSERT_FALSE(base->WriteMessage(i, *Tagged("m" + std::to_string(i))));
  }

  std::unique_ptr<MessageBase> Opened() {
    std::unique_ptr<MessageBase> base = F().make();
    EXPECT_FALSE(base->Open(OpenPath()));
    return base;
  }

  // The subject of every number up to Count as a new reader finds them
  // ("-": does not read), then what the header says wrongly.
  Strings Subjects() {
    const std::unique_ptr<MessageBase> base = Opened();
    Strings subjects;
    std::size_t live = 0;
    for (std::int32_t n = 1; n <= base->Count(); ++n) {
      Message m;
      const bool reads = !base->ReadMessage(n, m);
      live += reads ? 1 : 0;
      subjects.push_back(reads ? m.Subject.str() : "-");
    }
    if (F().check_header != nullptr) {
      for (std::string& wrong : F().check_header(disk_, kPath, live)) subjects.push_back(wrong);
    }
    return subjects;
  }

  std::string Read(MessageBase& base, std::int32_t number) {
    Message m;
    EXPECT_FALSE(base.ReadMessage(number, m)) << number;
    EXPECT_EQ(m.MsgState, 2);
    return testing::Describe(m);
  }

  MemoryPlatform disk_;
  ScopedPlatform installed_{disk_};
};

TEST_P(MessageContractTest, AWriteBeyondTheLastMessageTakesTheNextNumber) {
  MakeBase(3);
  const std::unique_ptr<MessageBase> base = Opened();
  const auto m = Tagged("new");
  ASSERT_FALSE(base->WriteMessage(kPastTheEnd, *m));
  EXPECT_EQ(m->MsgState, 3);
  const std::int32_t number = F().writes_take_free_numbers ? kPastTheEnd : 4;
  EXPECT_EQ(base->Count(), number);
  Message back;
  ASSERT_FALSE(base->ReadMessage(number, back));
  EXPECT_EQ(back.Subject, "new");
  EXPECT_TRUE(base->ReadMessage(number + 1, back));
  Strings want = {"m1", "m2", "m3"};
  want.resize(static_cast<std::size_t>(number - 1), "-");
  want.push_back("new");
  EXPECT_EQ(Subjects(), want);
}

TEST_P(MessageContractTest, AReplacementReadsAsTheSameMessageAppended) {
  MakeBase(3);
  std::unique_ptr<MessageBase> base = Opened();
  ASSERT_FALSE(base->WriteMessage(2, *Tagged("new")));
  EXPECT_EQ(base->Count(), F().replacement_counts ? 4 : 3);
  base.reset();
  const bool last = F().replacement_goes_last;
  EXPECT_EQ(Subjects(), (last ? Strings{"m1", "m3", "new"} : Strings{"m1", "new", "m3"}));
  base = Opened();
  ASSERT_FALSE(base->AppendMessage(*Tagged("new")));
  EXPECT_EQ(Read(*base, last ? 3 : 2), Read(*base, base->Count()));
}

TEST_P(MessageContractTest, ADeletedMessageIsGoneForTheNextReader) {
  MakeBase(3);
  std::unique_ptr<MessageBase> base = Opened();
  ASSERT_FALSE(base->DeleteMessage(2));
  Message back;
  switch (F().deletion) {
    case Deletion::kLeavesAGap:
      EXPECT_EQ(base->Count(), 3);
      EXPECT_FALSE(base->IsValidMsg(2));
      EXPECT_TRUE(base->ReadMessage(2, back));
      EXPECT_TRUE(base->DeleteMessage(2));  // nothing left to delete
      break;
    case Deletion::kRenumbers:
      EXPECT_EQ(base->Count(), 2);
      ASSERT_FALSE(base->ReadMessage(2, back));
      EXPECT_EQ(back.Subject, "m3");
      break;
    case Deletion::kDeferred:
      EXPECT_EQ(base->Count(), 3);
      ASSERT_FALSE(base->ReadMessage(2, back));
      EXPECT_EQ(back.Subject, "m2");
      EXPECT_FALSE(base->DeleteMessage(2));  // twice is once
      break;
  }
  base.reset();
  const bool gap = F().deletion == Deletion::kLeavesAGap;
  EXPECT_EQ(Subjects(), (gap ? Strings{"m1", "-", "m3"} : Strings{"m1", "m3"}));
  // Every number that reads is among those worth reading.
  base = Opened();
  const std::vector<std::int32_t> numbers = base->MessageNumbers();
  for (std::int32_t n = 1; n <= base->Count(); ++n) {
    if (!base->ReadMessage(n, back)) {
      EXPECT_NE(std::find(numbers.begin(), numbers.end(), n), numbers.end()) << n;
    }
  }
  // A write at the number of the gap fills it; elsewhere it replaces.
  ASSERT_FALSE(base->WriteMessage(2, *Tagged("again")));
  base.reset();
  EXPECT_EQ(Subjects(), (gap ? Strings{"m1", "again", "m3"} : Strings{"m1", "again"}));
}

TEST_P(MessageContractTest, AWriteAfterAnotherWritersAppendLosesNeither) {
  MakeBase(1);
  std::unique_ptr<MessageBase> ours = Opened();
  ASSERT_EQ(ours->Count(), 1);
  ASSERT_FALSE(Opened()->AppendMessage(*Tagged("theirs")));
  ASSERT_FALSE(ours->WriteMessage(2, *Tagged("ours")));
  ASSERT_FALSE(ours->WriteMessage(kPastTheEnd, *Tagged("past")));
  ours.reset();
  Strings want =
      F().stale_number_replaces ? Strings{"m1", "ours"} : Strings{"m1", "theirs", "ours"};
  if (F().writes_take_free_numbers) want.resize(kPastTheEnd - 1, "-");
  want.push_back("past");
  EXPECT_EQ(Subjects(), want);
}

TEST_P(MessageContractTest, LongNamesAndSubjectsReadBackCutToTheirFields) {
  MakeBase(0);
  const std::unique_ptr<MessageBase> base = Opened();
  const auto m = Tagged("n");
  m->From = std::string(40, 'F');
  m->To = std::string(40, 'T');
  m->Subject = std::string(80, 'S');
  ASSERT_FALSE(base->WriteMessage(1, *m));
  Message back;
  ASSERT_FALSE(Opened()->ReadMessage(1, back));
  EXPECT_EQ(back.From, std::string(F().name_width, 'F'));
  EXPECT_EQ(back.To, std::string(F().name_width, 'T'));
  EXPECT_EQ(back.Subject, std::string(F().subject_width, 'S'));
}

// An echomail names no netmail addresses: its origin line says where it
// was written.
TEST_P(MessageContractTest, AnEchomailStoresNoNetmailKludgesButItsOrigin) {
  MakeBase(0);
  const auto m = Tagged("e");
  m->OrigPoint = 4;
  m->MsgId = "2:5020/1 e";
  m->Intl = "2:5020/2 2:5020/1";
  m->Tid = "tool 1";
  ASSERT_FALSE(Opened()->WriteMessage(1, *m));
  std::string stored;
  for (const std::string& path : disk_.ListTree()) stored += disk_.ReadFileBytes(path).value_or("");
  for (const char* kludge : {"INTL", "FMPT", "TOPT"}) {
    EXPECT_EQ(stored.find(kludge), std::string::npos) << kludge;
  }
  EXPECT_NE(stored.find(" * Origin: (2:5020/1.4)\r"), std::string::npos);
  Message back;
  ASSERT_FALSE(Opened()->ReadMessage(1, back));
  EXPECT_EQ(back.MsgId, m->MsgId);
  EXPECT_EQ(back.Tid, "tool 1");
  EXPECT_EQ(back.OrigAddressText(), F().echomail_point_read_back ? "2:5020/1.4" : "2:5020/1");
  EXPECT_EQ(TextOf(back), "Body of e\r");
}

TEST_P(MessageContractTest, AMessageWithNothingSetReadsBackEmpty) {
  MakeBase(0);
  Message m;
  ASSERT_FALSE(Opened()->WriteMessage(1, m));
  const std::unique_ptr<MessageBase> base = Opened();
  ASSERT_EQ(base->Count(), 1);
  Message back;
  back.From = "stale";
  ASSERT_FALSE(base->ReadMessage(1, back));
  EXPECT_EQ(back.From, "");
  EXPECT_EQ(back.Subject, "");
  EXPECT_EQ(TextOf(back), "");
}

TEST_P(MessageContractTest, AnEmptyBaseOpensWithNothingToReadOrDelete) {
  MakeBase(0);
  const std::unique_ptr<MessageBase> base = F().make();
  EXPECT_FALSE(base->Open(OpenPath()));
  EXPECT_EQ(base->State(), F().empty_state);
  EXPECT_EQ(base->Count(), 0);
  Message m;
  EXPECT_TRUE(base->ReadMessage(1, m));
  EXPECT_TRUE(base->DeleteMessage(1));
}

// Opening a base and reading a message whose text takes more than one
// read, failing each call in turn: the message read is the whole one.
TEST_P(MessageContractTest, AReadUnderAFailingCallIsWholeOrRefused) {
  struct Env {
    MemoryPlatform disk;
    bool failed = true;
    Message message;
    MemoryPlatform& platform() { return disk; }
  };
  const std::string body = std::string(10000, 'b') + "\r";
  int fired = 0;
  for (const PlatformOp op :
       {PlatformOp::kOpenFile, PlatformOp::kRead, PlatformOp::kShortRead, PlatformOp::kReadAt,
        PlatformOp::kShortReadAt, PlatformOp::kSeek, PlatformOp::kSize, PlatformOp::kStat}) {
    const testing::SweepReport report = testing::SweepFaults<Env>(
        op, testing::FailMode::kOnce,
        [&] {
          auto env = std::make_unique<Env>();
          env->disk.SetBackslashIsSeparator(kHostIsWindows);
          ScopedPlatform installed(env->disk);
          const std::unique_ptr<MessageBase> base = F().make();
          EXPECT_FALSE(base->Create(OpenPath()));
          const auto m = Tagged("long");
          m->Text.Write(body.data(), body.size());
          EXPECT_FALSE(base->WriteMessage(1, *m));
          return env;
        },
        [&](Env& env) {
          const std::unique_ptr<MessageBase> base = F().make();
          env.failed = base->Open(OpenPath()) || base->ReadMessage(1, env.message);
        },
        [&](Env& env, const testing::FaultRun& run) {
          fired += run.fired ? 1 : 0;
          if (!run.fired) {
            EXPECT_FALSE(env.failed);
          } else if (F().every_read_fault_reported && run.op != PlatformOp::kShortRead &&
                     run.op != PlatformOp::kShortReadAt && run.op != PlatformOp::kStat) {
            EXPECT_TRUE(env.failed);
          }
          if (!env.failed) {
            EXPECT_EQ(env.message.Subject, "long");
            EXPECT_EQ(TextOf(env.message), "Body of long\r" + body);
          }
        });
    EXPECT_TRUE(report.completed) << testing::OpName(op);
  }
  // Every format opens and reads a few files, in more than one piece.
  EXPECT_GE(fired, 6);
}

const std::vector<MessageTraits>& AllFormats();

// Copied from this format into each format as qlrmsg copy does it (append,
// read with the routing lines kept), every field that both can hold reads
// back unchanged, in a second base of the same format too.
TEST_P(MessageContractTest, EveryFieldBothFormatsHoldSurvivesACopy) {
  disk_.SetClockStep(0);
  Message original;
  FillEveryField(original);
  const Fields want = FieldsOf(original);
  // Appends `m` to the base a base line names and reads it back.
  const auto copy = [](const std::string& base_line, Message& m, Message& back) {
    std::unique_ptr<MessageBase> base = OpenBase(base_line);
    ASSERT_NE(base, nullptr);
    ASSERT_FALSE(base->AppendMessage(m));
    const std::int32_t number = base->Count();
    base = OpenBase(base_line);
    ASSERT_NE(base, nullptr);
    back.KeepRouting = true;
    ASSERT_FALSE(base->ReadMessage(number, back));
  };
  for (const MessageTraits& to : AllFormats()) {
    SCOPED_TRACE(std::string(F().name) + " -> " + to.name);
    const std::string dir = "/m" + std::string(1, PathSeparator());
    Message source, first, copied;
    FillEveryField(source);
    copy(F().type + dir + F().name, source, first);
    copy(to.type + dir + to.name + "-copy", first, copied);
    const Fields got = FieldsOf(copied);
    for (const auto& [field, value] : want) {
      if (F().lost.count(field) || to.lost.count(field)) continue;
      EXPECT_EQ(got.at(field), value) << field;
    }
  }
}

template <class Base>
MessageTraits Format(const char* name, char type, Deletion deletion, bool mandatory) {
  MessageTraits f;
  f.name = name, f.type = type, f.deletion = deletion, f.mandatory_locks = mandatory;
  f.make = [] { return std::unique_ptr<MessageBase>(new Base); };
  return f;
}

MessageTraits Jam(const char* name, bool mandatory) {
  MessageTraits f = Format<JamBase>(name, '!', Deletion::kLeavesAGap, mandatory);
  f.stale_number_replaces = f.echomail_point_read_back = true;
  f.check_header = testing::CheckJamHeader;
  // The attributes without a JAM bit (audit and update request, is-a-
  // receipt, the two carried bits).
  f.lost = {"attr:ARq", "attr:URq", "attr:RRc", "attr:b16", "attr:b17"};
  return f;
}

MessageTraits Squish(const char* name, bool mandatory) {
  MessageTraits f = Format<SquishBase>(name, '$', Deletion::kRenumbers, mandatory);
  f.stale_number_replaces = f.echomail_point_read_back = true;
  f.check_header = testing::CheckSquishHeader;
  f.lost = {"Date"};  // the exact second: its dates are packed DOS values
  return f;
}

MessageTraits Packet(const char* name, bool mandatory) {
  MessageTraits f = Format<PacketBase>(name, 'P', Deletion::kDeferred, mandatory);
  f.suffix = ".pkt";
  f.replacement_goes_last = true;
  f.name_width = 35, f.subject_width = 71;  // each with its NUL
  f.empty_state = BaseState::kOpenError;
  f.lost = {"DateArrived", "attr:b16", "attr:b17"};  // it keeps the low 16 attribute bits
  return f;
}

MessageTraits MsgDir() {
  MessageTraits f = Format<MsgDirBase>("MsgDir", '#', Deletion::kLeavesAGap, false);
  f.suffix = PathSeparator() + std::string("*.msg");
  f.replacement_counts = f.writes_take_free_numbers = true;
  f.every_read_fault_reported = true;
  // The packed date words are never kept (the date travels as the FTS
  // text), nor the attribute bits above the low 16.
  f.lost = {"DateArrived", "attr:b16", "attr:b17"};
  return f;
}

const std::vector<MessageTraits>& AllFormats() {
  static const std::vector<MessageTraits> formats = {Jam("Jam", false),
                                                     Jam("JamWindowsLocks", true),
                                                     Squish("Squish", false),
                                                     Squish("SquishWindowsLocks", true),
                                                     Packet("Packet", false),
                                                     Packet("PacketWindowsLocks", true),
                                                     MsgDir()};
  return formats;
}

INSTANTIATE_TEST_SUITE_P(Formats, MessageContractTest, ::testing::ValuesIn(AllFormats()),
                         [](const auto& named) { return std::string(named.param.name); });

}  // namespace
}  // namespace qlr
