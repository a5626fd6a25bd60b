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
//      clock looks unchanged otherwise.
//   5. The same: delete it, the copy holds it. Otherwise rename it back
//      to N.msg, never replacing: if a writer made a new N.msg meanwhile,
//      both versions are kept, the moved one under its aside name, and
//      the erase reports failure so that a person looks at the two.
//
// What remains possible: a program that opened N.msg before step 3 and
// keeps writing through its open handle after step 4 writes into the
// moved file; a write that lands after the comparison and before the
// deletion is lost with it. (On Windows a file held open without delete
// sharing cannot be renamed at all, and simply stays.) FTN programs write
// a message file in one short open-write-close, so the window is that of
// the comparison of one small file. And while a file is aside its name
// is free: a writer that takes it for a new message in that moment makes
// a new file, which stays; should the moved file have to go back, it then
// stays under its aside name (step 5).
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
};

Outcome EraseIfAsCopied(const ShortString& file, const CopiedFile& copied) {
  // A file already seen to differ is not moved at all: it keeps its name
  // without a moment's gap.
  if (const auto now = Os().Stat(file); now && !SameStatusAsCopied(copied, *now)) {
    return Outcome::kStays;
  }
  if (!HasAsideName(file)) return Outcome::kLeftBehind;
  const ShortString aside = AsideNameOf(file);
  // A leftover under the aside name that could not be put back blocks
  // the move; the file then stays where it is.
  if (!Os().RenameNoReplace(file, aside)) {
    return Os().LastError().kind() == StatusKind::kNotFound ? Outcome::kStays
                                                            : Outcome::kLeftBehind;
  }
  const CopyMatch match = MatchCopy(copied, aside);
  if (match == CopyMatch::kSame && Os().DeleteFile(aside)) return Outcome::kErased;
  const bool back = Os().RenameNoReplace(aside, file);
  if (match == CopyMatch::kDiffers && back) return Outcome::kStays;
  // Unchanged but not deletable, unverifiable, or kept under the aside
  // name because N.msg was made anew meanwhile.
  return Outcome::kLeftBehind;
}

}  // namespace

std::unique_ptr<MessageBase> EraseMsgDir(std::string_view directory, const CopyManifest* copied) {
  const ShortString base_directory = AddBackslash(directory);
  bool failed = false;
  if (DirExists(base_directory)) {
    // Only an erase that checks against a copy puts leftovers back: one
    // without a copy deletes every *.msg, and a leftover is exactly what
    // must not be deleted unseen.
    if (copied != nullptr && PutBackLeftovers(base_directory)) failed = true;
    std::vector<DirEntry> entries;
    if (!Os().ListDirectory(base_directory, kMsgFileMask, &entries)) return nullptr;
    for (const DirEntry& entry : entries) {
      if ((entry.attributes & kAttrDirectory) != 0) continue;
      if (base_directory.size() + entry.name.size() > ShortString::kMax) {
        failed = true;  // a name the program cannot address
        continue;
      }
      const ShortString file = base_directory + entry.name;
      if (copied == nullptr) {
        DeleteFileIfExists(file);
        if (FileExists(file)) failed = true;
        continue;
      }
      // A message that arrived after the copy was made is not in it.
      const CopiedFile* record = copied->Find(file);
      if (record == nullptr) continue;
      // A copied message left behind would be copied again by every later
      // run, as if the base had been rotated: the caller must say so.
      if (EraseIfAsCopied(file, *record) == Outcome::kLeftBehind) failed = true;
    }
    // The deletions and renames, durable before the run says the base was
    // emptied. (Undone by a crash they would bring back copied messages,
    // which is no loss; the report would be wrong.)
    if (!Os().SyncDirectory(base_directory)) failed = true;
  } else if (copied != nullptr && !copied->Files().empty()) {
    // The copy found files here: a directory that cannot be seen now is
    // not an empty base.
    failed = true;
  }
  auto base = std::make_unique<MsgDirBase>();
  (void)base->Create(base_directory + kMsgFileMask);
  if (failed || base->State() != BaseState::kCreated) return nullptr;
  return base;
}

}  // namespace qlr
