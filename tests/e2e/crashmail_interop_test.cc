// quillor beside a real tosser: packets that qlrmsg writes are tossed by
// crashmail into *.msg and JAM areas, and what crashmail writes (tossed
// messages, exported packets) is read back with qlrmsg, field by field.
// crashmail is used as a black box through its command line; the tests
// skip when it is not installed (Debian: apt-get install crashmail).
//
// Habits of crashmail that the expectations allow for (they are the
// tosser's, not quillor's, and are not asserted as right):
// - It sets the Sent attribute on every message it tosses into an area,
//   so that its own scan does not export it again.
// - In *.msg areas it never exports message 1 (it keeps its high-water
//   mark there) and starts the messages it tosses at number 2.
// - In the *.msg header of a tossed echomail it stores 0 as net and node
//   on both sides; the originating address is then only in the MSGID and
//   the origin line. FTS-0001 gives the header the originator's address,
//   so the Orig of such a message is not compared.
// - It takes a file for a packet only when its name is eight characters
//   and ".pkt"; any other name (also a *.out netmail packet) is taken for
//   an archive and renamed to *.bad. The tests name their packets so.
// - The 36- and 72-byte name fields of the *.msg headers it writes hold
//   stray bytes after the terminating NUL (the fields are NUL-terminated,
//   so readers stop at the NUL).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "e2e/interop/crashmail_node.h"
#include "e2e/interop/ftn_records.h"
#include "e2e/interop/shown_message.h"
#include "e2e/qlr_fixture.h"
#include "testing/run_program.h"
#include "testing/scratch_dir.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;
using interop::CrashmailNode;
using interop::FtnAddress;
using interop::RawMessage;
using interop::ShownMessage;

std::string QlrmsgBinary() { return ProgramUnderTest("QLRMSG_BINARY", QLR_DEFAULT_QLRMSG); }

std::string TemplatePath() {
  return (fs::path(__FILE__).parent_path() / "interop" / "crashmail.prefs.in").string();
}

// The system quillor runs on, and its uplink.
const FtnAddress kOurs{2, 5020, 1042, 0};
const FtnAddress kLink{2, 5020, 1, 0};
constexpr const char* kOursText = "2:5020/1042.0";
constexpr const char* kLinkText = "2:5020/1.0";

constexpr std::uint16_t kPrivate = 0x0001;
constexpr std::uint16_t kSent = 0x0008;
constexpr std::uint16_t kLocal = 0x0100;

// A netmail from a point of the link to the sysop here, with the kludges
// and the trailing Via line a netmail carries. The body has an empty
// line, a trailing blank and 8-bit characters.
RawMessage InboundNetmail() {
  RawMessage m;
  m.from = "Bob Sender";
  m.to = "Al Sysop";
  m.subject = "Interop netmail";
  m.date = "05 Mar 21  10:20:30";
  m.orig = {0, 5020, 1, 0};
  m.dest = {0, 5020, 1042, 0};
  m.attribute = kPrivate;
  m.text =
      "\x01INTL 2:5020/1042 2:5020/1\r"
      "\x01"
      "FMPT 3\r"
      "\x01MSGID: 2:5020/1.3@fidonet 1234abcd\r"
      "\x01REPLY: 2:5020/1042 87654321\r"
      "\x01PID: Writer 1.0\r"
      "\x01"
      "CHRS: CP866 2\r"
      "Hello Al, \r"
      "\r"
      "Second paragraph: \x8f\xe0\xa8\xa2\xa5\xe2.\r"
      "\x01Via 2:5020/1 @20210305.102030 Writer 1.0\r";
  return m;
}

// An echomail of area `tag` as the link sends it: AREA line first, then
// kludges, body, tear line, origin, SEEN-BY and PATH.
RawMessage InboundEcho(const std::string& tag, const std::string& subject, const char* serial) {
  RawMessage m;
  m.from = "Carol Echo";
  m.to = "All";
  m.subject = subject;
  m.date = "06 Mar 21  11:22:33";
  m.orig = {0, 5020, 1, 0};
  m.dest = {0, 5020, 1042, 0};
  m.text = "AREA:" + tag + "\r" + "\x01MSGID: 2:5020/1 " + serial + "\r" +
           "\x01REPLY: 2:5020/1042 00000001\r"
           "\x01PID: Writer 1.0\r"
           "\x01TID: Packer 2.1\r"
           "\x01"
           "CHRS: CP866 2\r"
           "First line of " +
           tag + "\r" +
           "  indented, trailing blank \r"
           "--- Editor 3\r"
           " * Origin: Remote BBS (2:5020/1)\r"
           "SEEN-BY: 5020/1\r"
           "\x01PATH: 5020/1\r";
  return m;
}

// What a tossed message must still hold of its source. Empty strings in
// the table mean the field is not compared.
struct Expected {
  std::string spec;  // where qlrmsg finds it
  std::string from, to, subject, date, msgid, replyid, intl, pid, tid, tear, origin, area;
  std::string orig, dest;
  std::vector<std::string> kludges;  // all present, in this order
  std::vector<std::string> trails;   // all present, in this order
  std::string attr_flag;             // this attribute name among AttrFlags
  std::string text;
};

const std::string kEchoBody = "  indented, trailing blank \n";

Expected TossedNetmail(const std::string& spec) {
  Expected e;
  e.spec = spec;
  e.from = "Bob Sender";
  e.to = "Al Sysop";
  e.subject = "Interop netmail";
  e.date = "05 Mar 21  10:20:30";
  e.msgid = "2:5020/1.3@fidonet 1234abcd";
  e.replyid = "2:5020/1042 87654321";
  e.intl = "2:5020/1042 2:5020/1";
  e.pid = "Writer 1.0";
  e.orig = "2:5020/1.3@fidonet";
  e.dest = "2:5020/1042.0@fidonet";
  e.kludges = {"^ACHRS: CP866 2"};
  e.trails = {"^AVia 2:5020/1 @20210305.102030 Writer 1.0"};
  e.attr_flag = "Pvt";
  e.text = "Hello Al, \n\nSecond paragraph: \x8f\xe0\xa8\xa2\xa5\xe2.\n";
  return e;
}

Expected TossedEcho(const std::string& spec, const std::string& tag, const std::string& subject,
                    const char* serial) {
  Expected e;
  e.spec = spec;
  e.from = "Carol Echo";
  e.to = "All";
  e.subject = subject;
  e.date = "06 Mar 21  11:22:33";
  e.msgid = std::string("2:5020/1 ") + serial;
  e.replyid = "2:5020/1042 00000001";
  e.pid = "Writer 1.0";
  e.tid = "Packer 2.1";
  e.tear = "Editor 3";
  e.origin = "Remote BBS ";
  e.kludges = {"^ACHRS: CP866 2"};
  e.text = "First line of " + tag + "\n" + kEchoBody;
  return e;
}

// `want` appear in `have` in the same order (others may be between).
bool InOrder(const std::vector<std::string>& want, const std::vector<std::string>& have) {
  auto it = have.begin();
  for (const std::string& w : want) {
    it = std::find(it, have.end(), w);
    if (it == have.end()) return false;
    ++it;
  }
  return true;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += "  " + l + "\n";
  return all;
}

void Compare(const Expected& e, const ShownMessage& m, const std::string& where) {
  SCOPED_TRACE(where);
  ASSERT_TRUE(m.complete) << "no Text: line";
  const std::pair<const char*, const std::string*> fields[] = {
      {"From", &e.from},   {"To", &e.to},           {"Subject", &e.subject}, {"Date", &e.date},
      {"MsgId", &e.msgid}, {"ReplyId", &e.replyid}, {"Intl", &e.intl},       {"Pid", &e.pid},
      {"Tid", &e.tid},     {"TearLine", &e.tear},   {"Origin", &e.origin},   {"Orig", &e.orig},
      {"Dest", &e.dest},
  };
  for (const auto& [name, value] : fields) {
    if (!value->empty()) {
      EXPECT_EQ(m[name], *value) << name;
    }
  }
  EXPECT_EQ(m["Area"], e.area);
  EXPECT_TRUE(InOrder(e.kludges, m.kludges)) << "kludges:\n" << Joined(m.kludges);
  EXPECT_TRUE(InOrder(e.trails, m.trails)) << "trailing lines:\n" << Joined(m.trails);
  if (!e.attr_flag.empty()) {
    EXPECT_NE((" " + m["AttrFlags"] + " ").find(" " + e.attr_flag + " "), std::string::npos)
        << m["AttrFlags"];
  }
  EXPECT_EQ(m.text, e.text);
}

class CrashmailInteropTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "crashmail runs on the POSIX build only";
#else
    crashmail_ = interop::FindCrashmail();
    if (crashmail_.empty()) {
      GTEST_SKIP() << "crashmail is not installed (Debian: apt-get install crashmail)";
    }
    ours_ = std::make_unique<CrashmailNode>(crashmail_, dir_.Path("ours"), kOursText, kLinkText);
    ASSERT_NO_FATAL_FAILURE(ours_->Install(TemplatePath()));
#endif
  }

  ProgramResult Qlrmsg(const std::vector<std::string>& args) {
    return RunProgram(QlrmsgBinary(), args, dir_.root());
  }
  // Runs qlrmsg copy and checks it copied `count` messages.
  void Copy(const std::string& from, const std::string& to, int count) {
    const ProgramResult r = Qlrmsg({"copy", from, to});
    ASSERT_EQ(r.exit_code, 0) << from << " -> " << to << ": " << r.err;
    ASSERT_EQ(r.out, "copied " + std::to_string(count) + "\n");
  }
  // The numbers `qlrmsg list` shows for `spec`.
  std::vector<int> Numbers(const std::string& spec) {
    const ProgramResult r = Qlrmsg({"list", spec});
    EXPECT_EQ(r.exit_code, 0) << spec << ": " << r.err;
    std::vector<int> numbers;
    std::size_t pos = 0;
    while (pos < r.out.size()) {
      numbers.push_back(std::stoi(r.out.substr(pos, r.out.find('\t', pos) - pos)));
      pos = r.out.find('\n', pos);
      if (pos == std::string::npos) break;
      ++pos;
    }
    return numbers;
  }
  // The only message of `spec`, as qlrmsg shows it.
  ShownMessage OnlyMessage(const std::string& spec) {
    const std::vector<int> numbers = Numbers(spec);
    EXPECT_EQ(numbers.size(), 1u) << spec;
    if (numbers.size() != 1) return {};
    const ProgramResult r = Qlrmsg({"show", spec, std::to_string(numbers[0])});
    EXPECT_EQ(r.exit_code, 0) << spec << ": " << r.err;
    return interop::ParseShow(r.out);
  }
  void ExpectRan(const ProgramResult& r, const CrashmailNode& node) {
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err << "\nlog:\n" << node.Log();
  }

  // The inbound messages as the link would pack them: one netmail and one
  // echomail for each of the two areas.
  std::vector<RawMessage> InboundMessages() {
    return {InboundNetmail(), InboundEcho("ECHO.MSG", "Into the msg area", "00000002"),
            InboundEcho("ECHO.JAM", "Into the JAM area", "00000003")};
  }
  // What the tosser must have put where, for InboundMessages.
  std::vector<Expected> TossedMessages() {
    Expected jam =
        TossedEcho("!" + ours_->Path("jam/echo"), "ECHO.JAM", "Into the JAM area", "00000003");
    // JAM keeps the originating address in a header field of its own.
    jam.orig = "2:5020/1.0";
    // TID (a kludge subfield) and the exact second read back as elsewhere.
    return {TossedNetmail("#" + ours_->Path("netmail")),
            TossedEcho("#" + ours_->Path("echo"), "ECHO.MSG", "Into the msg area", "00000002"),
            jam};
  }
  // A base the tosser wrote checks sound.
  void ExpectSound(const std::string& spec) {
    const ProgramResult check = Qlrmsg({"check", spec});
    EXPECT_EQ(check.exit_code, 0) << spec << ":\n" << check.out << check.err;
  }
  void CheckTossed() {
    for (const Expected& e : TossedMessages()) {
      Compare(e, OnlyMessage(e.spec), e.spec);
      ExpectSound(e.spec);
    }
    // Nothing was judged bad.
    EXPECT_TRUE(fs::is_empty(ours_->Path("bad"))) << ours_->Log();
  }

  ScratchDir dir_;
  std::string crashmail_;
  std::unique_ptr<CrashmailNode> ours_;
};

// A packet written byte by byte as another system writes it: this checks
// that qlrmsg reads what the tosser stores, independent of quillor's own
// packet writer.
TEST_F(CrashmailInteropTest, HandMadePacketIsTossedIntoAreasThatQlrmsgReads) {
  dir_.WriteFile("in/handmade.pkt", interop::PacketBytes(kLink, kOurs, InboundMessages()));
  ExpectRan(ours_->Toss(dir_.Path("in/handmade.pkt")), *ours_);
  CheckTossed();
}

// A JAM area that qlrmsg made is one the tosser writes into as it is:
// a base it takes for broken (one without its last-read file) it creates
// anew, and what qlrmsg had put there is gone.
TEST_F(CrashmailInteropTest, JamAreaMadeByQlrmsgKeepsItsMessagesWhenTossedInto) {
  const std::string jam = "!" + ours_->Path("jam/echo");
  dir_.WriteFile(
      "src/echo.pkt",
      interop::PacketBytes(kLink, kOurs, {InboundEcho("ECHO.JAM", "Copied", "0000000c")}));
  ASSERT_NO_FATAL_FAILURE(Copy("P" + dir_.Path("src/echo"), jam, 1));
  dir_.WriteFile("in/handmade.pkt", interop::PacketBytes(kLink, kOurs, InboundMessages()));
  ExpectRan(ours_->Toss(dir_.Path("in/handmade.pkt")), *ours_);
  EXPECT_EQ(Numbers(jam), (std::vector<int>{1, 2})) << ours_->Log();
}

// The same messages, but the packet the tosser gets is the one qlrmsg
// copy writes: the netmail from a *.msg area, the echomail from a packet
// (a *.msg area has no place for an area tag). Tossing it must give the
// same messages as tossing the original.
TEST_F(CrashmailInteropTest, PacketWrittenByQlrmsgIsTossedIntoMsgAndJamAreas) {
  const std::vector<RawMessage> inbound = InboundMessages();
  dir_.WriteFile("src/netmail/1.msg", interop::StoredMessageBytes(inbound[0]));
  dir_.WriteFile("src/echo.pkt", interop::PacketBytes(kLink, kOurs, {inbound[1], inbound[2]}));
  ASSERT_NO_FATAL_FAILURE(Copy("#" + dir_.Path("src/netmail"), "P" + dir_.Path("in/0000c0de"), 1));
  ASSERT_NO_FATAL_FAILURE(Copy("P" + dir_.Path("src/echo"), "P" + dir_.Path("in/0000c0de"), 2));
  ExpectRan(ours_->Toss(dir_.Path("in/0000c0de.pkt")), *ours_);
  CheckTossed();
}

// Mail written here: a netmail for the link in the netmail area and an
// echomail in the *.msg echo area, both written by qlrmsg copy. The
// tosser's scan exports them; qlrmsg reads its packets, and the link (a
// second tosser) tosses them into *.msg areas that qlrmsg reads too.
TEST_F(CrashmailInteropTest, MsgAreasWrittenByQlrmsgAreScannedIntoPackets) {
  // Message 1 of each area is already sent: the tosser keeps its
  // high-water mark in 1.msg and never exports it anyway.
  RawMessage placeholder;
  placeholder.from = "Al Sysop";
  placeholder.to = "All";
  placeholder.subject = "Sent long ago";
  placeholder.date = "01 Jan 21  00:00:00";
  placeholder.orig = kOurs;
  placeholder.attribute = kSent | kLocal;
  placeholder.text = "Old.\r";

  RawMessage netmail;
  netmail.from = "Al Sysop";
  netmail.to = "Bob Remote";
  netmail.subject = "Outbound netmail";
  netmail.date = "07 Mar 21  12:00:01";
  netmail.orig = {0, 5020, 1042, 0};
  netmail.dest = {0, 5020, 1, 0};
  netmail.attribute = kPrivate | kLocal;
  netmail.text =
      "\x01INTL 2:5020/1 2:5020/1042\r"
      "\x01MSGID: 2:5020/1042 0000000a\r"
      "\x01PID: Writer 1.0\r"
      "\x01"
      "CHRS: CP866 2\r"
      "Netmail body, \r"
      "\r"
      "with \x8f\xe0\xa8\xa2\xa5\xe2.\r";

  RawMessage echo;
  echo.from = "Al Sysop";
  echo.to = "All";
  echo.subject = "Outbound echo";
  echo.date = "07 Mar 21  12:00:02";
  echo.orig = {0, 5020, 1042, 0};
  echo.attribute = kLocal;
  echo.text =
      "\x01MSGID: 2:5020/1042 0000000b\r"
      "\x01PID: Writer 1.0\r"
      "\x01"
      "CHRS: CP866 2\r"
      "Echo body\r"
      "--- Editor 3\r"
      " * Origin: Our BBS (2:5020/1042)\r";

  dir_.WriteFile("src/netmail/1.msg", interop::StoredMessageBytes(placeholder));
  dir_.WriteFile("src/netmail/2.msg", interop::StoredMessageBytes(netmail));
  dir_.WriteFile("src/echo/1.msg", interop::StoredMessageBytes(placeholder));
  dir_.WriteFile("src/echo/2.msg", interop::StoredMessageBytes(echo));
  ASSERT_NO_FATAL_FAILURE(Copy("#" + dir_.Path("src/netmail"), "#" + ours_->Path("netmail"), 2));
  ASSERT_NO_FATAL_FAILURE(Copy("#" + dir_.Path("src/echo"), "#" + ours_->Path("echo"), 2));

  ExpectRan(ours_->Scan(), *ours_);

  Expected net;
  net.from = "Al Sysop";
  net.to = "Bob Remote";
  net.subject = "Outbound netmail";
  net.date = "07 Mar 21  12:00:01";
  net.msgid = "2:5020/1042 0000000a";
  net.intl = "2:5020/1 2:5020/1042";
  net.pid = "Writer 1.0";
  net.orig = "2:5020/1042.0";
  net.dest = "2:5020/1.0";
  net.kludges = {"^ACHRS: CP866 2"};
  net.attr_flag = "Pvt";
  net.text = "Netmail body, \n\nwith \x8f\xe0\xa8\xa2\xa5\xe2.\n";

  Expected ech;
  ech.from = "Al Sysop";
  ech.to = "All";
  ech.subject = "Outbound echo";
  ech.date = "07 Mar 21  12:00:02";
  ech.msgid = "2:5020/1042 0000000b";
  ech.pid = "Writer 1.0";
  ech.tear = "Editor 3";
  ech.origin = "Our BBS ";
  ech.kludges = {"^ACHRS: CP866 2"};
  ech.text = "Echo body\n";

  // The scan marks what it exported as sent, in the files qlrmsg wrote.
  for (const char* area : {"netmail", "echo"}) {
    const ProgramResult r = Qlrmsg({"show", "#" + ours_->Path(area), "2"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const ShownMessage shown = interop::ParseShow(r.out);
    EXPECT_NE(shown["AttrFlags"].find("Snt"), std::string::npos) << area << ": " << r.out;
  }

  // Each packet is copied for qlrmsg, which names a packet base without
  // its extension .pkt: the netmail packet (*.out) is renamed so.
  const std::vector<std::string> packets = ours_->OutgoingPackets();
  ASSERT_EQ(packets.size(), 2u) << ours_->Log();
  fs::create_directories(dir_.Path("got"));
  std::vector<Expected> in_packets;
  for (const std::string& packet : packets) {
    const bool is_netmail = fs::path(packet).extension() == ".out";
    const std::string base = dir_.Path(std::string("got/") + (is_netmail ? "netmail" : "echo"));
    fs::copy_file(packet, base + ".pkt");
    Expected e = is_netmail ? net : ech;
    e.spec = "P" + base;
    if (!is_netmail) e.area = "ECHO.MSG";
    in_packets.push_back(e);
  }

  // The link tosses both packets into its own areas.
  CrashmailNode link(crashmail_, dir_.Path("link"), kLinkText, kOursText);
  ASSERT_NO_FATAL_FAILURE(link.Install(TemplatePath()));
  // It takes a file for a packet only by an eight-character name and
  // .pkt (a *.out is taken for an archive): it gets renamed copies.
  fs::copy_file(dir_.Path("got/netmail.pkt"), link.Path("inbound/00000001.pkt"));
  fs::copy_file(dir_.Path("got/echo.pkt"), link.Path("inbound/00000002.pkt"));
  ExpectRan(link.TossInbound(), link);
  net.spec = "#" + link.Path("netmail");
  Compare(net, OnlyMessage(net.spec), "netmail tossed at the link");
  ech.spec = "#" + link.Path("echo");
  Compare(ech, OnlyMessage(ech.spec), "echomail tossed at the link");
  EXPECT_TRUE(fs::is_empty(link.Path("bad"))) << link.Log();

  ExpectSound(net.spec);
  ExpectSound(ech.spec);

  // qlrmsg reads the packets themselves, and they check sound.
  for (const Expected& e : in_packets) {
    Compare(e, OnlyMessage(e.spec), e.spec);
    ExpectSound(e.spec);
  }
}

// The only numbered file of a *.msg area, byte for byte.
std::string OnlyStoredFile(const std::string& area) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(area)) {
    if (entry.path().extension() == ".msg") files.push_back(entry.path());
  }
  EXPECT_EQ(files.size(), 1u) << area;
  if (files.size() != 1) return {};
  std::ifstream in(files[0], std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Echomail passes through this system: its SEEN-BY and PATH lines must
// reach the next tosser, or that tosser's loop protection cannot work.
// A packet of echomail from a system behind the link (2:5020/777) is
// copied by qlrmsg into a new packet, which the tosser then tosses.
TEST_F(CrashmailInteropTest, RoutingLinesSurviveACopyIntoAPacketThatIsTossedAgain) {
  RawMessage echo = InboundEcho("ECHO.MSG", "Passed on", "00000777");
  const std::string lines = "SEEN-BY: 5020/1\r\x01PATH: 5020/1\r";
  echo.text.replace(echo.text.find(lines), lines.size(),
                    "SEEN-BY: 5020/1 777\rSEEN-BY: 5030/42\r\x01PATH: 5020/777 1\r");
  dir_.WriteFile("src/echo.pkt", interop::PacketBytes(kLink, kOurs, {echo}));
  ASSERT_NO_FATAL_FAILURE(Copy("P" + dir_.Path("src/echo"), "P" + dir_.Path("in/0000c0de"), 1));
  ExpectRan(ours_->Toss(dir_.Path("in/0000c0de.pkt")), *ours_);
  const std::string stored = OnlyStoredFile(ours_->Path("echo"));
  // The tosser may add its own address to the lines; the ones the
  // message came with must all still be there.
  for (const char* seen : {"777", "5030/42"}) {
    const std::size_t at = stored.find("SEEN-BY: ");
    ASSERT_NE(at, std::string::npos) << stored;
    EXPECT_NE(stored.find(seen, at), std::string::npos) << seen << " lost:\n" << stored;
  }
  EXPECT_NE(stored.find("\x01PATH: 5020/777 1"), std::string::npos) << stored;
}

// JAM stores dates to the second. A message the tosser put into a JAM
// area at 11:22:33, copied by qlrmsg into a packet that the tosser tosses
// again, still says 11:22:33 wherever the tosser writes it next (its
// netmail area or its outbound, by the address the copy carries): the
// copy never went through the two-second DOS value.
TEST_F(CrashmailInteropTest, JamDatesKeepTheirSecondThroughACopy) {
  const RawMessage echo = InboundEcho("ECHO.JAM", "Into the JAM area", "00000003");
  dir_.WriteFile("in/0000e000.pkt", interop::PacketBytes(kLink, kOurs, {echo}));
  ExpectRan(ours_->Toss(dir_.Path("in/0000e000.pkt")), *ours_);
  ASSERT_NO_FATAL_FAILURE(Copy("!" + ours_->Path("jam/echo"), "P" + dir_.Path("in/0000beef"), 1));
  ExpectRan(ours_->Toss(dir_.Path("in/0000beef.pkt")), *ours_);
  std::vector<std::string> written = ours_->OutgoingPackets();
  for (const auto& entry : fs::directory_iterator(ours_->Path("netmail"))) {
    written.push_back(entry.path().string());
  }
  std::string bytes;
  for (const std::string& file : written) {
    std::ifstream in(file, std::ios::binary);
    bytes += std::string(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(bytes.find("06 Mar 21  11:22:33"), std::string::npos) << ours_->Log();
  EXPECT_EQ(bytes.find("06 Mar 21  11:22:32"), std::string::npos);
}

// The 32-bit little-endian word at `offset` of `bytes`, 0 beyond its end.
std::uint32_t Word32(const std::string& bytes, std::size_t offset) {
  if (offset + 4 > bytes.size()) return 0;
  std::uint32_t word = 0;
  for (std::size_t i = 4; i-- > 0;) word = word << 8 | static_cast<std::uint8_t>(bytes[offset + i]);
  return word;
}

// A netmail that asks for a confirmation receipt (the FLAGS word CFM),
// tossed by the tosser into its *.msg netmail area and copied from there
// by qlrmsg into JAM. JAM keeps that request in attribute bit 0x00020000
// ("is a return receipt", RRc, has no JAM bit), read here from the file;
// qlrmsg reads it back as CFM. (The tosser cannot show either end in JAM:
// tossing into JAM it keeps "FLAGS CFM" as a plain kludge line and sets
// no attribute bit, and its scan of a JAM area exports neither.)
TEST_F(CrashmailInteropTest, ConfirmationRequestCopiedIntoJamIsItsAttributeBit) {
  RawMessage netmail = InboundNetmail();
  netmail.text.insert(0,
                      "\x01"
                      "FLAGS CFM\r");
  dir_.WriteFile("in/0000cf00.pkt", interop::PacketBytes(kLink, kOurs, {netmail}));
  ExpectRan(ours_->Toss(dir_.Path("in/0000cf00.pkt")), *ours_);
  ASSERT_NO_FATAL_FAILURE(Copy("#" + ours_->Path("netmail"), "!" + dir_.Path("jam/netmail"), 1));

  // The attribute word of the only message header, found through its
  // index record (offset 4 of the record, the word at 52 of the header).
  const std::uint32_t attribute =
      Word32(dir_.ReadFile("jam/netmail.jhr"), Word32(dir_.ReadFile("jam/netmail.jdx"), 4) + 52);
  EXPECT_EQ(attribute & 0x00020000u, 0x00020000u) << std::hex << attribute;
  const ShownMessage m = OnlyMessage("!" + dir_.Path("jam/netmail"));
  EXPECT_NE((" " + m["ExtFlags"] + " ").find(" Cfm "), std::string::npos) << m["ExtFlags"];
  EXPECT_EQ((" " + m["AttrFlags"] + " ").find(" RRc "), std::string::npos) << m["AttrFlags"];
}

}  // namespace
}  // namespace qlr::testing
