#include "msgbase/open_base.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "msgbase/format_registry.h"
#include "util/paths.h"

namespace qlr {
namespace {

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

TEST(ParseBaseReferenceTest, SplitsFormatPathAndLocation) {
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
    const BaseReference parsed = ParseBaseReference(c.spec);
    if (c.format == nullptr) {
      EXPECT_EQ(parsed.format, nullptr) << c.spec;
      continue;
    }
    ASSERT_NE(parsed.format, nullptr) << c.spec;
    EXPECT_EQ(parsed.format->name, c.format) << c.spec;
    EXPECT_EQ(parsed.spec, c.spec);
    EXPECT_EQ(parsed.path, "/a/b") << c.spec;
    EXPECT_EQ(parsed.location, BaseLocation(*parsed.format, "/a/b")) << c.spec;
  }
}

// A spec longer than 255 characters is kept whole, to the last character
// of its path, with its extension dropped as in any other spec.
TEST(ParseBaseReferenceTest, KeepsALongPathWhole) {
  const std::string path = "/" + std::string(150, 'd') + "/" + std::string(150, 'n');
  for (const std::string& spec : {"!" + path, path + ".jhr", "#" + path}) {
    const BaseReference parsed = ParseBaseReference(spec);
    ASSERT_NE(parsed.format, nullptr) << spec;
    EXPECT_EQ(parsed.path, path);
    EXPECT_EQ(parsed.location, BaseLocation(*parsed.format, path));
    EXPECT_EQ(parsed.location.substr(0, path.size()), path);
  }
}

TEST(OpenBaseTest, RefusesEmptyAndUnknownSpecs) {
  EXPECT_EQ(OpenBase(""), nullptr);
  // "C" is no type character.
  EXPECT_EQ(OpenBase("C:\\X.DAT"), nullptr);
}

TEST(OpenContractTest, SpecsWithoutABaseSayWhy) {
  std::unique_ptr<MessageBase> base;
  EXPECT_EQ(OpenBase("C:\\X.DAT", &base).kind(), StatusKind::kInvalidArgument);
}

}  // namespace
}  // namespace qlr
