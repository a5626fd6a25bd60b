// The erase of a *.MSG directory against its copy: what goes, what stays,
// and a writer acting between every two steps of the erase without ever
// losing a version of a message.
#include "msgbase/msgdir/msgdir_eraser.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "msgbase/copy_manifest.h"
#include "msgbase/msgdir/erase_test_area.h"
#include "util/files.h"

namespace qlr {
namespace {

using testing::EraseArea;
using testing::MessageBytes;
using testing::PlatformOp;
using testing::WriterHookPlatform;

TEST(MsgDirEraserTest, ErasesWhatTheCopyHoldsAndNothingElse) {
  EraseArea area;
  area.disk().MakeDirs(EraseArea::Directory() + "9.msg" + testing::kAreaSep);
  ScopedPlatform installed(area.disk());
  ASSERT_FALSE(area.Copy());
  area.CreateMessage(4, 1);  // arrived after the copy

  ASSERT_TRUE(area.Erase()) << area.Tree();
  for (int n = 1; n <= 3; ++n) EXPECT_FALSE(area.disk().Exists(EraseArea::File(n))) << n;
  EXPECT_EQ(area.Bytes(EraseArea::File(4)), MessageBytes(4, 1));
  EXPECT_TRUE(area.disk().Exists(EraseArea::Directory() + "notes.txt"));
  EXPECT_TRUE(area.disk().Exists(EraseArea::Directory() + "9.msg" + testing::kAreaSep));
  EXPECT_TRUE(area.AsideFiles().empty());
  area.ExpectNothingLost();
}

struct ChangeCase {
  const char* name;
  bool coarse;
  std::function<void(EraseArea&)> change;  // of message 2, after the copy
  // A copy made of links holds a change in place itself: the base's name
  // goes. A file renamed over the name is another file and stays.
  bool links = false;
  bool stays = true;
};

class ChangeAfterCopyTest : public ::testing::TestWithParam<ChangeCase> {};

// A message changed after the copy stays in the base, and that is no
// failure of the erase. The coarse in-place cases are the ones a status
// comparison cannot see: same identity, same size, same second.
TEST_P(ChangeAfterCopyTest, ChangedMessageStays) {
  EraseArea area(3, GetParam().coarse, GetParam().links);
  ScopedPlatform installed(area.disk());
  ASSERT_FALSE(area.Copy());
  const auto copied = area.manifest().Find(EraseArea::File(2));
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(copied->linked, GetParam().links);
  GetParam().change(area);

  EXPECT_TRUE(area.Erase()) << area.Tree();
  EXPECT_FALSE(area.disk().Exists(EraseArea::File(1)));
  EXPECT_FALSE(area.disk().Exists(EraseArea::File(3)));
  area.ExpectNothingLost();
  EXPECT_TRUE(area.AsideFiles().empty()) << area.Tree();
  if (!GetParam().stays) {
    EXPECT_FALSE(area.disk().Exists(EraseArea::File(2))) << area.Tree();
    EXPECT_NE(area.Bytes(EraseArea::CopyDirectory() + "2.msg"), MessageBytes(2, 1));
    return;
  }
  const auto kept = area.Bytes(EraseArea::File(2));
  ASSERT_TRUE(kept.has_value()) << area.Tree();
  EXPECT_NE(*kept, MessageBytes(2, 1));
  EXPECT_TRUE(area.AsideFiles().empty()) << area.Tree();
  area.ExpectNothingLost();
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangeAfterCopyTest,
    ::testing::Values(
        ChangeCase{"RenamedOver", false, [](EraseArea& a) { a.RewriteByRename(2, 2); }},
        ChangeCase{"RenamedOverCoarse", true, [](EraseArea& a) { a.RewriteByRename(2, 2); }},
        ChangeCase{"RewrittenInPlace", false, [](EraseArea& a) { a.RewriteInPlace(2, 2); }},
        ChangeCase{"RewrittenInPlaceCoarse", true, [](EraseArea& a) { a.RewriteInPlace(2, 2); }},
        ChangeCase{"MarkedReceived", false, [](EraseArea& a) { a.MarkReceived(2); }},
        ChangeCase{"MarkedReceivedCoarse", true, [](EraseArea& a) { a.MarkReceived(2); }},
        ChangeCase{"LinkedRenamedOver", true, [](EraseArea& a) { a.RewriteByRename(2, 2); }, true},
        ChangeCase{"LinkedRewrittenInPlace", false, [](EraseArea& a) { a.RewriteInPlace(2, 2); },
                   true, false},
        ChangeCase{"LinkedMarkedReceivedCoarse", true, [](EraseArea& a) { a.MarkReceived(2); },
                   true, false}),
    [](const auto& test) { return std::string(test.param.name); });

// The moved file differs from the copy and its name was taken by a new
// file meanwhile: both stay messages, the moved one under the first free
// number, and nothing is left aside to block later runs.
TEST(MsgDirEraserTest, NameTakenWhileAsideKeepsBothVersions) {
  EraseArea area(3, /*coarse=*/true);
  ScopedPlatform on_disk(area.disk());
  ASSERT_FALSE(area.Copy());
  area.MarkReceived(2);  // invisible to the status: it is moved aside
  const std::string marked = *area.Bytes(EraseArea::File(2));

  WriterHookPlatform hooked(area.disk());
  // Moves: 1 aside, 2 aside, then 2 back, which finds the new file.
  hooked.BeforeCall(PlatformOp::kRenameNoReplace, 3, [&] { area.CreateMessage(2, 3); });
  ::testing::internal::CaptureStderr();
  {
    ScopedPlatform installed(hooked);
    EXPECT_TRUE(area.Erase());
  }
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(hooked.Fired());
  EXPECT_EQ(area.Bytes(EraseArea::File(2)), MessageBytes(2, 3));
  EXPECT_EQ(area.Bytes("/area/4.msg"), marked);
  EXPECT_NE(err.find("kept as ["), std::string::npos) << err;
  EXPECT_TRUE(area.AsideFiles().empty());
  EXPECT_FALSE(area.disk().Exists(EraseArea::File(1)));
  area.ExpectNothingLost();
}

// A reader that opened a message before the erase and writes through that
// handle after the file was compared: the edit lands in the moved file,
// which the comparison after the last move finds changed and puts back.
// With a copy made of links the edit lands in the copy's own file.
class EditDuringEraseTest : public ::testing::TestWithParam<bool> {};

TEST_P(EditDuringEraseTest, EditThroughAHandleOpenedBeforeTheEraseIsKept) {
  const bool links = GetParam();
  EraseArea area(3, /*coarse=*/true, links);
  ScopedPlatform on_disk(area.disk());
  ASSERT_FALSE(area.Copy());
  std::unique_ptr<FileHandle> held = area.disk().OpenFile(EraseArea::File(2), OpenMode::kReadWrite);
  ASSERT_NE(held, nullptr);
  std::string edited = *area.Bytes(EraseArea::File(2));
  edited[0] = static_cast<char>(edited[0] ^ 1);

  WriterHookPlatform hooked(area.disk());
  // Moves: 1 aside, 2 aside (and compared), then 3 aside.
  hooked.BeforeCall(PlatformOp::kRenameNoReplace, 3, [&] {
    std::size_t written = 0;
    ASSERT_TRUE(held->WriteAt(0, edited.data(), 1, &written));
  });
  {
    ScopedPlatform installed(hooked);
    EXPECT_TRUE(area.Erase());
  }
  ASSERT_TRUE(hooked.Fired());
  EXPECT_EQ(area.Bytes(links ? EraseArea::CopyDirectory() + "2.msg" : EraseArea::File(2)), edited);
  EXPECT_EQ(area.disk().Exists(EraseArea::File(2)), !links);
  EXPECT_FALSE(area.disk().Exists(EraseArea::File(1)));
  EXPECT_FALSE(area.disk().Exists(EraseArea::File(3)));
  EXPECT_TRUE(area.AsideFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(CopiedAndLinked, EditDuringEraseTest, ::testing::Bool());

struct LeftoverCase {
  const char* name;
  bool message_name_taken;
  bool erased;  // the erase reports success
};

class LeftoverTest : public ::testing::TestWithParam<LeftoverCase> {};

// What an interrupted earlier run left aside goes back under its name when
// the name is free, and is never deleted.
TEST_P(LeftoverTest, LeftoverIsPutBackOrKept) {
  EraseArea area(3);
  const std::string leftover = "an older version of message 2";
  area.disk().WriteFileBytes(EraseArea::Aside(2), leftover);
  if (!GetParam().message_name_taken) {
    ASSERT_TRUE(area.disk().DeleteFile(EraseArea::File(2)));
  }
  ScopedPlatform installed(area.disk());
  ASSERT_FALSE(area.Copy());

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(area.Erase(), GetParam().erased) << area.Tree();
  static_cast<void>(::testing::internal::GetCapturedStderr());
  EXPECT_FALSE(area.disk().Exists(EraseArea::File(1)));
  EXPECT_TRUE(area.AsideFiles().empty());
  if (GetParam().message_name_taken) {
    // A message of its own under the first free number; 2.msg, which the
    // copy holds, goes.
    EXPECT_EQ(area.Bytes("/area/4.msg"), leftover);
    EXPECT_FALSE(area.disk().Exists(EraseArea::File(2)));
  } else {
    EXPECT_EQ(area.Bytes(EraseArea::File(2)), leftover);
  }
}

INSTANTIATE_TEST_SUITE_P(Leftovers, LeftoverTest,
                         ::testing::Values(LeftoverCase{"NameFree", false, true},
                                           LeftoverCase{"NameTaken", true, true}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(MsgDirEraserTest, CopyMovedAsAWholeIsComparedWhereItIsNow) {
  EraseArea area;
  ScopedPlatform installed(area.disk());
  ASSERT_FALSE(area.Copy());
  const std::string moved = "/old" + testing::kAreaSep + "00000001" + testing::kAreaSep;
  ASSERT_TRUE(area.disk().Rename(EraseArea::CopyDirectory(), moved));

  // Not told: nothing can be verified, so nothing goes.
  EXPECT_FALSE(area.Erase());
  for (int n = 1; n <= 3; ++n) EXPECT_EQ(area.Bytes(EraseArea::File(n)), MessageBytes(n, 1));
  EXPECT_TRUE(area.AsideFiles().empty());

  area.manifest().RelocateCopy(EraseArea::CopyDirectory(), moved);
  EXPECT_EQ(area.manifest().Find(EraseArea::File(2))->dest, moved + "2.msg");
  EXPECT_TRUE(area.Erase()) << area.Tree();
  for (int n = 1; n <= 3; ++n) EXPECT_FALSE(area.disk().Exists(EraseArea::File(n)));
}

// The aside name is as long as the message name: a base whose paths are
// near the limit can still be erased.
TEST(MsgDirEraserTest, MessageWithALongPathCanBeMovedAside) {
  testing::MemoryPlatform disk;
  disk.SetBackslashIsSeparator(kHostIsWindows);
  const std::string directory = "/" + std::string(246, 'd');
  const std::string file = directory + testing::kAreaSep + "12.msg";
  ASSERT_EQ(file.size(), 254u);
  disk.WriteFileBytes(file, MessageBytes(12, 1));
  ScopedPlatform installed(disk);
  CopyManifest copied;
  ASSERT_FALSE(CopyBaseFiles("#" + directory, "/old", &copied));
  EXPECT_NE(EraseBase("#" + directory, &copied), nullptr);
  EXPECT_FALSE(disk.Exists(file));
  EXPECT_EQ(disk.ReadFileBytes("/old/12.msg"), MessageBytes(12, 1));
}

TEST(MsgDirEraserTest, WithoutACopyEveryMessageGoes) {
  EraseArea area;
  ScopedPlatform installed(area.disk());
  area.disk().WriteFileBytes(EraseArea::Aside(5), "left aside");
  EXPECT_NE(EraseBase("#/area"), nullptr);
  for (int n = 1; n <= 3; ++n) EXPECT_FALSE(area.disk().Exists(EraseArea::File(n)));
  // Not a message: the erase without a copy does not touch it.
  EXPECT_EQ(area.Bytes(EraseArea::Aside(5)), "left aside");
}

struct MatchCase {
  const char* name;
  std::function<void(EraseArea&)> after_copy;
  CopyMatch expected;
};

class MatchCopyTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchCopyTest, ComparesStatusThenBytes) {
  EraseArea area(3, /*coarse=*/true);
  ScopedPlatform installed(area.disk());
  ASSERT_FALSE(area.Copy());
  GetParam().after_copy(area);
  const CopiedFile* copied = area.manifest().Find(EraseArea::File(2));
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(MatchCopy(*copied, EraseArea::File(2)), GetParam().expected);
}

std::string CopyOf(int n) { return EraseArea::CopyDirectory() + EraseArea::Name(n); }

INSTANTIATE_TEST_SUITE_P(
    Cases, MatchCopyTest,
    ::testing::Values(
        MatchCase{"Unchanged", [](EraseArea&) {}, CopyMatch::kSame},
        MatchCase{"SameSizeSameSecond", [](EraseArea& a) { a.MarkReceived(2); },
                  CopyMatch::kDiffers},
        MatchCase{"RenamedOver", [](EraseArea& a) { a.RewriteByRename(2, 1); },
                  CopyMatch::kDiffers},
        MatchCase{"Grown",
                  [](EraseArea& a) {
                    a.disk().WriteFileBytes(EraseArea::File(2), MessageBytes(2, 1) + "more");
                  },
                  CopyMatch::kDiffers},
        MatchCase{"CopyGone", [](EraseArea& a) { ASSERT_TRUE(a.disk().DeleteFile(CopyOf(2))); },
                  CopyMatch::kUnknown},
        MatchCase{"CopyCut", [](EraseArea& a) { a.disk().WriteFileBytes(CopyOf(2), "message 2"); },
                  CopyMatch::kDiffers},
        MatchCase{
            "CopyLonger",
            [](EraseArea& a) { a.disk().WriteFileBytes(CopyOf(2), MessageBytes(2, 1) + "x"); },
            CopyMatch::kDiffers},
        MatchCase{"FileGone",
                  [](EraseArea& a) { ASSERT_TRUE(a.disk().DeleteFile(EraseArea::File(2))); },
                  CopyMatch::kUnknown}),
    [](const auto& test) { return std::string(test.param.name); });

// --- a writer between every two steps ---

struct WriterCase {
  const char* name;
  bool coarse;
  // Done after the copy, before the erase starts (may be empty).
  std::function<void(EraseArea&)> prepare;
  // Done once, just before the chosen step of the erase.
  std::function<void(EraseArea&)> write;
};

class WriterAtEveryStepTest : public ::testing::TestWithParam<WriterCase> {};

TEST_P(WriterAtEveryStepTest, NoVersionIsLost) {
  int step = 1;
  for (;; ++step) {
    SCOPED_TRACE("writer before step " + std::to_string(step));
    EraseArea area(3, GetParam().coarse);
    {
      ScopedPlatform on_disk(area.disk());
      ASSERT_FALSE(area.Copy());
    }
    if (GetParam().prepare) GetParam().prepare(area);
    WriterHookPlatform hooked(area.disk());
    hooked.BeforeStep(step, [&] { GetParam().write(area); });
    {
      ScopedPlatform installed(hooked);
      area.Erase();
    }
    ScopedPlatform on_disk(area.disk());
    area.ExpectNothingLost();
    // Only a moved file that could not go back fails the erase, and it is
    // then under its aside name.
    EXPECT_EQ(area.Erased(), area.AsideFiles().empty()) << area.Tree();
    // Message 1 is never written to: it goes whatever the writer does.
    EXPECT_FALSE(area.disk().Exists(EraseArea::File(1))) << area.Tree();
    if (!hooked.Fired()) break;
  }
  // Three messages give a few dozen steps; far fewer means the hook saw
  // only part of the erase.
  EXPECT_GT(step, 20);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, WriterAtEveryStepTest,
    ::testing::Values(
        WriterCase{"RenameOver", false, {}, [](EraseArea& a) { a.RewriteByRename(2, 2); }},
        WriterCase{"RenameOverCoarse", true, {}, [](EraseArea& a) { a.RewriteByRename(2, 2); }},
        WriterCase{"InPlace", false, {}, [](EraseArea& a) { a.RewriteInPlace(2, 2); }},
        WriterCase{"InPlaceCoarse", true, {}, [](EraseArea& a) { a.RewriteInPlace(2, 2); }},
        WriterCase{"MarkReceivedCoarse", true, {}, [](EraseArea& a) { a.MarkReceived(2); }},
        WriterCase{"NewNumber", false, {}, [](EraseArea& a) { a.CreateMessage(4, 1); }},
        // A tosser taking the highest number while its file is aside.
        WriterCase{"FreedNumberTaken", true, {}, [](EraseArea& a) { a.CreateMessage(3, 2); }},
        // The moved file differs and must go back, but its name is taken.
        WriterCase{"ChangedAndNameTaken", true, [](EraseArea& a) { a.MarkReceived(2); },
                   [](EraseArea& a) { a.CreateMessage(2, 3); }},
        WriterCase{"ChangedThenRenamedOver", true, [](EraseArea& a) { a.MarkReceived(2); },
                   [](EraseArea& a) { a.RewriteByRename(2, 3); }}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace qlr
