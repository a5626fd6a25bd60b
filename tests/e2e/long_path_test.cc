// Paths past 255 characters. A path is never cut (cut, it names another
// file: three files of a base copied onto one cut name would leave a copy
// of the last one alone). Each control line below is as long as the
// control file takes (255 characters) and makes the composed paths of the
// copy (the partial directory, the files in it) pass 255: on POSIX the
// base is then rotated whole. Windows takes no path of MAX_PATH (260)
// characters or more without a prefix the program does not use: there the
// same paths are refused as "path too long" before anything is made, and
// the base is left as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/qlr_fixture.h"
#include "platform/host.h"
#include "testing/raw_bases.h"
#include "testing/run_program.h"
#include "testing/scratch_dir.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLineLimit = 255;

// The host's separator: the control file and qlrmsg take paths in the
// host's syntax, whose path helpers know no other.
constexpr char kSeparator = kHostIsWindows ? '\\' : '/';

// A relative directory path of exactly `length` characters made of
// components of at most 100.
std::string PathOfLength(std::size_t length) {
  std::string path;
  char letter = 'a';
  while (path.size() < length) {
    if (!path.empty()) path += kSeparator;
    const std::size_t n = std::min<std::size_t>(100, length - path.size());
    path.append(n, letter++);
  }
  return path;
}

struct LongPathCase {
  const char* name;
  char type;                        // the base's type character
  std::size_t base_name;            // length of the base's file name
  std::vector<std::string> suffix;  // files of the base (extensions, or "/N.msg")
};

void PrintTo(const LongPathCase& c, std::ostream* os) { *os << c.name; }

const LongPathCase kCases[] = {
    {"JamCopyFiles", '!', 75, {".jhr", ".jdt", ".jdx"}},
    {"SquishCopyFiles", '$', 75, {".sqd", ".sqi"}},
    {"PacketCopyFile", 'P', 75, {".pkt"}},
    // A directory base with a short name: the partial directory itself
    // passes 255.
    {"MsgDirPartialDirectory", '#', 1, {"/1.msg", "/2.msg", "/3.msg"}},
};

class LongPathTest : public QlrFixture, public ::testing::WithParamInterface<LongPathCase> {};

TEST_P(LongPathTest, CopyPastTheLimitIsMadeWholeOrRefusedUntouched) {
  const LongPathCase& c = GetParam();
  const std::string base = "m" + std::string(1, kSeparator) + std::string(c.base_name, 'n');
  const std::string spec = std::string(1, c.type) + base;
  if (c.type == '#') {
    MakeMsgArea(base, 3);
  } else {
    MakeRawBase(c.type, Path(base), 3);
  }
  // The longest target the control line holds.
  const std::string prefix = "Base " + spec + " ";
  const std::string target = PathOfLength(kLineLimit - prefix.size());
  const std::string copy = target + kSeparator + "00000000";
  WriteControlFile({"MaxMessages 2", prefix + target});
  std::vector<std::string> before;
  for (const std::string& suffix : c.suffix) before.push_back(dir_.ReadFile(base + suffix));

  const ProgramResult r = Run({"/c"});
  const std::string line = std::string(kBanner) + "processing base [" + spec + "]... 3 messages. ";
  if (!kHostIsWindows) {
    EXPECT_EQ(r.out, line + "copied to [" + copy + "]\r\n");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    for (std::size_t i = 0; i < c.suffix.size(); ++i) {
      const std::string name =
          c.type == '#' ? c.suffix[i] : std::string(c.base_name, 'n') + c.suffix[i];
      ASSERT_GT((copy + kSeparator + name).size(), kLineLimit);
      EXPECT_EQ(dir_.ReadFile(copy + kSeparator + name), before[i]) << c.suffix[i];
    }
    // The base was emptied: a second run finds no message in it.
    EXPECT_EQ(Run({"/c"}).out, std::string(kBanner) + "processing base [" + spec +
                                   "]... only 0 messages. let it live.\r\n");
    return;
  }
  EXPECT_EQ(r.out, line + "cannot copy to [" + copy + "]! base left as it was.\r\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("path too long"), std::string::npos) << r.err;
  for (std::size_t i = 0; i < c.suffix.size(); ++i) {
    EXPECT_EQ(dir_.ReadFile(base + c.suffix[i]), before[i]) << c.suffix[i];
  }
  EXPECT_FALSE(Exists(target));
}

INSTANTIATE_TEST_SUITE_P(Cases, LongPathTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

// qlrmsg destinations past 255 characters are made whole; one with a
// component longer than a file system takes (255 bytes) is refused as
// "path too long", and nothing is made. On Windows whether a name past
// 255 fits depends on the names the copy makes inside it (temporaries,
// lock files) against the MAX_PATH its calls take, so only the rows past
// a component's limit run there.
TEST(LongPathQlrmsgTest, DestinationIsMadeWholeOrRefusedUntouched) {
  const struct {
    char type;
    std::size_t parent_length;
    std::size_t leaf_length;  // past 255: longer than a file system takes
  } cases[] = {{'!', 201, 98}, {'$', 201, 50},  {'P', 201, 51},
               {'#', 201, 49}, {'!', 100, 300}, {'#', 100, 300}};
  for (const auto& c : cases) {
    if (kHostIsWindows && c.leaf_length <= 255) continue;
    ScratchDir dir;
    MakeRawBase('!', dir.Path("src"), 2);
    const std::string parent = PathOfLength(c.parent_length);
    fs::create_directories(dir.Path(parent));
    const std::string leaf(c.leaf_length, 'z');
    const std::string spec = c.type + parent + kSeparator + leaf;
    const ProgramResult r = RunProgram(ProgramUnderTest("QLRMSG_BINARY", QLR_DEFAULT_QLRMSG),
                                       {"copy", "!src", spec}, dir.root());
    SCOPED_TRACE(spec.size());
    if (c.leaf_length > 255) {
      EXPECT_EQ(r.exit_code, 1);
      EXPECT_NE(r.err.find("path too long"), std::string::npos) << r.err;
      EXPECT_TRUE(fs::is_empty(dir.Path(parent)));
      continue;
    }
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // Every file of the copy under the whole name, none under a cut one.
    EXPECT_FALSE(fs::is_empty(dir.Path(parent)));
    for (const auto& entry : fs::directory_iterator(dir.Path(parent))) {
      EXPECT_EQ(entry.path().filename().string().substr(0, leaf.size()), leaf);
    }
  }
}

}  // namespace
}  // namespace qlr::testing
