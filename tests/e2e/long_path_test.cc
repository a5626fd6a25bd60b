// Paths at the length limit: every control line below is as long as the
// control file takes (255 characters), and each makes some composed path
// (a file of the copy, the partial directory, the archive) pass 255. The
// run must then fail the copy and leave the base as it was: a cut path
// names another file, and three files of a base copied onto one cut name
// would leave a copy of the last one alone.
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
  const char* arc_extension;        // pack mode when set
  std::vector<std::string> suffix;  // files of the base (extensions, or "/N.msg")
};

void PrintTo(const LongPathCase& c, std::ostream* os) { *os << c.name; }

const LongPathCase kCases[] = {
    // target/qlr-partial.NNNNNNNN/name.ext passes 255: the copy files.
    {"JamCopyFiles", '!', 75, nullptr, {".jhr", ".jdt", ".jdx"}},
    {"SquishCopyFiles", '$', 75, nullptr, {".sqd", ".sqi"}},
    {"PacketCopyFile", 'P', 75, nullptr, {".pkt"}},
    // A directory base with a short name: the partial directory itself
    // passes 255.
    {"MsgDirPartialDirectory", '#', 1, nullptr, {"/1.msg", "/2.msg", "/3.msg"}},
    // The partial directory fits, the archive name does not.
    {"PackArchiveName", '#', 1, "archive-format-longer1", {"/1.msg", "/2.msg", "/3.msg"}},
};

class LongPathTest : public QlrFixture, public ::testing::WithParamInterface<LongPathCase> {};

TEST_P(LongPathTest, PathThatCannotBeFormedWholeFailsTheCopyAndKeepsTheBase) {
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
  std::size_t target_length = kLineLimit - prefix.size();
  // Pack mode: a target whose partial copy and its lock file just fit.
  if (c.arc_extension != nullptr) target_length = kLineLimit - 30;
  const std::string target = PathOfLength(target_length);
  ASSERT_LE(prefix.size() + target.size(), kLineLimit);
  std::vector<std::string> control = {"MaxMessages 2", prefix + target};
  if (c.arc_extension != nullptr) {
    control.push_back(std::string("Arc.Extension ") + c.arc_extension);
    control.push_back("Arc.Add echo packed > @ArcName");
  }
  WriteControlFile(control);
  std::vector<std::string> before;
  for (const std::string& suffix : c.suffix) before.push_back(dir_.ReadFile(base + suffix));

  // A directory under the name a cut partial path would have: a dead
  // run's leftovers are removed by that name, and this one is not ours.
  const std::string leftover = target + kSeparator + "qlr-partial.00000000";
  const std::string cut_partial = leftover.substr(0, kLineLimit);
  if (cut_partial != leftover) {
    fs::create_directories(Path(leftover));
    dir_.WriteFile(cut_partial + "/keep", "keep");
  }

  const ProgramResult r = Run({c.arc_extension != nullptr ? "/p" : "/c"});
  EXPECT_EQ(r.out, std::string(kBanner) + "processing base [" + spec +
                       "]... 3 messages. cannot copy to [" + target + kSeparator +
                       "00000000]! base left as it was.\r\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("passes 255 characters"), std::string::npos) << r.err;
  for (std::size_t i = 0; i < c.suffix.size(); ++i) {
    EXPECT_EQ(dir_.ReadFile(base + c.suffix[i]), before[i]) << c.suffix[i];
  }
  EXPECT_FALSE(Exists(target + kSeparator + "00000000"));
  EXPECT_TRUE(cut_partial == leftover || Exists(cut_partial + "/keep"));
}

INSTANTIATE_TEST_SUITE_P(Cases, LongPathTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

// qlrmsg destinations that cannot be named whole: the base spec itself, or the
// files of its base. Cut, each would be another base; nothing may be made.
TEST(LongPathQlrmsgTest, DestinationThatCannotBeNamedWholeIsRefused) {
  const struct {
    char type;
    std::size_t path_length;
  } cases[] = {{'!', 300}, {'!', 253}, {'$', 252}, {'P', 253}, {'#', 251}};
  for (const auto& c : cases) {
    ScratchDir dir;
    MakeRawBase('!', dir.Path("src"), 2);
    const std::string path = PathOfLength(c.path_length);
    const std::string parent = path.substr(0, path.rfind(kSeparator));
    fs::create_directories(dir.Path(parent));
    const std::string spec = std::string(1, c.type) + path;
    const ProgramResult r = RunProgram(ProgramUnderTest("QLRMSG_BINARY", QLR_DEFAULT_QLRMSG),
                                       {"copy", "!src", spec}, dir.root());
    EXPECT_EQ(r.exit_code, 1) << spec.size();
    EXPECT_NE(r.err.find("passes 255 characters"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(dir.Path(parent))) << spec.size();
  }
}

}  // namespace
}  // namespace qlr::testing
