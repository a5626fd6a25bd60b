#include "msgbase/open_base.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "msgbase/message.h"
#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

const std::string kSep(1, PathSeparator());

struct SpecCase {
  const char* spec;
  PathStyle style;
  const char* normalized;
};

class NormalizeBaseSpecTest : public ::testing::TestWithParam<SpecCase> {};

TEST_P(NormalizeBaseSpecTest, InfersTypeAndStripsKnownExtension) {
  const SpecCase& c = GetParam();
  EXPECT_EQ(NormalizeBaseSpec(c.spec, c.style), c.normalized) << c.spec;
}

INSTANTIATE_TEST_SUITE_P(
    Specs, NormalizeBaseSpecTest,
    ::testing::Values(SpecCase{"", PathStyle::kDos, ""},
                      SpecCase{"!C:\\MAIL\\AREA", PathStyle::kDos, "!C:\\MAIL\\AREA"},
                      SpecCase{"C:\\MAIL\\AREA.JHR", PathStyle::kDos, "!C:\\MAIL\\AREA"},
                      SpecCase{"jC:\\MAIL\\AREA", PathStyle::kDos, "jC:\\MAIL\\AREA"},
                      SpecCase{"C:\\MAIL\\AREA.jdx", PathStyle::kDos, "!C:\\MAIL\\AREA"},
                      SpecCase{"D:\\SQ\\ECHO.Sqd", PathStyle::kDos, "$D:\\SQ\\ECHO"},
                      // No type character, no extension: a *.msg directory.
                      SpecCase{"C:\\MAIL\\NETMAIL", PathStyle::kDos, "#C:\\MAIL\\NETMAIL"},
                      // A dot in a directory name is not an extension.
                      SpecCase{"C:\\MAIL.DIR\\NET", PathStyle::kDos, "#C:\\MAIL.DIR\\NET"},
                      SpecCase{"C:\\IN\\X.PKT", PathStyle::kDos, "PC:\\IN\\X"},
                      // Unknown extension, no type character: left as it is.
                      SpecCase{"C:\\X.DAT", PathStyle::kDos, "C:\\X.DAT"},
                      // Several dots: the name is cut at the first one.
                      SpecCase{"!D:\\B\\MY.AREA.jhr", PathStyle::kDos, "!D:\\B\\MY"},
                      // The first letter of the path is a type character.
                      SpecCase{"SQUISH\\AREA", PathStyle::kDos, "SQUISH\\AREA"},
                      SpecCase{"/fido/net", PathStyle::kPosix, "#/fido/net"},
                      SpecCase{"/fido/jam/area.jhr", PathStyle::kPosix, "!/fido/jam/area"},
                      SpecCase{"#/fido.d/net", PathStyle::kPosix, "#/fido.d/net"},
                      SpecCase{"/in/x.pkt", PathStyle::kPosix, "P/in/x"}));

TEST(ParseBaseSpecTest, SplitsFormatAndPath) {
  const struct {
    const char* spec;
    const char* format;  // name of the format, null for none
  } cases[] = {
      {"#/a/b", "*.MSG directory"},
      {"f/a/b", "*.MSG directory"},
      {"P/a/b", "packet"},
      {"$/a/b", "Squish"},
      {"s/a/b", "Squish"},
      {"!/a/b", "JAM"},
      {"J/a/b", "JAM"},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const ParsedBaseSpec parsed = ParseBaseSpec(c.spec);
    if (c.format == nullptr) {
      EXPECT_EQ(parsed.format, nullptr) << c.spec;
      continue;
    }
    ASSERT_NE(parsed.format, nullptr) << c.spec;
    EXPECT_EQ(parsed.format->name, c.format) << c.spec;
    EXPECT_EQ(parsed.path, "/a/b") << c.spec;
  }
}

TEST(OpenBaseTest, RefusesEmptyAndUnknownSpecs) {
  EXPECT_EQ(OpenBase(""), nullptr);
  // "C" is no type character.
  EXPECT_EQ(OpenBase("C:\\X.DAT"), nullptr);
}

TEST(OpenBaseTest, MsgDirBaseIsCreatedWithItsParents) {
  testing::ScratchDir dir;
  const std::string area = dir.Path("fido/mail/net");
  auto base = OpenBase("#" + area);
  ASSERT_NE(base, nullptr);
  EXPECT_TRUE(std::filesystem::is_directory(area));
  EXPECT_EQ(base->State(), BaseState::kOpened);
  EXPECT_EQ(base->Count(), 0);
  EXPECT_EQ(base->Path(), area + kSep + "*.msg");
}

TEST(OpenBaseTest, BaseWhoseDirectoryCannotBeMadeIsNotOpened) {
  testing::ScratchDir dir;
  dir.WriteFile("plain", "a file where a directory should be");
  EXPECT_EQ(OpenBase("#" + dir.Path("plain/net")), nullptr);
}

// A base file that exists but cannot be opened or measured is no empty
// index: an Open that then counted 0 would let the next append overwrite
// message 1. Whatever single call fails, Open fails or counts right.
TEST(OpenBaseTest, AnIndexThatCannotBeReadIsNeverCountedEmpty) {
  for (const char* type : {"!", "$"}) {
    for (const testing::PlatformOp op :
         {testing::PlatformOp::kOpenFile, testing::PlatformOp::kSize}) {
      for (int nth = 1; nth <= 6; ++nth) {
        SCOPED_TRACE(std::string(type) + " " + std::string(testing::OpName(op)) + " " +
                     std::to_string(nth));
        testing::ScratchDir dir;
        const std::string spec = type + dir.Path("area");
        {
          auto base = OpenBase(spec);
          ASSERT_NE(base, nullptr);
          Message m;
          m.Subject = "one";
          ASSERT_FALSE(base->AppendMessage(m));
        }
        testing::FaultInjectingPlatform faulty;
        auto installed = faulty.Install();
        faulty.FailCall(op, nth, testing::FailMode::kOnce);
        auto base = OpenBase(spec);
        if (base != nullptr && base->State() == BaseState::kOpened) {
          EXPECT_EQ(base->Count(), 1);
        }
      }
    }
  }
}

// The Open contract, for every installed format: a missing base is made
// and counts 0, the empty base it left opens again, and a base whose
// directory cannot be made is refused.
TEST(OpenContractTest, EveryFormatKeepsIt) {
  for (const FormatDescriptor* format : AllFormats()) {
    if (format->open == nullptr) continue;
    SCOPED_TRACE(std::string(format->name));
    testing::ScratchDir dir;
    const std::string spec =
        std::string(format->type_characters.substr(0, 1)) + dir.Path("area/net");
    EXPECT_EQ(ForeseeOpenBase(spec), OpenCourse::kCreate);
    for (int pass = 0; pass < 2; ++pass) {
      std::unique_ptr<MessageBase> base;
      const Status opened = OpenBase(spec, &base);
      ASSERT_TRUE(opened.ok()) << opened.ToString();
      ASSERT_NE(base, nullptr);
      EXPECT_EQ(base->Count(), 0);
      EXPECT_EQ(ForeseeOpenBase(spec), OpenCourse::kOpen);
    }
    dir.WriteFile("plain", "a file where a directory should be");
    std::unique_ptr<MessageBase> base;
    const Status refused =
        OpenBase(std::string(format->type_characters.substr(0, 1)) + dir.Path("plain/net"), &base);
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(base, nullptr);
  }
}

TEST(OpenContractTest, SpecsWithoutABaseSayWhy) {
  std::unique_ptr<MessageBase> base;
  EXPECT_EQ(OpenBase("C:\\X.DAT", &base).kind(), StatusKind::kInvalidArgument);
  const Status too_long = OpenBase("#" + std::string(300, 'a'), &base);
  EXPECT_EQ(too_long.kind(), StatusKind::kCorruption);
  EXPECT_EQ(too_long.ToString(), "a file of the base passes 255 characters");
}

}  // namespace
}  // namespace qlr
