// Rotation of JAM, Squish and packet bases by the real binary: the copy
// holds the exact files, the base is left empty but present, and the next
// run finds nothing to rotate.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/qlr_fixture.h"
#include "testing/raw_bases.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

struct FormatCase {
  const char* name;
  char type;
  std::vector<std::string> extensions;
};

// Names the case in test output (the struct has padding bytes).
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

const FormatCase kFormats[] = {
    {"Jam", '!', {".jhr", ".jdt", ".jdx"}},
    {"Squish", '$', {".sqd", ".sqi"}},
    {"Packet", 'P', {".pkt"}},
};

std::string Sep() { return std::string(1, fs::path::preferred_separator); }

class FormatRotationTest : public QlrFixture, public ::testing::WithParamInterface<FormatCase> {
 protected:
  std::string Processing(const std::string& spec) { return "processing base [" + spec + "]... "; }

  // Reads every file of the base at `base` (a relative path without
  // extension) with its modification time.
  std::map<std::string, std::pair<std::string, fs::file_time_type>> Snapshot(
      const std::string& base) {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
    for (const std::string& extension : GetParam().extensions) {
      files[extension] = {dir_.ReadFile(base + extension),
                          fs::last_write_time(Path(base + extension))};
    }
    return files;
  }
};

TEST_P(FormatRotationTest, OversizeBaseIsCopiedExactlyAndLeftEmpty) {
  MakeRawBase(GetParam().type, Path("mail/area"), 3);
  const auto before = Snapshot("mail/area");
  const std::string spec = std::string(1, GetParam().type) + Path("mail/area");
  WriteControlFile({"MaxMessages 2", "Base " + spec + " " + Path("old")});

  ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + Processing(spec) + "3 messages. copied to [" + Path("old") + Sep() +
                       "00000000]\r\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  for (const auto& [extension, file] : before) {
    EXPECT_EQ(dir_.ReadFile("old/00000000/area" + extension), file.first) << extension;
    EXPECT_EQ(fs::last_write_time(Path("old/00000000/area" + extension)), file.second) << extension;
    EXPECT_TRUE(fs::is_regular_file(Path("mail/area" + extension))) << extension;
  }

  r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + Processing(spec) + "only 0 messages. let it live.\r\n");
  EXPECT_EQ(r.exit_code, 0);
}

TEST_P(FormatRotationTest, SpecGivenByExtensionAndNameWithSeveralDots) {
  MakeRawBase(GetParam().type, Path("mail/my"), 2);
  // MY.AREA.<ext> is cut at its first dot: the base "my".
  const std::string spec = Path("mail/my.area" + GetParam().extensions.front());
  WriteControlFile({"MaxMessages 1", "Base " + spec + " " + Path("old")});
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + Processing(spec) + "2 messages. copied to [" + Path("old") + Sep() +
                       "00000000]\r\n");
  EXPECT_TRUE(Exists("old/00000000/my" + GetParam().extensions.front()));
}

TEST_P(FormatRotationTest, UpperCaseBaseFilesAreRotatedUnderTheirOwnNames) {
  if (Sep() == "\\") GTEST_SKIP() << "Windows ignores case itself";
  MakeRawBase(GetParam().type, Path("mail/AREA"), 2);
  const auto upper = [](std::string name) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
  };
  // Every file, also the last-read file a JAM base is made with.
  for (const auto& entry : fs::directory_iterator(Path("mail"))) {
    fs::rename(entry.path(), Path("mail/" + upper(entry.path().filename().string())));
  }
  const std::string spec = std::string(1, GetParam().type) + Path("mail/area");
  WriteControlFile({"MaxMessages 1", "Base " + spec + " " + Path("old")});
  const ProgramResult r = Run({"/c"});
  EXPECT_EQ(r.out, kBanner + Processing(spec) + "2 messages. copied to [" + Path("old") + Sep() +
                       "00000000]\r\n");
  for (const std::string& extension : GetParam().extensions) {
    EXPECT_TRUE(Exists("old/00000000/" + upper("AREA" + extension))) << extension;
    EXPECT_TRUE(Exists("mail/" + upper("AREA" + extension))) << extension;
  }
  // Nothing in the base's directory was made under a name of another case.
  for (const auto& entry : fs::directory_iterator(Path("mail"))) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name, upper(name));
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatRotationTest, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<FormatCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace qlr::testing
