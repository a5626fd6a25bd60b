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
};

struct DirEntry {
  std::string name;
  std::uint8_t attributes = 0;  // FileAttribute bits
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
};

// An open file. All calls return false on an operating-system failure.
class FileHandle {
 public:
  virtual ~FileHandle() = default;
  // Reads up to n bytes at the current position; *got receives the count
  // (0 at the end of the file).
  virtual bool Read(void* buffer, std::size_t n, std::size_t* got) = 0;
  // Writes n bytes at the current position; *written receives the count.
  virtual bool Write(const void* buffer, std::size_t n, std::size_t* written) = 0;
  virtual bool Seek(std::uint64_t position) = 0;
  virtual bool Size(std::uint64_t* size) = 0;
  // Cuts (or extends) the file to `size` bytes.
  virtual bool Truncate(std::uint64_t size) = 0;
  // Flushes written data to stable storage.
  virtual bool Sync() = 0;
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
  // Null when the file cannot be opened or created.
  virtual std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) = 0;
  virtual bool DeleteFile(std::string_view path) = 0;
  // Nothing when the path does not exist or cannot be examined.
  virtual std::optional<FileStatus> Stat(std::string_view path) = 0;
  // Sets DOS attribute bits; kAttrArchive alone makes the file writable.
  virtual bool SetAttributes(std::string_view path, std::uint8_t attributes) = 0;
  // Restores a FileStatus::native_mode exactly.
  virtual bool RestoreNativeMode(std::string_view path, std::uint32_t native_mode) = 0;
  virtual bool SetModifiedTime(std::string_view path, FileTime time) = 0;
  // True when both paths name the same existing file (file identity on
  // POSIX, names without case on Windows).
  virtual bool SameFile(std::string_view a, std::string_view b) = 0;

  // --- directories ---
  // Lists the entries of `directory` whose names match `pattern` ("*" and
  // "?" wildcards; "*.*" matches every name). "." and ".." are never
  // listed. False when the directory cannot be read.
  virtual bool ListDirectory(std::string_view directory, std::string_view pattern,
                             std::vector<DirEntry>* entries) = 0;
  virtual bool MakeDirectory(std::string_view path) = 0;
  virtual bool RemoveDirectory(std::string_view path) = 0;
  // Makes the directory's entries (new files, removals) durable.
  virtual bool SyncDirectory(std::string_view path) = 0;

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
  virtual LocalTime Now() = 0;
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
