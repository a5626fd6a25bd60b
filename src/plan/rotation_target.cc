#include "plan/rotation_target.h"

#include <utility>
#include <vector>

#include "msgbase/copy_manifest.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr std::string_view kPartialPrefix = "qlr-partial.";
constexpr char kSeparatorChar = kHostPathStyle == PathStyle::kDos ? '\\' : '/';
constexpr std::string_view kSeparator(&kSeparatorChar, 1);
constexpr int kHexDigits = 8;
// Partial names tried before giving up: more than any run leaves.
constexpr std::uint32_t kPartialAttempts = 4096;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> ParseHex8(std::string_view digits) {
  if (digits.size() < kHexDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (int i = 0; i < kHexDigits; ++i) {
    const int digit = HexValue(digits[static_cast<std::size_t>(i)]);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// The directory as the system names it: the empty path is the current one.
std::string ForOs(std::string_view dir) {
  return dir.empty() ? std::string(".") : std::string(dir);
}

// The directory that holds `dir` (given with or without a separator).
std::string ParentOf(std::string_view dir) { return ForOs(JustPathName(RemoveBackslash(dir))); }

// The lock file inside the partial directory `path`.
std::string LockFileOf(std::string_view path) {
  return std::string(path) + kSeparatorChar + std::string(kPartialLockName);
}

Status Why(const Status& status, std::string_view path, std::string_view what) {
  return status.ok() ? Status(StatusKind::kIoError, path, what) : status;
}

}  // namespace

std::optional<std::uint32_t> RotationNumberOf(std::string_view name) {
  if (name.size() != kHexDigits && (name.size() < kHexDigits + 1 || name[kHexDigits] != '.')) {
    return std::nullopt;
  }
  return ParseHex8(name);
}

bool IsPartialCopyName(std::string_view name) {
  return name.size() == kPartialPrefix.size() + kHexDigits && name.starts_with(kPartialPrefix) &&
         ParseHex8(name.substr(kPartialPrefix.size())).has_value();
}

RotationTarget::RotationTarget(std::string_view target_dir, bool owns_leftovers)
    : target_dir_(target_dir), owns_leftovers_(owns_leftovers) {
  SetCopyName(0);
}

void RotationTarget::SetCopyName(std::uint32_t number) {
  copy_name_ = target_dir_ + std::string(HexLong(number));
}

Status RotationTarget::NamesTaken() const {
  const std::string names[] = {
      LockFileOf(target_dir_ + std::string(kPartialPrefix) + std::string(HexLong(0))),
      copy_name_,
      archive_extension_.empty() ? std::string() : copy_name_ + "." + archive_extension_,
  };
  for (const std::string& name : names) {
    if (name.empty()) continue;
    // Only the length is judged here: a name not there yet is no failure.
    const Result<FileStatus> status = Os().StatLink(name);
    if (!status && status.status().IsPathTooLong()) return status.status();
  }
  return Status::Ok();
}

std::optional<std::uint32_t> RotationTarget::FirstFreeNumber() const {
  std::uint64_t number = 0;
  // The set is ordered: walk it until the first gap.
  for (std::uint32_t used : taken_) {
    if (used != number) break;
    ++number;
  }
  if (number > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

void RotationTarget::RemoveIfLeftover(const DirEntry& entry) const {
  // Only a directory of the partial kind, and of it only its files:
  // whatever else is there is not ours to judge. Such a directory is never
  // the only copy of anything: a base is erased only after its copy has
  // its rotation name, and a copy is moved aside for removal only once
  // its archive is durable.
  if (!owns_leftovers_ || !IsPartialCopyName(entry.name) ||
      (entry.attributes & kAttrDirectory) == 0) {
    return;
  }
  const std::string path = target_dir_ + entry.name;
  const std::string lock_file = LockFileOf(path);
  // A partial whose lock another run holds is being written by it (an
  // installation that shares this target). Where the system has no locks
  // only the run lock keeps runs apart, as before.
  FileByteLock lock;
  const FileByteLock::Outcome outcome = lock.Acquire(lock_file, /*create=*/true, 0);
  if (outcome != FileByteLock::Outcome::kLocked && outcome != FileByteLock::Outcome::kNoLocks) {
    return;
  }
  // The copy's files while the lock is held; the lock file and the
  // directory after it is released (Windows keeps an open file's name).
  RemoveTree(AddBackslash(path), false);
  lock.Release();
  DeleteFileIfExists(lock_file);
  static_cast<void>(Os().RemoveDirectory(path));
}

void RotationTarget::RemoveLeftovers() const {
  if (!owns_leftovers_) return;
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(ForOs(target_dir_), "*.*", &entries)) return;
  for (const DirEntry& entry : entries) RemoveIfLeftover(entry);
}

bool RotationTarget::Survey(std::vector<DirEntry>* entries, Status* error) {
  if (const Status listed = Os().ListDirectory(ForOs(target_dir_), "*.*", entries); !listed) {
    // A target that does not exist yet holds no numbers; one that exists
    // but cannot be read could hold any.
    if (DirExists(target_dir_)) {
      *error = Why(listed, ForOs(target_dir_), "cannot be listed");
      return true;
    }
    entries->clear();
  }
  for (const DirEntry& entry : *entries) {
    names_seen_.insert(entry.name);
    if (const auto number = RotationNumberOf(entry.name)) taken_.insert(*number);
  }
  const auto number = FirstFreeNumber();
  if (!number) {
    SetCopyName(0xFFFFFFFFu);
    *error = Status::Invalid(ForOs(target_dir_), "every rotation number is taken");
    return true;
  }
  SetCopyName(*number);
  if (Status refused = NamesTaken(); !refused) {
    *error = std::move(refused);
    return true;
  }
  return false;
}

bool RotationTarget::Foresee(Status* error) {
  std::vector<DirEntry> entries;
  if (Survey(&entries, error)) return true;
  if (!PathCouldBeMade(target_dir_)) {
    *error = Status(StatusKind::kIoError, target_dir_, "cannot be created");
    return true;
  }
  return false;
}

bool RotationTarget::Prepare(Status* error) {
  std::vector<DirEntry> entries;
  if (Survey(&entries, error)) return true;
  for (const DirEntry& entry : entries) RemoveIfLeftover(entry);

  if (const Status made = MakePath(target_dir_, &created_); !made) {
    *error = Why(made, target_dir_, "cannot be created");
    return true;
  }
  for (std::uint32_t k = 0; k < kPartialAttempts; ++k) {
    const std::string name = std::string(kPartialPrefix) + std::string(HexLong(k));
    const std::string path = target_dir_ + name;
    if (names_seen_.count(name) != 0 && Os().Stat(path)) continue;
    // Made here and now, never found: a name that exists already is
    // somebody else's, and the next one is tried.
    const Status why = Os().MakeDirectory(path);
    if (why) {
      // Locked before anything is written into it. A lock another run
      // took in the instant between (one removing what it took for a
      // leftover) makes this name that run's: the next one is tried.
      const FileByteLock::Outcome outcome = partial_lock_.Acquire(LockFileOf(path), true, 0);
      if (outcome == FileByteLock::Outcome::kBusy) continue;
      if (outcome == FileByteLock::Outcome::kFailed) {
        *error = Why(partial_lock_.LastError(), path, "cannot be locked");
        static_cast<void>(Os().RemoveDirectory(path));
        return true;
      }
      partial_ = path;
      return false;
    }
    if (!Os().Stat(path)) {
      *error = Why(why, path, "cannot be created");
      return true;
    }
  }
  *error = Status(StatusKind::kBusy, ForOs(target_dir_), "no free name for a partial copy");
  return true;
}

RotationTarget::Move RotationTarget::MoveToFinal(const std::string& final_name, Status* error) {
  Status why = Os().RenameNoReplace(partial_, final_name);
  if (why) return Move::kMoved;
  // Taken since the listing (by another program): the caller goes on.
  if (why.kind() == StatusKind::kBusy || Os().Stat(final_name)) return Move::kTaken;
  if (why.kind() == StatusKind::kNotSupported) {
    // A system that cannot rename without replacing: an empty directory
    // made under the number reserves it (making it fails when the name
    // exists), and renaming a directory onto an empty one replaces just
    // that.
    if (const Status made = Os().MakeDirectory(final_name); !made) {
      if (Os().Stat(final_name)) return Move::kTaken;
      *error = Why(made, final_name, "cannot be created");
      return Move::kFailed;
    }
    why = Os().Rename(partial_, final_name);
    if (why) return Move::kMoved;
    static_cast<void>(Os().RemoveDirectory(final_name));
  }
  *error = Why(why, partial_, "cannot be renamed");
  return Move::kFailed;
}

bool RotationTarget::Publish(Status* error) {
  for (;;) {
    const auto number = FirstFreeNumber();
    if (!number) {
      *error = Status::Invalid(ForOs(target_dir_), "every rotation number is taken");
      return true;
    }
    SetCopyName(*number);
    const Move move = MoveToFinal(copy_name_, error);
    if (move == Move::kMoved) break;
    if (move == Move::kFailed) return true;
    taken_.insert(*number);
  }
  return MakeDurable(error);
}

void RotationTarget::RemovePartialLock() {
  // Under its number the copy is no partial any more: nobody removes it.
  // (Made even where the system has no locks, so it goes in any case.)
  partial_lock_.Release();
  DeleteFileIfExists(LockFileOf(copy_name_));
}

bool RotationTarget::MakeDurable(Status* error) {
  // The copy's bytes are durable already; only names are left: directory
  // by directory, deepest first, the target that holds the new name, then
  // the entry of each directory made in its parent. (A flush of the whole
  // file system would also wait for every other program's writes.)
  std::vector<std::string> directories{ForOs(target_dir_)};
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
    directories.push_back(ParentOf(*it));
  }
  for (const std::string& dir : directories) {
    if (const Status synced = Os().SyncDirectory(dir); !synced) {
      *error = Why(synced, dir, "cannot be flushed");
      return true;
    }
  }
  return false;
}

void RotationTarget::Discard() {
  if (!partial_.empty()) {
    // The copy's files, then the lock file by its name: the walk passes
    // over dot names where the DOS rules apply. Windows keeps the name of
    // an open file, so the lock is released before it goes.
    RemoveTree(AddBackslash(partial_), false);
    partial_lock_.Release();
    DeleteFileIfExists(LockFileOf(partial_));
    static_cast<void>(Os().RemoveDirectory(partial_));
  }
  partial_lock_.Release();
  partial_.clear();
  // Only directories that are empty again go.
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
    static_cast<void>(Os().RemoveDirectory(*it));
  }
  created_.clear();
}

std::optional<std::string> RotationTarget::MoveAside(const std::string& from) {
  for (std::uint32_t k = 0; k < kPartialAttempts; ++k) {
    const std::string aside = target_dir_ + std::string(kPartialPrefix) + std::string(HexLong(k));
    const Status moved = Os().RenameNoReplace(from, aside);
    if (moved) return aside;
    if (moved.kind() != StatusKind::kBusy && !Os().Stat(aside)) return std::nullopt;
  }
  return std::nullopt;
}

void RotationTarget::RemoveCopy() {
  // Where the copy cannot be moved aside it is removed in place: the
  // archive that holds it is durable already.
  const std::optional<std::string> aside = MoveAside(copy_name_);
  // The move must be on the disk before the first file goes, or a crash
  // could keep the deletions and lose the move. Should the flush fail, the
  // removal goes on all the same: the archive is safe.
  if (aside) static_cast<void>(Os().SyncDirectory(ForOs(target_dir_)));
  RemoveTree(aside ? *aside : copy_name_, false);
}

}  // namespace qlr
