// Opening, creating and counting whole bases, the same cases for every
// format: what the files hold decides Open's answer, the state and the
// count, and an Open never writes; a missing base is made with its
// directories; a base that cannot be made or named whole is refused with
// nothing made; files named in upper case (as DOS tools leave them) are
// used under their own names. Where a format answers otherwise its traits
// say so and the case checks that answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "msgbase/base_file_images.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/message.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "msgbase/open_base.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_test_support.h"
#include "msgbase/squish/squish_base.h"
#include "testing/corruption.h"
#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;
using namespace qlr::testing;  // NOLINT: the file images

// Exposes Squish's two streams: they exist exactly while Open succeeded.
class ProbedSquishBase : public SquishBase {
 public:
  using SquishBase::DataStream;
  using SquishBase::IndexStream;
};

struct FormatTraits {
  const char* name;
  char type;             // the type character of a spec
  const char* location;  // what the class's Open and Create take, under the scratch dir
  std::unique_ptr<MessageBase> (*make)();
  // The format's own checks after an Open that returned `failed`.
  void (*own_checks)(MessageBase& base, bool failed);
  // *.MSG lists its directory with a lower-case mask, which a host that
  // tells case apart does not widen; the file sets look each name up.
  bool sees_upper_case_files;
  // A packet's Create writes a new header before the messages it holds;
  // an *.MSG directory's Create deletes nothing.
  bool create_empties;
  // The answer of the class's Create when the base's directory cannot be
  // made: *.MSG returns success but stays closed, and OpenBase
  // turns that into a refusal.
  bool uncreatable_fails;
  BaseState uncreatable_state;
  // Of a missing base that OpenBase made, and of the empty base reopened.
  BaseState made_state, reopened_state;
};

void PrintTo(const FormatTraits& f, std::ostream* os) { *os << f.name; }

void NoOwnChecks(MessageBase&, bool) {}
void SquishStreams(MessageBase& base, bool failed) {
  auto& squish = static_cast<ProbedSquishBase&>(base);
  EXPECT_EQ(squish.DataStream() != nullptr, !failed);
  EXPECT_EQ(squish.IndexStream() != nullptr, !failed);
}
void PacketScan(MessageBase& base, bool failed) {
  auto& packet = static_cast<PacketBase&>(base);
  EXPECT_EQ(packet.PacketStream() != nullptr, !failed);
  ASSERT_FALSE(packet.Boundaries().empty());
  EXPECT_EQ(packet.Boundaries().front(), 57);  // the end of the header
}
template <class Base>
std::unique_ptr<MessageBase> Make() {
  return std::make_unique<Base>();
}

constexpr BaseState kOpened = BaseState::kOpened;
constexpr BaseState kOpenError = BaseState::kOpenError;

// clang-format off
const FormatTraits kJam = {"Jam", '!', "area", Make<JamBase>, NoOwnChecks,
                           true, true, true, kOpenError, kOpened, kOpened};
const FormatTraits kSquish = {"Squish", '$', "area", Make<ProbedSquishBase>, SquishStreams,
                              true, true, true, kOpenError, kOpened, kOpened};
// An empty packet has nothing to read: reopened, it is in OpenError.
const FormatTraits kPacket = {"Packet", 'P', "area.pkt", Make<PacketBase>, PacketScan,
                              true, false, true, kOpenError, BaseState::kCreated, kOpenError};
const FormatTraits kMsgDir = {"MsgDir", '#', "area/*.msg", Make<MsgDirBase>, NoOwnChecks,
                              kHostPathStyle == PathStyle::kDos, false, false, BaseState::kClosed,
                              kOpened, kOpened};
// clang-format on

const FormatTraits kAllFormats[] = {kJam, kSquish, kPacket, kMsgDir};

// Every name under `root` with the content of each file.
std::vector<std::string> Snapshot(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().string();
    names.push_back(name + ":" + (e.is_regular_file() ? ReadWholeFile(name).value_or("") : "/"));
  }
  std::sort(names.begin(), names.end());
  return names;
}

class BaseOpenContractTest : public ::testing::TestWithParam<FormatTraits> {
 protected:
  const FormatTraits& F() const { return GetParam(); }
  std::string Location() const { return dir_.Path(F().location); }
  // The spec of the base at Location().
  std::string Spec() const { return F().type + dir_.Path("area"); }
  void MakeBaseOf(int messages) {
    auto base = OpenBase(Spec());
    ASSERT_NE(base, nullptr);
    for (int i = 1; i <= messages; ++i) {
      Message m;
      m.Subject = "message " + std::to_string(i);
      m.Text.Write("body\r", 5);
      ASSERT_FALSE(base->AppendMessage(m));
    }
  }

  ScratchDir dir_;
};

// The Open contract: a missing base is made with its directories and
// counts 0, the empty base it left opens again, and the forecast says
// beforehand which of the two Open will do.
TEST_P(BaseOpenContractTest, MissingBaseIsMadeWithItsDirectoriesAndOpensAgain) {
  const std::string spec = F().type + dir_.Path(F().type == '#' ? "fido/mail/net" : "a/b/net");
  EXPECT_EQ(ForeseeOpenBase(spec), OpenCourse::kCreate);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass);
    std::unique_ptr<MessageBase> base;
    const Status opened = OpenBase(spec, &base);
    ASSERT_TRUE(opened.ok()) << opened.ToString();
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->State(), pass == 0 ? F().made_state : F().reopened_state);
    EXPECT_EQ(base->Count(), 0);
    EXPECT_EQ(ForeseeOpenBase(spec), OpenCourse::kOpen);
  }
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  ASSERT_NE(parsed.format, nullptr);
  if (parsed.format->layout == FileLayout::kDirectory) {
    EXPECT_TRUE(fs::is_directory(std::string(parsed.path.view())));
    EXPECT_EQ(OpenBase(spec)->Path(), std::string(parsed.path.view()) + PathSeparator() + "*.msg");
  }
  for (const std::string_view extension : parsed.format->extensions) {
    EXPECT_TRUE(fs::is_regular_file(std::string(parsed.path.view()) + std::string(extension)))
        << extension;
  }
}

// Refused at both levels: the class's Create leaves a base that is not
// usable, and OpenBase hands out none; nothing is made either way.
TEST_P(BaseOpenContractTest, BaseWhoseDirectoryCannotBeMadeIsRefused) {
  dir_.WriteFile("plain", "a file where a directory should be");
  const std::vector<std::string> before = Snapshot(dir_.root());
  auto made = F().make();
  EXPECT_EQ(made->Create(dir_.Path(std::string("plain/") + F().location)), F().uncreatable_fails);
  EXPECT_EQ(made->State(), F().uncreatable_state);
  EXPECT_EQ(made->Count(), 0);
  F().own_checks(*made, true);
  if (!F().uncreatable_fails) {
    EXPECT_TRUE(made->Path().empty());
  }
  made.reset();
  std::unique_ptr<MessageBase> base;
  EXPECT_FALSE(OpenBase(F().type + dir_.Path("plain/net"), &base).ok());
  EXPECT_EQ(base, nullptr);
  EXPECT_EQ(Snapshot(dir_.root()), before);
}

// A base file that exists but cannot be opened or measured is no empty
// index: an Open that then counted 0 would let the next append overwrite
// message 1. Whatever single call fails, Open fails or counts right.
TEST_P(BaseOpenContractTest, AFileThatCannotBeReadIsNeverCountedEmpty) {
  MakeBaseOf(1);
  for (const PlatformOp op : {PlatformOp::kOpenFile, PlatformOp::kSize}) {
    for (int nth = 1; nth <= 6; ++nth) {
      SCOPED_TRACE(std::string(OpName(op)) + " " + std::to_string(nth));
      FaultInjectingPlatform faulty;
      auto installed = faulty.Install();
      faulty.FailCall(op, nth, FailMode::kOnce);
      auto base = OpenBase(Spec());
      if (base != nullptr && base->State() == BaseState::kOpened) {
        EXPECT_EQ(base->Count(), 1);
      }
    }
  }
}

std::string Upper(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

// DOS tools leave AREA.JHR or 1.MSG: a base of them is opened, emptied by
// Create and reopened under those names, and no lower-case twin appears.
TEST_P(BaseOpenContractTest, UpperCaseFilesAreUsedUnderTheirOwnNames) {
  if (kHostPathStyle == PathStyle::kDos) GTEST_SKIP() << "the host ignores case itself";
  MakeBaseOf(3);
  const fs::path files = F().type == '#' ? dir_.Path("area") : dir_.root();
  std::vector<fs::path> names;
  for (const auto& e : fs::directory_iterator(files)) names.push_back(e.path());
  ASSERT_FALSE(names.empty());
  for (const fs::path& name : names) {
    fs::rename(name, name.parent_path() / Upper(name.filename().string()));
  }
  const std::vector<std::string> upper = Snapshot(dir_.root());
  const int seen = F().sees_upper_case_files ? 3 : 0;
  auto base = F().make();
  ASSERT_FALSE(base->Open(Location()));
  EXPECT_EQ(base->Count(), seen);
  EXPECT_EQ(base->IsValidMsg(1), seen > 0);
  if (F().type == 'P') {
    EXPECT_EQ(base->Path(), dir_.Path("AREA.PKT"));
  }
  EXPECT_EQ(ForeseeOpenBase(Spec()), OpenCourse::kOpen);
  EXPECT_EQ(Snapshot(dir_.root()), upper) << "Open wrote";

  ASSERT_FALSE(base->Create(Location()));
  base.reset();
  // Every file keeps its name; those Create empties are left as it makes
  // them for a base of lower-case names.
  const auto sizes = [](const fs::path& where) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(where)) {
      found.push_back(Upper(e.path().filename().string()) + " " +
                      (e.is_regular_file() ? std::to_string(e.file_size()) : "/"));
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  for (const auto& e : fs::directory_iterator(files)) {
    EXPECT_EQ(e.path().filename().string(), Upper(e.path().filename().string()));
  }
  if (F().create_empties) {
    ScratchDir other;
    ASSERT_FALSE(F().make()->Create(other.Path(F().location)));
    const std::vector<std::string> fresh = sizes(other.root());
    EXPECT_EQ(sizes(files), fresh);
  } else {
    EXPECT_EQ(Snapshot(dir_.root()).size(), upper.size());
  }
  auto reopened = F().make();
  ASSERT_FALSE(reopened->Open(Location()));
  EXPECT_EQ(reopened->Count(), F().create_empties ? 0 : seen);
}

INSTANTIATE_TEST_SUITE_P(Formats, BaseOpenContractTest, ::testing::ValuesIn(kAllFormats),
                         [](const ::testing::TestParamInfo<FormatTraits>& param_info) {
                           return std::string(param_info.param.name);
                         });

// A base path that leaves no room for a file's extension: cut to 255
// characters, the names of a JAM base would all be "<path>.j". Open and
// Create refuse it before they make anything. The packet and *.MSG
// classes take a path without an extension to add; for *.MSG, OpenBase
// refuses a name too long (open_base_test).
class LongBasePathTest : public ::testing::TestWithParam<FormatTraits> {};

TEST_P(LongBasePathTest, ABaseWhoseFilesCannotBeNamedWholeIsRefused) {
  ScratchDir dir;
  std::string path = dir.Path("a");
  path.resize(ShortString::kMax - 2, 'a');
  for (const bool create : {false, true}) {
    auto base = GetParam().make();
    EXPECT_TRUE(create ? base->Create(path) : base->Open(path)) << create;
    EXPECT_EQ(base->State(), BaseState::kOpenError);
    EXPECT_EQ(base->LastError().kind(), StatusKind::kInvalidArgument)
        << base->LastError().ToString();
  }
  EXPECT_TRUE(fs::is_empty(dir.root())) << "a file was made under a cut name";
}

INSTANTIATE_TEST_SUITE_P(FileSets, LongBasePathTest, ::testing::Values(kJam, kSquish),
                         [](const ::testing::TestParamInfo<FormatTraits>& param_info) {
                           return std::string(param_info.param.name);
                         });

// ---- What the files hold decides Open's answer, the state and the count ----

struct FileImage {
  std::string name;  // under the scratch dir; a trailing '/' makes a directory
  std::string bytes;
};

struct OpenRow {
  const FormatTraits* format;
  const char* name;
  std::vector<FileImage> files;  // a file not listed is missing
  bool fails;                    // what Open returns
  BaseState state;
  std::int32_t count;
  bool damaged = false;   // the files count fewer messages than a header says
  bool readable = false;  // message 1 is there
};

void PrintTo(const OpenRow& row, std::ostream* os) { *os << row.format->name << row.name; }

class BaseOpenFilesTest : public ::testing::TestWithParam<OpenRow> {};

TEST_P(BaseOpenFilesTest, CountAndStateFollowTheFiles) {
  const OpenRow& row = GetParam();
  ScratchDir dir;
  fs::create_directories(dir.root());
  for (const FileImage& file : row.files) {
    if (file.name.back() == '/') {
      fs::create_directories(dir.Path(file.name));
    } else {
      dir.WriteFile(file.name, file.bytes);
    }
  }
  const std::vector<std::string> before = Snapshot(dir.root());
  {
    auto base = row.format->make();
    const std::string location = dir.Path(row.format->location);
    EXPECT_EQ(base->Open(location), row.fails);
    EXPECT_EQ(base->State(), row.state);
    EXPECT_EQ(base->Count(), row.count);
    EXPECT_EQ(base->Damage().kind(), row.damaged ? StatusKind::kCorruption : StatusKind::kOk)
        << base->Damage().ToString();
    EXPECT_EQ(base->IsValidMsg(1), row.readable);
    if (!row.fails) {
      EXPECT_EQ(base->Path(), location);
    }
    row.format->own_checks(*base, row.fails);
  }
  // Neither Open nor the destructor writes anything.
  EXPECT_EQ(Snapshot(dir.root()), before);
}

const std::string kJamHeader = JamHeaderFile(0);

std::string SquishGarbled() {
  std::string h = SquishHeaderWithNumMsg(3, SquishFramesOf(3));
  h[0] = '\x12';              // Len
  h[130] = '\x00';            // SzFrameHeader
  Put32(h, 104, 0xFFFFFFF0);  // BeginFrame
  return h;
}

std::vector<FileImage> Squish(std::string sqd, std::string sqi) {
  return {{"area.sqd", std::move(sqd)}, {"area.sqi", std::move(sqi)}};
}
std::vector<FileImage> Packet(std::string bytes) { return {{"area.pkt", std::move(bytes)}}; }
std::vector<FileImage> MsgDir(std::vector<std::string> names) {
  std::vector<FileImage> files = {{"area/", ""}};
  for (const std::string& name : names) files.push_back({"area/" + name, "x"});
  return files;
}

std::vector<OpenRow> OpenRows() {
  const std::string one = PackedMessage("hello");
  const std::string header = PacketHeaderBytes();
  const std::vector<JamIndexRecord> deleted(5, JamIndexRecord::Deleted());
  return {
      // JAM: the count is the index records; the base header must be whole.
      {&kJam,
       "EmptyBase",
       {{"area.jhr", kJamHeader}, {"area.jdt", ""}, {"area.jdx", ""}},
       false,
       kOpened,
       0},
      {&kJam,
       "TwentyByteIndexCountsTwo",
       {{"area.jhr", kJamHeader}, {"area.jdt", ""}, {"area.jdx", std::string(20, '\0')}},
       false,
       kOpened,
       2},
      {&kJam,
       "PartialRecordIsNotCounted",
       {{"area.jhr", kJamHeader}, {"area.jdt", ""}, {"area.jdx", std::string(7, '\0')}},
       false,
       kOpened,
       0},
      {&kJam,
       "DeletedRecordsAreCounted",
       {{"area.jhr", JamHeaderFile(3)}, {"area.jdt", ""}, {"area.jdx", JamIndexFile(deleted)}},
       false,
       kOpened,
       5},
      {&kJam,
       "SignatureIsNotChecked",
       {{"area.jhr", "XYZ!" + kJamHeader.substr(4)},
        {"area.jdt", ""},
        {"area.jdx", std::string(8, '\0')}},
       false,
       kOpened,
       1},
      {&kJam,
       "MissingIndexCountsNone",
       {{"area.jhr", kJamHeader}, {"area.jdt", ""}},
       false,
       kOpened,
       0},
      {&kJam,
       "MissingTextIsNoFailure",
       {{"area.jhr", kJamHeader}, {"area.jdx", std::string(16, '\xFF')}},
       false,
       kOpened,
       2},
      {&kJam,
       "MissingHeaderFile",
       {{"area.jdt", ""}, {"area.jdx", std::string(16, '\0')}},
       true,
       kOpenError,
       0},
      {&kJam,
       "EmptyHeaderFile",
       {{"area.jhr", ""}, {"area.jdt", ""}, {"area.jdx", ""}},
       true,
       kOpenError,
       0},
      {&kJam,
       "ShortHeaderFile",
       {{"area.jhr", kJamHeader.substr(0, 1023)},
        {"area.jdt", ""},
        {"area.jdx", std::string(8, 0)}},
       true,
       kOpenError,
       0},
      {&kJam, "NothingAtAll", {}, true, kOpenError, 0},
      {&kJam,
       "OneMessage",
       {{"area.jhr", JamHeaderFile(1) + JamMsgHeaders(1)},
        {"area.jdt", ""},
        {"area.jdx", JamIndexFile({{0x11, 1024}})}},
       false,
       kOpened,
       1,
       false,
       true},
      // Squish: the count is what the index can hold, a record for every
      // message, never more than the header's NumMsg.
      {&kSquish, "EmptyBase", Squish(SquishEmptyHeader(), ""), false, kOpened, 0},
      {&kSquish, "CountFromHeader",
       Squish(SquishHeaderWithNumMsg(3, SquishFramesOf(3)), SquishRecords(3)), false, kOpened, 3,
       false, true},
      {&kSquish, "HeaderBeyondAnEmptyIndex",
       Squish(SquishHeaderWithNumMsg(7, SquishFramesOf(7)), ""), false, kOpened, 0, true},
      {&kSquish,
       "HeaderBeyondAMissingIndex",
       {{"area.sqd", SquishHeaderWithNumMsg(7, SquishFramesOf(7))}},
       false,
       kOpened,
       0,
       true},
      {&kSquish, "HeaderBeyondTheIndex",
       Squish(SquishHeaderWithNumMsg(7, SquishFramesOf(7)), SquishRecords(2)), false, kOpened, 2,
       true, true},
      {&kSquish, "IndexHoldsMoreRecords",
       Squish(SquishHeaderWithNumMsg(1, SquishFramesOf(3)), SquishRecords(3)), false, kOpened, 1,
       false, true},
      {&kSquish, "DeletionCutShort",
       Squish(SquishHeaderWithNumMsg(3, SquishFramesOf(3)), SquishRecords(3, true)), false, kOpened,
       2, false, true},
      {&kSquish, "HeaderFieldsAreNotChecked", Squish(SquishGarbled(), SquishRecords(3)), false,
       kOpened, 3, false, true},
      {&kSquish, "HostileCount", Squish(SquishHeaderWithNumMsg(0x7FFFFFFF), SquishRecords(1)),
       false, kOpened, 1, true, true},
      {&kSquish, "CountBeyondASigned32Bit", Squish(SquishHeaderWithNumMsg(0x80000000), ""), false,
       kOpened, 0, true},
      {&kSquish, "CountAllOnes", Squish(SquishHeaderWithNumMsg(0xFFFFFFFF), ""), false, kOpened, 0,
       true},
      {&kSquish, "HeaderOf255Bytes", Squish(SquishHeaderWithNumMsg(7, 255), ""), true, kOpenError,
       0},
      {&kSquish, "HeaderOf8Bytes", Squish(SquishHeaderWithNumMsg(7, 8), ""), true, kOpenError, 0},
      {&kSquish, "EmptyDataFile", Squish("", ""), true, kOpenError, 0},
      {&kSquish, "NoDataFile", {{"area.sqi", ""}}, true, kOpenError, 0},
      {&kSquish, "NoFilesAtAll", {}, true, kOpenError, 0},
      // Packets: a packet without messages is no base to read; one of a
      // version other than 2 is refused whole.
      {&kPacket, "Missing", {}, false, kOpenError, 0},
      {&kPacket, "ZeroBytes", Packet(""), false, kOpenError, 0},
      {&kPacket, "FortyBytes", Packet(std::string(40, '\x02')), false, kOpenError, 0},
      {&kPacket, "FiftyNineBytes", Packet(header + std::string(1, '\0')), false, kOpenError, 0},
      {&kPacket, "EmptyPacket", Packet(header + kTerminator), false, kOpenError, 0},
      {&kPacket, "Version1", Packet(PacketHeaderBytes(1) + one + kTerminator), true,
       BaseState::kBadFormat, 0},
      {&kPacket, "Version1EmptyIsJustEmpty", Packet(PacketHeaderBytes(1) + kTerminator), false,
       kOpenError, 0},
      {&kPacket, "OneMessage", Packet(header + one + kTerminator), false, kOpened, 1, false, true},
      {&kPacket, "ThreeMessages",
       Packet(header + one + PackedMessage("two") + PackedMessage("") + kTerminator), false,
       kOpened, 3, false, true},
      // A terminator and a stray byte: no message.
      {&kPacket, "SixtyOneBytes", Packet(header + std::string(3, '\0')), false, kOpened, 0},
      // *.MSG: the count is the highest number a message file is named by.
      {&kMsgDir, "Empty", MsgDir({}), false, kOpened, 0},
      {&kMsgDir, "LeadingZeros", MsgDir({"1.msg", "0003.msg", "x.msg"}), false, kOpened, 3, false,
       true},
      {&kMsgDir, "NumbersNotNames", MsgDir({"2.msg", "10.msg"}), false, kOpened, 10},
      {&kMsgDir, "DotsInTheName", MsgDir({"7.old.msg"}), false, kOpened, 7},
      {&kMsgDir, "DirectoryIsCounted", MsgDir({"3.msg", "5.msg/"}), false, kOpened, 5},
      {&kMsgDir, "NoNumbers", MsgDir({"notes.msg", "readme.txt"}), false, kOpened, 0},
      {&kMsgDir, "NegativeNumber", MsgDir({"-4.msg", "1.msg"}), false, kOpened, 1, false, true},
      {&kMsgDir, "LargestNumber", MsgDir({"2147483647.msg"}), false, kOpened, 2147483647},
      // Listed with a lower-case mask, which only a DOS host widens.
      {&kMsgDir, "UpperCaseName", MsgDir({"12.MSG"}), false, kOpened,
       kHostPathStyle == PathStyle::kDos ? 12 : 0},
      {&kMsgDir, "NumberTooLarge", MsgDir({"99999999999.msg", "4.msg"}), false, kOpened, 4},
  };
}

INSTANTIATE_TEST_SUITE_P(Files, BaseOpenFilesTest, ::testing::ValuesIn(OpenRows()),
                         [](const ::testing::TestParamInfo<OpenRow>& row) {
                           return std::string(row.param.format->name) + "_" + row.param.name;
                         });

}  // namespace
}  // namespace qlr
