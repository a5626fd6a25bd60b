// The integrity check of every format: bases the library wrote check
// sound, and each kind of damage done to them by byte edits is found, on
// the right message, without touching the base.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "msgbase/base_file_images.h"
#include "msgbase/format_registry.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"
#include "support/coding.h"
#include "testing/corruption.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

using testing::ReadWholeFile;
using testing::WriteWholeFile;

// The files of one base, for byte edits by extension (or, in a
// directory, by file name).
class Files {
 public:
  explicit Files(std::string location) : location_(std::move(location)) {}
  std::string Path(const std::string& name) const { return location_ + name; }
  std::string Bytes(const std::string& name) const {
    return ReadWholeFile(Path(name)).value_or("");
  }
  void Put(const std::string& name, const std::string& bytes) const {
    EXPECT_TRUE(WriteWholeFile(Path(name), bytes)) << name;
  }
  std::uint32_t U32(const std::string& name, std::uint32_t offset) const {
    const std::string bytes = Bytes(name);
    EXPECT_LE(offset + 4, bytes.size()) << name;
    if (offset + 4 > bytes.size()) return 0;
    return DecodeFixed32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset);
  }
  void SetU32(const std::string& name, std::uint32_t offset, std::uint32_t value) const {
    std::string bytes = Bytes(name);
    ASSERT_LE(offset + 4, bytes.size()) << name;
    EncodeFixed32(reinterpret_cast<std::uint8_t*>(bytes.data()) + offset, value);
    Put(name, bytes);
  }
  void Cut(const std::string& name, std::size_t drop) const {
    const std::string bytes = Bytes(name);
    Put(name, bytes.substr(0, bytes.size() - drop));
  }
  // The first frame of the message chain of a Squish base.
  std::uint32_t FirstFrame() const { return U32(".sqd", 104); }

 private:
  std::string location_;
};

struct CheckCase {
  const char* name;
  char type;  // the character that names the format: !, $, # or P
  std::function<void(const Files&)> damage;
  // Empty: the base checks sound.
  std::string finding;
  std::int64_t number = 0;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

const auto kIntact = [](const Files&) {};

const CheckCase kCases[] = {
    {"JamSound", '!', kIntact, "", 0},
    {"SquishSound", '$', kIntact, "", 0},
    {"PacketSound", 'P', kIntact, "", 0},
    {"MsgDirSound", '#', kIntact, "", 0},
    // JAM: index record 1 is at .jdx offset 0, its header at .jhr 1024.
    {"JamIndexPastHeaders", '!', [](const Files& f) { f.SetU32(".jdx", 4, 0x7FFFFFF0); },
     "index points past the end of .jhr", 1},
    {"JamIndexIntoBaseHeader", '!', [](const Files& f) { f.SetU32(".jdx", 4, 16); },
     "index points into the .jhr base header", 1},
    {"JamSharedHeader", '!', [](const Files& f) { f.SetU32(".jdx", 20, f.U32(".jdx", 4)); },
     "index points at the header of message 1", 3},
    {"JamNoSignature", '!', [](const Files& f) { f.SetU32(".jhr", 1024, 0x2A2A2A2A); },
     "has no JAM signature", 1},
    {"JamNoBaseSignature", '!', [](const Files& f) { f.SetU32(".jhr", 0, 0); },
     "base header has no JAM signature", 0},
    {"JamTextPastTexts", '!', [](const Files& f) { f.SetU32(".jhr", 1024 + 64, 0x10000); },
     "passes the end of .jdt", 1},
    {"JamTextOffsetPastTexts", '!', [](const Files& f) { f.SetU32(".jhr", 1024 + 60, 0x7FFFFFF0); },
     "the text (offset 2147483632, 5 bytes) passes the end of .jdt", 1},
    {"JamSubfieldLenPastHeaders", '!',
     [](const Files& f) { f.SetU32(".jhr", 1024 + 8, 0x7FFFFFFF); },
     "SubfieldLen 2147483647 passes the end of .jhr", 1},
    {"JamSubfieldOverrun", '!', [](const Files& f) { f.SetU32(".jhr", 1024 + 76 + 4, 0xFFFF); },
     "of 65535 bytes overruns SubfieldLen", 1},
    {"JamActiveMsgs", '!', [](const Files& f) { f.SetU32(".jhr", 12, 7); },
     "ActiveMsgs says 7, the headers hold 3", 0},
    {"JamPartialIndex", '!', [](const Files& f) { f.Cut(".jdx", 3); }, "partial index record", 0},
    {"JamIndexOfGarbage", '!', [](const Files& f) { f.Put(".jdx", std::string(8 * 2000, 1)); },
     "more problems follow; the check lists the first 1000", 0},
    {"JamMissingTexts", '!', [](const Files& f) { std::filesystem::remove(f.Path(".jdt")); },
     ".jdt is missing", 0},
    {"JamShortBaseHeader", '!', [](const Files& f) { f.Put(".jhr", "JAM"); },
     "shorter than its 1024-byte base header", 0},
    // Squish: NumMsg at 4, HighMsg at 8, BeginFrame at 104, EndFrame at
    // 120; a frame header holds NextFrame at 4 and the lengths at 12, 16
    // and 20. Index record 1 is at .sqi offset 0.
    {"SquishNumMsg", '$', [](const Files& f) { f.SetU32(".sqd", 4, 5); },
     "NumMsg says 5, .sqi holds 3 index records", 0},
    {"SquishIndexBeyondData", '$', [](const Files& f) { f.Put(".sqi", std::string(12 * 100, 0)); },
     "index records, .sqd room for", 0},
    {"SquishHighMsg", '$', [](const Files& f) { f.SetU32(".sqd", 8, 9); },
     "HighMsg 9 differs from NumMsg 3", 0},
    {"SquishEndFrame", '$', [](const Files& f) { f.SetU32(".sqd", 120, 0x7FFFFFF0); },
     "EndFrame 2147483632 lies past the end of .sqd", 0},
    {"SquishChainLoops", '$',
     [](const Files& f) { f.SetU32(".sqd", f.FirstFrame() + 4, f.FirstFrame()); },
     "the message chain loops back", 1},
    {"SquishChainLeavesFile", '$',
     [](const Files& f) { f.SetU32(".sqd", f.FirstFrame() + 4, 0x7FFFFFF0); },
     "outside the frames of .sqd", 1},
    {"SquishChainReachesNoFrame", '$',
     [](const Files& f) { f.SetU32(".sqd", f.FirstFrame() + 4, f.FirstFrame() + 40); },
     "where no frame is", 1},
    {"SquishIndexAtNoFrame", '$', [](const Files& f) { f.SetU32(".sqi", 0, f.FirstFrame() + 40); },
     "index points at no frame of the message chain", 1},
    {"SquishFramePastFile", '$',
     [](const Files& f) { f.SetU32(".sqd", f.FirstFrame() + 12, 0x7FFFFFF0); },
     "passes the end of .sqd", 1},
    {"SquishMsgLengthPastFrame", '$',
     [](const Files& f) { f.SetU32(".sqd", f.FirstFrame() + 16, 0xFFFFFF); },
     "beyond its FrameLength", 1},
    {"SquishCtrlLengthPastMessage", '$',
     [](const Files& f) { f.SetU32(".sqd", f.FirstFrame() + 20, 0xFFFFFF); },
     "too short for the message header and CtrlLength", 1},
    // Packets: the first message starts at offset 58.
    {"PacketHalfTerminator", 'P', [](const Files& f) { f.Cut(".pkt", 1); },
     "ends inside a message type word", 0},
    {"PacketNoTerminator", 'P', [](const Files& f) { f.Cut(".pkt", 2); },
     "ends without its terminating zero word", 0},
    {"PacketUnterminatedText", 'P', [](const Files& f) { f.Cut(".pkt", 3); },
     "its text has no terminating NUL", 3},
    {"PacketBytesAfterTerminator", 'P',
     [](const Files& f) { f.Put(".pkt", f.Bytes(".pkt") + "xyz"); },
     "3 bytes follow the terminating zero word", 0},
    {"PacketWrongTypeWord", 'P', [](const Files& f) { f.SetU32(".pkt", 58, 3); },
     "starts with type word 3, not 2", 1},
    {"PacketShortHeader", 'P', [](const Files& f) { f.Cut(".pkt", f.Bytes(".pkt").size() - 40); },
     "shorter than its 58-byte header", 0},
    {"MsgDirNameNotNumber", '#', [](const Files& f) { f.Put("abc.msg", std::string(200, 'x')); },
     "abc.msg: the name is not a message number", 0},
    {"MsgDirLeadingZero", '#', [](const Files& f) { f.Put("07.msg", std::string(200, 'x')); },
     "07.msg: the name is not a message number", 0},
    {"MsgDirShortFile", '#', [](const Files& f) { f.Put("9.msg", "short"); },
     "9.msg is too short for a message header (5 of 190 bytes)", 9},
    {"MsgDirSubdirectory", '#',
     [](const Files& f) { std::filesystem::create_directory(f.Path("8.msg")); },
     "8.msg is not a regular file", 8},
};

class BaseCheckTest : public ::testing::TestWithParam<CheckCase> {
 protected:
  testing::ScratchDir dir_;
};

TEST_P(BaseCheckTest, FindsWhatIsBroken) {
  const CheckCase& c = GetParam();
  const std::string path = dir_.Path(c.type == 'P' ? "area.pkt" : "area");
  const std::string spec = std::string(1, c.type) + path;
  // Three messages written, the second deleted and a fourth written into
  // what the delete freed: a base as the library leaves it, freed space,
  // reused frames and gaps included.
  {
    std::unique_ptr<MessageBase> base = OpenBase(spec);
    ASSERT_NE(base, nullptr);
    const auto append = [&base](const char* subject) {
      Message m;
      m.Subject = subject;
      m.To = "Sysop";
      m.Date = "01 Jan 24  12:00:00";
      m.Text.Write("Body\r", 5);
      ASSERT_FALSE(base->AppendMessage(m)) << subject;
    };
    for (const char* subject : {"one", "two", "six"}) append(subject);
    ASSERT_FALSE(base->DeleteMessage(2));
    append("ten");
  }
  const BaseReference parsed = ParseBaseReference(spec);
  ASSERT_NE(parsed.format, nullptr);
  ASSERT_NE(parsed.format->check, nullptr);
  const std::string& location = parsed.location;
  c.damage(Files(location));
  const std::vector<std::string> before = testing::Snapshot(dir_.root());

  const CheckReport report = parsed.format->check(location);
  std::string all;
  for (const Finding& f : report.findings) all += std::to_string(f.number) + "\t" + f.text + "\n";
  if (c.finding.empty()) {
    EXPECT_TRUE(report.sound()) << all;
    EXPECT_EQ(report.messages, 3);
  } else {
    bool found = false;
    for (const Finding& f : report.findings) {
      found = found || (f.number == c.number && f.text.find(c.finding) != std::string::npos);
    }
    EXPECT_TRUE(found) << "wanted " << c.number << "\t" << c.finding << "\ngot:\n" << all;
  }
  EXPECT_EQ(testing::Snapshot(dir_.root()), before) << "the check changed the base";
}

INSTANTIATE_TEST_SUITE_P(AllFormats, BaseCheckTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CheckCase>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
}  // namespace qlr
