// The platform layer on POSIX systems (Linux, macOS).
//
// DOS attribute bits are derived from the permission bits and the name:
// read-only when the owner may not write, hidden for dot-files, archive for
// every regular file. Times are nanoseconds since 1970. The command
// interpreter is $COMSPEC (or /bin/sh), run as `interpreter -c TEXT`.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include "platform/platform.h"
#include "platform/posix/posix_error.h"

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

// Every call on a closed handle fails with this.
Status ClosedStatus(std::string_view path) { return Status::Invalid(path, "file already closed"); }

// Whether [offset, offset + n) fits into off_t.
bool FitsOffset(std::uint64_t offset, std::uint64_t n) {
  const auto max = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  return offset <= max && n <= max - offset;
}

// Byte-range locks belong to the open file description where the system
// has such locks: they conflict between two handles of this process, and
// closing another descriptor of the same file leaves them alone. Classic
// fcntl record locks belong to the process instead, so closing ANY
// descriptor of the file drops them; they are used only where the system
// lacks F_OFD_SETLK (macOS, the BSDs), and there two handles of this
// process do not conflict. Both kinds conflict with the classic locks
// other FTN programs take.
#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
#else
constexpr int kSetLock = F_SETLK;
#endif

class PosixFile final : public FileHandle {
 public:
  PosixFile(int fd, std::string_view path, bool writable)
      : fd_(fd), path_(path), writable_(writable) {}
  // A close error cannot be reported from here; Close() reports it.
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  bool Read(void* buffer, std::size_t n, std::size_t* got) override {
    // Keep reading until n bytes or the end: callers take got < n as the end.
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    bool ok = fd_ >= 0;
    if (!ok) Fail(ClosedStatus(path_));
    while (ok && total < n) {
      const ssize_t r = ::read(fd_, out + total, n - total);
      if (r < 0) {
        if (errno == EINTR) continue;
        ok = Fail(ErrnoStatus(errno, path_));
        break;
      }
      if (r == 0) break;
      total += static_cast<std::size_t>(r);
    }
    std::memset(out + total, 0, n - total);
    *got = total;
    return ok;
  }

  bool Write(const void* buffer, std::size_t n, std::size_t* written) override {
    *written = 0;
    if (fd_ < 0) return Fail(ClosedStatus(path_));
    const auto* in = static_cast<const char*>(buffer);
    while (*written < n) {
      const ssize_t w = ::write(fd_, in + *written, n - *written);
      if (w < 0) {
        if (errno == EINTR) continue;
        return Fail(ErrnoStatus(errno, path_));
      }
      // No progress without an error code: a device that is full.
      if (w == 0) return Fail(ErrnoStatus(ENOSPC, path_));
      *written += static_cast<std::size_t>(w);
    }
    return true;
  }

  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    bool ok = true;
    if (fd_ < 0) {
      ok = Fail(ClosedStatus(path_));
    } else if (!FitsOffset(offset, n)) {
      ok = Fail(Status::Invalid(path_, "read offset out of range"));
    }
    while (ok && total < n) {
      const ssize_t r = ::pread(fd_, out + total, n - total, static_cast<off_t>(offset + total));
      if (r < 0) {
        if (errno == EINTR) continue;
        ok = Fail(ErrnoStatus(errno, path_));
        break;
      }
      if (r == 0) break;
      total += static_cast<std::size_t>(r);
    }
    std::memset(out + total, 0, n - total);
    *got = total;
    return ok;
  }

  bool WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
               std::size_t* written) override {
    *written = 0;
    if (fd_ < 0) return Fail(ClosedStatus(path_));
    if (!FitsOffset(offset, n)) return Fail(Status::Invalid(path_, "write offset out of range"));
    const auto* in = static_cast<const char*>(buffer);
    while (*written < n) {
      const ssize_t w =
          ::pwrite(fd_, in + *written, n - *written, static_cast<off_t>(offset + *written));
      if (w < 0) {
        if (errno == EINTR) continue;
        return Fail(ErrnoStatus(errno, path_));
      }
      if (w == 0) return Fail(ErrnoStatus(ENOSPC, path_));
      *written += static_cast<std::size_t>(w);
    }
    return true;
  }

  bool Seek(std::uint64_t position) override {
    if (fd_ < 0) return Fail(ClosedStatus(path_));
    if (!FitsOffset(position, 0))
      return Fail(Status::Invalid(path_, "seek beyond the largest offset"));
    if (::lseek(fd_, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(-1)) {
      return Fail(ErrnoStatus(errno, path_));
    }
    return true;
  }

  bool Size(std::uint64_t* size) override {
    if (fd_ < 0) return Fail(ClosedStatus(path_));
    struct stat st;
    if (::fstat(fd_, &st) != 0) return Fail(ErrnoStatus(errno, path_));
    *size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  bool Truncate(std::uint64_t size) override {
    if (fd_ < 0) return Fail(ClosedStatus(path_));
    if (!FitsOffset(size, 0)) return Fail(Status::Invalid(path_, "size beyond the largest offset"));
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      if (errno != EINTR) return Fail(ErrnoStatus(errno, path_));
    }
    return true;
  }

  bool Sync() override {
    if (fd_ < 0) return Fail(ClosedStatus(path_));
    while (::fsync(fd_) != 0) {
      if (errno != EINTR) return Fail(ErrnoStatus(errno, path_));
    }
    return true;
  }

  // Linux copies in the kernel: the bytes never pass through this process,
  // and one call moves up to a gigabyte (on a file system with shared
  // extents, XFS with reflink or btrfs, it shares the blocks instead of
  // copying them). A kernel or file system without the call (ENOSYS,
  // EXDEV before 5.3, EINVAL, EOPNOTSUPP) or a descriptor it refuses
  // (EBADF: an append-only file) falls back to the copy through memory,
  // from where the kernel copy stopped. A source that stands for another
  // handle (the view of a locked file) is copied from the file of that
  // handle, at the view's position, which then moves past the copy.
  bool CopyFrom(FileHandle& source, std::uint64_t n, std::uint64_t* copied) override {
    *copied = 0;
#if defined(__linux__)
    std::uint64_t at = 0;
    FileHandle* const holder = source.HolderOfFile(&at);
    auto* const from = dynamic_cast<PosixFile*>(holder != nullptr ? holder : &source);
    if (from != nullptr && from->fd_ >= 0 && fd_ >= 0 && (holder == nullptr || FitsOffset(at, 0))) {
      constexpr std::uint64_t kStep = std::uint64_t{1} << 30;
      loff_t offset = static_cast<loff_t>(at);
      loff_t* const from_offset = holder != nullptr ? &offset : nullptr;
      // Done: the whole count, or the end of the source. Otherwise the
      // system cannot copy these files, or failed (then `error` says why).
      bool done = false;
      int error = 0;
      while (true) {
        if (*copied == n) {
          done = true;
          break;
        }
        const ssize_t r =
            ::copy_file_range(from->fd_, from_offset, fd_, nullptr,
                              static_cast<std::size_t>(std::min(kStep, n - *copied)), 0);
        if (r > 0) {
          *copied += static_cast<std::uint64_t>(r);
          continue;
        }
        if (r == 0) {
          done = true;  // the end of the source
          break;
        }
        if (errno == EINTR) continue;
        if (errno != ENOSYS && errno != EXDEV && errno != EINVAL && errno != EOPNOTSUPP &&
            errno != EBADF) {
          error = errno;
        }
        break;
      }
      if (holder != nullptr && !source.Seek(at + *copied)) return Fail(source.LastError());
      if (error != 0) return Fail(ErrnoStatus(error, path_));
      if (done) return true;
    }
#endif
    std::uint64_t rest = 0;
    const bool ok = FileHandle::CopyFrom(source, n - *copied, &rest);
    *copied += rest;
    return ok;
  }

  // A read-write handle takes an exclusive (write) lock. A read-only one
  // cannot: the system grants write locks only to descriptors open for
  // writing. It takes a shared (read) lock, which conflicts with every
  // writer's exclusive lock but not with another reader's shared one.
  bool TryLock(std::uint64_t offset, std::uint64_t length) override {
    return SetLock(static_cast<short>(writable_ ? F_WRLCK : F_RDLCK), offset, length);
  }

  bool Unlock(std::uint64_t offset, std::uint64_t length) override {
    return SetLock(static_cast<short>(F_UNLCK), offset, length);
  }

  bool Close() override {
    if (fd_ < 0) return Fail(ClosedStatus(path_));
    const int fd = fd_;
    fd_ = -1;
    // Never retried: after close() returns, even with EINTR, the
    // descriptor is gone (and may already belong to another file). An
    // interrupted close may have lost the last write-back, so it fails.
    if (::close(fd) != 0) return Fail(ErrnoStatus(errno, path_));
    return true;
  }

 private:
  bool SetLock(short type, std::uint64_t offset, std::uint64_t length) {
    if (fd_ < 0) return Fail(ClosedStatus(path_));
    // A length of 0 would mean "to the end of the file, however it grows"
    // here but nothing on Windows; neither is what a caller means.
    if (length == 0 || !FitsOffset(offset, length)) {
      return Fail(Status::Invalid(path_, "lock range out of range"));
    }
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = static_cast<off_t>(length);
    lock.l_pid = 0;  // must be 0 for open-file-description locks
    int command = kSetLock;
    while (::fcntl(fd_, command, &lock) != 0) {
      if (errno == EINTR) continue;
      // A kernel or file system without open-file-description locks
      // refuses the request with EINVAL; the classic record lock still
      // keeps the other programs out.
      if (errno == EINVAL && command != F_SETLK) {
        command = F_SETLK;
        continue;
      }
      return Fail(LockErrorStatus(errno, path_));
    }
    return true;
  }

  int fd_;  // -1 once closed
  std::string path_;
  bool writable_;
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

// Renames without replacing in one step where the system can: Linux's
// renameat2 (through the C library when it declares it, else the system
// call), macOS's renamex_np. ENOSYS where there is no such call.
int RenameExclusive(const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
#elif defined(__linux__) && defined(SYS_renameat2)
  constexpr unsigned kNoReplace = 1;  // RENAME_NOREPLACE of <linux/fs.h>
  return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kNoReplace));
#elif defined(__APPLE__) && defined(RENAME_EXCL)
  return ::renamex_np(from, to, RENAME_EXCL);
#else
  (void)from;
  (void)to;
  errno = ENOSYS;
  return -1;
#endif
}

// Runs fsync on a descriptor, retrying when a signal interrupts it.
int FsyncRetrying(int fd) {
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

class PosixPlatform final : public Platform {
 public:
  std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) override {
    return Open(path, mode, 0);
  }

  std::unique_ptr<FileHandle> OpenFileNoFollow(std::string_view path, OpenMode mode) override {
    return Open(path, mode, O_NOFOLLOW);
  }

  std::unique_ptr<FileHandle> Open(std::string_view path, OpenMode mode, int extra_flags) {
    const auto p = CPath(path);
    if (!p) return NullFile(NulInPath(path));
    int flags = O_CLOEXEC | O_NONBLOCK | extra_flags;
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
      case OpenMode::kCreateNew:
        // O_EXCL never follows a link at the last component.
        flags |= O_RDWR | O_CREAT | O_EXCL;
        break;
    }
    // O_NONBLOCK only so that opening a FIFO cannot hang; it is cleared
    // again below. The tool reads and writes regular files only: a
    // directory, FIFO or device is refused.
    int fd;
    do {
      fd = ::open(p->c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ELOOP && (extra_flags & O_NOFOLLOW) != 0) {
      return NullFile(Status::Invalid(path, "is a symbolic link"));
    }
    if (fd < 0 && errno == EEXIST) return NullFile(Status(StatusKind::kBusy, path, "exists"));
    if (fd < 0) return NullFile(ErrnoStatus(errno, path));
    auto file = std::make_unique<PosixFile>(fd, path, mode != OpenMode::kRead);
    struct stat st;
    if (::fstat(fd, &st) != 0) return NullFile(ErrnoStatus(errno, path));
    if (!S_ISREG(st.st_mode)) return NullFile(Status::Invalid(path, "not a regular file"));
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
      return NullFile(ErrnoStatus(errno, path));
    }
    return file;
  }

  bool DeleteFile(std::string_view path) override {
    const auto p = CPath(path);
    if (!p) return Fail(NulInPath(path));
    // lstat: a symlink to a directory is a link and may be removed.
    struct stat st;
#if defined(__linux__)
    // Linux never unlinks a directory (EISDIR), so the look comes after,
    // only to say why: one call a file, which a rotation makes per message.
    if (::unlink(p->c_str()) == 0) return true;
    const int error = errno;
    if (error == EISDIR && ::lstat(p->c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      return Fail(Status::Invalid(path, "is a directory"));
    }
    return Fail(ErrnoStatus(error, path));
#else
    if (::lstat(p->c_str(), &st) != 0) return Fail(ErrnoStatus(errno, path));
    if (S_ISDIR(st.st_mode)) return Fail(Status::Invalid(path, "is a directory"));
    if (::unlink(p->c_str()) != 0) return Fail(ErrnoStatus(errno, path));
    return true;
#endif
  }

  bool Rename(std::string_view from, std::string_view to) override {
    const auto f = CPath(from);
    const auto t = CPath(to);
    if (!f || !t) return Fail(NulInPath(!f ? from : to));
    if (::rename(f->c_str(), t->c_str()) != 0) return Fail(ErrnoStatus(errno, from));
    return true;
  }

  bool RenameNoReplace(std::string_view from, std::string_view to) override {
    const auto f = CPath(from);
    const auto t = CPath(to);
    if (!f || !t) return Fail(NulInPath(!f ? from : to));
    if (RenameExclusive(f->c_str(), t->c_str()) == 0) return true;
    // EINVAL: the call exists, but this file system does not take the flag.
    if (errno != EINVAL && errno != ENOSYS) return Fail(RenameError(errno, from, to));
    // A link never replaces an existing name; then the old name goes.
    if (::link(f->c_str(), t->c_str()) != 0) return Fail(RenameError(errno, from, to));
    if (::unlink(f->c_str()) != 0) {
      const int error = errno;
      // Back to the state before: `to` is our own new link.
      (void)::unlink(t->c_str());
      return Fail(ErrnoStatus(error, from));
    }
    return true;
  }

  bool Link(std::string_view from, std::string_view to) override {
    const auto f = CPath(from);
    const auto t = CPath(to);
    if (!f || !t) return Fail(NulInPath(!f ? from : to));
    // No AT_SYMLINK_FOLLOW: a symbolic link is linked itself, never what
    // it names.
    if (::linkat(AT_FDCWD, f->c_str(), AT_FDCWD, t->c_str(), 0) != 0) {
      return Fail(RenameError(errno, from, to));
    }
    return true;
  }

  std::optional<FileStatus> Stat(std::string_view path) override { return StatOf(path, true); }

  std::optional<FileStatus> StatOf(std::string_view path, bool follow) {
    const auto p = CPath(path);
    if (!p) {
      Fail(NulInPath(path));
      return std::nullopt;
    }
    struct stat st;
    if (follow ? !StatPath(*p, &st) : ::lstat(p->c_str(), &st) != 0) {
      Fail(ErrnoStatus(errno, path));
      return std::nullopt;
    }
    return StatusOf(st, path);
  }

  std::optional<FileStatus> StatLink(std::string_view path) override { return StatOf(path, false); }

  static FileStatus StatusOf(const struct stat& st, std::string_view path) {
    FileStatus status;
    status.is_link = S_ISLNK(st.st_mode);  // only lstat sees one
    status.link_count = static_cast<std::uint32_t>(st.st_nlink);
    status.attributes = AttributesOf(st, LastComponent(path));
    status.size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    status.modified.ticks = ModifiedNanos(st);
    status.native_mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    status.is_regular = S_ISREG(st.st_mode);
    status.volume = static_cast<std::uint64_t>(st.st_dev);
    status.file_index = static_cast<std::uint64_t>(st.st_ino);
    return status;
  }

  bool SetAttributes(std::string_view path, std::uint8_t attributes) override {
    const auto p = CPath(path);
    if (!p) return Fail(NulInPath(path));
    struct stat st;
    if (!StatPath(*p, &st)) return Fail(ErrnoStatus(errno, path));
    mode_t mode = st.st_mode & 07777;
    // Only read-only has a meaning here: hidden follows the name, archive
    // and directory the file type, system and volume label do not exist.
    if ((attributes & kAttrReadOnly) != 0) {
      mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
      mode |= S_IWUSR;
    }
    if (::chmod(p->c_str(), mode) != 0) return Fail(ErrnoStatus(errno, path));
    return true;
  }

  bool RestoreNativeMode(std::string_view path, std::uint32_t native_mode) override {
    const auto p = CPath(path);
    if (!p) return Fail(NulInPath(path));
    const mode_t mode = static_cast<mode_t>(native_mode & 07777);
    // Through a descriptor opened without following a link: chmod by name
    // would follow one put in place since the caller looked. A file that
    // cannot be opened for reading (no read permission) is looked at first
    // and changed by name.
    int fd;
    do {
      fd = ::open(p->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0 && errno == ELOOP) return Fail(Status::Invalid(path, "is a symbolic link"));
    if (fd >= 0) {
      const bool changed = ::fchmod(fd, mode) == 0;
      const int error = errno;
      ::close(fd);
      return changed || Fail(ErrnoStatus(error, path));
    }
    struct stat st;
    if (::lstat(p->c_str(), &st) != 0) return Fail(ErrnoStatus(errno, path));
    if (S_ISLNK(st.st_mode)) return Fail(Status::Invalid(path, "is a symbolic link"));
    if (::chmod(p->c_str(), mode) != 0) return Fail(ErrnoStatus(errno, path));
    return true;
  }

  bool SetModifiedTime(std::string_view path, FileTime time) override {
    const auto p = CPath(path);
    if (!p) return Fail(NulInPath(path));
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
    if (::utimensat(AT_FDCWD, p->c_str(), times, 0) != 0) return Fail(ErrnoStatus(errno, path));
    return true;
  }

  bool SameFile(std::string_view a, std::string_view b) override {
    const auto pa = CPath(a);
    const auto pb = CPath(b);
    if (!pa || !pb) return Fail(NulInPath(!pa ? a : b));
    struct stat sa, sb;
    if (!StatPath(*pa, &sa)) return Fail(ErrnoStatus(errno, a));
    if (!StatPath(*pb, &sb)) return Fail(ErrnoStatus(errno, b));
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }

  bool ListDirectory(std::string_view directory, std::string_view pattern,
                     std::vector<DirEntry>* entries) override {
    entries->clear();
    const std::string_view name_of_dir = directory.empty() ? std::string_view(".") : directory;
    const auto p = CPath(name_of_dir);
    if (!p) return Fail(NulInPath(directory));
    DIR* dir = ::opendir(p->c_str());
    if (dir == nullptr) return Fail(ErrnoStatus(errno, name_of_dir));
    const std::string prefix = p->back() == '/' ? *p : *p + '/';
    bool ok = true;
    for (;;) {
      errno = 0;
      const struct dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        if (errno != 0) ok = Fail(ErrnoStatus(errno, name_of_dir));
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
      const bool is_link = S_ISLNK(st.st_mode);
      if (is_link) {
        struct stat target;
        if (StatPath(full, &target) && !S_ISDIR(target.st_mode)) st = target;
      }
      entries->push_back(DirEntry{std::string(name), AttributesOf(st, name), is_link});
    }
    ::closedir(dir);
    return ok;
  }

  bool MakeDirectory(std::string_view path) override {
    const auto p = CPath(path);
    if (!p) return Fail(NulInPath(path));
    if (::mkdir(p->c_str(), 0777) != 0) return Fail(ErrnoStatus(errno, path));
    return true;
  }

  bool RemoveDirectory(std::string_view path) override {
    const auto p = CPath(path);
    if (!p) return Fail(NulInPath(path));
    if (::rmdir(p->c_str()) != 0) return Fail(ErrnoStatus(errno, path));
    return true;
  }

  bool SyncDirectory(std::string_view path) override {
    const std::string_view name = path.empty() ? std::string_view(".") : path;
    const auto p = CPath(name);
    if (!p) return Fail(NulInPath(path));
    const int fd = ::open(p->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail(ErrnoStatus(errno, name));
    const int rc = FsyncRetrying(fd);
    const int error = errno;
    ::close(fd);
    // Some file systems cannot sync a directory at all (EINVAL); their
    // entries are as durable as they will ever be.
    if (rc != 0 && error != EINVAL) return Fail(ErrnoStatus(error, name));
    return true;
  }

  bool SyncFileSystem(std::string_view path) override {
#if defined(__linux__)
    const std::string_view name = path.empty() ? std::string_view(".") : path;
    const auto p = CPath(name);
    if (!p) return Fail(NulInPath(path));
    // Any file or directory of the file system will do. O_NONBLOCK: a FIFO
    // must not hang the open.
    int fd;
    do {
      fd = ::open(p->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Fail(ErrnoStatus(errno, name));
    // Since Linux 5.8 syncfs reports write-back errors of the file system.
    const int rc = ::syncfs(fd);
    const int error = errno;
    ::close(fd);
    if (rc != 0) return Fail(ErrnoStatus(error, name));
    return true;
#else
    // No per-file-system sync (macOS has only the global sync(2), which
    // does not wait for the data): callers sync file by file.
    return Fail(Status::NotSupported(path, "file-system sync"));
#endif
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
      if (n < 0) {
        Fail(ErrnoStatus(errno, "/proc/self/exe"));
        return std::string();
      }
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
    if (!MakeCloseOnExecPipe(report)) {
      Fail(ErrnoStatus(errno, interpreter));
      return result;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
      Fail(ErrnoStatus(errno, interpreter));
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
    if (exec_failed) {
      Fail(ErrnoStatus(exec_error, interpreter));
      return result;
    }
    result.started = true;
    if (waited != pid) return result;  // the child's status is lost
    if (WIFEXITED(status)) {
      result.exited_normally = true;
      result.exit_code = WEXITSTATUS(status);
    }
    return result;
  }

  std::uint32_t SetCreationMask(std::uint32_t mask) override {
    return static_cast<std::uint32_t>(::umask(static_cast<mode_t>(mask & 0777)));
  }

  void Sleep(int milliseconds) override {
    if (milliseconds <= 0) return;
    struct timespec left;
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1'000'000;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }

  std::uint32_t ProcessId() override { return static_cast<std::uint32_t>(::getpid()); }

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

 private:
  // Records why an open failed, for `return NullFile(...)`.
  std::unique_ptr<FileHandle> NullFile(Status status) {
    Fail(std::move(status));
    return nullptr;
  }

  static Status NulInPath(std::string_view path) {
    return Status::Invalid(path, "path contains a NUL byte");
  }

  // EEXIST means the target is there: the caller must not replace it.
  static Status RenameError(int error, std::string_view from, std::string_view to) {
    if (error == EEXIST) return Status(StatusKind::kBusy, to, "target already exists");
    return ErrnoStatus(error, from);
  }
};

}  // namespace

Platform& HostPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace qlr
