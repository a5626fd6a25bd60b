// The erase of a *.MSG directory after its copy, written so that a message
// written by another program while it runs is never deleted.
//
// Other programs (tossers, editors, readers marking mail received) may
// write to the base at any moment: nothing locks a *.MSG directory. A
// deletion by name after a check by name would delete whatever the name
// holds at that instant, and a rewrite between check and delete (a new
// version written elsewhere and renamed over the name, or the file
// rewritten in place) would be lost. So each copied file is first taken
// out of the writers' reach under its own aside name, in one atomic
// rename, and only the file so taken is checked and deleted:
//
//   1. Not in the copy: it arrived afterwards and stays.
//   2. Status differs from the copy's record: changed, stays (no move).
//   3. Rename N.msg to N.qlr, never replacing. Whatever a
//      writer renames over N.msg or creates as N.msg from now on is a new
//      file under the message name, which this run no longer touches.
//   4. Compare the moved file with the copy: identity, size, time and
//      bytes. The bytes matter where the status cannot tell: a rewrite
//      in place that keeps the size within one tick of the file system's
//      clock looks unchanged otherwise. A file that differs goes back
//      (step 6); one that is the same stays aside.
//   5. After the last file: compare every moved file once more, and only
//      then delete it. A program that opened N.msg before step 3 and
//      wrote through that handle after the first comparison is seen
//      here, and its version goes back.
//   6. Back to N.msg, never replacing. If a writer made a new N.msg
//      meanwhile, the moved version becomes a message of its own under
//      the first free number, said on standard error: both are kept, and
//      nothing stays aside to block the next runs.
//
// A file the copy holds as a hard link (the same file under a second name)
// is compared by identity alone, in step 4, and deleted there: a rewrite
// in place writes into the very file the copy keeps, at any moment, and
// only a file put under the name in its place (another identity) stays.
// Steps 2 and 5 then ask nothing more.
//
// What remains possible: a program that keeps writing through a handle
// opened before step 3 after the second comparison writes into the moved
// file; a write that lands after that comparison and before the deletion
// is lost with it. (On Windows a file held open without delete
// sharing cannot be renamed at all, and simply stays.) FTN programs write
// a message file in one short open-write-close, so the window is that of
// the comparison of one small file. And while a file is aside its name
// is free: a writer that takes it for a new message in that moment makes
// a new file, which stays; should the moved file have to go back, it then
// takes a free number (step 6).
#include "msgbase/msgdir/msgdir_eraser.h"

#include <vector>

#include "msgbase/msgdir/erase_aside.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"

namespace qlr {
namespace {

// What became of one copied message file.
enum class Outcome {
  kErased,      // it was what the copy holds, and it is gone
  kStays,       // it changed or went since the copy; nothing to do
  kLeftBehind,  // copied and unchanged, or unverifiable, but still there
  kAside,       // moved aside and found as copied: to be checked once more
};

// A file moved aside and found the same as its copy, waiting for the last
// comparison.
struct AsideFile {
  std::string file;
  std::string aside;
  const CopiedFile* record;
};

// Puts a file that is not to be deleted back under its message name. When
// a writer made a new file under that name meanwhile, the version moved
// aside becomes a message of its own under a free number.
Outcome PutBack(const std::string& base_directory, const AsideFile& moved, CopyMatch match) {
  const Status renamed = Os().RenameNoReplace(moved.aside, moved.file);
  bool back = renamed.ok();
  if (!back && renamed.kind() == StatusKind::kBusy) {
    back = KeepUnderFreeNumber(base_directory, moved.aside, moved.file).has_value();
  }
  if (match == CopyMatch::kDiffers && back) return Outcome::kStays;
  // Unchanged but not deletable, unverifiable, or kept under the aside
  // name because no name could be given back.
  return Outcome::kLeftBehind;
}

// Steps 1 to 4 for one file: moved aside and compared (kAside), or left
// where it is.
Outcome MoveAsideIfAsCopied(const std::string& base_directory, const std::string& file,
                            const CopiedFile& copied, std::vector<AsideFile>* moved) {
  // A file already seen to differ is not moved at all: it keeps its name
  // without a moment's gap.
  if (const auto now = Os().StatLink(file); now && !SameStatusAsCopied(copied, *now)) {
    return Outcome::kStays;
  }
  if (!HasAsideName(file)) return Outcome::kLeftBehind;
  const AsideFile aside{file, AsideNameOf(file), &copied};
  // A leftover under the aside name that could not be put back blocks
  // the move; the file then stays where it is.
  if (const Status renamed = Os().RenameNoReplace(file, aside.aside); !renamed) {
    return renamed.kind() == StatusKind::kNotFound ? Outcome::kStays : Outcome::kLeftBehind;
  }
  const CopyMatch match = MatchCopy(copied, aside.aside);
  if (match != CopyMatch::kSame) return PutBack(base_directory, aside, match);
  // A linked file is the copy's own: whatever is written into it now is
  // in the copy too, so it needs no second look.
  if (copied.linked) {
    if (Os().DeleteFile(aside.aside)) return Outcome::kErased;
    return PutBack(base_directory, aside, CopyMatch::kUnknown);
  }
  moved->push_back(aside);
  return Outcome::kAside;
}

// Step 5, after the last file was moved: each is compared once more and
// only then deleted. A write through a handle opened before the move that
// landed after the first comparison shows here.
Outcome EraseIfStillAsCopied(const std::string& base_directory, const AsideFile& moved) {
  const CopyMatch match = MatchCopy(*moved.record, moved.aside);
  if (match == CopyMatch::kSame && Os().DeleteFile(moved.aside)) return Outcome::kErased;
  return PutBack(base_directory, moved, match);
}

}  // namespace

bool EraseSharedWithCopy(std::string_view directory, std::string_view copy_directory) {
  const std::string base_directory = AddBackslash(directory);
  const std::string copy = AddBackslash(copy_directory);
  std::vector<DirEntry> entries;
  if (!DirExists(base_directory)) return false;
  if (!Os().ListDirectory(copy, kMsgFileMask, &entries)) return true;
  bool failed = false;
  bool erased = false;
  std::vector<AsideFile> unused;
  for (const DirEntry& entry : entries) {
    if ((entry.attributes & kAttrDirectory) != 0) continue;
    const std::string copied_file = copy + entry.name;
    // A file with one name is nobody's but the copy's.
    const auto held = Os().StatLink(copied_file);
    if (!held || !held->is_regular || held->is_link || held->link_count < 2 ||
        (held->volume == 0 && held->file_index == 0)) {
      continue;
    }
    const std::string file = base_directory + entry.name;
    const auto now = Os().StatLink(file);
    if (!now || now->volume != held->volume || now->file_index != held->file_index) continue;
    const CopiedFile record{file, copied_file, *held, true};
    switch (MoveAsideIfAsCopied(base_directory, file, record, &unused)) {
      case Outcome::kErased:
        erased = true;
        break;
      case Outcome::kLeftBehind:
        failed = true;
        break;
      default:
        break;
    }
  }
  if (erased && !Os().SyncDirectory(base_directory)) failed = true;
  return failed;
}

std::unique_ptr<MessageBase> EraseMsgDir(std::string_view directory, const CopyManifest* copied,
                                         Status* why) {
  const std::string base_directory = AddBackslash(directory);
  bool failed = false;
  // The first thing that went wrong is the reason given; the erase goes on
  // with the other files.
  const auto fail = [&](Status reason) {
    if (!failed) *why = std::move(reason);
    failed = true;
  };
  const auto platform_reason = [](const Status& reported, std::string_view path,
                                  std::string_view what) {
    return reported.ok() ? Status(StatusKind::kIoError, path, what) : reported;
  };
  if (DirExists(base_directory)) {
    // Only an erase that checks against a copy puts leftovers back: one
    // without a copy deletes every *.msg, and a leftover is exactly what
    // must not be deleted unseen.
    if (copied != nullptr && PutBackLeftovers(base_directory)) {
      fail(Status(StatusKind::kBusy, base_directory,
                  "a file an interrupted erase moved aside cannot be put back"));
    }
    std::vector<DirEntry> entries;
    if (const Status listed = Os().ListDirectory(base_directory, kMsgFileMask, &entries); !listed) {
      *why = platform_reason(listed, base_directory, "cannot be listed");
      return nullptr;
    }
    std::vector<AsideFile> moved;
    for (const DirEntry& entry : entries) {
      if ((entry.attributes & kAttrDirectory) != 0) continue;
      const std::string file = base_directory + entry.name;
      if (copied == nullptr) {
        // A symbolic link is never deleted: it is not the rotation's to
        // judge. (Against a copy, the first look at the file's status
        // below tells a link from the regular file that was copied.)
        if (const auto status = Os().StatLink(file); status && status->is_link) continue;
        if (!FileExists(file)) continue;
        const Status deleted = Os().DeleteFile(file);
        if (FileExists(file)) fail(platform_reason(deleted, file, "cannot be deleted"));
        continue;
      }
      // A message that arrived after the copy was made is not in it.
      const CopiedFile* record = copied->Find(file);
      if (record == nullptr) continue;
      // A copied message left behind would be copied again by every later
      // run, as if the base had been rotated: the caller must say so.
      if (MoveAsideIfAsCopied(base_directory, file, *record, &moved) == Outcome::kLeftBehind) {
        fail(Status(StatusKind::kBusy, file, "copied, but it could not be removed"));
      }
    }
    for (const AsideFile& file : moved) {
      if (EraseIfStillAsCopied(base_directory, file) == Outcome::kLeftBehind) {
        fail(Status(StatusKind::kBusy, file.aside, "copied, but it could not be removed"));
      }
    }
    // The deletions and renames, durable before the run says the base was
    // emptied. (Undone by a crash they would bring back copied messages,
    // which is no loss; the report would be wrong.)
    if (const Status synced = Os().SyncDirectory(base_directory); !synced) {
      fail(platform_reason(synced, base_directory, "cannot be flushed"));
    }
  } else if (copied != nullptr && !copied->Files().empty()) {
    // The copy found files here: a directory that cannot be seen now is
    // not an empty base.
    fail(Status(StatusKind::kNotFound, base_directory, "is gone since the copy"));
  }
  auto base = std::make_unique<MsgDirBase>();
  (void)base->Create(base_directory + std::string(kMsgFileMask));
  if (!failed && base->State() != BaseState::kCreated) {
    fail(base->LastError().ok() ? Status(StatusKind::kIoError, base_directory, "cannot be opened")
                                : base->LastError());
  }
  if (failed) return nullptr;
  return base;
}

}  // namespace qlr
