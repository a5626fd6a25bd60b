// File and directory helpers over the platform layer.
//
// Paths are in the host's style. On POSIX a trailing "/" is ignored where
// a directory is meant, the root is "/", and "same file" means the same
// file identity.
#include "util/files.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/short_string.h"
#include "util/file_name_case.h"
#include "util/paths.h"

namespace qlr {
namespace {

constexpr PathStyle kStyle = kHostPathStyle;
constexpr bool kDosStyle = kStyle == PathStyle::kDos;
constexpr char kSeparator = kDosStyle ? '\\' : '/';

// Windows may refuse to open a read-only, hidden or system file the way
// the copy wants it, so the source is made archive-only while it is read
// and given its attributes back afterwards. POSIX reads need no permission
// change, so a copy never touches its source there.
constexpr bool kUnlockSourceForReading = kDosStyle;
// Likewise a file is made archive-only before it is deleted on Windows.
// On POSIX deletion needs no file permission, and changing the mode of a
// symbolic link would change its target, outside the tree.
constexpr bool kUnlockBeforeDelete = kDosStyle;

// The name under which the OS sees a directory path: the empty path is the
// current directory.
std::string DirectoryForOs(std::string_view path) {
  return path.empty() ? std::string(".") : std::string(path);
}

// Directory entries that the tree walks never visit: on DOS every name
// starting with a dot, on POSIX only "." and ".." (".lock" is an ordinary
// file there).
bool IsSkippedDotName(std::string_view name) {
  if (kDosStyle) return !name.empty() && name.front() == '.';
  return name == "." || name == "..";
}

// Paths that RemoveTree refuses: the empty path and the roots (on DOS also
// a bare drive, whose contents the walk would take from the drive's root).
bool IsRootOrEmpty(std::string_view dir) {
  if (dir.find_first_not_of(kSeparator) == std::string_view::npos) return true;
  if (kDosStyle && (dir.size() == 2 || dir.size() == 3) && dir[1] == ':') {
    return dir.size() == 2 || dir[2] == kSeparator;
  }
  return false;
}

bool EndsInSeparator(std::string_view path) {
  return !path.empty() && (path.back() == kSeparator || (kDosStyle && path.back() == ':'));
}

// What a copy flushes itself: nothing (the caller syncs the whole copy),
// the file and its directory entry, or the file alone (a tree copy syncs
// each directory once, not once per file).
enum class FileSync { kNone, kFileAndEntry, kFileOnly };

FileSync FileSyncOf(CopyDurability durability, bool caller_syncs_entries) {
  if (durability == CopyDurability::kCallerSyncs) return FileSync::kNone;
  return caller_syncs_entries ? FileSync::kFileOnly : FileSync::kFileAndEntry;
}

// Records why a step failed in `error` unless an earlier failure is there
// already; returns true (failure) for `return Failed(...)`. A platform that
// could not say why still leaves the file and the step in the message.
bool Failed(Status* error, const Status& why, std::string_view path, std::string_view step) {
  if (error != nullptr && error->ok()) {
    *error = why.ok() ? Status(StatusKind::kIoError, path, step) : why;
  }
  return true;
}

// Copies the bytes of `source` to the end of `dest`. True on failure,
// including a byte count that differs from the source's size.
bool CopyContents(std::string_view source, std::string_view dest, bool append,
                  std::uint64_t source_size, FileSync sync, Status* error) {
  // Not followed: a link put in place of the file since it was examined
  // fails the copy rather than copy what it names.
  const auto in = Os().OpenFileNoFollow(source, OpenMode::kRead);
  if (!in) return Failed(error, in.status(), source, "cannot be opened");
  Result<std::unique_ptr<FileHandle>> out = Status(StatusKind::kNotFound, dest, "not opened");
  if (append) out = Os().OpenFile(dest, OpenMode::kReadWrite);
  const bool created = !out;
  if (created) out = Os().OpenFile(dest, OpenMode::kCreate);
  if (!out) return Failed(error, out.status(), dest, "cannot be created");
  std::uint64_t end = 0;
  Status placed = out->Size(&end);
  if (placed) placed = out->Seek(end);
  if (!placed) return Failed(error, placed, dest, "cannot be positioned");

  // To the end of the source, whatever its size now: a source that grew
  // or shrank meanwhile shows in the count below. The kernel copies where
  // it can (see FileHandle::CopyFrom).
  std::uint64_t copied = 0;
  if (const Status copy = out->CopyFrom(*in, std::numeric_limits<std::uint64_t>::max(), &copied);
      !copy) {
    // The reason names no file when the platform could not tell which side
    // failed; the copy's own message names the destination then.
    return Failed(error, copy, dest, "copy error");
  }
  if (copied != source_size) {
    return Failed(error, Status(StatusKind::kIoError, source, "changed size while it was copied"),
                  source, "");
  }
  if (sync != FileSync::kNone) {
    if (const Status synced = out->Sync(); !synced) {
      return Failed(error, synced, dest, "cannot be flushed");
    }
  }
  // A late write error may show only when the file is closed.
  if (const Status closed = out->Close(); !closed) {
    return Failed(error, closed, dest, "cannot be closed");
  }
  // A new file is only durable once its directory entry is.
  if (created && sync == FileSync::kFileAndEntry) {
    const std::string dir = DirectoryForOs(JustPathName(dest));
    if (const Status synced = Os().SyncDirectory(dir); !synced) {
      return Failed(error, synced, dir, "cannot be flushed");
    }
  }
  return false;
}

// Flushes a file that was linked, not written: its bytes may be as fresh
// as the writer that made them left them. Windows flushes only through a
// handle that may write; a read-only file is flushed through a reading one.
bool SyncLinkedFile(std::string_view dest, FileSync sync, Status* error) {
  auto file = Os().OpenFile(dest, OpenMode::kReadWrite);
  if (!file) file = Os().OpenFile(dest, OpenMode::kRead);
  if (!file) return Failed(error, file.status(), dest, "cannot be opened");
  if (const Status synced = file->Sync(); !synced) {
    return Failed(error, synced, dest, "cannot be flushed");
  }
  if (const Status closed = file->Close(); !closed) {
    return Failed(error, closed, dest, "cannot be closed");
  }
  if (sync == FileSync::kFileAndEntry) {
    const std::string dir = DirectoryForOs(JustPathName(dest));
    if (const Status synced = Os().SyncDirectory(dir); !synced) {
      return Failed(error, synced, dir, "cannot be flushed");
    }
  }
  return false;
}

enum class LinkOutcome { kLinked, kRefused, kFailed, kNotAFile };

// Gives `source` the name `dest` as a hard link and records it. kRefused
// when the system would not link (the caller copies instead).
LinkOutcome LinkOneFile(std::string_view source, std::string_view dest, FileSync sync,
                        const CopyOptions& options) {
  if (!Os().Link(source, dest)) return LinkOutcome::kRefused;
  // What the new name holds, whatever the source name held when it was
  // examined: the erase compares with this identity.
  const Result<FileStatus> linked = Os().StatLink(dest);
  if (!linked || !linked->is_regular || linked->is_link) {
    // Replaced meanwhile by something that is no file: not the copy's.
    const Status why = linked.status();
    (void)Os().DeleteFile(dest);
    if (linked) return LinkOutcome::kNotAFile;
    Failed(options.error, why, dest, "cannot be examined");
    return LinkOutcome::kFailed;
  }
  if (sync != FileSync::kNone && SyncLinkedFile(dest, sync, options.error)) {
    return LinkOutcome::kFailed;
  }
  if (options.copied != nullptr) {
    options.copied->push_back(CopiedFile{std::string(source), std::string(dest), *linked, true});
  }
  return LinkOutcome::kLinked;
}

// CopyFileTo with the choice of what is flushed here.
bool CopyOneFile(std::string_view source, std::string_view dest, bool append, FileSync sync,
                 const CopyOptions& options) {
  // Read before the bytes: a change made while they are copied shows as
  // another time or size the next time the source is looked at.
  const Result<FileStatus> status = Os().StatLink(source);
  if (!status) {
    // A file deleted since it was listed is no longer part of the base; one
    // that is there but cannot be examined is a file the copy misses.
    if (status.status().kind() == StatusKind::kNotFound) return false;
    return Failed(options.error, status.status(), source, "cannot be examined");
  }
  if (status->is_link) {
    if (options.links != nullptr) options.links->emplace_back(source);
    return false;
  }
  if (!status->is_regular) return false;  // nothing to do
  // Without an identity nothing could later tell the linked file from one
  // put in its place.
  if (options.link && !append && (status->volume != 0 || status->file_index != 0)) {
    switch (LinkOneFile(source, dest, sync, options)) {
      case LinkOutcome::kLinked:
      case LinkOutcome::kNotAFile:
        return false;
      case LinkOutcome::kFailed:
        return true;
      case LinkOutcome::kRefused:
        break;
    }
  }
  if (Os().SameFile(source, dest)) return false;  // nothing to do

  // Should the source refuse the change, the read below says whether it
  // mattered; should it refuse its old attributes back, the copy is
  // complete all the same and only the source's read-only bit is lost.
  if constexpr (kUnlockSourceForReading) (void)Os().SetAttributes(source, kAttrArchive);
  const bool failed = CopyContents(source, dest, append, status->size, sync, options.error);
  if constexpr (kUnlockSourceForReading) {
    (void)Os().RestoreNativeMode(source, status->native_mode);
  }
  if (failed) return true;

  // The time first: a read-only file may refuse a new time.
  if (const Status timed = Os().SetModifiedTime(dest, status->modified); !timed) {
    return Failed(options.error, timed, dest, "cannot take the source's time");
  }
  if (const Status moded = Os().RestoreNativeMode(dest, status->native_mode); !moded) {
    return Failed(options.error, moded, dest, "cannot take the source's attributes");
  }
  if (options.copied != nullptr) {
    options.copied->push_back(CopiedFile{std::string(source), std::string(dest), *status});
  }
  return false;
}

// Copies the files of `from` into `to` (both ending in a separator) and,
// with `recurse`, its subdirectories. `top_dest` is the destination of the
// whole copy, never copied into itself when it lies inside the source.
// True when anything failed; the walk goes on past single failures.
bool CopyDirectory(const std::string& from, const std::string& to, bool recurse,
                   const std::string& top_dest, const CopyOptions& options) {
  const bool sync = options.durability == CopyDurability::kSyncEachFile;
  std::vector<DirEntry> entries;
  if (const Status listed = Os().ListDirectory(DirectoryForOs(from), "*.*", &entries); !listed) {
    return Failed(options.error, listed, from, "cannot be listed");
  }
  bool failed = false;
  for (const DirEntry& entry : entries) {
    if ((entry.attributes & (kAttrDirectory | kAttrVolumeLabel)) != 0) continue;
    if (CopyOneFile(from + entry.name, to + entry.name, false, FileSyncOf(options.durability, true),
                    options)) {
      failed = true;
    }
  }
  if (sync) {
    if (const Status synced = Os().SyncDirectory(DirectoryForOs(to)); !synced) {
      failed = Failed(options.error, synced, to, "cannot be flushed");
    }
  }
  if (!recurse) return failed;
  for (const DirEntry& entry : entries) {
    if ((entry.attributes & kAttrDirectory) == 0 || IsSkippedDotName(entry.name)) continue;
    const std::string sub_from = from + entry.name + kSeparator;
    if (Os().SameFile(sub_from, top_dest)) continue;
    const std::string sub_to = to + entry.name + kSeparator;
    if (const Status made = MakePath(sub_to); !made) {
      failed = Failed(options.error, made, sub_to, "cannot be created");
    } else if (CopyDirectory(sub_from, sub_to, true, top_dest, options)) {
      failed = true;
    }
  }
  return failed;
}

}  // namespace

bool FileExists(std::string_view path) {
  const std::optional<FileStatus> status = Os().Stat(path);
  return status && status->is_regular && (status->attributes & kAttrDirectory) == 0;
}

Status DirStatus(std::string_view path) {
  std::string p = RemoveBackslash(path, kStyle);
  if constexpr (kDosStyle) {
    // DOS tests "C:" and "" as "C:." and ".": the current directory.
    if (p.find('.') == std::string::npos) p += '.';
  }
  const std::string name = DirectoryForOs(p);
  const Result<FileStatus> status = Os().Stat(name);
  if (!status) return status.status();
  if ((status->attributes & kAttrDirectory) == 0) return Status::Invalid(name, "not a directory");
  return Status::Ok();
}

bool DirExists(std::string_view path) { return DirStatus(path).ok(); }

void DeleteFileIfExists(std::string_view path) {
  // Callers look whether the file is gone; the reason it is not is theirs.
  if (FileExists(path)) (void)Os().DeleteFile(path);
}

void RemoveStaleTemporary(std::string_view path) {
  const std::optional<FileStatus> status = Os().StatLink(path);
  if (status && status->is_regular && !status->is_link) (void)Os().DeleteFile(path);
}

bool MakeEmptyFileIfMissing(std::string_view path) {
  if (path.empty()) return false;
  if (Os().StatLink(path)) return true;
  // Made under a name of its own and moved into place without replacing,
  // not opened with kCreate: that would empty a file made meanwhile.
  const std::string temp = std::string(path) + "." + std::to_string(Os().ProcessId()) + ".new";
  RemoveStaleTemporary(temp);
  auto file = Os().OpenFile(temp, OpenMode::kCreateNew);
  if (!file) return false;
  const bool placed = file->Close() && Os().RenameNoReplace(temp, path);
  // Removed without looking first: a failing look must not leave it.
  if (!placed) (void)Os().DeleteFile(temp);
  return placed || Os().StatLink(path).has_value();
}

namespace {

// MakePath's walk from the outermost directory inward. With `make` unset
// nothing is created: the first missing directory ends the walk, and it
// could be made unless something that is no directory holds its name.
Status WalkPath(std::string_view path, std::vector<std::string>* created, bool make) {
  // Only the directory part is created: the text after the last separator
  // is a file name.
  const std::size_t last = path.rfind(kSeparator);
  if (last == std::string_view::npos) return Status::Ok();
  const std::string_view dir = path.substr(0, last + 1);

  std::string prefix;
  std::size_t i = 0;
  if (dir.front() == kSeparator) {  // absolute: start from the root
    prefix = kSeparator;
    i = 1;
  }
  while (i < dir.size()) {
    const std::size_t next = dir.find(kSeparator, i);
    const std::string_view part = dir.substr(i, next - i);
    i = next + 1;
    if (part.empty()) continue;  // a//b
    prefix += part;
    const bool drive = kDosStyle && part.size() == 2 && part[1] == ':';
    if (!drive && !DirExists(prefix)) {
      if (!make) {
        if (!Os().StatLink(prefix)) return Status::Ok();
        return Status::Invalid(prefix, "not a directory");
      }
      // Someone else may have made it meanwhile: only a still missing
      // directory is a failure.
      if (Status made = Os().MakeDirectory(prefix)) {
        if (created != nullptr) created->push_back(prefix);
      } else if (!DirExists(prefix)) {
        return made;
      }
    }
    prefix += kSeparator;
  }
  return Status::Ok();
}

}  // namespace

Status MakePath(std::string_view path, std::vector<std::string>* created) {
  return WalkPath(path, created, true);
}

bool PathCouldBeMade(std::string_view path) { return WalkPath(path, nullptr, false).ok(); }

bool CopyFileTo(std::string_view source, std::string_view dest, bool append,
                const CopyOptions& options) {
  return CopyOneFile(source, dest, append, FileSyncOf(options.durability, false), options);
}

bool CopyTree(std::string_view source, std::string_view dest, bool recurse,
              const CopyOptions& options) {
  const std::string from = AddBackslash(source, kStyle);
  const std::string to = AddBackslash(dest, kStyle);
  if (!DirExists(from)) {
    return Failed(options.error, Status(StatusKind::kNotFound, from, "not a directory"), from, "");
  }
  if (const Status made = MakePath(to); !made) {
    return Failed(options.error, made, to, "cannot be created");
  }
  const std::string top_dest = DirectoryForOs(to);
  if (Os().SameFile(DirectoryForOs(from), top_dest)) {
    return Failed(options.error, Status::Invalid(to, "is the source itself"), to, "");
  }
  return CopyDirectory(from, to, recurse, top_dest, options);
}

void RemoveTree(std::string_view dir, bool recurse) {
  if (IsRootOrEmpty(dir)) return;
  // Through a symbolic link the walk would delete the files of whatever
  // directory it names.
  const std::string named = EndsInSeparator(dir) ? RemoveBackslash(dir, kStyle) : std::string(dir);
  if (const auto status = Os().StatLink(named); status && status->is_link) return;
  std::vector<DirEntry> entries;
  // Only a directory that could be read to its end is removed.
  if (!Os().ListDirectory(dir, "*.*", &entries)) return;
  const std::string base = AddBackslash(dir, kStyle);
  for (const DirEntry& entry : entries) {
    if (IsSkippedDotName(entry.name) || (entry.attributes & kAttrVolumeLabel) != 0) continue;
    const std::string path = base + entry.name;
    if ((entry.attributes & kAttrDirectory) != 0) {
      if (recurse) RemoveTree(path, true);
      continue;
    }
    // Best effort: whatever cannot be deleted stays, and so does its
    // directory.
    if constexpr (kUnlockBeforeDelete) (void)Os().SetAttributes(path, kAttrArchive);
    (void)Os().DeleteFile(path);
  }
  // A trailing separator asks for the contents only. A directory that is
  // not empty yet simply stays.
  if (!EndsInSeparator(dir)) (void)Os().RemoveDirectory(dir);
}

}  // namespace qlr

namespace qlr {

Status CloseDurably(BufferedFileStream& file, std::string_view path, std::string_view what,
                    bool sync) {
  bool failed = sync && file.SyncToDisk();
  failed = file.Close() || failed;
  return failed ? StreamFailure(file, path, what) : Status::Ok();
}

Status RetryWhileBusy(int timeout_ms, const std::function<Status()>& attempt) {
  int waited = 0;
  for (;;) {
    Status status = attempt();
    if (status.kind() != StatusKind::kBusy || waited >= timeout_ms) return status;
    const int pause = std::min(kLockRetryStepMs, timeout_ms - waited);
    Os().Sleep(pause);
    waited += pause;
  }
}

FileByteLock::Outcome FileByteLock::Acquire(std::string_view path, bool create, int timeout_ms,
                                            bool follow_links) {
  if (Held()) return Outcome::kLocked;
  Result<std::unique_ptr<FileHandle>> handle =
      follow_links ? Os().OpenFile(path, OpenMode::kReadWrite)
                   : Os().OpenFileNoFollow(path, OpenMode::kReadWrite);
  // Made only when it is really missing. A lock whose links are followed
  // (the run lock, which the package makes a link into /var/lib) is made
  // where its link points; any other is never made through a link planted
  // meanwhile, and one that another process made first is opened as above.
  if (!handle && create && handle.status().kind() == StatusKind::kNotFound) {
    if (follow_links) {
      if (!Os().Stat(path)) handle = Os().OpenFile(path, OpenMode::kCreate);
    } else {
      handle = Os().OpenFile(path, OpenMode::kCreateNew);
      if (!handle && handle.status().kind() == StatusKind::kBusy) {
        handle = Os().OpenFileNoFollow(path, OpenMode::kReadWrite);
      }
    }
  }
  if (!handle) {
    last_error_ = handle.status();
    if (last_error_.ok()) last_error_ = Status(StatusKind::kIoError, path, "cannot be opened");
    return Outcome::kFailed;
  }
  last_error_ = RetryWhileBusy(timeout_ms, [&handle] { return handle->TryLock(0, 1); });
  if (last_error_.ok()) {
    handle_ = std::move(handle);
    return Outcome::kLocked;
  }
  switch (last_error_.kind()) {
    case StatusKind::kNotSupported:
      return Outcome::kNoLocks;
    case StatusKind::kBusy:
      return Outcome::kBusy;
    default:
      return Outcome::kFailed;
  }
}

void FileByteLock::Release() {
  if (handle_ == nullptr) return;
  // Closing the handle frees the lock even when Unlock fails, so there is
  // nothing further to do about a failure here.
  static_cast<void>(handle_->Unlock(0, 1));
  static_cast<void>(handle_->Close());
  handle_.reset();
}

FileHandle* FileByteLock::HeldHandle() {
  if (handle_ == nullptr) last_error_ = Status::Invalid({}, "the base is not locked");
  return handle_.get();
}

bool FileByteLock::HandleFailed(const Status& why, std::string_view fallback) {
  last_error_ = why.ok() ? Status(StatusKind::kIoError, {}, fallback) : why;
  return true;
}

bool FileByteLock::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) {
  FileHandle* file = HeldHandle();
  if (file == nullptr) return true;
  std::size_t got = 0;
  if (Status read = file->ReadAt(offset, bytes.data(), bytes.size(), &got); !read) {
    return HandleFailed(read, "read error");
  }
  if (got < bytes.size()) {
    last_error_ = Status(StatusKind::kIoError, {},
                         "short read: " + std::to_string(got) + " of " +
                             std::to_string(bytes.size()) + " bytes at " + std::to_string(offset));
    return true;
  }
  return false;
}

bool FileByteLock::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  FileHandle* file = HeldHandle();
  if (file == nullptr) return true;
  std::size_t written = 0;
  const Status wrote = file->WriteAt(offset, bytes.data(), bytes.size(), &written);
  if (!wrote || written < bytes.size()) return HandleFailed(wrote, "short write");
  return false;
}

bool FileByteLock::Truncate(std::uint64_t size) {
  FileHandle* file = HeldHandle();
  if (file == nullptr) return true;
  const Status cut = file->Truncate(size);
  return !cut && HandleFailed(cut, "cannot be cut");
}

bool FileByteLock::Sync() {
  FileHandle* file = HeldHandle();
  if (file == nullptr) return true;
  const Status synced = file->Sync();
  return !synced && HandleFailed(synced, "cannot be flushed");
}

}  // namespace qlr
