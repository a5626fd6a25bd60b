// Opening, creating and counting whole bases, the same cases for every
// format: what the files hold decides Open's answer, the state and the
// count, and an Open never writes; a missing base is made with its
// directories; a base that cannot be made or named is refused with
// nothing made; files named in upper case (as DOS tools leave them) are
// used under their own names; a file set is copied and emptied whole or
// not at all. Where a format answers otherwise its traits say so and the
// case checks that answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "msgbase/base_file_images.h"
#include "msgbase/base_files.h"
#include "msgbase/copy_manifest.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/message.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "msgbase/open_base.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_test_support.h"
#include "msgbase/squish/squish_base.h"
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
  // The state of the class after a Create whose directory cannot be made
  // (*.MSG stays closed).
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
                           true, true, kOpenError, kOpened, kOpened};
const FormatTraits kSquish = {"Squish", '$', "area", Make<ProbedSquishBase>, SquishStreams,
                              true, true, kOpenError, kOpened, kOpened};
// An empty packet has nothing to read: reopened, it is in OpenError.
const FormatTraits kPacket = {"Packet", 'P', "area.pkt", Make<PacketBase>, PacketScan,
                              true, false, kOpenError, BaseState::kCreated, kOpenError};
const FormatTraits kMsgDir = {"MsgDir", '#', "area/*.msg", Make<MsgDirBase>, NoOwnChecks,
                              kHostPathStyle == PathStyle::kDos, false, BaseState::kClosed,
                              kOpened, kOpened};
// clang-format on

const FormatTraits kAllFormats[] = {kJam, kSquish, kPacket, kMsgDir};

std::string FormatName(const ::testing::TestParamInfo<FormatTraits>& param_info) {
  return param_info.param.name;
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
  const BaseReference parsed = ParseBaseReference(spec);
  ASSERT_NE(parsed.format, nullptr);
  if (parsed.format->layout == FileLayout::kDirectory) {
    EXPECT_TRUE(fs::is_directory(parsed.path));
    EXPECT_EQ(OpenBase(spec)->Path(), parsed.path + PathSeparator() + "*.msg");
  }
  for (const std::string_view extension : parsed.format->extensions) {
    EXPECT_TRUE(fs::is_regular_file(parsed.path + std::string(extension))) << extension;
  }
}

// Refused at both levels: the class's Create leaves a base that is not
// usable, and OpenBase hands out none; nothing is made either way.
TEST_P(BaseOpenContractTest, BaseWhoseDirectoryCannotBeMadeIsRefused) {
  dir_.WriteFile("plain", "a file where a directory should be");
  const std::vector<std::string> before = Snapshot(dir_.root());
  auto made = F().make();
  EXPECT_TRUE(made->Create(dir_.Path(std::string("plain/") + F().location)));
  EXPECT_FALSE(made->LastError().ok());
  EXPECT_EQ(made->State(), F().uncreatable_state);
  EXPECT_EQ(made->Count(), 0);
  F().own_checks(*made, true);
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
                         FormatName);

// ---- The file sets through the registry: a base whose key file is lost
// is refused untouched, the copy holds the exact files and the erase
// empties only what the copy holds ----

class FileSetBaseTest : public BaseOpenContractTest {
 protected:
  // In handling order, the key file first.
  std::vector<std::string> Extensions() const {
    if (F().type == '!') return {".jhr", ".jdt", ".jdx"};
    if (F().type == '$') return {".sqd", ".sqi"};
    return {".pkt"};
  }
  std::vector<std::string> Files(const std::string& where = "area") const {
    std::vector<std::string> bytes;
    for (const std::string& e : Extensions()) bytes.push_back(dir_.ReadFile(where + e));
    return bytes;
  }
};

TEST_P(FileSetBaseTest, MissingKeyFileBesideOthersIsLeftAlone) {
  const std::vector<std::string> extensions = Extensions();
  if (extensions.size() < 2) GTEST_SKIP() << "a one-file base has no other files";
  for (std::size_t i = 1; i < extensions.size(); ++i) {
    dir_.WriteFile("area" + extensions[i], "texts of messages");
  }
  std::unique_ptr<MessageBase> base;
  EXPECT_EQ(OpenBase(Spec(), &base).kind(), StatusKind::kCorruption);
  EXPECT_EQ(base, nullptr);
  EXPECT_FALSE(fs::exists(dir_.Path("area" + extensions[0])));
  for (std::size_t i = 1; i < extensions.size(); ++i) {
    EXPECT_EQ(dir_.ReadFile("area" + extensions[i]), "texts of messages");
  }
}

TEST_P(FileSetBaseTest, CopyThenEraseEmptiesTheBaseTheCopyHolds) {
  MakeBaseOf(0);
  const std::vector<std::string> before = Files();
  CopyManifest copied;
  ASSERT_FALSE(CopyBaseFiles(Spec(), dir_.Path("copy"), &copied));
  EXPECT_EQ(Files("copy/area"), before);
  auto erased = EraseBase(Spec(), &copied);
  ASSERT_NE(erased, nullptr);
  EXPECT_EQ(erased->State(), BaseState::kCreated);
  erased.reset();
  auto reopened = OpenBase(Spec());
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(reopened->Count(), 0);
}

TEST_P(FileSetBaseTest, EraseLeavesABaseThatChangedAfterItsCopy) {
  MakeBaseOf(0);
  CopyManifest copied;
  ASSERT_FALSE(CopyBaseFiles(Spec(), dir_.Path("copy"), &copied));
  // A writer that ignores the lock convention appends after the copy.
  const std::string key = "area" + Extensions().front();
  const std::string changed = dir_.ReadFile(key) + "late";
  dir_.WriteFile(key, changed);
  EXPECT_EQ(EraseBase(Spec(), &copied), nullptr);
  EXPECT_EQ(dir_.ReadFile(key), changed);
}

// A run killed while it empties a base (here: every call of one kind
// failing from some call on, the state a kill leaves) must leave a base
// that every reader still opens, with all of its messages or none. A base
// that no longer opens is one no tosser can write to.
TEST_P(FileSetBaseTest, EraseStoppedAtAnyCallLeavesABaseThatOpens) {
  constexpr int kMessages = 3;
  int stopped = 0;
  for (const PlatformOp op :
       {PlatformOp::kOpenFile, PlatformOp::kWrite, PlatformOp::kWriteAt, PlatformOp::kTruncate}) {
    SCOPED_TRACE(std::string(OpName(op)));
    for (int nth = 1;; ++nth) {
      for (const auto& e : fs::directory_iterator(dir_.root())) fs::remove_all(e.path());
      MakeBaseOf(kMessages);
      CopyManifest copied;
      ASSERT_FALSE(CopyBaseFiles(Spec(), dir_.Path("copy"), &copied));
      FaultInjectingPlatform faulty;
      bool fired = false;
      {
        auto installed = faulty.Install();
        faulty.FailCall(op, nth, FailMode::kFromThenOn);
        (void)EraseBase(Spec(), &copied);
        fired = faulty.Failures() > 0;
      }
      SCOPED_TRACE("stopped at call " + std::to_string(nth));
      auto reopened = OpenBase(Spec());
      ASSERT_NE(reopened, nullptr);
      EXPECT_TRUE(reopened->Count() == 0 || reopened->Count() == kMessages) << reopened->Count();
      if (!fired) break;
      ++stopped;
    }
  }
  EXPECT_GT(stopped, 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, FileSetBaseTest, ::testing::Values(kJam, kSquish, kPacket),
                         FormatName);

// A name the file system cannot take (a component of more than 255
// bytes), as the base's own name or as a directory on its way: OpenBase
// refuses it with the platform's reason and nothing is made. The classes
// of the file sets refuse it as well, on Open and on Create.
TEST_P(BaseOpenContractTest, ANameTheFileSystemCannotTakeIsRefusedAndNothingIsMade) {
  const std::string component(300, 'n');
  for (const std::string& path : {component, component + "/area"}) {
    SCOPED_TRACE(path.size());
    std::unique_ptr<MessageBase> base;
    const Status opened = OpenBase(F().type + dir_.Path(path), &base);
    EXPECT_FALSE(opened.ok());
    EXPECT_TRUE(HasReason(opened));
    EXPECT_EQ(base, nullptr);
    if (F().type == '!' || F().type == '$') {
      for (const bool create : {false, true}) {
        auto made = F().make();
        EXPECT_TRUE(create ? made->Create(dir_.Path(path)) : made->Open(dir_.Path(path)));
        EXPECT_EQ(made->State(), BaseState::kOpenError) << create;
        EXPECT_FALSE(made->LastError().ok()) << create;
      }
    }
    EXPECT_TRUE(fs::is_empty(dir_.root())) << "a file was made under a name that was refused";
  }
}

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

// Stands for a file that is missing.
const std::string kNo = "<missing>";

// The files of a base at "area", in the order of the extensions.
std::vector<FileImage> Set(std::vector<std::string> extensions, std::vector<std::string> bytes) {
  std::vector<FileImage> files;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != kNo) files.push_back({"area" + extensions[i], bytes[i]});
  }
  return files;
}
std::vector<FileImage> Jam(std::string jhr, std::string jdt, std::string jdx) {
  return Set({".jhr", ".jdt", ".jdx"}, {jhr, jdt, jdx});
}
std::vector<FileImage> Sq(std::string sqd, std::string sqi) {
  return Set({".sqd", ".sqi"}, {sqd, sqi});
}
std::vector<FileImage> Pkt(std::string bytes) { return Set({".pkt"}, {bytes}); }
std::vector<FileImage> Dir(std::vector<std::string> names) {
  std::vector<FileImage> files = {{"area/", ""}};
  for (const std::string& name : names) files.push_back({"area/" + name, "x"});
  return files;
}

// A Squish header of `num_msg` in a data file of `frames` smallest frames.
std::string Sqd(std::uint32_t num_msg, std::size_t frames) {
  return SquishHeaderWithNumMsg(num_msg, SquishFramesOf(frames));
}
std::string SquishGarbled() {
  std::string h = Sqd(3, 3);
  h[0] = '\x12';              // Len
  h[130] = '\x00';            // SzFrameHeader
  Put32(h, 104, 0xFFFFFFF0);  // BeginFrame
  return h;
}

std::vector<OpenRow> OpenRows() {
  const std::string jhr = JamHeaderFile(0);
  const std::string one = PackedMessage("hello");
  const std::string pkt = PacketHeaderBytes();
  const std::string z8(8, '\0'), z16(16, '\0');
  const auto sqi = SquishRecords;
  const auto sqd = SquishHeaderWithNumMsg;
  // clang-format off
  return {
      // JAM: the count is the index records; the base header must be whole.
      {&kJam, "EmptyBase", Jam(jhr, "", ""), false, kOpened, 0},
      {&kJam, "TwentyByteIndexCountsTwo", Jam(jhr, "", std::string(20, '\0')), false, kOpened, 2},
      {&kJam, "PartialRecordIsNotCounted", Jam(jhr, "", std::string(7, '\0')), false, kOpened, 0},
      {&kJam, "DeletedRecordsAreCounted",
       Jam(JamHeaderFile(3), "", JamIndexFile(std::vector(5, JamIndexRecord::Deleted()))), false,
       kOpened, 5},
      {&kJam, "SignatureIsNotChecked", Jam("XYZ!" + jhr.substr(4), "", z8), false, kOpened, 1},
      {&kJam, "MissingIndexCountsNone", Jam(jhr, "", kNo), false, kOpened, 0},
      {&kJam, "MissingTextIsNoFailure", Jam(jhr, kNo, std::string(16, '\xFF')), false, kOpened, 2},
      {&kJam, "MissingHeaderFile", Jam(kNo, "", z16), true, kOpenError, 0},
      {&kJam, "EmptyHeaderFile", Jam("", "", ""), true, kOpenError, 0},
      {&kJam, "ShortHeaderFile", Jam(jhr.substr(0, 1023), "", z8), true, kOpenError, 0},
      {&kJam, "NothingAtAll", {}, true, kOpenError, 0},
      {&kJam, "OneMessage", Jam(JamHeaderFile(1) + JamMsgHeaders(1), "",
                                JamIndexFile({{0x11, 1024}})), false, kOpened, 1, false, true},
      // Squish: the count is what the index can hold, a record for every
      // message, never more than the header's NumMsg; message numbers in
      // that range are valid.
      {&kSquish, "EmptyBase", Sq(SquishEmptyHeader(), ""), false, kOpened, 0},
      {&kSquish, "CountFromHeader", Sq(Sqd(3, 3), sqi(3, false)), false, kOpened, 3, false, true},
      {&kSquish, "HeaderBeyondAnEmptyIndex", Sq(Sqd(7, 7), ""), false, kOpened, 0, true},
      {&kSquish, "HeaderBeyondAMissingIndex", Sq(Sqd(7, 7), kNo), false, kOpened, 0, true},
      {&kSquish, "HeaderBeyondTheIndex", Sq(Sqd(7, 7), sqi(2, false)), false, kOpened, 2, true,
       true},
      {&kSquish, "IndexHoldsMoreRecords", Sq(Sqd(1, 3), sqi(3, false)), false, kOpened, 1, false,
       true},
      {&kSquish, "DeletionCutShort", Sq(Sqd(3, 3), sqi(3, true)), false, kOpened, 2, false, true},
      {&kSquish, "HeaderFieldsAreNotChecked", Sq(SquishGarbled(), sqi(3, false)), false, kOpened,
       3, false, true},
      {&kSquish, "HostileCount", Sq(sqd(0x7FFFFFFF, 256), sqi(1, false)), false, kOpened, 1, true,
       true},
      {&kSquish, "CountBeyondASigned32Bit", Sq(sqd(0x80000000, 256), ""), false, kOpened, 0, true},
      {&kSquish, "CountAllOnes", Sq(sqd(0xFFFFFFFF, 256), ""), false, kOpened, 0, true},
      {&kSquish, "HeaderOf255Bytes", Sq(sqd(7, 255), ""), true, kOpenError, 0},
      {&kSquish, "HeaderOf8Bytes", Sq(sqd(7, 8), ""), true, kOpenError, 0},
      {&kSquish, "EmptyDataFile", Sq("", ""), true, kOpenError, 0},
      {&kSquish, "NoDataFile", Sq(kNo, ""), true, kOpenError, 0},
      {&kSquish, "NoFilesAtAll", {}, true, kOpenError, 0},
      // Packets: a packet without messages is no base to read; one of a
      // version other than 2 is refused whole.
      {&kPacket, "Missing", {}, false, kOpenError, 0},
      {&kPacket, "ZeroBytes", Pkt(""), false, kOpenError, 0},
      {&kPacket, "FortyBytes", Pkt(std::string(40, '\x02')), false, kOpenError, 0},
      {&kPacket, "FiftyNineBytes", Pkt(pkt + std::string(1, '\0')), false, kOpenError, 0},
      {&kPacket, "EmptyPacket", Pkt(pkt + kTerminator), false, kOpenError, 0},
      {&kPacket, "Version1", Pkt(PacketHeaderBytes(1) + one + kTerminator), true,
       BaseState::kBadFormat, 0},
      {&kPacket, "Version1EmptyIsJustEmpty", Pkt(PacketHeaderBytes(1) + kTerminator), false,
       kOpenError, 0},
      {&kPacket, "OneMessage", Pkt(pkt + one + kTerminator), false, kOpened, 1, false, true},
      {&kPacket, "ThreeMessages", Pkt(pkt + one + PackedMessage("two") + PackedMessage("") +
                                      kTerminator), false, kOpened, 3, false, true},
      // A terminator and a stray byte: no message.
      {&kPacket, "SixtyOneBytes", Pkt(pkt + std::string(3, '\0')), false, kOpened, 0},
      // *.MSG: the count is the highest number a message file is named by.
      {&kMsgDir, "Empty", Dir({}), false, kOpened, 0},
      {&kMsgDir, "LeadingZeros", Dir({"1.msg", "0003.msg", "x.msg"}), false, kOpened, 3, false,
       true},
      {&kMsgDir, "NumbersNotNames", Dir({"2.msg", "10.msg"}), false, kOpened, 10},
      {&kMsgDir, "DotsInTheName", Dir({"7.old.msg"}), false, kOpened, 7},
      {&kMsgDir, "DirectoryIsCounted", Dir({"3.msg", "5.msg/"}), false, kOpened, 5},
      {&kMsgDir, "NoNumbers", Dir({"notes.msg", "readme.txt"}), false, kOpened, 0},
      {&kMsgDir, "NegativeNumber", Dir({"-4.msg", "1.msg"}), false, kOpened, 1, false, true},
      {&kMsgDir, "LargestNumber", Dir({"2147483647.msg"}), false, kOpened, 2147483647},
      // Listed with a lower-case mask, which only a DOS host widens.
      {&kMsgDir, "UpperCaseName", Dir({"12.MSG"}), false, kOpened,
       kHostPathStyle == PathStyle::kDos ? 12 : 0},
      {&kMsgDir, "NumberTooLarge", Dir({"99999999999.msg", "4.msg"}), false, kOpened, 4},
  };
  // clang-format on
}

INSTANTIATE_TEST_SUITE_P(Files, BaseOpenFilesTest, ::testing::ValuesIn(OpenRows()),
                         [](const ::testing::TestParamInfo<OpenRow>& row) {
                           return std::string(row.param.format->name) + "_" + row.param.name;
                         });

}  // namespace
}  // namespace qlr
