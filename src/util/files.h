// File and directory helpers over the platform layer.
//
// They absorb operating-system errors and report only through their
// results. Paths are in the host's style.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "support/short_string.h"
#include "support/stream.h"

namespace qlr {

// True for an existing regular file (a directory, FIFO or device is not).
bool FileExists(std::string_view path);
// True when the path names an existing directory. One trailing separator
// is ignored; the empty path is the current directory.
bool DirExists(std::string_view path);
// Why DirExists is false: kNotFound when nothing has the name, another
// kind when it cannot be examined or is no directory; ok when it is one.
Status DirStatus(std::string_view path);
void DeleteFileIfExists(std::string_view path);
// Clears the name of a temporary of this program's own, which is then made
// with kCreateNew: a regular file that an interrupted run left there is
// removed (the name alone: other names of a linked file keep it). Anything
// else under the name (a symbolic link, a directory) stays, and the create
// fails on it.
void RemoveStaleTemporary(std::string_view path);
// Makes `path` an empty file unless something by that name exists. True
// when it exists afterwards. An existing file is never emptied, even one
// that another program makes at the same instant.
[[nodiscard]] bool MakeEmptyFileIfMissing(std::string_view path);
// Creates every missing directory of the path's directory part (the text
// after the last separator is a file name). Ok on success, else why the
// first missing directory could not be made. `created`,
// when given, receives each directory this call made itself, outermost
// first (one that another program made meanwhile is not listed).
Status MakePath(std::string_view path, std::vector<std::string>* created = nullptr);
// Whether MakePath of `path` could succeed, told without making anything:
// every directory of the path's directory part exists, or the first
// missing one has nothing else in its place. (Permissions are not judged.)
bool PathCouldBeMade(std::string_view path);

// A file a copy has read completely, with the source's status as it was
// read just before its bytes were. The paths are heap strings: a rotation
// keeps one record per file until its erase, and two 256-byte short
// strings would make that list half a kilobyte a file.
// A linked file (see CopyOptions::link) is the source file itself under a
// second name, and its status is the one read through that name after the
// link was made: its identity is what the copy holds.
struct CopiedFile {
  std::string source;
  std::string dest;
  FileStatus status;
  bool linked = false;
};

// Who makes a copy durable.
enum class CopyDurability {
  // Every copied file and its directory entry are flushed to stable
  // storage before the copy reports success.
  kSyncEachFile,
  // Nothing is flushed: the caller makes the whole copy durable at once
  // (one file-system sync instead of one per file).
  kCallerSyncs,
};

struct CopyOptions {
  CopyDurability durability = CopyDurability::kSyncEachFile;
  // When set, every file copied completely is appended to it.
  std::vector<CopiedFile>* copied = nullptr;
  // When set and still ok, receives why the first failing step failed
  // (the file concerned and the system's error text).
  Status* error = nullptr;
  // When set, receives each source that is a symbolic link. A link is
  // never followed nor copied: in an area that others can write it could
  // name any file the program may read. It is no failure.
  std::vector<std::string>* links = nullptr;
  // When set, a regular file whose identity the system can tell is given
  // its new name as a hard link to the source instead of a copy of its
  // bytes: nothing is read or written, and the copy is the very file the
  // source name holds (a write in place reaches both). Where the link is
  // refused (another file system, no links there, no permission, the link
  // limit) that file is copied.
  bool link = false;
};

// Copies one regular file in blocks of 65535 bytes, to the end of `dest`
// when `append` is set and `dest` exists, else into a new or truncated
// `dest`; keeps the source's modification time (full precision) and
// permissions on the copy, and (unless the options leave it to the caller)
// flushes it to stable storage. True on FAILURE; false when the whole
// source was copied, or when there was nothing to do (no source file, a
// source that is a symbolic link, or source and destination are the same
// file). A regular file with several links is copied as a file.
[[nodiscard]] bool CopyFileTo(std::string_view source, std::string_view dest, bool append,
                              const CopyOptions& options = {});
// Copies the files of a directory (and with `recurse` its subdirectories).
// True on FAILURE: source not a directory, destination not creatable, the
// same directory, or any single file copy failed.
[[nodiscard]] bool CopyTree(std::string_view source, std::string_view dest, bool recurse,
                            const CopyOptions& options = {});
// Deletes the files of `dir` (read-only ones too; with `recurse` also its
// subdirectories), then the directory itself unless `dir` ends in a
// separator. A directory that is not empty by then stays. The empty path,
// the root and a symbolic link are refused. Reports nothing.
void RemoveTree(std::string_view dir, bool recurse);

// Ends the writing of a file this program made: its buffer written out,
// the file flushed to stable storage (unless `sync` is unset, for a caller
// that syncs many files at once), and closed, each step checked. A late
// write error may show only at the close. Not ok: why the first failing
// step failed (the stream's reason, else `path` and `what`). The file is
// closed either way.
Status CloseDurably(BufferedFileStream& file, std::string_view path, std::string_view what,
                    bool sync = true);

// The pause between two attempts of every writers' lock.
inline constexpr int kLockRetryStepMs = 100;

// The one waiting rule of the writers' locks: `attempt` runs until it
// succeeds or fails for another reason than kBusy; while it is busy the
// next try follows a pause of kLockRetryStepMs (the last pause cut to what
// is left), for at most `timeout_ms` in all (0: one try). The time waited
// is the sum of the pauses, not a clock reading: the bound holds however
// slowly each attempt itself runs. Returns the last attempt's Status.
Status RetryWhileBusy(int timeout_ms, const std::function<Status()>& attempt);

// A lock on the first byte of a file, the way FTN programs announce that
// they write a base, held on a handle of its own from Acquire until Release
// or destruction: the lock belongs to that open file, and closing it is
// what frees it. It keeps out other programs and other handles of this
// process alike.
class FileByteLock {
 public:
  enum class Outcome {
    kLocked,   // held now
    kNoLocks,  // the system has no byte-range locks: nothing is held
    kBusy,     // another holder kept it for the whole wait
    kFailed,   // the file could not be opened (or made)
  };

  FileByteLock() = default;
  ~FileByteLock() { Release(); }
  FileByteLock(const FileByteLock&) = delete;
  FileByteLock& operator=(const FileByteLock&) = delete;

  // Opens `path` for reading and writing (creating it, empty, when it is
  // missing and `create` is set) and locks its first byte, waiting by
  // RetryWhileBusy for at most `timeout_ms` while another holder has it.
  // Acquiring while held does nothing. A symbolic link is refused unless
  // `follow_links`: a base's lock file lies in an area others can write,
  // while the run lock beside the program may be the installation's own
  // link into a writable directory, and a format's own writers open its
  // data file by its name.
  Outcome Acquire(std::string_view path, bool create, int timeout_ms, bool follow_links = false);
  void Release();
  bool Held() const { return handle_ != nullptr; }
  // The handle that holds the lock, null when none is held. On systems
  // that enforce locks (Windows) the locked range can be read and written
  // through this handle alone.
  FileHandle* Handle() const { return handle_.get(); }
  // Why the last Acquire did not lock, or the last transfer below failed.
  const Status& LastError() const { return last_error_; }

  // Positional transfers through the handle that holds the lock: a read
  // sees what is on disk now, not what a stream's buffer kept. True on
  // FAILURE: no lock is held, the call failed, or fewer than all bytes
  // were transferred (LastError says which).
  [[nodiscard]] bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes);
  [[nodiscard]] bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  [[nodiscard]] bool Sync();
  // Cuts the locked file to `size` bytes through the same handle.
  [[nodiscard]] bool Truncate(std::uint64_t size);

 private:
  // The held handle, or null with LastError set.
  FileHandle* HeldHandle();
  // Records why the handle failed (or `fallback` when it gave no reason);
  // true.
  bool HandleFailed(const Status& why, std::string_view fallback);

  std::unique_ptr<FileHandle> handle_;
  Status last_error_;
};

// Holds an owner's writers' lock for one operation: taken here unless the
// owner holds it already (a rotation or a batch in progress), and then
// released at the end only when taken here. The owner has Locked(),
// LockBase(timeout_ms) (true on failure) and UnlockBase().
template <typename Owner>
class WriteLockScope {
 public:
  WriteLockScope(Owner& owner, int timeout_ms) : owner_(owner) {
    if (owner_.Locked()) {
      held_ = true;
      return;
    }
    taken_ = held_ = !owner_.LockBase(timeout_ms);
  }
  ~WriteLockScope() {
    if (taken_) owner_.UnlockBase();
  }
  WriteLockScope(const WriteLockScope&) = delete;
  WriteLockScope& operator=(const WriteLockScope&) = delete;

  // False when the lock could not be had: the operation must not write.
  bool Held() const { return held_; }
  // Lets go now of a lock taken here, in the operation's normal flow: an
  // owner whose release does more than close the lock's handle (a packet
  // opens its buffered stream anew) does it there, not while unwinding.
  void Release() {
    if (taken_) owner_.UnlockBase();
    taken_ = false;
  }
  // Leaves the lock held past the scope (a batch holds it until its end);
  // true when this scope had taken it, and its release is the caller's.
  bool Keep() {
    const bool taken = taken_;
    taken_ = false;
    return taken;
  }

 private:
  Owner& owner_;
  bool held_ = false;
  bool taken_ = false;
};

}  // namespace qlr
