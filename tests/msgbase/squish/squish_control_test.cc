// Splitting the control information of a Squish frame into fields.
#include "msgbase/squish/squish_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qlr {
namespace {

std::vector<std::string> Items(const Collection<KludgeLine>& lines) {
  std::vector<std::string> out;
  for (const auto& item : lines)
    out.push_back(std::string(item->Prefix.view()) + "|" + std::string(item->Value.view()));
  return out;
}

TEST(SquishControlTest, FilesEachLineByItsPrefix) {
  const std::string nul(1, '\0');
  const struct {
    const char* name;
    std::string block;
    std::string msgid, intl, pid, flags, reply;
    std::uint16_t orig_point, dest_point;
    std::vector<std::string> kludges, trail;
  } cases[] = {
      {"MSGID and TID",
       "\x01MSGID: 1:2/3 12345678\x01TID: x" + nul,
       "1:2/3 12345678",
       "",
       "",
       "",
       "",
       0,
       0,
       {},
       {}},
      {"prefixes without case",
       "\x01msgid: a\x01"
       "fmpt 7\x01topt 9\x01pid: p" +
           nul,
       "a",
       "",
       "p",
       "",
       "",
       7,
       9,
       {},
       {}},
      {"INTL, REPLY, FLAGS",
       "\x01INTL 1:1/1 2:2/2\x01REPLY: r\x01"
       "FLAGS DIR" +
           nul,
       "",
       "1:1/1 2:2/2",
       "",
       "DIR",
       "r",
       0,
       0,
       {},
       {}},
      {"points that are no number",
       "\x01"
       "FMPT x\x01TOPT " +
           nul,
       "",
       "",
       "",
       "",
       "",
       0,
       0,
       {},
       {}},
      {"trailing lines keep their own spelling",
       "\x01via A\x01RECD B\x01"
       "Forwarded C" +
           nul,
       "",
       "",
       "",
       "",
       "",
       0,
       0,
       {},
       {"\x01Via |A", "\x01Recd |B",
        "\x01"
        "Forwarded |C"}},
      {"empty pieces and text ahead",
       "junk\x01\x01\x01X" + nul,
       "",
       "",
       "",
       "",
       "",
       0,
       0,
       {"\x01|X"},
       {}},
      {"an empty block", nul, "", "", "", "", "", 0, 0, {}, {}},
      {"long lines cut to 255",
       "\x01" + std::string(300, 'k') + nul,
       "",
       "",
       "",
       "",
       "",
       0,
       0,
       {"\x01|" + std::string(254, 'k')},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Message m;
    ParseSquishControl(c.block, m);
    EXPECT_EQ(m.MsgId, c.msgid);
    EXPECT_EQ(m.Intl, c.intl);
    EXPECT_EQ(m.Pid, c.pid);
    EXPECT_EQ(m.Flags, c.flags);
    EXPECT_EQ(m.ReplyId, c.reply);
    EXPECT_EQ(m.OrigPoint, c.orig_point);
    EXPECT_EQ(m.DestPoint, c.dest_point);
    EXPECT_EQ(Items(m.Kludges), c.kludges);
    EXPECT_EQ(Items(m.TrailLines), c.trail);
  }
  // TID has a field of its own, as in the other formats.
  Message tid;
  ParseSquishControl("\x01TID: x" + nul, tid);
  EXPECT_EQ(tid.Tid, "x");
}

TEST(SquishControlTest, ComposedControlReadsBack) {
  Message m;
  m.OrigPoint = 3;
  m.DestPoint = 4;
  m.Intl = "2:2/2 1:1/1";
  m.MsgId = "1:1/1.3 1";
  m.ReplyId = "2:2/2 9";
  m.Flags = "DIR";
  m.Pid = "p";
  auto k = std::make_unique<KludgeLine>();
  k->Prefix = NewStr("\x01");
  k->Value = NewStr("CHRS: CP866 2");
  m.Kludges.Insert(std::move(k));
  const std::string block = ComposeSquishControl(m);
  EXPECT_EQ(block,
            "\x01"
            "FMPT 3\x01TOPT 4\x01INTL 2:2/2 1:1/1\x01MSGID: 1:1/1.3 1\x01REPLY: 2:2/2 "
            "9\x01"
            "FLAGS DIR\x01PID: p\x01"
            "CHRS: CP866 2" +
                std::string(1, '\0'));
  Message r;
  ParseSquishControl(block, r);
  EXPECT_EQ(r.OrigPoint, 3);
  EXPECT_EQ(r.DestPoint, 4);
  EXPECT_EQ(r.Intl, m.Intl);
  EXPECT_EQ(r.MsgId, m.MsgId);
  EXPECT_EQ(r.ReplyId, m.ReplyId);
  EXPECT_EQ(r.Flags, "DIR");
  EXPECT_EQ(r.Pid, "p");
  EXPECT_EQ(Items(r.Kludges), std::vector<std::string>{"\x01|CHRS: CP866 2"});
}

}  // namespace
}  // namespace qlr
