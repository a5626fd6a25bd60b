// The platform layer on Windows (Win32 ANSI calls, 8-bit paths).
//
// DOS attribute bits are the low bits of the Win32 attribute word, so they
// pass through unchanged; times are FILETIME ticks (100 ns since 1601).
// Files are opened shared for reading and writing, as the DOS tool did.
#include "platform/platform.h"

#include "platform/win32/windows_api.h"
// <windows.h> maps these names to their ANSI/Unicode variants, which would
// rename the Platform members of the same names in this file only.
#undef DeleteFile
#undef RemoveDirectory

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
std::optional<std::string> CPath(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
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

class Win32File final : public FileHandle {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}

  bool Read(void* buffer, std::size_t n, std::size_t* got) override {
    // Keep reading until n bytes or the end: callers take got < n as the end.
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < n) {
      const DWORD chunk = static_cast<DWORD>(std::min(n - total, kMaxTransfer));
      DWORD read = 0;
      if (!::ReadFile(handle_.get(), out + total, chunk, &read, nullptr)) {
        *got = total;
        return false;
      }
      if (read == 0) break;
      total += read;
    }
    *got = total;
    return true;
  }

  bool Write(const void* buffer, std::size_t n, std::size_t* written) override {
    const auto* in = static_cast<const char*>(buffer);
    std::size_t total = 0;
    while (total < n) {
      const DWORD chunk = static_cast<DWORD>(std::min(n - total, kMaxTransfer));
      DWORD done = 0;
      if (!::WriteFile(handle_.get(), in + total, chunk, &done, nullptr)) {
        *written = total;
        return false;
      }
      if (done == 0) break;  // no progress without an error code
      total += done;
    }
    *written = total;
    return total == n;
  }

  bool Seek(std::uint64_t position) override {
    if (position > static_cast<std::uint64_t>(std::numeric_limits<LONGLONG>::max())) {
      return false;
    }
    LARGE_INTEGER target;
    target.QuadPart = static_cast<LONGLONG>(position);
    return ::SetFilePointerEx(handle_.get(), target, nullptr, FILE_BEGIN) != 0;
  }

  bool Size(std::uint64_t* size) override {
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(handle_.get(), &value)) return false;
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
  }

  bool Truncate(std::uint64_t size) override {
    // SetEndOfFile cuts at the file pointer; the caller's position is kept,
    // as ftruncate keeps it.
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    LARGE_INTEGER current;
    if (!::SetFilePointerEx(handle_.get(), zero, &current, FILE_CURRENT)) return false;
    if (!Seek(size)) return false;
    const bool cut = ::SetEndOfFile(handle_.get()) != 0;
    const bool back = ::SetFilePointerEx(handle_.get(), current, nullptr, FILE_BEGIN) != 0;
    return cut && back;
  }

  bool Sync() override { return ::FlushFileBuffers(handle_.get()) != 0; }

 private:
  UniqueHandle handle_;
};

class Win32Platform final : public Platform {
 public:
  std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) override {
    const auto p = CPath(path);
    if (!p) return nullptr;
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
    }
    HANDLE handle = ::CreateFileA(p->c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto file = std::make_unique<Win32File>(handle);
    // The tool reads and writes disk files only: a device name such as
    // NUL or COM1 opens, but is refused here.
    if (::GetFileType(handle) != FILE_TYPE_DISK) return nullptr;
    return file;
  }

  bool DeleteFile(std::string_view path) override {
    const auto p = CPath(path);
    return p && ::DeleteFileA(p->c_str()) != 0;
  }

  std::optional<FileStatus> Stat(std::string_view path) override {
    const auto p = CPath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!p || !::GetFileAttributesExA(p->c_str(), GetFileExInfoStandard, &data)) {
      return std::nullopt;
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
    return status;
  }

  bool SetAttributes(std::string_view path, std::uint8_t attributes) override {
    const auto p = CPath(path);
    if (!p) return false;
    DWORD value = attributes & kSettableAttributes;
    if (value == 0) value = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileAttributesA(p->c_str(), value) != 0;
  }

  bool RestoreNativeMode(std::string_view path, std::uint32_t native_mode) override {
    const auto p = CPath(path);
    if (!p) return false;
    DWORD value = native_mode & kSettableAttributes;
    if (value == 0) value = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileAttributesA(p->c_str(), value) != 0;
  }

  bool SetModifiedTime(std::string_view path, FileTime time) override {
    const auto p = CPath(path);
    if (!p) return false;
    // FILE_WRITE_ATTRIBUTES is granted on read-only files too.
    UniqueHandle handle(OpenForMetadata(*p, FILE_WRITE_ATTRIBUTES));
    if (!handle.valid()) return false;
    const FILETIME modified = ToFileTime(time.ticks);
    return ::SetFileTime(handle.get(), nullptr, nullptr, &modified) != 0;
  }

  bool SameFile(std::string_view a, std::string_view b) override {
    // By identity (volume and file index): catches different spellings of
    // one name (case, short names, "." parts) and links alike.
    const auto pa = CPath(a);
    const auto pb = CPath(b);
    if (!pa || !pb) return false;
    UniqueHandle ha(OpenForMetadata(*pa, 0));
    UniqueHandle hb(OpenForMetadata(*pb, 0));
    if (!ha.valid() || !hb.valid()) return false;
    BY_HANDLE_FILE_INFORMATION ia;
    BY_HANDLE_FILE_INFORMATION ib;
    if (!::GetFileInformationByHandle(ha.get(), &ia) ||
        !::GetFileInformationByHandle(hb.get(), &ib)) {
      return false;
    }
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  }

  bool ListDirectory(std::string_view directory, std::string_view pattern,
                     std::vector<DirEntry>* entries) override {
    entries->clear();
    const auto p = CPath(directory);
    if (!p) return false;
    // Every entry is listed and matched here, so that "*.*" and "?" mean
    // what they mean everywhere else in the program, not the Win32 rules
    // (which also match the generated short names).
    std::string search = *p;
    if (!search.empty() && search.back() != '\\' && search.back() != '/' && search.back() != ':') {
      search += '\\';
    }
    search += '*';
    WIN32_FIND_DATAA data;
    FindHandle find(::FindFirstFileA(search.c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) {
      // An empty drive root has not even "." and "..".
      return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
      const std::string_view name(data.cFileName);
      if (name == "." || name == "..") continue;
      if (!MatchesPattern(name, pattern, /*ignore_case=*/true)) continue;
      entries->push_back(DirEntry{std::string(name), DosAttributes(data.dwFileAttributes)});
    } while (::FindNextFileA(find.get(), &data));
    return ::GetLastError() == ERROR_NO_MORE_FILES;
  }

  bool MakeDirectory(std::string_view path) override {
    const auto p = CPath(path);
    return p && ::CreateDirectoryA(p->c_str(), nullptr) != 0;
  }

  bool RemoveDirectory(std::string_view path) override {
    const auto p = CPath(path);
    return p && ::RemoveDirectoryA(p->c_str()) != 0;
  }

  // NTFS makes directory entries durable with the file system's own
  // journal; there is no handle-level call for it.
  bool SyncDirectory(std::string_view) override { return true; }

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
};

}  // namespace

Platform& HostPlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace qlr
