// The JAM and Squish rotation where byte-range locks are mandatory, as on
// Windows: the run locks the first byte of .jhr or .sqd before the copy
// and holds it until the erase is done, so every read, write and truncate
// of that file in between must go through the handle that holds the lock.
// Run with advisory locks as well, the same rotation must give the same
// result.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/packer_app.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"
#include "platform/locked_file_route.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::MemoryPlatform;

struct LockCase {
  const char* name;
  char type;
  std::vector<std::string> extensions;
  bool mandatory;
};

void PrintTo(const LockCase& c, std::ostream* os) { *os << c.name; }

const LockCase kCases[] = {
    {"JamMandatory", '!', {".jhr", ".jdt", ".jdx"}, true},
    {"JamAdvisory", '!', {".jhr", ".jdt", ".jdx"}, false},
    {"SquishMandatory", '$', {".sqd", ".sqi"}, true},
    {"SquishAdvisory", '$', {".sqd", ".sqi"}, false},
};

std::string HostPath(std::string_view name) { return PathSeparator() + std::string(name); }

class RotationWindowsLocksTest : public ::testing::TestWithParam<LockCase> {
 protected:
  void SetUp() override {
    disk_.SetBackslashIsSeparator(PathSeparator() == '\\');
    disk_.MakeDirs("/area");
    disk_.MakeDirs("/old");
    spec_ = std::string(1, GetParam().type) + HostPath("area") + PathSeparator() + "net";
    auto base = OpenBase(spec_);
    ASSERT_NE(base, nullptr);
    for (int i = 1; i <= 3; ++i) {
      Message message;
      message.Subject = "message " + std::to_string(i);
      const std::string text = "text of message " + std::to_string(i) + "\r";
      message.Text.Write(text.data(), text.size());
      ASSERT_FALSE(base->AppendMessage(message)) << i;
    }
    base.reset();
    disk_.SetMandatoryLocks(GetParam().mandatory);
  }

  MemoryPlatform disk_;
  ScopedPlatform installed_{disk_};
  std::string spec_;
};

TEST_P(RotationWindowsLocksTest, BaseIsCopiedAndEmptiedThroughTheLockingHandle) {
  std::vector<std::string> before;
  for (const std::string& extension : GetParam().extensions) {
    before.push_back(disk_.ReadFileBytes("/area/net" + extension).value_or("missing"));
  }
  PackerApp app;
  app.MaxMessages = 1;
  app.RunLockPath = HostPath("qlr.lck");
  app.BaseLines.push_back(NewStr(spec_ + " " + HostPath("old")));
  ::testing::internal::CaptureStdout();
  app.Run();
  const std::string output = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(output, "processing base [" + spec_ + "]... 3 messages. copied to [" + HostPath("old") +
                        PathSeparator() + "00000000]\r\n");
  EXPECT_EQ(app.ExitCode(), 0);
  for (std::size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(disk_.ReadFileBytes("/old/00000000/net" + GetParam().extensions[i]), before[i])
        << GetParam().extensions[i];
  }
  auto emptied = OpenBase(spec_);
  ASSERT_NE(emptied, nullptr);
  EXPECT_EQ(emptied->Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, RotationWindowsLocksTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

// A view of the locking handle: its own position, the owner's lock not
// given away, and a create that empties the file.
TEST(LockedFileRouteTest, OpensOfTheLockedFileShareTheLockingHandle) {
  MemoryPlatform disk;
  ScopedPlatform installed(disk);
  disk.SetMandatoryLocks(true);
  disk.WriteFileBytes("/base.jhr", "0123456789");
  std::unique_ptr<FileHandle> owner = disk.OpenFile("/base.jhr", OpenMode::kReadWrite);
  ASSERT_TRUE(owner != nullptr && owner->TryLock(0, 1));
  std::string bytes(4, '\0');
  std::size_t got = 0;
  EXPECT_FALSE(Os().OpenFile("/base.jhr", OpenMode::kRead)->Read(bytes.data(), 4, &got));
  LockedFileRoute route("/base.jhr", *owner);
  std::unique_ptr<FileHandle> view = Os().OpenFile("/base.jhr", OpenMode::kReadWrite);
  ASSERT_TRUE(view->Read(bytes.data(), 4, &got) && view->Read(bytes.data(), 4, &got));
  EXPECT_EQ(bytes, "4567");
  EXPECT_FALSE(view->TryLock(0, 1));
  ASSERT_TRUE(view->Truncate(5) && view->Close());
  EXPECT_EQ(disk.ReadFileBytes("/base.jhr"), "01234");
  ASSERT_NE(Os().OpenFile("/base.jhr", OpenMode::kCreate), nullptr);
  EXPECT_EQ(disk.ReadFileBytes("/base.jhr"), "");
}

}  // namespace
}  // namespace qlr
