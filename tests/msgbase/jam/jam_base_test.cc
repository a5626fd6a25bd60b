#include "msgbase/jam/jam_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "msgbase/ftn_date.h"
#include "support/coding.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// The 1024-byte base header of an existing base, as another program left it.
std::string BaseHeaderFile(std::uint32_t active_msgs, std::uint32_t mod_counter = 7) {
  JamBaseHeader header;
  header.Signature = kJamSignature;
  header.DateCreated = 0x386D4380;
  header.ModCounter = mod_counter;
  header.ActiveMsgs = active_msgs;
  header.PasswordCrc = kJamNoPassword;
  header.BaseMsgNum = 1;
  std::vector<std::uint8_t> bytes;
  header.AppendTo(&bytes);
  return Bytes(bytes);
}

std::string IndexFile(const std::vector<JamIndexRecord>& records) {
  std::vector<std::uint8_t> bytes;
  for (const JamIndexRecord& record : records) record.AppendTo(&bytes);
  return Bytes(bytes);
}

std::string MsgHeaders(int count) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) JamMsgHeader().AppendTo(&bytes);
  return Bytes(bytes);
}

std::uint32_t Now() { return static_cast<std::uint32_t>(DateTimeToUnix(CurrentDateTime())); }

TEST(JamBaseTest, NewObjectCarriesTheDefaultHeaders) {
  const std::uint32_t before = Now();
  JamBase base;
  const std::uint32_t after = Now();
  EXPECT_EQ(base.State(), BaseState::kClosed);
  EXPECT_EQ(base.Count(), 0);
  const JamBaseHeader& h = base.BaseHeader();
  EXPECT_EQ(h.Signature, kJamSignature);
  EXPECT_GE(h.DateCreated, before);
  EXPECT_LE(h.DateCreated, after);
  EXPECT_EQ(h.ModCounter, 1u);
  EXPECT_EQ(h.ActiveMsgs, 0u);
  EXPECT_EQ(h.PasswordCrc, kJamNoPassword);
  EXPECT_EQ(h.BaseMsgNum, 1u);
  const JamMsgHeader& m = base.MsgHeader();
  EXPECT_EQ(m.Signature, kJamSignature);
  EXPECT_EQ(m.Revision, 1);
  EXPECT_EQ(m.ReservedWord, 0);
  EXPECT_EQ(m.PasswordCrc, kJamNoPassword);
  EXPECT_EQ(m.SubfieldLen, 0u);
}

TEST(JamBaseTest, CreateWritesTheEmptyBaseLayout) {
  testing::ScratchDir dir;
  JamBase base;
  const std::uint32_t before = Now();
  ASSERT_FALSE(base.Create(dir.Path("mail/area")));  // the directory is made too
  const std::uint32_t after = Now();
  EXPECT_EQ(base.State(), BaseState::kCreated);
  EXPECT_EQ(base.Count(), 0);
  EXPECT_EQ(base.Path().view(), dir.Path("mail/area"));

  std::string jhr = dir.ReadFile("mail/area.jhr");
  ASSERT_EQ(jhr.size(), 1024u);
  const auto* raw = reinterpret_cast<const std::uint8_t*>(jhr.data());
  const std::uint32_t created = DecodeFixed32(raw + 4);
  EXPECT_GE(created, before);
  EXPECT_LE(created, after);
  jhr.replace(4, 4, 4, '\0');  // mask the creation date
  std::string expected(
      "JAM\0"
      "\0\0\0\0"
      "\1\0\0\0"
      "\0\0\0\0"
      "\xFF\xFF\xFF\xFF"
      "\1\0\0\0",
      24);
  expected.resize(1024, '\0');
  EXPECT_EQ(jhr, expected);
  EXPECT_EQ(dir.ReadFile("mail/area.jdt"), "");
  EXPECT_EQ(dir.ReadFile("mail/area.jdx"), "");
}

TEST(JamBaseTest, CreateTruncatesAnExistingBase) {
  testing::ScratchDir dir;
  dir.WriteFile("area.jhr", BaseHeaderFile(3, 9) + MsgHeaders(3));
  dir.WriteFile("area.jdt", std::string(500, 't'));
  dir.WriteFile("area.jdx", IndexFile({{1, 1024}, {2, 1100}, {3, 1176}}));
  JamBase base;
  ASSERT_FALSE(base.Open(dir.Path("area")));
  ASSERT_EQ(base.Count(), 3);
  ASSERT_EQ(base.BaseHeader().ActiveMsgs, 3u);

  ASSERT_FALSE(base.Create(dir.Path("area")));
  EXPECT_EQ(base.Count(), 0);
  EXPECT_EQ(base.BaseHeader().ActiveMsgs, 0u);
  EXPECT_EQ(fs::file_size(dir.Path("area.jhr")), 1024u);
  EXPECT_EQ(fs::file_size(dir.Path("area.jdt")), 0u);
  EXPECT_EQ(fs::file_size(dir.Path("area.jdx")), 0u);
  // The emptied header says so, whatever the object had read before.
  const std::string jhr = dir.ReadFile("area.jhr");
  EXPECT_EQ(DecodeFixed32(reinterpret_cast<const std::uint8_t*>(jhr.data()) + 12), 0u);
  EXPECT_FALSE(base.IsValidMsg(1));
  // Each erase counts as a change (ModCounter at offset 8), also by an
  // object that never read the base.
  EXPECT_EQ(DecodeFixed32(reinterpret_cast<const std::uint8_t*>(jhr.data()) + 8), 10u);
  JamBase fresh;
  ASSERT_FALSE(fresh.EmptyInPlace(dir.Path("area")));
  EXPECT_EQ(fresh.BaseHeader().ModCounter, 11u);
}

struct OpenCase {
  const char* name;
  std::optional<std::string> jhr, jdt, jdx;  // nullopt: the file is missing
  bool fails;
  std::int32_t count;
};

void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }

class JamOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(JamOpenTest, CountAndStateFollowTheFiles) {
  const OpenCase& c = GetParam();
  testing::ScratchDir dir;
  if (c.jhr) dir.WriteFile("area.jhr", *c.jhr);
  if (c.jdt) dir.WriteFile("area.jdt", *c.jdt);
  if (c.jdx) dir.WriteFile("area.jdx", *c.jdx);
  JamBase base;
  EXPECT_EQ(base.Open(dir.Path("area")), c.fails);
  EXPECT_EQ(base.State(), c.fails ? BaseState::kOpenError : BaseState::kOpened);
  EXPECT_EQ(base.Count(), c.count);
  EXPECT_FALSE(base.IsValidMsg(1)) << "no case holds a readable message";
}

const std::string kHeader = BaseHeaderFile(0);

INSTANTIATE_TEST_SUITE_P(
    Files, JamOpenTest,
    ::testing::Values(
        OpenCase{"EmptyBase", kHeader, "", "", false, 0},
        OpenCase{"TwentyByteIndexCountsTwo", kHeader, "", std::string(20, '\0'), false, 2},
        OpenCase{"PartialRecordIsNotCounted", kHeader, "", std::string(7, '\0'), false, 0},
        OpenCase{"DeletedRecordsAreCounted", BaseHeaderFile(3), "",
                 IndexFile(std::vector<JamIndexRecord>(5, JamIndexRecord::Deleted())), false, 5},
        OpenCase{"SignatureIsNotChecked", "XYZ!" + kHeader.substr(4), "", std::string(8, '\0'),
                 false, 1},
        OpenCase{"MissingIndexCountsNone", kHeader, "", std::nullopt, false, 0},
        OpenCase{"MissingTextIsNoFailure", kHeader, std::nullopt, std::string(16, '\xFF'), false,
                 2},
        OpenCase{"MissingHeaderFile", std::nullopt, "", std::string(16, '\0'), true, 0},
        OpenCase{"EmptyHeaderFile", "", "", "", true, 0},
        OpenCase{"ShortHeaderFile", kHeader.substr(0, 1023), "", std::string(8, '\0'), true, 0},
        OpenCase{"NothingAtAll", std::nullopt, std::nullopt, std::nullopt, true, 0}),
    [](const ::testing::TestParamInfo<OpenCase>& param) { return std::string(param.param.name); });

TEST(JamBaseTest, OpenReadsTheBaseHeaderAsStored) {
  testing::ScratchDir dir;
  // 5 index records, 2 of them deleted: Count is 5, ActiveMsgs reads 3.
  dir.WriteFile("area.jhr", BaseHeaderFile(3, 41) + MsgHeaders(3));
  dir.WriteFile("area.jdt", "");
  dir.WriteFile(
      "area.jdx",
      IndexFile(
          {{1, 1024}, JamIndexRecord::Deleted(), {2, 1100}, JamIndexRecord::Deleted(), {3, 1176}}));
  JamBase base;
  ASSERT_FALSE(base.Open(dir.Path("area")));
  EXPECT_EQ(base.Count(), 5);
  EXPECT_EQ(base.BaseHeader().ActiveMsgs, 3u);
  EXPECT_EQ(base.BaseHeader().ModCounter, 41u);
  EXPECT_EQ(base.BaseHeader().DateCreated, 0x386D4380u);
}

TEST(JamBaseTest, IsValidMsgChecksTheIndexRecordAgainstTheHeaderFile) {
  testing::ScratchDir dir;
  // A base header and two message headers: 1176 bytes.
  dir.WriteFile("area.jhr", BaseHeaderFile(2) + MsgHeaders(2));
  dir.WriteFile("area.jdt", "");
  dir.WriteFile("area.jdx", IndexFile({
                                {0x11, 1024},               // 1: first header
                                {0x22, 1100},               // 2: second header
                                JamIndexRecord::Deleted(),  // 3
                                {0x44, 1176},               // 4: at the end, no header there
                                {0x55, 1101},               // 5: header cut off by the end
                                {0x66, 0},                  // 6: inside the base header
                                {0x77, 1000},               // 7: overlaps the base header
                                {0x88, 0x80000000},         // 8: negative when signed
                            }));
  JamBase base;
  ASSERT_FALSE(base.Open(dir.Path("area")));
  ASSERT_EQ(base.Count(), 8);
  const struct {
    std::int32_t number;
    bool valid;
    std::uint32_t to_crc;  // the index record loaded
  } cases[] = {{1, true, 0x11},  {2, true, 0x22},  {3, false, 0xFFFFFFFF}, {4, false, 0x44},
               {5, false, 0x55}, {6, false, 0x66}, {7, false, 0x77},       {8, false, 0x88}};
  for (const auto& c : cases) {
    EXPECT_EQ(base.IsValidMsg(c.number), c.valid) << c.number;
    EXPECT_EQ(base.IndexRecord().ToCrc, c.to_crc) << c.number;
  }
  for (const std::int32_t number : {-1, 0, 9}) EXPECT_FALSE(base.IsValidMsg(number)) << number;
}

TEST(JamBaseTest, ShrunkIndexFailsOnlyTheMissingRecords) {
  testing::ScratchDir dir;
  dir.WriteFile("area.jhr", BaseHeaderFile(2) + MsgHeaders(2));
  dir.WriteFile("area.jdx", IndexFile({{0x11, 1024}, {0x22, 1100}}));
  JamBase base;
  ASSERT_FALSE(base.Open(dir.Path("area")));
  ASSERT_EQ(base.Count(), 2);
  // Another program cuts the index behind our back.
  fs::resize_file(dir.Path("area.jdx"), 8);
  // The failed read is no message, and leaves no stream error behind that
  // would fail the next lookup.
  EXPECT_FALSE(base.IsValidMsg(2));
  EXPECT_EQ(base.IndexRecord().ToCrc, 0u);
  EXPECT_TRUE(base.IsValidMsg(1));
  EXPECT_EQ(base.IndexRecord().ToCrc, 0x11u);
}

TEST(JamBaseTest, AnyFileExists) {
  testing::ScratchDir dir;
  EXPECT_FALSE(JamBase::AnyFileExists(dir.Path("area")));
  for (const std::string_view extension : JamBase::kExtensions) {
    testing::ScratchDir one;
    one.WriteFile("area" + std::string(extension), "");
    EXPECT_TRUE(JamBase::AnyFileExists(one.Path("area"))) << extension;
    EXPECT_FALSE(JamBase::AnyFileExists(one.Path("other"))) << extension;
  }
}

class JamUpperCaseNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kHostPathStyle == PathStyle::kDos) GTEST_SKIP() << "the host ignores case itself";
    dir_.WriteFile("AREA.JHR", BaseHeaderFile(1) + MsgHeaders(1));
    dir_.WriteFile("AREA.JDT", "text");
    dir_.WriteFile("AREA.JDX", IndexFile({{0x11, 1024}}));
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.root())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  testing::ScratchDir dir_;
};

TEST_F(JamUpperCaseNamesTest, OpenFindsThem) {
  JamBase base;
  ASSERT_FALSE(base.Open(dir_.Path("area")));
  EXPECT_EQ(base.Count(), 1);
  EXPECT_TRUE(base.IsValidMsg(1));
  EXPECT_TRUE(JamBase::AnyFileExists(dir_.Path("area")));
  EXPECT_EQ(JamBase::BaseFileName(dir_.Path("area"), ".jdt").view(), dir_.Path("AREA.JDT"));
}

TEST_F(JamUpperCaseNamesTest, CreateEmptiesThemUnderTheirOwnNames) {
  JamBase base;
  ASSERT_FALSE(base.Create(dir_.Path("area")));
  // A missing last-read file is made, in the case of the others.
  EXPECT_EQ(Names(), (std::vector<std::string>{"AREA.JDT", "AREA.JDX", "AREA.JHR", "AREA.JLR"}));
  EXPECT_EQ(fs::file_size(dir_.Path("AREA.JHR")), 1024u);
  EXPECT_EQ(fs::file_size(dir_.Path("AREA.JDT")), 0u);
  EXPECT_EQ(fs::file_size(dir_.Path("AREA.JDX")), 0u);
  // An existing one holds the readers' pointers and is never emptied.
  dir_.WriteFile("AREA.JLR", "last-read record");
  ASSERT_FALSE(base.Create(dir_.Path("area")));
  EXPECT_EQ(fs::file_size(dir_.Path("AREA.JLR")), 16u);
}

// A base path of 253 characters leaves no room for ".jhr": cut to 255
// characters the names would be "<path>.j" for all three files.
TEST(JamLongNameTest, ABaseWhoseFilesCannotBeNamedWholeIsRefused) {
  testing::ScratchDir dir;
  std::string path = dir.Path("a");
  path.resize(ShortString::kMax - 2, 'a');
  for (const bool create : {false, true}) {
    JamBase base;
    EXPECT_TRUE(create ? base.Create(path) : base.Open(path)) << create;
    EXPECT_EQ(base.State(), BaseState::kOpenError);
    EXPECT_EQ(base.LastError().kind(), StatusKind::kInvalidArgument) << base.LastError().ToString();
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path(""))) << "a file was made under a cut name";
}

}  // namespace
}  // namespace qlr
