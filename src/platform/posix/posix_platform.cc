// The platform layer on POSIX systems (Linux, macOS).
//
// DOS attribute bits are derived from the permission bits and the name:
// read-only when the owner may not write, hidden for dot-files, archive for
// every regular file. Times are nanoseconds since 1970. The command
// interpreter is $COMSPEC (or /bin/sh), run as `interpreter -c TEXT`.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include "platform/platform.h"

namespace qlr {
namespace {

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

// A path as a C string. A path with an embedded NUL would silently name
// another file, so it is refused.
std::optional<std::string> CPath(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::nullopt;
  return std::string(path);
}

// The last component of a path, ignoring trailing separators ("a/b/" -> "b").
std::string_view LastComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::uint8_t AttributesOf(const struct stat& st, std::string_view name) {
  std::uint8_t attributes = 0;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if (S_ISREG(st.st_mode)) attributes |= kAttrArchive;
  // "." and ".." are the directory itself and its parent, not dot-files.
  if (!name.empty() && name.front() == '.' && name != "." && name != "..") {
    attributes |= kAttrHidden;
  }
  return attributes;
}

std::int64_t ModifiedNanos(const struct stat& st) {
#ifdef __APPLE__
  const struct timespec& t = st.st_mtimespec;
#else
  const struct timespec& t = st.st_mtim;
#endif
  return static_cast<std::int64_t>(t.tv_sec) * kNanosPerSecond + t.tv_nsec;
}

bool StatPath(const std::string& path, struct stat* st) { return ::stat(path.c_str(), st) == 0; }

class PosixFile final : public FileHandle {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  bool Read(void* buffer, std::size_t n, std::size_t* got) override {
    // Keep reading until n bytes or the end: callers take got < n as the end.
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < n) {
      const ssize_t r = ::read(fd_, out + total, n - total);
      if (r < 0) {
        if (errno == EINTR) continue;
        *got = total;
        return false;
      }
      if (r == 0) break;
      total += static_cast<std::size_t>(r);
    }
    *got = total;
    return true;
  }

  bool Write(const void* buffer, std::size_t n, std::size_t* written) override {
    const auto* in = static_cast<const char*>(buffer);
    std::size_t total = 0;
    while (total < n) {
      const ssize_t w = ::write(fd_, in + total, n - total);
      if (w < 0) {
        if (errno == EINTR) continue;
        *written = total;
        return false;
      }
      if (w == 0) break;  // no progress (device full without an error code)
      total += static_cast<std::size_t>(w);
    }
    *written = total;
    return total == n;
  }

  bool Seek(std::uint64_t position) override {
    if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    return ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) != static_cast<off_t>(-1);
  }

  bool Size(std::uint64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  bool Truncate(std::uint64_t size) override {
    if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  bool Sync() override {
    while (::fsync(fd_) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

 private:
  int fd_;
};

// The blanks that separate words of a command tail.
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The tail without its leading blanks and its "/C" switch word (any case):
// " /C arc a x" -> "arc a x". A tail without the switch is kept as it is.
std::string ShellText(std::string_view tail) {
  std::size_t i = 0;
  while (i < tail.size() && IsBlank(tail[i])) ++i;
  tail.remove_prefix(i);
  const bool has_switch = tail.size() >= 2 && tail[0] == '/' &&
                          (tail[1] == 'C' || tail[1] == 'c') &&
                          (tail.size() == 2 || IsBlank(tail[2]));
  if (has_switch) {
    tail.remove_prefix(2);
    i = 0;
    while (i < tail.size() && IsBlank(tail[i])) ++i;
    tail.remove_prefix(i);
  }
  return std::string(tail);
}

// A pipe whose ends are closed on exec.
bool MakeCloseOnExecPipe(int fds[2]) {
#ifdef __APPLE__
  if (::pipe(fds) != 0) return false;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
#else
  return ::pipe2(fds, O_CLOEXEC) == 0;
#endif
}

// Reads exactly n bytes unless the writer closed first; retries on EINTR.
std::size_t ReadFully(int fd, void* buffer, std::size_t n) {
  auto* out = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < n) {
    const ssize_t r = ::read(fd, out + total, n - total);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    total += static_cast<std::size_t>(r);
  }
  return total;
}

class PosixPlatform final : public Platform {
 public:
  std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) override {
    const auto p = CPath(path);
    if (!p) return nullptr;
    int flags = O_CLOEXEC | O_NONBLOCK;
    switch (mode) {
      case OpenMode::kCreate:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
      case OpenMode::kRead:
        flags |= O_RDONLY;
        break;
      case OpenMode::kReadWrite:
        flags |= O_RDWR;
        break;
    }
    // O_NONBLOCK only so that opening a FIFO cannot hang; it is cleared
    // again below. The tool reads and writes regular files only: a
    // directory, FIFO or device is refused.
    int fd;
    do {
      fd = ::open(p->c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    auto file = std::make_unique<PosixFile>(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) return nullptr;
    return file;
  }

  bool DeleteFile(std::string_view path) override {
    const auto p = CPath(path);
    if (!p) return false;
    // lstat: a symlink to a directory is a link and may be removed.
    struct stat st;
    if (::lstat(p->c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(p->c_str()) == 0;
  }

  std::optional<FileStatus> Stat(std::string_view path) override {
    const auto p = CPath(path);
    struct stat st;
    if (!p || !StatPath(*p, &st)) return std::nullopt;
    FileStatus status;
    status.attributes = AttributesOf(st, LastComponent(path));
    status.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    status.modified.ticks = ModifiedNanos(st);
    status.native_mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    status.is_regular = S_ISREG(st.st_mode);
    return status;
  }

  bool SetAttributes(std::string_view path, std::uint8_t attributes) override {
    const auto p = CPath(path);
    struct stat st;
    if (!p || !StatPath(*p, &st)) return false;
    mode_t mode = st.st_mode & 07777;
    // Only read-only has a meaning here: hidden follows the name, archive
    // and directory the file type, system and volume label do not exist.
    if ((attributes & kAttrReadOnly) != 0) {
      mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
      mode |= S_IWUSR;
    }
    return ::chmod(p->c_str(), mode) == 0;
  }

  bool RestoreNativeMode(std::string_view path, std::uint32_t native_mode) override {
    const auto p = CPath(path);
    if (!p) return false;
    return ::chmod(p->c_str(), static_cast<mode_t>(native_mode & 07777)) == 0;
  }

  bool SetModifiedTime(std::string_view path, FileTime time) override {
    const auto p = CPath(path);
    if (!p) return false;
    // Floor division, so that times before 1970 keep 0 <= tv_nsec < 1e9.
    std::int64_t seconds = time.ticks / kNanosPerSecond;
    std::int64_t nanos = time.ticks % kNanosPerSecond;
    if (nanos < 0) {
      nanos += kNanosPerSecond;
      --seconds;
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // keep the access time
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(nanos);
    return ::utimensat(AT_FDCWD, p->c_str(), times, 0) == 0;
  }

  bool SameFile(std::string_view a, std::string_view b) override {
    const auto pa = CPath(a);
    const auto pb = CPath(b);
    struct stat sa, sb;
    if (!pa || !pb || !StatPath(*pa, &sa) || !StatPath(*pb, &sb)) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }

  bool ListDirectory(std::string_view directory, std::string_view pattern,
                     std::vector<DirEntry>* entries) override {
    entries->clear();
    const auto p = CPath(directory.empty() ? std::string_view(".") : directory);
    if (!p) return false;
    DIR* dir = ::opendir(p->c_str());
    if (dir == nullptr) return false;
    const std::string prefix = p->back() == '/' ? *p : *p + '/';
    bool ok = true;
    for (;;) {
      errno = 0;
      const struct dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        ok = errno == 0;
        break;
      }
      const std::string_view name(entry->d_name);
      if (name == "." || name == "..") continue;
      if (!MatchesPattern(name, pattern, /*ignore_case=*/false)) continue;
      struct stat st;
      const std::string full = prefix + std::string(name);
      // A symlink to a file is described by its target. A dangling one, or
      // one to a directory, is described by the link itself: a recursive
      // removal must delete the link, never walk into the directory it
      // points to. An entry that vanished meanwhile is left out.
      if (::lstat(full.c_str(), &st) != 0) continue;
      if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (StatPath(full, &target) && !S_ISDIR(target.st_mode)) st = target;
      }
      entries->push_back(DirEntry{std::string(name), AttributesOf(st, name)});
    }
    ::closedir(dir);
    return ok;
  }

  bool MakeDirectory(std::string_view path) override {
    const auto p = CPath(path);
    return p && ::mkdir(p->c_str(), 0777) == 0;
  }

  bool RemoveDirectory(std::string_view path) override {
    const auto p = CPath(path);
    return p && ::rmdir(p->c_str()) == 0;
  }

  bool SyncDirectory(std::string_view path) override {
    const auto p = CPath(path.empty() ? std::string_view(".") : path);
    if (!p) return false;
    const int fd = ::open(p->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int rc;
    do {
      rc = ::fsync(fd);
    } while (rc != 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    // Some file systems cannot sync a directory at all (EINVAL); their
    // entries are as durable as they will ever be.
    return rc == 0 || error == EINVAL;
  }

  std::string ExecutablePath() override {
#ifdef __APPLE__
    std::uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::string path(size, '\0');
    if (_NSGetExecutablePath(path.data(), &size) != 0) return std::string();
    path.resize(std::char_traits<char>::length(path.c_str()));
    return path;
#else
    std::string path(256, '\0');
    for (;;) {
      const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
      if (n < 0) return std::string();
      if (static_cast<std::size_t>(n) < path.size()) {
        path.resize(static_cast<std::size_t>(n));
        return path;
      }
      path.resize(path.size() * 2);  // possibly cut: try a larger buffer
    }
#endif
  }

  std::optional<std::string> GetEnvironment(std::string_view name) override {
    if (name.empty() || name.find('\0') != std::string_view::npos ||
        name.find('=') != std::string_view::npos) {
      return std::nullopt;
    }
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  ProcessResult RunCommandInterpreter(std::string_view tail) override {
    ProcessResult result;
    std::string interpreter = "/bin/sh";
    if (auto comspec = GetEnvironment("COMSPEC"); comspec && !comspec->empty()) {
      interpreter = *comspec;
    }
    std::string text = ShellText(tail);
    if (interpreter.find('\0') != std::string::npos || text.find('\0') != std::string::npos) {
      return result;
    }
    std::string dash_c = "-c";
    char* argv[] = {interpreter.data(), dash_c.data(), text.data(), nullptr};

    // The child's output must follow everything already written.
    std::fflush(stdout);
    std::fflush(stderr);

    // The child reports a failed exec through this pipe; a successful exec
    // closes it (close-on-exec), so the parent reads end-of-file.
    int report[2];
    if (!MakeCloseOnExecPipe(report)) return result;
    const pid_t pid = ::fork();
    if (pid < 0) {
      ::close(report[0]);
      ::close(report[1]);
      return result;
    }
    if (pid == 0) {
      ::close(report[0]);
      // execvp: a COMSPEC without a slash is searched in PATH, as the
      // Windows process start searches for a bare program name.
      ::execvp(argv[0], argv);
      const int error = errno;
      ssize_t ignored = ::write(report[1], &error, sizeof error);
      (void)ignored;
      ::_exit(127);
    }
    ::close(report[1]);
    int exec_error = 0;
    const bool exec_failed = ReadFully(report[0], &exec_error, sizeof exec_error) != 0;
    ::close(report[0]);

    int status = 0;
    pid_t waited;
    do {
      waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (exec_failed) return result;
    result.started = true;
    if (waited != pid) return result;  // the child's status is lost
    if (WIFEXITED(status)) {
      result.exited_normally = true;
      result.exit_code = WEXITSTATUS(status);
    }
    return result;
  }

  void Sleep(int milliseconds) override {
    if (milliseconds <= 0) return;
    struct timespec left;
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1'000'000;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  LocalTime Now() override {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    const time_t seconds = now.tv_sec;
    LocalTime result;
    if (::localtime_r(&seconds, &local) == nullptr) return result;
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    result.hour = local.tm_hour;
    result.minute = local.tm_min;
    result.second = local.tm_sec;
    result.hundredths = static_cast<int>(now.tv_nsec / 10'000'000);
    return result;
  }
};

}  // namespace

Platform& HostPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace qlr
