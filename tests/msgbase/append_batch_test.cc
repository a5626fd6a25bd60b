// Appends beside another writer and group-commit batches cut by crashes,
// one suite run for every format that overrides AppendMessage and the
// batch: a message another object added is never replaced, and a crash
// leaves a batch absent or whole, never half a message.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "msgbase/kludge_line.h"
#include "msgbase/message.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "msgbase/packet/packet_base.h"
#include "testing/fault_sweep.h"
#include "testing/memory_platform.h"
#include "util/paths.h"

namespace qlr {
namespace {

using testing::MemoryPlatform;

std::string HostPath(std::string_view relative) {
  std::string path(1, PathSeparator());
  for (char c : relative) path += c == '/' ? PathSeparator() : c;
  return path;
}

struct FormatCase {
  const char* name;
  std::string path;
  std::function<std::unique_ptr<MessageBase>()> make;
  bool file_system_sync;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

const auto kMsgDir = [] { return std::make_unique<MsgDirBase>(); };
const FormatCase kFormats[] = {
    {"MsgDir", HostPath("area/*.msg"), kMsgDir, true},
    {"MsgDirWithoutFileSystemSync", HostPath("area/*.msg"), kMsgDir, false},
    {"Packet", HostPath("area/p.pkt"), [] { return std::make_unique<PacketBase>(); }, true},
};

bool Append(MessageBase& base, const std::string& subject) {
  Message m;
  m.Subject = subject;
  m.Date = "01 Jan 24  12:00:00";
  m.Text.Write("Body\r", 5);
  return base.AppendMessage(m);
}

class AppendBatchTest : public ::testing::TestWithParam<FormatCase> {
 protected:
  // A missing packet opens as unusable; it is made then.
  static std::unique_ptr<MessageBase> Open() {
    auto base = GetParam().make();
    if (!base->Open(GetParam().path) && base->Usable()) return base;
    if (base->Create(GetParam().path) || !base->Usable()) return nullptr;
    return base;
  }

  // A durable base of two messages.
  static std::unique_ptr<MemoryPlatform> TwoMessageDisk() {
    auto disk = std::make_unique<MemoryPlatform>();
    disk->SetBackslashIsSeparator(PathSeparator() == '\\');
    disk->SetFileSystemSyncSupported(GetParam().file_system_sync);
    disk->MakeDirs(HostPath("area"));
    ScopedPlatform installed(*disk);
    auto base = Open();
    EXPECT_TRUE(base && !Append(*base, "old 1") && !Append(*base, "old 2"));
    base.reset();
    disk->MakeAllDurable();
    return disk;
  }

  // The subjects a fresh object reads, in number order; nothing when the
  // base does not open or a message does not read whole.
  static std::optional<std::vector<std::string>> Subjects() {
    auto base = Open();
    if (base == nullptr) return std::nullopt;
    std::vector<std::string> subjects;
    for (std::int32_t n = 1; n <= base->Count(); ++n) {
      Message m;
      if (!base->IsValidMsg(n)) continue;
      if (base->ReadMessage(n, m)) return std::nullopt;
      subjects.push_back(m.Subject.str());
    }
    return subjects;
  }

  std::unique_ptr<MemoryPlatform> disk_ = TwoMessageDisk();
  ScopedPlatform installed_{*disk_};
};

TEST_P(AppendBatchTest, AnAppendNeverReplacesWhatAnotherWriterAdded) {
  auto ours = Open(), disguised = Open(), other = Open();
  ASSERT_TRUE(ours && disguised && other);
  // The other writer adds two messages after both objects counted.
  ASSERT_FALSE(Append(*other, "other 1") || Append(*other, "other 2"));
  ASSERT_FALSE(Append(*ours, "appended"));
  // A write of number Count + 1 means "append" as well. Its routing lines
  // go after the origin line, in their order.
  Message written;
  written.Subject = "written";
  written.Origin = "Node ";
  written.OrigZone = 1, written.OrigNet = 2, written.OrigNode = 3;
  for (const auto& [prefix, value] : {std::pair<const char*, const char*>{"SEEN-BY: ", "2/3 4"},
                                      {"SEEN-BY: ", "5/6"},
                                      {"\001PATH: ", "2/3"}}) {
    written.TrailLines.Insert(
        std::make_unique<KludgeLine>(KludgeLine{NewStr(prefix), NewStr(value)}));
  }
  ASSERT_FALSE(disguised->WriteMessage(disguised->Count() + 1, written));
  ASSERT_FALSE(other->BeginBatch() || Append(*other, "batched") || other->EndBatch());
  const auto subjects = Subjects();
  ASSERT_TRUE(subjects.has_value());
  EXPECT_EQ(std::multiset<std::string>(subjects->begin(), subjects->end()),
            (std::multiset<std::string>{"old 1", "old 2", "other 1", "other 2", "appended",
                                        "written", "batched"}));
  EXPECT_EQ(Open()->Count(), 7);
  std::string stored;
  for (const std::string& path : disk_->ListTree())
    stored += disk_->ReadFileBytes(path).value_or("");
  EXPECT_NE(stored.find(" * Origin: Node (1:2/3)\rSEEN-BY: 2/3 4\rSEEN-BY: 5/6\r\001PATH: 2/3\r"),
            std::string::npos);
}

TEST_P(AppendBatchTest, ACrashLeavesTheBatchAbsentOrWhole) {
  const std::vector<std::string> before = {"old 1", "old 2"};
  const std::vector<std::string> whole = {"old 1", "old 2", "batch 1", "batch 2", "batch 3"};
  for (const testing::PlatformOp op : testing::AllPlatformOps()) {
    const auto report = testing::SweepCrashes<MemoryPlatform>(
        op, [] { return TwoMessageDisk(); },
        [](MemoryPlatform&) {
          auto base = Open();
          if (!base || base->BeginBatch()) return;
          for (const char* subject : {"batch 1", "batch 2", "batch 3"}) {
            if (Append(*base, subject)) return;
          }
          // Whatever EndBatch reports is what a restart finds.
          ASSERT_FALSE(base->EndBatch());
        },
        [&](MemoryPlatform&, const testing::FaultRun& run) {
          const auto subjects = Subjects();  // nothing when a message is cut
          EXPECT_TRUE(subjects == whole || (run.fired && subjects == before));
        });
    EXPECT_TRUE(report.completed);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, AppendBatchTest, ::testing::ValuesIn(kFormats),
                         [](const ::testing::TestParamInfo<FormatCase>& format) {
                           return std::string(format.param.name);
                         });

}  // namespace
}  // namespace qlr
