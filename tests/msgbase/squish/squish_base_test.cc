#include "msgbase/squish/squish_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "support/coding.h"
#include "testing/fault_injecting_platform.h"
#include "testing/scratch_dir.h"
#include "util/paths.h"

namespace qlr {
namespace {

namespace fs = std::filesystem;

// Exposes the two streams so tests can see what Open left behind.
class ProbedSquishBase : public SquishBase {
 public:
  using SquishBase::DataStream;
  using SquishBase::IndexStream;
};

// Stores a u32 field of a hand-built file.
void Put32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  EncodeFixed32(reinterpret_cast<std::uint8_t*>(bytes.data()) + offset, value);
}

// The header of an empty base, written from the field offsets by hand.
std::string EmptyBaseHeader() {
  std::string h(256, '\0');
  h[1] = '\x01';    // 0: Len 256
  h[16] = '\x01';   // 16: HighWater 1
  h[20] = '\x02';   // 20: Uid 2
  h[105] = '\x01';  // 104: BeginFrame 256
  h[121] = '\x01';  // 120: EndFrame 256
  h[130] = '\x1C';  // 130: SzFrameHeader 28
  return h;
}

// A header of `size` bytes (at least the 8 up to HighMsg) with NumMsg set.
std::string HeaderWithNumMsg(std::uint32_t num_msg, std::size_t size = 256) {
  std::string h = EmptyBaseHeader();
  h.resize(size, '\0');
  Put32(h, 4, num_msg);
  return h;
}

// `n` index records of frames one smallest frame (266 bytes) apart;
// `repeat_last` names the frame of the one before the last twice.
std::string Records(std::uint32_t n, bool repeat_last = false) {
  std::string sqi(n * 12, '\0');
  for (std::uint32_t i = 0; i < n; ++i) {
    const bool repeat = repeat_last && i + 1 == n && i > 0;
    Put32(sqi, i * 12, 256 + (repeat ? i - 1 : i) * 266);
  }
  return sqi;
}

std::size_t FramesOf(std::size_t n) { return 256 + n * 266; }

// ---- Create ----

TEST(SquishBaseCreateTest, WritesTheHeaderOfAnEmptyBase) {
  testing::ScratchDir dir;
  SquishBase base;
  EXPECT_FALSE(base.Create(dir.Path("area")));
  EXPECT_EQ(base.State(), BaseState::kCreated);
  EXPECT_EQ(base.Count(), 0);
  EXPECT_EQ(base.Path(), dir.Path("area"));
  EXPECT_EQ(dir.ReadFile("area.sqd"), EmptyBaseHeader());
  EXPECT_EQ(dir.ReadFile("area.sqi"), "");
}

TEST(SquishBaseCreateTest, TruncatesAnExistingBase) {
  testing::ScratchDir dir;
  dir.WriteFile("area.sqd", HeaderWithNumMsg(5, 9000));
  dir.WriteFile("area.sqi", std::string(60, 'i'));
  SquishBase base;
  EXPECT_FALSE(base.Create(dir.Path("area")));
  EXPECT_EQ(dir.ReadFile("area.sqd"), EmptyBaseHeader());
  EXPECT_EQ(dir.ReadFile("area.sqi"), "");
  EXPECT_EQ(base.Count(), 0);
}

TEST(SquishBaseCreateTest, AfterOpenEmptiesTheCountsButKeepsTheSettings) {
  testing::ScratchDir dir;
  std::string old = HeaderWithNumMsg(7, FramesOf(7));
  Put32(old, 8, 9);       // HighMsg
  Put32(old, 20, 40);     // Uid
  old[24] = 'N';          // BaseName
  Put32(old, 108, 400);   // LastFrame
  Put32(old, 112, 300);   // FreeFrame
  Put32(old, 116, 350);   // LastFreeFrame
  Put32(old, 124, 1000);  // MaxMsg
  dir.WriteFile("area.sqd", old);
  dir.WriteFile("area.sqi", Records(7));
  SquishBase base;
  ASSERT_FALSE(base.Open(dir.Path("area")));
  ASSERT_EQ(base.Count(), 7);

  EXPECT_FALSE(base.Create(dir.Path("area")));
  EXPECT_EQ(base.Count(), 0);
  std::string expected = EmptyBaseHeader();
  expected[24] = 'N';
  Put32(expected, 124, 1000);
  EXPECT_EQ(dir.ReadFile("area.sqd"), expected);
}

TEST(SquishBaseCreateTest, ThenOpenGivesAnOpenedEmptyBase) {
  testing::ScratchDir dir;
  SquishBase base;
  ASSERT_FALSE(base.Create(dir.Path("new/sub/area")));
  EXPECT_FALSE(base.Open(dir.Path("new/sub/area")));
  EXPECT_EQ(base.State(), BaseState::kOpened);
  EXPECT_EQ(base.Count(), 0);
  EXPECT_EQ(base.BaseHeader().uid, kSquishFirstUid);
  EXPECT_EQ(dir.ReadFile("new/sub/area.sqd"), EmptyBaseHeader());
}

TEST(SquishBaseCreateTest, ReportsFilesThatCannotBeMade) {
  testing::ScratchDir dir;
  dir.WriteFile("plain", "x");  // a file where the directory should be
  ProbedSquishBase base;
  EXPECT_TRUE(base.Create(dir.Path("plain/area")));
  EXPECT_EQ(base.State(), BaseState::kOpenError);
  EXPECT_EQ(base.DataStream(), nullptr);
  EXPECT_EQ(base.IndexStream(), nullptr);
}

TEST(SquishBaseCreateTest, ReportsAHeaderThatDidNotReachTheFile) {
  testing::ScratchDir dir;
  const struct {
    testing::PlatformOp op;
    int nth;
  } faults[] = {{testing::PlatformOp::kOpenFile, 1},
                {testing::PlatformOp::kOpenFile, 2},
                {testing::PlatformOp::kWrite, 1},
                {testing::PlatformOp::kShortWrite, 1}};
  for (const auto& fault : faults) {
    testing::FaultInjectingPlatform faulty;
    auto installed = faulty.Install();
    faulty.FailCall(fault.op, fault.nth);
    SquishBase base;
    EXPECT_TRUE(base.Create(dir.Path("area"))) << static_cast<int>(fault.op) << " " << fault.nth;
    EXPECT_EQ(base.State(), BaseState::kOpenError);
    EXPECT_EQ(base.Count(), 0);
  }
}

// ---- Open ----

struct OpenCase {
  const char* what;
  std::optional<std::string> sqd;  // nothing: the file is missing
  std::optional<std::string> sqi;
  bool fails;
  std::int32_t count;
  bool damaged = false;  // the header counts more than the files hold
};

class SquishBaseOpenTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(SquishBaseOpenTest, CountAndState) {
  const OpenCase& c = GetParam();
  testing::ScratchDir dir;
  if (c.sqd) dir.WriteFile("area.sqd", *c.sqd);
  if (c.sqi) dir.WriteFile("area.sqi", *c.sqi);
  {
    ProbedSquishBase base;
    EXPECT_EQ(base.Open(dir.Path("area")), c.fails);
    EXPECT_EQ(base.State(), c.fails ? BaseState::kOpenError : BaseState::kOpened);
    EXPECT_EQ(base.Count(), c.count);
    EXPECT_EQ(base.Damage().kind(), c.damaged ? StatusKind::kCorruption : StatusKind::kOk)
        << base.Damage().ToString();
    // Both streams exist exactly while the base is usable.
    EXPECT_EQ(base.DataStream() != nullptr, !c.fails);
    EXPECT_EQ(base.IndexStream() != nullptr, !c.fails);
  }
  // Neither Open nor the destructor writes anything.
  if (c.sqd) {
    EXPECT_EQ(dir.ReadFile("area.sqd"), *c.sqd);
  }
  if (c.sqi) {
    EXPECT_EQ(dir.ReadFile("area.sqi"), *c.sqi);
  }
}

std::string Garbled() {
  std::string h = HeaderWithNumMsg(3, FramesOf(3));
  h[0] = '\x12';              // Len
  h[130] = '\x00';            // SzFrameHeader
  Put32(h, 104, 0xFFFFFFF0);  // BeginFrame
  return h;
}

INSTANTIATE_TEST_SUITE_P(
    Files, SquishBaseOpenTest,
    ::testing::Values(
        OpenCase{"empty base", EmptyBaseHeader(), "", false, 0},
        OpenCase{"count from header", HeaderWithNumMsg(3, FramesOf(3)), Records(3), false, 3},
        // The count is what the index can hold: a record for every message.
        OpenCase{"header beyond an empty index", HeaderWithNumMsg(7, FramesOf(7)), "", false, 0,
                 true},
        OpenCase{"header beyond a missing index", HeaderWithNumMsg(7, FramesOf(7)), std::nullopt,
                 false, 0, true},
        OpenCase{"header beyond the index", HeaderWithNumMsg(7, FramesOf(7)), Records(2), false, 2,
                 true},
        OpenCase{"index holds more records", HeaderWithNumMsg(1, FramesOf(3)), Records(3), false,
                 1},
        OpenCase{"deletion cut short", HeaderWithNumMsg(3, FramesOf(3)), Records(3, true), false,
                 2},
        OpenCase{"header fields are not checked", Garbled(), Records(3), false, 3},
        OpenCase{"hostile count", HeaderWithNumMsg(0x7FFFFFFF), Records(1), false, 1, true},
        OpenCase{"count beyond a signed 32-bit", HeaderWithNumMsg(0x80000000), "", false, 0, true},
        OpenCase{"count all ones", HeaderWithNumMsg(0xFFFFFFFF), "", false, 0, true},
        OpenCase{"header of 255 bytes", HeaderWithNumMsg(7, 255), "", true, 0},
        OpenCase{"header of 8 bytes", HeaderWithNumMsg(7, 8), "", true, 0},
        OpenCase{"empty data file", "", "", true, 0},
        OpenCase{"no data file", std::nullopt, "", true, 0},
        OpenCase{"no files at all", std::nullopt, std::nullopt, true, 0}),
    [](const ::testing::TestParamInfo<OpenCase>& param_info) {
      std::string name;
      for (const char* p = param_info.param.what; *p != '\0'; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      }
      return name;
    });

TEST(SquishBaseOpenFailureTest, AReopenAfterAFailureStartsAfresh) {
  testing::ScratchDir dir;
  dir.WriteFile("good.sqd", HeaderWithNumMsg(5, FramesOf(5)));
  dir.WriteFile("good.sqi", Records(5));
  dir.WriteFile("bad.sqd", HeaderWithNumMsg(5, 100));
  ProbedSquishBase base;
  ASSERT_FALSE(base.Open(dir.Path("good")));
  EXPECT_TRUE(base.Open(dir.Path("bad")));
  EXPECT_EQ(base.Count(), 0);
  EXPECT_EQ(base.DataStream(), nullptr);
  EXPECT_FALSE(base.Open(dir.Path("good")));
  EXPECT_EQ(base.Count(), 5);
  EXPECT_EQ(base.State(), BaseState::kOpened);
}

TEST(SquishBaseTest, ResetStreamsClearsBothStreams) {
  testing::ScratchDir dir;
  dir.WriteFile("area.sqd", HeaderWithNumMsg(2));  // no ".sqi"
  ProbedSquishBase base;
  ASSERT_FALSE(base.Open(dir.Path("area")));
  std::uint8_t byte = 0;
  base.DataStream()->Seek(256);
  base.DataStream()->Read(&byte, 1);  // past the end
  ASSERT_FALSE(base.DataStream()->Ok());
  ASSERT_FALSE(base.IndexStream()->Ok());  // the missing file
  base.ResetStreams();
  EXPECT_TRUE(base.DataStream()->Ok());
  EXPECT_TRUE(base.IndexStream()->Ok());
}

// ---- File names ----

TEST(SquishBaseTest, AnyFileExists) {
  testing::ScratchDir dir;
  EXPECT_FALSE(SquishBase::AnyFileExists(dir.Path("area")));
  dir.WriteFile("area.sqi", "");
  EXPECT_TRUE(SquishBase::AnyFileExists(dir.Path("area")));
  dir.WriteFile("other.sqd", "");
  EXPECT_TRUE(SquishBase::AnyFileExists(dir.Path("other")));
  // A name that would be cut counts as present: nothing is created under it.
  EXPECT_TRUE(SquishBase::AnyFileExists(std::string(253, 'a')));
  ASSERT_EQ(SquishBase::kExtensions.size(), 2u);
  EXPECT_EQ(SquishBase::kExtensions[0], ".sqd");
  EXPECT_EQ(SquishBase::kExtensions[1], ".sqi");
}

TEST(SquishBaseTest, RefusesABasePathTooLongForItsExtensions) {
  testing::ScratchDir dir;
  const std::string path = dir.Path(std::string(255 - dir.root().size() - 2, 'a'));
  ASSERT_EQ(path.size(), 254u);
  SquishBase base;
  EXPECT_TRUE(base.Create(path));
  EXPECT_EQ(base.State(), BaseState::kOpenError);
  EXPECT_TRUE(fs::is_empty(dir.root()));
}

#ifndef _WIN32
TEST(SquishBaseTest, UsesUpperCaseFileNames) {
  testing::ScratchDir dir;
  dir.WriteFile("AREA.SQD", HeaderWithNumMsg(3, FramesOf(3)));
  dir.WriteFile("AREA.SQI", Records(3));
  EXPECT_TRUE(SquishBase::AnyFileExists(dir.Path("area")));
  {
    SquishBase base;
    EXPECT_FALSE(base.Open(dir.Path("area")));
    EXPECT_EQ(base.Count(), 3);
  }
  {
    SquishBase base;
    EXPECT_FALSE(base.Create(dir.Path("area")));
  }
  // Re-created under their own names; no lower-case twins appeared.
  EXPECT_EQ(dir.ReadFile("AREA.SQD"), EmptyBaseHeader());
  EXPECT_EQ(dir.ReadFile("AREA.SQI"), "");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.root())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"AREA.SQD", "AREA.SQI"}));
}
#endif

}  // namespace
}  // namespace qlr
