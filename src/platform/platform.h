// The one seam between quillor and the operating system.
//
// Everything that touches files, directories, processes, the clock or the
// environment goes through `Platform`. There is one implementation per
// operating system (posix/, win32/), chosen by the build, and tests can
// install a wrapper that fails chosen calls (see ScopedPlatform).
//
// Paths are passed as written by the caller, in the host's own syntax.
// Nothing here prints or ends the process, except the fault report.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace qlr {

// DOS attribute bits, the vocabulary of the rest of the program. On POSIX:
// read-only = the owner has no write permission; hidden = the name starts
// with a dot; archive = a regular file; system and volume label never.
enum FileAttribute : std::uint8_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrVolumeLabel = 0x08,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
};

// A last-write time at the file system's full precision. The unit is the
// platform's own (nanoseconds since 1970 on POSIX, FILETIME on Windows);
// only the platform interprets it.
struct FileTime {
  std::int64_t ticks = 0;
  friend bool operator==(const FileTime&, const FileTime&) = default;
};

struct FileStatus {
  std::uint8_t attributes = 0;  // FileAttribute bits
  std::uint64_t size = 0;
  FileTime modified;
  // The platform's own permission or attribute word, restored exactly by
  // RestoreNativeMode (mode bits on POSIX, attribute DWORD on Windows).
  std::uint32_t native_mode = 0;
  bool is_regular = false;  // a plain file (not a directory, FIFO or device)
  // A symbolic link (a reparse point on Windows), as StatLink sees it; it
  // is then not regular, whatever it points to. Stat follows links and
  // never sets it.
  bool is_link = false;
  // Which file this is, whatever its name: device and inode on POSIX,
  // volume serial and file index on Windows. A file replaced under the
  // same name has another identity. Both 0 where the system cannot tell.
  std::uint64_t volume = 0;
  std::uint64_t file_index = 0;
  // How many names the file has (hard links); 0 where the system cannot
  // tell.
  std::uint32_t link_count = 0;
};

struct DirEntry {
  std::string name;
  std::uint8_t attributes = 0;  // FileAttribute bits
  // The entry itself is a symbolic link (a reparse point on Windows); the
  // attributes still describe what it names, where that is a file.
  bool is_link = false;
};

struct LocalTime {
  int year = 0;   // full year
  int month = 0;  // 1..12
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int hundredths = 0;
};

enum class OpenMode {
  kCreate,     // new or truncated file, read and write
  kRead,       // existing file, read only
  kReadWrite,  // existing file, read and write
  // A new file only, read and write: kBusy when the name exists, whatever
  // it names, so that a link planted under a temporary's name is never
  // followed and no file is emptied.
  kCreateNew,
};

// Every Boolean result of this interface is TRUE ON SUCCESS (unlike the
// message bases and streams, whose results are true on failure). After a
// call that returned false, LastError() of the object that was called says
// why; after a success it is unspecified.
//
// Reads: Read and ReadAt read until `n` bytes or the end of the file.
// Reaching the end is not an error: they return true, *got < n tells how
// many bytes were read, and the rest of the buffer is zero-filled. On
// failure they return false, *got is the count read before the failure and
// the rest of the buffer is zero-filled too.
//
// Writes: Write and WriteAt return true only when all `n` bytes were
// written. A short write (disk full, quota) returns false with *written the
// count that did reach the file and LastError() saying why (kNoSpace).
class FileHandle {
 public:
  virtual ~FileHandle() = default;
  // Reads at the current position and advances it by *got.
  [[nodiscard]] virtual bool Read(void* buffer, std::size_t n, std::size_t* got) = 0;
  // Writes at the current position and advances it by *written.
  [[nodiscard]] virtual bool Write(const void* buffer, std::size_t n, std::size_t* written) = 0;
  // Positional forms: they neither use nor move the current position.
  [[nodiscard]] virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n,
                                    std::size_t* got);
  [[nodiscard]] virtual bool WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
                                     std::size_t* written);
  [[nodiscard]] virtual bool Seek(std::uint64_t position) = 0;
  [[nodiscard]] virtual bool Size(std::uint64_t* size) = 0;
  // Cuts (or extends with zeros) the file to `size` bytes.
  [[nodiscard]] virtual bool Truncate(std::uint64_t size) = 0;
  // Flushes written data to stable storage.
  [[nodiscard]] virtual bool Sync() = 0;
  // Copies the bytes of `source` from its current position to this file's
  // current position until `n` bytes or the end of `source`, and advances
  // both positions by *copied. Reaching the end of `source` is not an
  // error: true, and *copied < n tells. False when a read or a write
  // failed, with *copied the count that reached this file and LastError()
  // saying why. The default reads and writes blocks of 65535 bytes through
  // Read and Write (the source's Read until it returns nothing); POSIX lets
  // the kernel copy where the file system can (copy_file_range), without
  // the bytes passing through this process.
  [[nodiscard]] virtual bool CopyFrom(FileHandle& source, std::uint64_t n, std::uint64_t* copied);
  // A handle that only stands for another one over the same open file (a
  // view of the handle that holds a lock) returns that handle and sets
  // *position to its own current position, so that a copy from it can be
  // made by the system from the real file at that offset (it then Seeks
  // this handle past what it copied). Every other handle returns nullptr:
  // it is its own file.
  virtual FileHandle* HolderOfFile(std::uint64_t* position);

  // Byte-range locks, the kind other FTN programs take to announce a write
  // (JAM: the first byte of .jhr; Squish: the first byte of .sqd). They
  // conflict with locks of other processes and of other handles of this
  // process (except on POSIX systems without open-file-description locks,
  // where locks belong to the process and closing any descriptor of the
  // file drops them). TryLock never waits: false with kBusy when another holder has
  // the range. Locks are released by Unlock, Close or destruction. A
  // read-write handle takes an exclusive lock. A read-only handle takes a
  // shared one (POSIX grants exclusive locks only to writers): it conflicts
  // with every exclusive lock, not with another shared one. `length` must
  // not be 0. On Windows locks are mandatory: while another handle holds
  // the range, reads and writes of it fail with kBusy.
  [[nodiscard]] virtual bool TryLock(std::uint64_t offset, std::uint64_t length);
  [[nodiscard]] virtual bool Unlock(std::uint64_t offset, std::uint64_t length);

  // Closes the file and reports a late write error that only closing
  // reveals (network file systems). Every later call fails. Destruction
  // closes too but cannot report.
  [[nodiscard]] virtual bool Close();

  // Why the last failed call failed.
  const Status& LastError() const { return last_error_; }

 protected:
  // Records `status` and returns false, for `return Fail(...)`.
  bool Fail(Status status);

  Status last_error_;
};

struct ProcessResult {
  bool started = false;          // the interpreter could be started
  bool exited_normally = false;  // it ended by itself (not by a signal)
  int exit_code = -1;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // --- files ---
  // Null when the file cannot be opened or created (LastError says why).
  // Files are opened shared: other programs may open them meanwhile.
  virtual std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) = 0;
  [[nodiscard]] virtual bool DeleteFile(std::string_view path) = 0;
  // Renames `from` to `to`, replacing an existing file `to` in one atomic
  // step when both are on the same file system: at every instant `to`
  // names either the old file or the new one. A failure leaves both names
  // as they were.
  [[nodiscard]] virtual bool Rename(std::string_view from, std::string_view to);
  // Renames `from` to `to` only when `to` does not exist; never replaces
  // anything (false with kBusy when `to` exists). Where the system cannot
  // do this in one step it links `to` and then removes `from`, so `to`
  // is never overwritten; a crash in between leaves both names.
  [[nodiscard]] virtual bool RenameNoReplace(std::string_view from, std::string_view to);
  // Gives the existing file `from` the second name `to` (a hard link),
  // never replacing anything: both names are then the same file, with one
  // identity. A symbolic link `from` is linked itself, not followed. False
  // when `to` exists (kBusy), when the system or the file system has no
  // links, or refuses this one (another file system, no permission, too
  // many links): the caller then copies instead.
  [[nodiscard]] virtual bool Link(std::string_view from, std::string_view to);
  // Nothing when the path does not exist or cannot be examined.
  virtual std::optional<FileStatus> Stat(std::string_view path) = 0;
  // Stat of the path itself: a symbolic link is described as a link
  // (is_link), never by its target. Where the system has no links it is
  // Stat.
  virtual std::optional<FileStatus> StatLink(std::string_view path) { return Stat(path); }
  // OpenFile, except that a path whose last component is a symbolic link
  // (a reparse point on Windows) is refused instead of followed, with
  // kInvalidArgument. A file in an area that others can write is opened so:
  // a link planted there could name any file the program can read.
  virtual std::unique_ptr<FileHandle> OpenFileNoFollow(std::string_view path, OpenMode mode) {
    return OpenFile(path, mode);
  }
  // Sets DOS attribute bits; kAttrArchive alone makes the file writable.
  [[nodiscard]] virtual bool SetAttributes(std::string_view path, std::uint8_t attributes) = 0;
  // Restores a FileStatus::native_mode exactly. A symbolic link at `path`
  // is refused (kInvalidArgument), never followed: a name in an area that
  // others can write may be replaced by one between two calls.
  [[nodiscard]] virtual bool RestoreNativeMode(std::string_view path,
                                               std::uint32_t native_mode) = 0;
  [[nodiscard]] virtual bool SetModifiedTime(std::string_view path, FileTime time) = 0;
  // True when both paths name the same existing file (file identity on
  // POSIX, names without case on Windows).
  virtual bool SameFile(std::string_view a, std::string_view b) = 0;

  // --- directories ---
  // Lists the entries of `directory` whose names match `pattern` ("*" and
  // "?" wildcards; "*.*" matches every name). "." and ".." are never
  // listed. False when the directory cannot be read.
  [[nodiscard]] virtual bool ListDirectory(std::string_view directory, std::string_view pattern,
                                           std::vector<DirEntry>* entries) = 0;
  [[nodiscard]] virtual bool MakeDirectory(std::string_view path) = 0;
  [[nodiscard]] virtual bool RemoveDirectory(std::string_view path) = 0;
  // Makes the directory's entries (new files, renames, removals) durable.
  [[nodiscard]] virtual bool SyncDirectory(std::string_view path) = 0;
  // Makes everything written to the file system that holds `path` durable,
  // data and directory entries alike (syncfs on Linux). Where the system
  // has no such call it returns false with kInvalidArgument, and callers
  // sync file by file instead.
  [[nodiscard]] virtual bool SyncFileSystem(std::string_view path);

  // --- the running program ---
  virtual std::string ExecutablePath() = 0;
  // Nothing when the variable is not set.
  virtual std::optional<std::string> GetEnvironment(std::string_view name) = 0;
  // Runs the command interpreter with a command tail of the form " /C ...":
  // on Windows "%COMSPEC%" followed by a blank and the tail; on POSIX
  // $COMSPEC (or /bin/sh) with -c and the tail after its /C word. The child
  // shares the console, current directory and environment; waits without
  // limit.
  virtual ProcessResult RunCommandInterpreter(std::string_view tail) = 0;
  virtual void Sleep(int milliseconds) = 0;
  // Sets the permission bits that files and directories made from now on
  // (by this process and the programs it starts) do not get, and returns
  // the previous ones: the POSIX umask. Where the system has no such mask
  // it does nothing and returns 0.
  virtual std::uint32_t SetCreationMask(std::uint32_t mask);
  virtual LocalTime Now() = 0;
  // The id the system gave this process (0 where there is none).
  virtual std::uint32_t ProcessId();

  // Why the last failed call of this object failed.
  const Status& LastError() const { return last_error_; }

 protected:
  // Records `status` and returns false, for `return Fail(...)`.
  bool Fail(Status status);

  Status last_error_;
};

// The platform in use: the host's own unless a test installed another.
Platform& Os();
// The host's implementation (defined once per operating system).
Platform& HostPlatform();

// Installs a replacement for the lifetime of the object (tests only).
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& replacement);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

// Matches a file name against a DOS wildcard pattern ("*", "?"); "*.*"
// matches every name. Case-insensitive when `ignore_case` is set.
bool MatchesPattern(std::string_view name, std::string_view pattern, bool ignore_case);

}  // namespace qlr
