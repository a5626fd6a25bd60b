// qlrmsg plan end to end: the preview of a rotation run over real bases in
// a scratch installation, compared line for line with what the run itself
// then does, and the proof that the preview leaves everything as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/qlr_fixture.h"
#include "msgbase/formats/all_formats.h"
#include "testing/raw_bases.h"
#include "util/files.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

class QlrmsgPlanTest;

struct PlanCase {
  const char* name;
  std::vector<std::string> control;  // after "MaxMessages 3"; "@/" is in the root
  std::function<void(QlrmsgPlanTest&)> setup;
  std::vector<std::string> args;
  std::string out;  // "@/" is in the root
  int exit_code;
  std::string err_part;  // found in standard error; empty: nothing there
};
// By name: gtest would otherwise print the row's bytes, padding and all.
void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

class QlrmsgPlanTest : public QlrFixture, public ::testing::WithParamInterface<PlanCase> {
 public:
  // What the rows' setups use.
  using QlrFixture::dir_;
  using QlrFixture::MakeMsgArea;
  using QlrFixture::Path;

 protected:
  void SetUp() override {
    QlrFixture::SetUp();
    InstallBuiltInFormats();
    const std::string built = ProgramUnderTest("QLRMSG_BINARY", QLR_DEFAULT_QLRMSG);
    qlrmsg_ = (fs::path(bin_dir_) / fs::path(built).filename()).string();
    fs::copy_file(built, qlrmsg_);
  }
  ProgramResult Plan(const std::vector<std::string>& args) {
    std::vector<std::string> all{"plan"};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(qlrmsg_, all, dir_.root());
  }
  // `text` with every "@/" standing for the scratch root, and the
  // separators of the path it starts in the host's syntax.
  std::string Rooted(std::string text) {
    const std::string root = dir_.Path("");
    for (std::size_t at = text.find("@/"); at != std::string::npos; at = text.find("@/", at)) {
      text.replace(at, 1, root);
      for (at += root.size();
           at < text.size() && std::string_view(" \t\n]:").find(text[at]) == std::string_view::npos;
           ++at) {
        if (text[at] == '/') text[at] = static_cast<char>(fs::path::preferred_separator);
      }
    }
    return text;
  }

  std::string qlrmsg_;

 public:
  // A lock another program holds, for as long as the case runs.
  FileByteLock held_;
};

const PlanCase kPlanCases[] = {
    {"AtOrUnderTheLimitAndMissingLive",
     {"Base #@/small @/old", "Base #@/none @/old"},
     [](QlrmsgPlanTest& t) { t.MakeMsgArea("small", 3); },
     {},
     "#@/small\t*.MSG directory\t3\t3\tlet it live\t-\t-\n"
     "#@/none\t*.MSG directory\t0\t3\tlet it live\t-\t-\n",
     0,
     ""},
    {"OverTheLimitTakesTheFirstFreeNumber",
     {"Base #@/big @/old", "Base !@/jam/echo @/new/deep", "Base $@/sq @/old"},
     [](QlrmsgPlanTest& t) {
       t.MakeMsgArea("big", 4);
       t.MakeMsgArea("old/00000000", 1);
       t.dir_.WriteFile("old/00000001.7z", "x");
       t.MakeMsgArea("old/00000003", 1);
       MakeRawBase('!', t.Path("jam/echo"), 5);
       MakeRawBase('$', t.Path("sq"), 6);
     },
     {"/c"},
     "#@/big\t*.MSG directory\t4\t3\trotate\t@/old/00000002\t-\n"
     "!@/jam/echo\tJAM\t5\t3\trotate\t@/new/deep/00000000\t-\n"
     "$@/sq\tSquish\t6\t3\trotate\t@/old/00000004\t-\n",
     0,
     ""},
    {"PackModeExpandsTheArchiverCommand",
     {"Base $@/sq/area @/old", "Arc.Extension zip", "Arc.Add zip -j @ArcName.zip @FileName"},
     [](QlrmsgPlanTest& t) {
       MakeRawBase('$', t.Path("sq/area"), 9);
       t.dir_.WriteFile("old/qlr-packing.00000000", "not the run's: passed over");
       fs::create_directories(t.Path("old/qlr-packing.00000001"));  // a dead run's: removed
     },
     {"/P"},
     "$@/sq/area\tSquish\t9\t3\trotate\t@/old/00000000\t"
     "zip -j @/old/qlr-packing.00000001/00000000.zip @/old/00000000\n",
     0,
     ""},
    {"UnreadableBaseAndTargetThatCannotBeMade",
     {"Base !@/lost @/old", "Base P@/in.pkt @/file/sub"},
     [](QlrmsgPlanTest& t) {
       t.dir_.WriteFile("lost.jdt", "texts without their headers");
       MakeRawBase('P', t.Path("in"), 4);
       t.dir_.WriteFile("file", "a file where the target's parent would be");
     },
     {},
     "!@/lost\tJAM\t-\t3\tcannot open!\t-\t-\n"
     "P@/in.pkt\tpacket\t4\t3\tcannot copy!\t@/file/sub/00000000\t-\n",
     1,
     "P@/in.pkt: cannot copy to [@/file/sub/00000000]: "},
    {"BaseLockHeldByAnotherProgram",
     {"Base !@/held @/old"},
     [](QlrmsgPlanTest& t) {
       MakeRawBase('!', t.Path("held"), 4);
       ASSERT_EQ(t.held_.Acquire(t.Path("held.jhr"), false, 0), FileByteLock::Outcome::kLocked);
     },
     {},
     "!@/held\tJAM\t4\t3\tbase is busy!\t-\t-\n",
     1,
     "!@/held: [@/held.jhr] is locked by another program now"},
    {"GivenControlFileWithItsRunLockHeld",
     {},
     [](QlrmsgPlanTest& t) {
       t.dir_.WriteFile("other/qlr.ctl", "Base #x\r\n");
       ASSERT_EQ(t.held_.Acquire(t.Path("other/qlr.lck"), true, 0), FileByteLock::Outcome::kLocked);
     },
     {"@/other/qlr.ctl"},
     "",
     1,
     "qlrmsg: [@/other/qlr.lck] is held by another run!\n"},
    {"NoBaseLinesAndAWrongLine",
     {"Frobnicate 1"},
     nullptr,
     {},
     "",
     1,
     "qlrmsg: wrong line #[2] in [@/bin/qlr.ctl]\nqlrmsg: nothing to archiving...\n"},
    {"NoControlFile", {}, nullptr, {"@/nowhere.ctl"}, "", 1, "[@/nowhere.ctl] is not found!"},
};

TEST_P(QlrmsgPlanTest, PrintsWhatTheRunWouldDoPerBaseLine) {
  const PlanCase& c = GetParam();
  std::vector<std::string> control{"MaxMessages 3"};
  for (const std::string& line : c.control) control.push_back(Rooted(line));
  WriteControlFile(control);
  if (c.setup) c.setup(*this);
  std::vector<std::string> args;
  for (const std::string& arg : c.args) args.push_back(Rooted(arg));
  const ProgramResult r = Plan(args);
  EXPECT_EQ(r.out, Rooted(c.out));
  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  if (c.err_part.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(Rooted(c.err_part)), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, QlrmsgPlanTest, ::testing::ValuesIn(kPlanCases),
                         [](const auto& row) { return std::string(row.param.name); });

// Every entry under `root` with its kind, size, time and bytes.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string& state = entries[entry.path().string()];
    const fs::file_status status = entry.symlink_status();
    state = std::to_string(static_cast<int>(status.type()));
    state += " " + std::to_string(entry.last_write_time().time_since_epoch().count());
    if (entry.is_regular_file()) {
      state += " " + std::to_string(entry.file_size());
      std::ifstream in(entry.path(), std::ios::binary);
      state.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  return entries;
}

TEST_F(QlrFixture, PlanTouchesNothingAndTheRunThenDoesWhatItSaid) {
  InstallBuiltInFormats();
  MakeMsgArea("msg", 4);
  MakeMsgArea("old/00000000", 1);
  MakeRawBase('!', Path("jam"), 7);
  MakeRawBase('$', Path("squish"), 2);
  MakeRawBase('P', Path("pkt"), 5);
  WriteControlFile({"MaxMessages 3", "Base #" + Path("msg") + " " + Path("old"),
                    "Base !" + Path("jam") + " " + Path("old"),
                    "Base $" + Path("squish") + " " + Path("old"),
                    "Base " + Path("pkt.pkt") + " " + Path("new"), "Base #" + Path("none"),
                    "Arc.Extension zip", "Arc.Add zip @ArcName @FileName"});
  const std::string built = ProgramUnderTest("QLRMSG_BINARY", QLR_DEFAULT_QLRMSG);
  const std::string qlrmsg = (fs::path(bin_dir_) / fs::path(built).filename()).string();
  fs::copy_file(built, qlrmsg);
  const auto before = Snapshot(dir_.root());
  std::string planned;
  for (const char* mode : {"/p", "/c"}) {
    const ProgramResult r = RunProgram(qlrmsg, {"plan", mode}, dir_.root());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    planned = r.out;
  }
  EXPECT_EQ(Snapshot(dir_.root()), before);

  // The run takes the numbers the plan named, and lets the same bases live.
  const ProgramResult run = Run({"/c"});
  ASSERT_EQ(run.exit_code, 0) << run.out;
  std::istringstream lines(planned);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 7u) << line;
    const std::string outcome = fields[4] == "rotate"
                                    ? fields[2] + " messages. copied to [" + fields[5] + "]"
                                    : "only " + fields[2] + " messages. let it live.";
    EXPECT_NE(run.out.find("processing base [" + fields[0] + "]... " + outcome + "\r\n"),
              std::string::npos)
        << run.out;
  }
  EXPECT_EQ(count, 5);
}

}  // namespace
}  // namespace qlr::testing
