// A Platform that keeps a whole file system in memory, for tests that must
// run alike on every host and that want to crash the machine at will.
//
// Paths use POSIX syntax on every host: "/" separates, "/" alone is the
// root, relative paths resolve against a fixed current directory "/", "."
// and ".." are resolved by name, a trailing "/" only fits a directory, and
// names are case-sensitive (ListDirectory matches patterns with case, as on
// POSIX). SetBackslashIsSeparator(true) also accepts "\" as a separator,
// for code that builds paths in the host's style on Windows (names then
// lose trailing dots, as Windows drops them). The rest is
// POSIX-like too: a deleted file stays readable through open handles, a
// read-only file may still be deleted, renamed over or given a new time,
// and only a directory without write permission refuses new, renamed or
// removed entries. Attributes and native modes follow the POSIX mapping
// (read-only = no owner write bit, hidden = dot name, archive = regular).
// Every file has an identity (volume 1, a file index never used before);
// a rename keeps it, a file created anew gets a new one, and a kCreate
// open of an existing file truncates that same file. Link gives a file
// another name (link_count counts them); SetLinkRefusal makes it refuse
// chosen files, as another file system or FAT would.
//
// Time: one clock in nanoseconds since 1970 (UTC), read by Now() and used
// to stamp modification times. Every stamp and every Now() advances it by
// the clock step (1 ns unless set), so later writes get later times;
// Sleep() advances it without waiting. SetTimeGranularity(ticks) makes the
// file system keep coarser times: stamps and SetModifiedTime round down to
// whole multiples, as ext2, FAT or some network shares keep whole seconds.
//
// Space: with a capacity set, the file bytes reachable from the root may
// not exceed it: a write that does not fit writes what fits and fails with
// kNoSpace, as a real disk does; an extending Truncate fails outright.
//
// Durability and crashes. Each file keeps its durable state (bytes,
// modification time, mode) beside its current one; FileHandle::Sync() of
// the file, or SyncFileSystem, makes the current state durable. Each
// directory keeps its durable entry map (name -> file) beside its current
// one; SyncDirectory of that directory, or SyncFileSystem, makes the
// current map durable. Crash() throws away everything not durable: every
// directory gets back its durable entries (a created name vanishes, a
// rename is undone, a deleted name comes back) and every file its durable
// bytes. Names and data are independent: a file whose name was synced but
// whose data never was comes back empty, and a rename that is durable in
// the target directory but not in the source leaves both names. Handles
// opened before a crash fail every later call; their locks are gone.
//
// To stop the program at a chosen point, CrashAfter(op, nth) arms a crash:
// once the nth call of `op` has taken effect, the platform halts (every
// later call of it or of its files fails with kIoError, does nothing and
// is not counted) and throws SimulatedCrash to unwind the code under test.
// Destructors that flush on the way out therefore change nothing. The test
// catches the exception and calls Crash() to see what a restart would
// find. The exception must not be thrown through a noexcept function (a
// destructor): arm it on calls the code under test makes in normal flow.
//
// Files opened through the platform must not outlive it. The helpers for
// tests (WriteFileBytes and the rest) act on the disk directly: they are
// not counted, work while halted, and what they write is durable at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "testing/platform_op.h"

namespace qlr::testing {

// Thrown by a MemoryPlatform when an armed crash fires. Not derived from
// std::exception, so that no handler of the code under test catches it.
struct SimulatedCrash {
  PlatformOp op;
  int nth;
};

class MemoryPlatform final : public Platform {
 public:
  static constexpr std::int64_t kTicksPerSecond = 1'000'000'000;
  // 2020-01-01 00:00:00 UTC, the clock's initial value.
  static constexpr std::int64_t kDefaultNow = 1'577'836'800 * kTicksPerSecond;
  static constexpr std::uint64_t kVolume = 1;

  MemoryPlatform();
  ~MemoryPlatform() override;
  MemoryPlatform(const MemoryPlatform&) = delete;
  MemoryPlatform& operator=(const MemoryPlatform&) = delete;

  // --- configuration ---
  void SetNow(FileTime now) { clock_ = now.ticks; }
  FileTime Clock() const { return FileTime{clock_}; }
  void SetClockStep(std::int64_t ticks) { clock_step_ = ticks; }
  // 1 keeps full precision; kTicksPerSecond keeps whole seconds.
  void SetTimeGranularity(std::int64_t ticks) { granularity_ = ticks > 0 ? ticks : 1; }
  // Nothing: unlimited.
  void SetCapacity(std::optional<std::uint64_t> bytes) { capacity_ = bytes; }
  // The file bytes reachable from the root.
  std::uint64_t UsedBytes() const;
  // Without it SyncFileSystem fails with kNotSupported, as on a system
  // that has no such call.
  void SetFileSystemSyncSupported(bool supported) { syncfs_supported_ = supported; }
  void SetBackslashIsSeparator(bool on) { backslash_separates_ = on; }
  // Windows semantics for byte-range locks: while a handle holds a range,
  // a read, write or truncate that touches it through any other handle
  // (of this process too) fails with kBusy, as ERROR_LOCK_VIOLATION does.
  // Off by default, as on POSIX where the locks are advisory.
  void SetMandatoryLocks(bool on) { mandatory_locks_ = on; }
  // Link fails with kIoError for every source `refuse` is true for.
  using LinkRefusal = std::function<bool(std::string_view from)>;
  void SetLinkRefusal(LinkRefusal refuse) { link_refusal_ = std::move(refuse); }
  void SetExecutablePath(std::string path) { executable_path_ = std::move(path); }
  void SetEnvironment(const std::string& name, std::optional<std::string> value);
  // Runs instead of a command interpreter. Without one the interpreter
  // cannot be started (started == false).
  using Interpreter = std::function<ProcessResult(std::string_view tail)>;
  void SetCommandInterpreter(Interpreter interpreter) { interpreter_ = std::move(interpreter); }

  // --- helpers for tests: direct, uncounted, durable at once ---
  // Creates the file (and missing parent directories) with `bytes`.
  // Records a test failure when the path cannot hold a file.
  void WriteFileBytes(std::string_view path, std::string_view bytes);
  // The current bytes of a file; nothing when it does not exist.
  std::optional<std::string> ReadFileBytes(std::string_view path) const;
  bool Exists(std::string_view path) const;
  // Creates the directory and its missing parents; records a test failure
  // when a file is in the way.
  void MakeDirs(std::string_view path);
  // Every path under the root, directories with a trailing "/", sorted:
  // for messages of failed checks.
  std::vector<std::string> ListTree() const;

  // --- durability and crashes ---
  // Calls of `op` so far (short variants count as their operation).
  int Calls(PlatformOp op) const { return calls_[Index(op)]; }
  // Arms a crash after the `nth` call of `op` from now (1 = the next one).
  void CrashAfter(PlatformOp op, int nth);
  bool Halted() const { return halted_; }
  // What a crash keeps of the changes that were not made durable. A real
  // system writes some of them back on its own; kDeletions models the
  // worst case for data safety: every unsynced delete of a file or
  // directory reached the disk (a renamed file is not deleted), every
  // other unsynced change is lost.
  enum class CrashKeeps { kNothing, kDeletions };
  // Drops the changes that are not durable (but those `keeps` says),
  // invalidates every open handle, disarms and ends a halt: the state a
  // restart finds.
  void Crash(CrashKeeps keeps = CrashKeeps::kNothing);
  // Makes the whole current state durable (as SyncFileSystem, uncounted).
  void MakeAllDurable();

  // --- Platform ---
  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override;
  Status DeleteFile(std::string_view path) override;
  Status Rename(std::string_view from, std::string_view to) override;
  Status RenameNoReplace(std::string_view from, std::string_view to) override;
  Status Link(std::string_view from, std::string_view to) override;
  Result<FileStatus> Stat(std::string_view path) override;
  Status SetAttributes(std::string_view path, std::uint8_t attributes) override;
  Status RestoreNativeMode(std::string_view path, std::uint32_t native_mode) override;
  Status SetModifiedTime(std::string_view path, FileTime time) override;
  bool SameFile(std::string_view a, std::string_view b) override;
  Status ListDirectory(std::string_view directory, std::string_view pattern,
                       std::vector<DirEntry>* entries) override;
  Status MakeDirectory(std::string_view path) override;
  Status RemoveDirectory(std::string_view path) override;
  Status SyncDirectory(std::string_view path) override;
  Status SyncFileSystem(std::string_view path) override;
  std::string ExecutablePath() override;
  std::optional<std::string> GetEnvironment(std::string_view name) override;
  ProcessResult RunCommandInterpreter(std::string_view tail) override;
  void Sleep(int milliseconds) override;
  // Files and directories made later lose these mode bits, as under a
  // POSIX umask (0 at first).
  std::uint32_t SetCreationMask(std::uint32_t mask) override;
  LocalTime Now() override;
  std::uint32_t ProcessId() override { return process_id_; }
  void SetProcessId(std::uint32_t id) { process_id_ = id; }

 private:
  struct Node;
  class File;
  using NodePtr = std::shared_ptr<Node>;
  // A path split into names; `directory` when it ended in a separator.
  struct Parsed {
    std::vector<std::string> names;
    bool directory = false;
  };
  // Where a name lives: its directory and the name in it.
  struct Location {
    NodePtr parent;
    std::string name;
    NodePtr node;  // null when the name does not exist
  };

  // Visits every node reachable from `root` once, through the current or
  // the durable entries.
  template <class Fn>
  static void Walk(const NodePtr& root, bool durable, Fn fn);

  static std::size_t Index(PlatformOp op) { return static_cast<std::size_t>(CounterOf(op)); }

  // Counts a call, or fails it when halted. Then, after the call took
  // effect, Leave fires an armed crash.
  bool Enter(PlatformOp op);
  void Leave(PlatformOp op);
  template <class T, class Body>
  T Call(PlatformOp op, T on_halt, Body body);
  // Call for a body that returns true on success and fails through Fail:
  // the reason it left, as the call's Status.
  template <class Body>
  Status CallStatus(PlatformOp op, Body body);
  // The helpers below fail as `return Fail(...)` and leave the reason in
  // failure_, which the public call then returns; nothing reads it later.
  bool Fail(Status status);

  std::optional<Parsed> Parse(std::string_view path) const;
  NodePtr Resolve(const Parsed& parsed) const;
  // The node of a path; null (with the reason in failure_) when it is missing.
  NodePtr Find(std::string_view path);
  // The parent directory of a path and its last name; nothing (with the
  // reason in failure_) when the parent is missing or the path is the root.
  std::optional<Location> Locate(std::string_view path);
  bool Writable(const Node& directory, std::string_view path);
  bool DoRename(std::string_view from, std::string_view to, bool replace);

  std::int64_t Stamp();
  std::int64_t RoundDown(std::int64_t ticks) const;
  NodePtr NewNode(bool directory);
  FileStatus StatusOf(const Node& node, std::string_view name) const;
  // Bytes a write may add before the capacity is reached.
  std::uint64_t FreeBytes() const;
  Status HaltedStatus(std::string_view path) const;

  NodePtr root_;
  std::uint64_t next_index_ = 1;
  std::uint32_t creation_mask_ = 0;
  std::uint64_t next_handle_ = 1;
  std::uint64_t epoch_ = 0;  // incremented by every crash
  std::int64_t clock_ = kDefaultNow;
  std::uint32_t process_id_ = 1;
  std::int64_t clock_step_ = 1;
  std::int64_t granularity_ = 1;
  std::optional<std::uint64_t> capacity_;
  bool syncfs_supported_ = true;
  bool mandatory_locks_ = false;
  bool backslash_separates_ = false;
  std::string executable_path_ = "/bin/qlr";
  std::map<std::string, std::string> environment_;
  Interpreter interpreter_;
  LinkRefusal link_refusal_;

  std::array<int, kPlatformOpCount> calls_{};
  bool crash_armed_ = false;
  PlatformOp crash_op_ = PlatformOp::kSync;
  int crash_target_ = 0;
  int crash_nth_ = 0;
  bool halted_ = false;
  Status failure_;
};

}  // namespace qlr::testing
