#include "msgbase/jam/jam_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "msgbase/base_file_images.h"
#include "msgbase/ftn_date.h"
#include "support/coding.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;

using testing::JamHeaderFile;
using testing::JamIndexFile;
using testing::JamMsgHeaders;

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
  EXPECT_EQ(base.Path(), dir.Path("mail/area"));

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
  dir.WriteFile("area.jhr", JamHeaderFile(3, 9) + JamMsgHeaders(3));
  dir.WriteFile("area.jdt", std::string(500, 't'));
  dir.WriteFile("area.jdx", JamIndexFile({{1, 1024}, {2, 1100}, {3, 1176}}));
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

TEST(JamBaseTest, OpenReadsTheBaseHeaderAsStored) {
  testing::ScratchDir dir;
  // 5 index records, 2 of them deleted: Count is 5, ActiveMsgs reads 3.
  dir.WriteFile("area.jhr", JamHeaderFile(3, 41) + JamMsgHeaders(3));
  dir.WriteFile("area.jdt", "");
  dir.WriteFile(
      "area.jdx",
      JamIndexFile(
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
  dir.WriteFile("area.jhr", JamHeaderFile(2) + JamMsgHeaders(2));
  dir.WriteFile("area.jdt", "");
  dir.WriteFile("area.jdx", JamIndexFile({
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
  dir.WriteFile("area.jhr", JamHeaderFile(2) + JamMsgHeaders(2));
  dir.WriteFile("area.jdx", JamIndexFile({{0x11, 1024}, {0x22, 1100}}));
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
  if (kHostPathStyle == PathStyle::kDos) return;  // the host ignores case itself
  dir.WriteFile("AREA.JDT", "");
  EXPECT_TRUE(JamBase::AnyFileExists(dir.Path("area")));
  EXPECT_EQ(JamBase::BaseFileName(dir.Path("area"), ".jdt"), dir.Path("AREA.JDT"));
}

// The last-read file of a base of upper-case names (the contract covers
// the others) is made in their case, and an existing one is never emptied.
TEST(JamBaseTest, CreateOfUpperCaseFilesKeepsTheirCaseForTheLastReadFile) {
  if (kHostPathStyle == PathStyle::kDos) GTEST_SKIP() << "the host ignores case itself";
  testing::ScratchDir dir;
  dir.WriteFile("AREA.JHR", JamHeaderFile(1) + JamMsgHeaders(1));
  dir.WriteFile("AREA.JDT", "text");
  dir.WriteFile("AREA.JDX", JamIndexFile({{0x11, 1024}}));
  JamBase base;
  ASSERT_FALSE(base.Create(dir.Path("area")));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.root())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"AREA.JDT", "AREA.JDX", "AREA.JHR", "AREA.JLR"}));
  EXPECT_EQ(fs::file_size(dir.Path("AREA.JHR")), 1024u);
  EXPECT_EQ(fs::file_size(dir.Path("AREA.JDT")), 0u);
  EXPECT_EQ(fs::file_size(dir.Path("AREA.JDX")), 0u);
  dir.WriteFile("AREA.JLR", "last-read record");
  ASSERT_FALSE(base.Create(dir.Path("area")));
  EXPECT_EQ(fs::file_size(dir.Path("AREA.JLR")), 16u);
}

}  // namespace
}  // namespace qlr
