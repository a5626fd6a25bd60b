#include "msgbase/format_registry.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <set>
#include <string>

#include "msgbase/base_files.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "msgbase/open_base.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

TEST(FormatRegistryTest, TypeCharactersSelectTheirFormatInEitherCase) {
  const struct {
    char type;
    const char* format;  // null: no format
  } cases[] = {
      {'#', "*.MSG directory"},
      {'F', "*.MSG directory"},
      {'f', "*.MSG directory"},
      {'P', "packet"},
      {'p', "packet"},
      {'$', "Squish"},
      {'S', "Squish"},
      {'s', "Squish"},
      {'!', "JAM"},
      {'J', "JAM"},
      {'j', "JAM"},
      {'C', nullptr},
      {'/', nullptr},
      {'\0', nullptr},
      {'m', nullptr},
  };
  for (const auto& c : cases) {
    const FormatDescriptor* format = FindFormatByType(c.type);
    if (c.format == nullptr) {
      EXPECT_EQ(format, nullptr) << c.type;
    } else {
      ASSERT_NE(format, nullptr) << c.type;
      EXPECT_EQ(format->name, c.format) << c.type;
    }
  }
}

TEST(FormatRegistryTest, BaseFileExtensionsSelectTheirFormat) {
  const struct {
    const char* extension;
    const char* format;
  } cases[] = {
      {".jhr", "JAM"},    {".JDT", "JAM"},    {".Jdx", "JAM"},   {".sqd", "Squish"},
      {".SQI", "Squish"}, {".pkt", "packet"}, {".jlr", nullptr}, {".msg", nullptr},
      {"jhr", nullptr},   {"", nullptr},
  };
  for (const auto& c : cases) {
    const FormatDescriptor* format = FindFormatByExtension(c.extension);
    if (c.format == nullptr) {
      EXPECT_EQ(format, nullptr) << c.extension;
    } else {
      ASSERT_NE(format, nullptr) << c.extension;
      EXPECT_EQ(format->name, c.format) << c.extension;
    }
  }
  ASSERT_NE(FindDirectoryFormat(), nullptr);
  EXPECT_EQ(FindDirectoryFormat()->message_mask, "*.msg");
}

// Lookups take the first match, so a repeated character or extension would
// make one format unreachable.
TEST(FormatRegistryTest, BuiltInFormatsAreConsistent) {
  std::set<char> types;
  std::set<std::string> extensions;
  ASSERT_EQ(AllFormats().size(), 4u);
  for (const FormatDescriptor* format : AllFormats()) {
    SCOPED_TRACE(std::string(format->name));
    EXPECT_FALSE(format->type_characters.empty());
    for (char type : format->type_characters) EXPECT_TRUE(types.insert(type).second) << type;
    for (std::string_view extension : format->extensions) {
      EXPECT_TRUE(extensions.insert(std::string(extension)).second) << extension;
    }
    if (format->layout == FileLayout::kDirectory) {
      EXPECT_TRUE(format->extensions.empty());
      EXPECT_FALSE(format->message_mask.empty());
    } else {
      EXPECT_FALSE(format->extensions.empty());
    }
  }
}

// The base operations know formats only through the registry: a format
// installed under a new type character is opened, copied and emptied.
TEST(FormatRegistryTest, BaseOperationsDispatchThroughTheRegistry) {
  FormatDescriptor trial = *FindFormatByType('#');
  trial.name = "trial";
  trial.type_characters = "X";
  const std::array<const FormatDescriptor*, 1> table = {&trial};
  const auto previous = AllFormats();
  InstallFormats(table);

  testing::ScratchDir dir;
  dir.WriteFile("area/5.msg", "x");
  const std::string spec = "X" + dir.Path("area");
  const auto base = OpenBase(spec);
  const bool opened = base != nullptr && base->Count() == 5;
  const bool hash_unknown = FindFormatByType('#') == nullptr;
  CopyManifest copied;
  const bool copy_failed = CopyBaseFiles(spec, dir.Path("copy"), &copied);
  const auto erased = EraseBase(spec, &copied);
  InstallFormats(previous);

  EXPECT_TRUE(opened);
  EXPECT_TRUE(hash_unknown);
  EXPECT_FALSE(copy_failed);
  EXPECT_EQ(dir.ReadFile("copy/5.msg"), "x");
  ASSERT_NE(erased, nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("area/5.msg")));
}

}  // namespace
}  // namespace qlr
