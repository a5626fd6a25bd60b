// JAM, Squish and packet bases through the registry: OpenBase refuses what
// would be destroyed, the copy holds the exact files and the erase empties
// only what the copy holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "msgbase/base_files.h"
#include "msgbase/copy_manifest.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"
#include "testing/fault_injecting_platform.h"
#include "testing/fault_sweep.h"
#include "testing/scratch_dir.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;

struct FileSetCase {
  const char* name;
  const char* type;                     // type character in front of the base path
  std::vector<std::string> extensions;  // in handling order, key file first
};

// Names the case in test output (the struct has padding bytes).
void PrintTo(const FileSetCase& c, std::ostream* os) { *os << c.name; }

const FileSetCase kCases[] = {
    {"Jam", "!", {".jhr", ".jdt", ".jdx"}},
    {"Squish", "$", {".sqd", ".sqi"}},
    {"Packet", "P", {".pkt"}},
};

class FileSetBaseTest : public ::testing::TestWithParam<FileSetCase> {
 protected:
  std::string Spec(const std::string& base = "area/net") const {
    return GetParam().type + dir_.Path(base);
  }
  std::string File(const std::string& extension, const std::string& base = "area/net") const {
    return dir_.Path(base + extension);
  }
  // A fresh base made by OpenBase, with one byte appended to every file so
  // that its content is its own.
  void MakeBase() {
    auto base = OpenBase(Spec());
    ASSERT_NE(base, nullptr);
  }

  testing::ScratchDir dir_;
};

TEST_P(FileSetBaseTest, MissingKeyFileBesideOthersIsLeftAlone) {
  const auto& extensions = GetParam().extensions;
  if (extensions.size() < 2) GTEST_SKIP() << "a one-file base has no other files";
  for (std::size_t i = 1; i < extensions.size(); ++i) {
    dir_.WriteFile("area/net" + extensions[i], "texts of messages");
  }
  std::unique_ptr<MessageBase> base;
  EXPECT_EQ(OpenBase(Spec(), &base).kind(), StatusKind::kCorruption);
  EXPECT_EQ(base, nullptr);
  EXPECT_FALSE(fs::exists(File(extensions[0])));
  for (std::size_t i = 1; i < extensions.size(); ++i) {
    EXPECT_EQ(dir_.ReadFile("area/net" + extensions[i]), "texts of messages");
  }
}

TEST_P(FileSetBaseTest, CopyThenEraseEmptiesTheBaseTheCopyHolds) {
  MakeBase();
  std::vector<std::string> before;
  for (const std::string& extension : GetParam().extensions) {
    before.push_back(dir_.ReadFile("area/net" + extension));
  }
  CopyManifest copied;
  ASSERT_FALSE(CopyBaseFiles(Spec(), dir_.Path("copy"), &copied));
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(dir_.ReadFile("copy/net" + GetParam().extensions[i]), before[i]);
  }
  auto erased = EraseBase(Spec(), &copied);
  ASSERT_NE(erased, nullptr);
  EXPECT_EQ(erased->State(), BaseState::kCreated);
  erased.reset();
  auto reopened = OpenBase(Spec());
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(reopened->Count(), 0);
}

TEST_P(FileSetBaseTest, EraseLeavesABaseThatChangedAfterItsCopy) {
  MakeBase();
  CopyManifest copied;
  ASSERT_FALSE(CopyBaseFiles(Spec(), dir_.Path("copy"), &copied));
  // A writer that ignores the lock convention appends after the copy.
  const std::string key = GetParam().extensions.front();
  const std::string changed = dir_.ReadFile("area/net" + key) + "late";
  dir_.WriteFile("area/net" + key, changed);
  EXPECT_EQ(EraseBase(Spec(), &copied), nullptr);
  EXPECT_EQ(dir_.ReadFile("area/net" + key), changed);
}

// A run killed while it empties a base (here: every call of one kind
// failing from some call on, the state a kill leaves) must leave a base
// that every reader still opens, with all of its messages or none. A base
// that no longer opens is one no tosser can write to.
TEST_P(FileSetBaseTest, EraseStoppedAtAnyCallLeavesABaseThatOpens) {
  constexpr int kMessages = 3;
  int stopped = 0;
  for (const testing::PlatformOp op :
       {testing::PlatformOp::kOpenFile, testing::PlatformOp::kWrite, testing::PlatformOp::kWriteAt,
        testing::PlatformOp::kTruncate}) {
    SCOPED_TRACE(std::string(testing::OpName(op)));
    for (int nth = 1;; ++nth) {
      fs::remove_all(dir_.Path("area"));
      fs::remove_all(dir_.Path("copy"));
      {
        auto base = OpenBase(Spec());
        ASSERT_NE(base, nullptr);
        Message m;
        for (int i = 1; i <= kMessages; ++i) {
          m.Clear();
          m.From = "Tester";
          m.To = "All";
          m.Subject = "message " + std::to_string(i);
          m.Text.Write("body\r", 5);
          ASSERT_FALSE(base->WriteMessage(base->Count() + 1, m));
        }
      }
      CopyManifest copied;
      ASSERT_FALSE(CopyBaseFiles(Spec(), dir_.Path("copy"), &copied));
      testing::FaultInjectingPlatform faulty;
      bool fired = false;
      {
        auto installed = faulty.Install();
        faulty.FailCall(op, nth, testing::FailMode::kFromThenOn);
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

INSTANTIATE_TEST_SUITE_P(Formats, FileSetBaseTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FileSetCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace qlr
