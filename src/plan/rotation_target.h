// The numbered directory a base is rotated into.
//
// A copy is never made under its number. It goes into a private directory
// beside the numbered ones ("qlr-partial." and eight hex digits, a name no
// rotation ever has), is made durable there, and only then is renamed to
// the first free number, in one step that never replaces anything. So a
// directory under a rotation name is always a complete copy, whenever the
// run is killed or the machine stops; what an interrupted run leaves is a
// partial directory, which the next run removes.
//
// Installations that share a target (two qlr.ctl, each with its own run
// lock) must not remove each other's partial copies: each partial
// directory holds a lock file whose first byte its run keeps locked from
// the moment it is made until the copy has its number, and a partial is
// removed only by a run that can take that lock.
//
// A number is free when nothing at all in the target directory is named
// by it: neither NNNNNNNN (an earlier copy, or any file) nor NNNNNNNN
// followed by a dot and any extension (an archive made under another
// Arc.Extension, which a new archive of that number could overwrite).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "util/files.h"

namespace qlr {

class CopyManifest;
struct DirEntry;

// The number a directory entry blocks: its name is eight hex digits (either
// case), alone or followed by "." and anything.
std::optional<std::uint32_t> RotationNumberOf(std::string_view name);
// True for the name of a partial copy: "qlr-partial." and eight hex digits.
bool IsPartialCopyName(std::string_view name);
// The lock file inside a partial directory. It is removed once the copy is
// published; a run killed just after publishing leaves it in the copy.
inline constexpr std::string_view kPartialLockName = ".qlr-lock";

class RotationTarget {
 public:
  // `target_dir` ends in a separator or is empty (the current directory).
  // `owns_leftovers`: this run holds the run lock, so a partial copy found
  // in the target directory belongs to a run that died and may be removed.
  RotationTarget(std::string_view target_dir, bool owns_leftovers);

  // Pack mode: the archive of the copy is its name with this extension,
  // which Prepare and Foresee check the system can take.
  void SetArchiveExtension(std::string_view extension) { archive_extension_ = extension; }

  // Lists the target directory once, noting the numbers in use and
  // removing leftovers of dead runs; creates the missing directories of
  // the target and a new, empty partial directory in it. True on FAILURE
  // (`error` says why); CopyName() then names the number that would have
  // been used. A path of the target that the system cannot take fails it
  // ("path too long") before anything is made in the target.
  [[nodiscard]] bool Prepare(Status* error);
  // Counts `number` as taken (by a rotation earlier in the same run that
  // Foresee could not see on the disk yet).
  void PassOver(std::uint32_t number) { taken_.insert(number); }
  // What Prepare would find, found without removing or making anything:
  // CopyName() then names the number Prepare would take now. True when
  // Prepare would fail (`error` says why; a target that is missing and
  // cannot be made included).
  [[nodiscard]] bool Foresee(Status* error);
  // Removes what dead runs left in the target directory, for a base that
  // is not rotated this time (Prepare does it for one that is): a run
  // killed while it removed an archived copy leaves an emptied base, which
  // no later run would rotate.
  void RemoveLeftovers() const;
  // Where the copy is to be made.
  const std::string& PartialPath() const { return partial_; }
  // The rotation name: the number chosen so far, final after Publish.
  const std::string& CopyName() const { return copy_name_; }

  // Gives the durable partial copy the first free number (a number that
  // was taken meanwhile is passed over) and makes the new name and every
  // directory this target created durable. True on FAILURE; the partial
  // copy is then still where it was.
  [[nodiscard]] bool Publish(Status* error);
  // After the base was emptied (or could not be): removes the lock file
  // from the published copy. Before, it is one of the copy's files.
  void RemovePartialLock();
  // Removes the partial copy and the directories Prepare created, after a
  // failed copy: only what this run made itself.
  void Discard();
  // Removes the published copy once its archive is safe: renamed to a
  // partial name first, so that a kill while its files are deleted never
  // leaves a partial directory under the rotation name.
  void RemoveCopy();

 private:
  std::optional<std::uint32_t> FirstFreeNumber() const;
  // Lists the target directory into `entries`, notes the numbers in use
  // and names the copy by the first free one. True on FAILURE.
  bool Survey(std::vector<DirEntry>* entries, Status* error);
  // Names the copy by `number`.
  void SetCopyName(std::uint32_t number);
  // Ok unless the system refuses a name this target will form as too long
  // (the partial copy's lock file, the copy, its archive): asked before
  // anything is made, so that such a target is refused untouched.
  Status NamesTaken() const;
  void RemoveIfLeftover(const DirEntry& entry) const;
  enum class Move { kMoved, kTaken, kFailed };
  // Moves the partial copy to `final_name`, never over anything.
  Move MoveToFinal(const std::string& final_name, Status* error);
  bool MakeDurable(Status* error);
  // Renames `from` to a partial name not in use; the name, or nothing.
  std::optional<std::string> MoveAside(const std::string& from);

  std::string target_dir_;
  bool owns_leftovers_;
  std::set<std::uint32_t> taken_;
  std::set<std::string> names_seen_;
  std::vector<std::string> created_;  // directories made, outermost first
  std::string partial_;
  std::string copy_name_;
  std::string archive_extension_;
  FileByteLock partial_lock_;  // held while partial_ is being written
};

}  // namespace qlr
