// The platform layer on Windows (Win32 ANSI calls, 8-bit paths).
//
// DOS attribute bits are the low bits of the Win32 attribute word, so they
// pass through unchanged; times are FILETIME ticks (100 ns since 1601).
// Files are opened shared for reading and writing: tossers and editors
// keep the same bases open meanwhile.
#include "platform/platform.h"

#include "platform/win32/win32_error.h"
#include "platform/win32/windows_api.h"
// <windows.h> maps these names to their ANSI/Unicode variants, which would
// rename the Platform members of the same names in this file only.
#undef DeleteFile
#undef RemoveDirectory

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qlr {
namespace {

// The attribute bits that both DOS and Win32 define at the same place.
constexpr DWORD kDosAttributeMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                    FILE_ATTRIBUTE_ARCHIVE;
// The bits SetFileAttributes accepts; the others (directory, compressed,
// reparse point...) describe the file and cannot be set this way.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// ReadFile and WriteFile move at most a DWORD at a time.
constexpr std::size_t kMaxTransfer = 1u << 30;

// A path as a C string. A path with an embedded NUL would silently name
// another file, so it is refused.
// The path as the ANSI calls take it, or nothing when they cannot: a NUL
// byte would end it early, and without a "\\?\" prefix (which these calls
// do not use) a path of MAX_PATH characters or more is refused by some
// calls and cut by others. RefusedPath says which.
std::optional<std::string> CPath(std::string_view path) {
  if (path.find('\0') != std::string_view::npos || path.size() >= MAX_PATH) return std::nullopt;
  return std::string(path);
}

// Owns a kernel handle; both INVALID_HANDLE_VALUE and null mean "none".
class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~UniqueHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

std::int64_t Ticks(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime);
}

FILETIME ToFileTime(std::int64_t ticks) {
  const auto value = static_cast<std::uint64_t>(ticks);
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

std::uint8_t DosAttributes(DWORD attributes) {
  return static_cast<std::uint8_t>(attributes & kDosAttributeMask);
}

// Opens a file or directory only to read or change its metadata.
HANDLE OpenForMetadata(const std::string& path, DWORD access) {
  return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Every call on a closed handle fails with this.
Status ClosedStatus(std::string_view path) { return Status::Invalid(path, "file already closed"); }

// Why CPath gave nothing.
Status RefusedPath(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) {
    return Status::Invalid(path, "path contains a NUL byte");
  }
  return Status::PathTooLong(path);
}

// Whether [offset, offset + n) lies within the offsets Windows accepts.
bool FitsOffset(std::uint64_t offset, std::uint64_t n) {
  const auto max = static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max());
  return offset <= max && n <= max - offset;
}

OVERLAPPED AtOffset(std::uint64_t offset) {
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

class Win32File final : public FileHandle {
 public:
  Win32File(HANDLE handle, std::string_view path, bool writable)
      : handle_(handle), path_(path), writable_(writable) {}
  // A close error cannot be reported from here; Close() reports it.
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  Status Read(void* buffer, std::size_t n, std::size_t* got) override {
    if (handle_ == INVALID_HANDLE_VALUE) {
      *got = 0;
      std::memset(buffer, 0, n);
      return ClosedStatus(path_);
    }
    return ReadChunks(nullptr, buffer, n, got);
  }

  Status Write(const void* buffer, std::size_t n, std::size_t* written) override {
    *written = 0;
    if (handle_ == INVALID_HANDLE_VALUE) return ClosedStatus(path_);
    return WriteChunks(nullptr, buffer, n, written);
  }

  // ReadFile and WriteFile with an OVERLAPPED offset move the file pointer
  // of a synchronous handle to the end of the transfer. The positional
  // calls must leave it where it was: it is read before and set back after.
  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    *got = 0;
    LARGE_INTEGER position;
    if (Status prepared = PreparePositional(offset, n, &position); !prepared) {
      std::memset(buffer, 0, n);
      return prepared;
    }
    OVERLAPPED at = AtOffset(offset);
    return RestorePosition(position, ReadChunks(&at, buffer, n, got));
  }

  Status WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* written) override {
    *written = 0;
    LARGE_INTEGER position;
    if (Status prepared = PreparePositional(offset, n, &position); !prepared) return prepared;
    OVERLAPPED at = AtOffset(offset);
    return RestorePosition(position, WriteChunks(&at, buffer, n, written));
  }

  Status Seek(std::uint64_t position) override {
    if (handle_ == INVALID_HANDLE_VALUE) return ClosedStatus(path_);
    if (!FitsOffset(position, 0)) {
      return Status::Invalid(path_, "seek beyond the largest offset");
    }
    LARGE_INTEGER target;
    target.QuadPart = static_cast<LONGLONG>(position);
    if (!::SetFilePointerEx(handle_, target, nullptr, FILE_BEGIN)) {
      return LastWin32ErrorStatus(path_);
    }
    return Status::Ok();
  }

  Status Size(std::uint64_t* size) override {
    if (handle_ == INVALID_HANDLE_VALUE) return ClosedStatus(path_);
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(handle_, &value)) return LastWin32ErrorStatus(path_);
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return Status::Ok();
  }

  Status Truncate(std::uint64_t size) override {
    if (handle_ == INVALID_HANDLE_VALUE) return ClosedStatus(path_);
    // SetEndOfFile cuts at the file pointer; the caller's position is kept,
    // as ftruncate keeps it.
    LARGE_INTEGER current;
    if (Status known = CurrentPosition(&current); !known) return known;
    if (Status sought = Seek(size); !sought) return sought;
    if (!::SetEndOfFile(handle_)) {
      const DWORD error = ::GetLastError();
      (void)::SetFilePointerEx(handle_, current, nullptr, FILE_BEGIN);
      return Win32ErrorStatus(error, path_);
    }
    if (!::SetFilePointerEx(handle_, current, nullptr, FILE_BEGIN)) {
      return LastWin32ErrorStatus(path_);
    }
    return Status::Ok();
  }

  Status Sync() override {
    if (handle_ == INVALID_HANDLE_VALUE) return ClosedStatus(path_);
    if (!::FlushFileBuffers(handle_)) return LastWin32ErrorStatus(path_);
    return Status::Ok();
  }

  // A read-write handle takes an exclusive lock, a read-only one a shared
  // lock, as on POSIX: a shared lock conflicts with every writer's
  // exclusive lock but not with another reader's shared one. Windows locks
  // are mandatory: while another handle holds an exclusive lock, reads and
  // writes of the range through this handle fail (kBusy).
  Status TryLock(std::uint64_t offset, std::uint64_t length) override {
    if (Status range = CheckLockRange(offset, length); !range) return range;
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
    if (writable_) flags |= LOCKFILE_EXCLUSIVE_LOCK;
    OVERLAPPED at = AtOffset(offset);
    if (!::LockFileEx(handle_, flags, 0, Low(length), High(length), &at)) {
      return LastWin32ErrorStatus(path_);
    }
    return Status::Ok();
  }

  Status Unlock(std::uint64_t offset, std::uint64_t length) override {
    if (Status range = CheckLockRange(offset, length); !range) return range;
    OVERLAPPED at = AtOffset(offset);
    if (!::UnlockFileEx(handle_, 0, Low(length), High(length), &at)) {
      return LastWin32ErrorStatus(path_);
    }
    return Status::Ok();
  }

  Status Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return ClosedStatus(path_);
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(handle)) return LastWin32ErrorStatus(path_);
    return Status::Ok();
  }

 private:
  static DWORD Low(std::uint64_t value) { return static_cast<DWORD>(value & 0xFFFFFFFFu); }
  static DWORD High(std::uint64_t value) { return static_cast<DWORD>(value >> 32); }

  Status CurrentPosition(LARGE_INTEGER* position) {
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!::SetFilePointerEx(handle_, zero, position, FILE_CURRENT)) {
      return LastWin32ErrorStatus(path_);
    }
    return Status::Ok();
  }

  Status CheckLockRange(std::uint64_t offset, std::uint64_t length) {
    if (handle_ == INVALID_HANDLE_VALUE) return ClosedStatus(path_);
    // A length of 0 locks nothing here but "to the end" on POSIX; neither
    // is what a caller means.
    if (length == 0 || !FitsOffset(offset, length)) {
      return Status::Invalid(path_, "lock range out of range");
    }
    return Status::Ok();
  }

  // Checks a positional request and notes the file pointer to restore.
  Status PreparePositional(std::uint64_t offset, std::size_t n, LARGE_INTEGER* position) {
    if (handle_ == INVALID_HANDLE_VALUE) return ClosedStatus(path_);
    if (!FitsOffset(offset, n)) return Status::Invalid(path_, "offset out of range");
    return CurrentPosition(position);
  }

  // Sets the file pointer back; `ok` is the transfer's result, whose
  // failure reason is kept when both fail.
  Status RestorePosition(const LARGE_INTEGER& position, Status ok) {
    if (::SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN)) return ok;
    if (ok) return LastWin32ErrorStatus(path_);
    return ok;
  }

  // Moves `at` (when positional) past `n` transferred bytes.
  static void Advance(OVERLAPPED* at, DWORD n) {
    if (at == nullptr) return;
    *at = AtOffset(((static_cast<std::uint64_t>(at->OffsetHigh) << 32) | at->Offset) + n);
  }

  // Reads until n bytes or the end, at the file pointer when `at` is null,
  // else from the OVERLAPPED offset; zero-fills what was not read.
  Status ReadChunks(OVERLAPPED* at, void* buffer, std::size_t n, std::size_t* got) {
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    Status ok;
    while (total < n) {
      const auto chunk = static_cast<DWORD>(std::min(n - total, kMaxTransfer));
      DWORD read = 0;
      if (!::ReadFile(handle_, out + total, chunk, &read, at)) {
        const DWORD error = ::GetLastError();
        // A positional read at the end fails so instead of reading 0 bytes.
        if (error != ERROR_HANDLE_EOF) ok = Win32ErrorStatus(error, path_);
        break;
      }
      if (read == 0) break;
      total += read;
      Advance(at, read);
    }
    std::memset(out + total, 0, n - total);
    *got = total;
    return ok;
  }

  Status WriteChunks(OVERLAPPED* at, const void* buffer, std::size_t n, std::size_t* written) {
    const auto* in = static_cast<const char*>(buffer);
    while (*written < n) {
      const auto chunk = static_cast<DWORD>(std::min(n - *written, kMaxTransfer));
      DWORD done = 0;
      if (!::WriteFile(handle_, in + *written, chunk, &done, at)) {
        return LastWin32ErrorStatus(path_);
      }
      // No progress without an error code: a disk that is full.
      if (done == 0) return Win32ErrorStatus(ERROR_DISK_FULL, path_);
      *written += done;
      Advance(at, done);
    }
    return Status::Ok();
  }

  HANDLE handle_;  // INVALID_HANDLE_VALUE once closed
  std::string path_;
  bool writable_;
};

class Win32Platform final : public Platform {
 public:
  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
    return Open(path, mode, FILE_ATTRIBUTE_NORMAL);
  }

  // The reparse point itself is opened, never what it points to, and
  // refused when it is one.
  Result<std::unique_ptr<FileHandle>> OpenFileNoFollow(std::string_view path,
                                                       OpenMode mode) override {
    auto file = Open(path, mode, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file) return file;
    const auto p = CPath(path);
    const DWORD attributes = ::GetFileAttributesA(p->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastWin32ErrorStatus(path);
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return Status::Invalid(path, "is a symbolic link");
    }
    return file;
  }

  Result<FileStatus> StatLink(std::string_view path) override {
    Result<FileStatus> status = Stat(path);
    // The attributes are those of the reparse point itself.
    if (status && (status->native_mode & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      status->is_link = true;
      status->is_regular = false;
    }
    return status;
  }

  Result<std::unique_ptr<FileHandle>> Open(std::string_view path, OpenMode mode, DWORD flags) {
    const auto p = CPath(path);
    if (!p) return RefusedPath(path);
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
      case OpenMode::kCreate:
        disposition = CREATE_ALWAYS;
        break;
      case OpenMode::kRead:
        access = GENERIC_READ;
        break;
      case OpenMode::kReadWrite:
        break;
      case OpenMode::kCreateNew:
        // Fails on any name that exists, a reparse point included.
        disposition = CREATE_NEW;
        break;
    }
    // Delete sharing too, as POSIX has it: another program may rename a
    // new version over a message or delete it while this one reads it.
    // Without it such a program, holding the file with delete access for
    // the instant of its rename, makes this open fail with a sharing
    // violation, and a rotation abort for a tosser's routine write.
    HANDLE handle =
        ::CreateFileA(p->c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
        return Status(StatusKind::kBusy, path, "exists");
      }
      return Win32ErrorStatus(error, path);
    }
    auto file = std::make_unique<Win32File>(handle, path, mode != OpenMode::kRead);
    // The tool reads and writes disk files only: a device name such as
    // NUL or COM1 opens, but is refused here.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
      return Status::Invalid(path, "not a disk file");
    }
    return file;
  }

  Status DeleteFile(std::string_view path) override {
    const auto p = CPath(path);
    if (!p) return RefusedPath(path);
    if (!::DeleteFileA(p->c_str())) return LastWin32ErrorStatus(path);
    return Status::Ok();
  }

  // MOVEFILE_REPLACE_EXISTING renames over the target in one step on the
  // same volume. No MOVEFILE_COPY_ALLOWED: across volumes it fails, as
  // rename(2) does, instead of copying non-atomically.
  Status Rename(std::string_view from, std::string_view to) override {
    return MoveEntry(from, to, MOVEFILE_REPLACE_EXISTING);
  }

  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target
  // exists; the check and the move are one step.
  Status RenameNoReplace(std::string_view from, std::string_view to) override {
    return MoveEntry(from, to, 0);
  }

  // The move of both renames. Either refusal that a caller may wait out
  // or work around is busy: a target that exists (no replace), or, when
  // replacing, one that some handle still holds open, which Windows
  // reports as access denied.
  Status MoveEntry(std::string_view from, std::string_view to, DWORD flags) {
    const auto f = CPath(from);
    const auto t = CPath(to);
    if (!f || !t) return RefusedPath(!f ? from : to);
    if (::MoveFileExA(f->c_str(), t->c_str(), flags)) return Status::Ok();
    const DWORD error = ::GetLastError();
    const bool replacing = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    if (replacing && error == ERROR_ACCESS_DENIED) {
      return Status(StatusKind::kBusy, to, "the file is open or may not be replaced");
    }
    if (!replacing && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) {
      return Status(StatusKind::kBusy, to, "target already exists");
    }
    return Win32ErrorStatus(error, from);
  }

  // NTFS only; FAT and most shares refuse (ERROR_INVALID_FUNCTION,
  // ERROR_NOT_SAME_DEVICE, ERROR_TOO_MANY_LINKS), and the caller copies.
  Status Link(std::string_view from, std::string_view to) override {
    const auto f = CPath(from);
    const auto t = CPath(to);
    if (!f || !t) return RefusedPath(!f ? from : to);
    if (!::CreateHardLinkA(t->c_str(), f->c_str(), nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        return Status(StatusKind::kBusy, to, "target already exists");
      }
      return Win32ErrorStatus(error, from);
    }
    return Status::Ok();
  }

  Result<FileStatus> Stat(std::string_view path) override {
    const auto p = CPath(path);
    if (!p) return RefusedPath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(p->c_str(), GetFileExInfoStandard, &data)) {
      return LastWin32ErrorStatus(path);
    }
    FileStatus status;
    status.attributes = DosAttributes(data.dwFileAttributes);
    status.is_regular =
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
    status.size = status.is_regular
                      ? (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
                      : 0;
    status.modified.ticks = Ticks(data.ftLastWriteTime);
    status.native_mode = data.dwFileAttributes;
    // The identity needs a handle. A file that cannot be opened even for
    // its metadata keeps 0 ("cannot tell"); the rest is still valid.
    UniqueHandle handle(OpenForMetadata(*p, 0));
    BY_HANDLE_FILE_INFORMATION info;
    if (handle.valid() && ::GetFileInformationByHandle(handle.get(), &info)) {
      status.volume = info.dwVolumeSerialNumber;
      status.file_index =
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
      status.link_count = info.nNumberOfLinks;
    }
    return status;
  }

  Status SetAttributes(std::string_view path, std::uint8_t attributes) override {
    const auto p = CPath(path);
    if (!p) return RefusedPath(path);
    DWORD value = attributes & kSettableAttributes;
    if (value == 0) value = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileAttributesA(p->c_str(), value)) return LastWin32ErrorStatus(path);
    return Status::Ok();
  }

  Status RestoreNativeMode(std::string_view path, std::uint32_t native_mode) override {
    const auto p = CPath(path);
    if (!p) return RefusedPath(path);
    DWORD value = native_mode & kSettableAttributes;
    if (value == 0) value = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileAttributesA(p->c_str(), value)) return LastWin32ErrorStatus(path);
    return Status::Ok();
  }

  Status SetModifiedTime(std::string_view path, FileTime time) override {
    const auto p = CPath(path);
    if (!p) return RefusedPath(path);
    // FILE_WRITE_ATTRIBUTES is granted on read-only files too.
    UniqueHandle handle(OpenForMetadata(*p, FILE_WRITE_ATTRIBUTES));
    if (!handle.valid()) return LastWin32ErrorStatus(path);
    const FILETIME modified = ToFileTime(time.ticks);
    if (!::SetFileTime(handle.get(), nullptr, nullptr, &modified)) {
      return LastWin32ErrorStatus(path);
    }
    return Status::Ok();
  }

  bool SameFile(std::string_view a, std::string_view b) override {
    // By identity (volume and file index): catches different spellings of
    // one name (case, short names, "." parts) and links alike.
    const auto pa = CPath(a);
    const auto pb = CPath(b);
    if (!pa || !pb) return false;
    UniqueHandle ha(OpenForMetadata(*pa, 0));
    if (!ha.valid()) return false;
    UniqueHandle hb(OpenForMetadata(*pb, 0));
    if (!hb.valid()) return false;
    BY_HANDLE_FILE_INFORMATION ia;
    BY_HANDLE_FILE_INFORMATION ib;
    if (!::GetFileInformationByHandle(ha.get(), &ia)) return false;
    if (!::GetFileInformationByHandle(hb.get(), &ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  }

  Status ListDirectory(std::string_view directory, std::string_view pattern,
                       std::vector<DirEntry>* entries) override {
    entries->clear();
    const auto p = CPath(directory);
    if (!p) return RefusedPath(directory);
    // Every entry is listed and matched here, so that "*.*" and "?" mean
    // what they mean everywhere else in the program, not the Win32 rules
    // (which also match the generated short names).
    std::string search = *p;
    if (!search.empty() && search.back() != '\\' && search.back() != '/' && search.back() != ':') {
      search += '\\';
    }
    search += '*';
    if (search.size() >= MAX_PATH) return Status::PathTooLong(directory);
    WIN32_FIND_DATAA data;
    FindHandle find(::FindFirstFileA(search.c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) {
      // An empty drive root has not even "." and "..".
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND) return Status::Ok();
      return Win32ErrorStatus(error, directory);
    }
    do {
      const std::string_view name(data.cFileName);
      if (name == "." || name == "..") continue;
      if (!MatchesPattern(name, pattern, /*ignore_case=*/true)) continue;
      entries->push_back(DirEntry{std::string(name), DosAttributes(data.dwFileAttributes),
                                  (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
    } while (::FindNextFileA(find.get(), &data));
    const DWORD error = ::GetLastError();
    if (error == ERROR_NO_MORE_FILES) return Status::Ok();
    return Win32ErrorStatus(error, directory);
  }

  Status MakeDirectory(std::string_view path) override {
    const auto p = CPath(path);
    if (!p) return RefusedPath(path);
    if (!::CreateDirectoryA(p->c_str(), nullptr)) return LastWin32ErrorStatus(path);
    return Status::Ok();
  }

  Status RemoveDirectory(std::string_view path) override {
    const auto p = CPath(path);
    if (!p) return RefusedPath(path);
    if (!::RemoveDirectoryA(p->c_str())) return LastWin32ErrorStatus(path);
    return Status::Ok();
  }

  // NTFS makes directory entries durable with the file system's own
  // journal; there is no handle-level call for it.
  Status SyncDirectory(std::string_view) override { return Status::Ok(); }

  // Flushing a whole volume (FlushFileBuffers on a volume handle) needs
  // administrator rights, and nothing cheaper exists: callers sync file by
  // file instead.
  Status SyncFileSystem(std::string_view path) override {
    return Status::NotSupported(path, "file-system sync");
  }

  std::string ExecutablePath() override {
    std::string path(MAX_PATH, '\0');
    for (;;) {
      const DWORD n = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (n == 0) return std::string();
      if (n < path.size()) {
        path.resize(n);
        return path;
      }
      path.resize(path.size() * 2);  // cut: try a larger buffer
    }
  }

  std::optional<std::string> GetEnvironment(std::string_view name) override {
    if (name.empty() || name.find('\0') != std::string_view::npos ||
        name.find('=') != std::string_view::npos) {
      return std::nullopt;
    }
    const std::string key(name);
    std::string value(256, '\0');
    for (;;) {
      ::SetLastError(ERROR_SUCCESS);
      const DWORD n =
          ::GetEnvironmentVariableA(key.c_str(), value.data(), static_cast<DWORD>(value.size()));
      if (n == 0) {
        // Zero is both "not set" and "set to the empty string".
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
      }
      if (n < value.size()) {
        value.resize(n);
        return value;
      }
      value.resize(n);  // n is the size needed, with its terminating NUL
    }
  }

  ProcessResult RunCommandInterpreter(std::string_view tail) override {
    ProcessResult result;
    const auto comspec = GetEnvironment("COMSPEC");
    if (!comspec || comspec->empty()) return result;
    if (tail.find('\0') != std::string_view::npos) return result;
    // The quoted interpreter, a blank, then the tail, which brings its own
    // leading blank: "C:\WINDOWS\system32\cmd.exe"  /C arc a ...
    std::string command_line = "\"" + *comspec + "\" " + std::string(tail);

    // The child's output must follow everything already written.
    std::fflush(stdout);
    std::fflush(stderr);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command_line.data(), nullptr, nullptr,
                          /*bInheritHandles=*/TRUE, 0, nullptr, nullptr, &startup, &process)) {
      LastWin32ErrorStatus(*comspec);
      return result;
    }
    UniqueHandle process_handle(process.hProcess);
    UniqueHandle thread_handle(process.hThread);
    result.started = true;
    if (::WaitForSingleObject(process_handle.get(), INFINITE) != WAIT_OBJECT_0) return result;
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_handle.get(), &code)) return result;
    result.exited_normally = true;
    result.exit_code = static_cast<int>(code);
    return result;
  }

  void Sleep(int milliseconds) override {
    if (milliseconds > 0) ::Sleep(static_cast<DWORD>(milliseconds));
  }

  std::uint32_t ProcessId() override { return ::GetCurrentProcessId(); }

  LocalTime Now() override {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    LocalTime result;
    result.year = now.wYear;
    result.month = now.wMonth;
    result.day = now.wDay;
    result.hour = now.wHour;
    result.minute = now.wMinute;
    result.second = now.wSecond;
    result.hundredths = now.wMilliseconds / 10;
    return result;
  }

 private:
};

}  // namespace

Platform& HostPlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace qlr
