// A stream over one file through a single buffer.
//
// The buffer holds a window of the file starting at `buffer_start`: the
// first `buffer_length` bytes are valid (read from the file or written by
// the user), and the bytes in [dirty_begin, dirty_end) still have to be
// written out. Reads and writes inside the window touch no system call;
// anything else writes the dirty bytes out first and moves the window.
// Transfers at least as large as the buffer bypass it.
//
// Positions and sizes are signed 32-bit in the stream interface. The file
// position therefore never goes beyond 2^31-1: a read or write that would
// end there fails (read past the end, short write), and a file that is
// larger reports an operating-system error from Size instead of a wrapped
// value.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "support/stream.h"

namespace qlr {
namespace {

constexpr std::uint64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t kUnknownOsPosition = std::numeric_limits<std::uint64_t>::max();

OpenMode ToOpenMode(FileMode mode) {
  switch (mode) {
    case FileMode::kCreate:
      return OpenMode::kCreate;
    case FileMode::kOpenRead:
      return OpenMode::kRead;
    case FileMode::kOpenWrite:
      return OpenMode::kReadWrite;
  }
  return OpenMode::kRead;
}

}  // namespace

struct BufferedFileStream::State {
  std::unique_ptr<FileHandle> file;
  std::unique_ptr<char[]> buffer;
  std::size_t capacity = 0;
  std::uint64_t buffer_start = 0;
  std::size_t buffer_length = 0;
  std::size_t dirty_begin = 0;
  std::size_t dirty_end = 0;
  std::uint64_t position = 0;
  // Where the operating system's file pointer is, to spare redundant seeks.
  std::uint64_t os_position = kUnknownOsPosition;

  bool InWindow(std::uint64_t at) const {
    return at >= buffer_start && at - buffer_start < buffer_length;
  }

  void DropWindow() {
    buffer_length = 0;
    dirty_begin = dirty_end = 0;
  }

  // The helpers below return a stream status: 0 or the code to latch.
  std::int32_t SeekOs(std::uint64_t at) {
    if (os_position == at) return kStreamOk;
    if (!file->Seek(at)) {
      os_position = kUnknownOsPosition;
      return kStreamOsError;
    }
    os_position = at;
    return kStreamOk;
  }

  // Reads until n bytes or the end of the file; *got receives the count.
  std::int32_t ReadOs(std::uint64_t at, char* out, std::size_t n, std::size_t* got) {
    *got = 0;
    if (const std::int32_t code = SeekOs(at); code != kStreamOk) return code;
    while (*got < n) {
      std::size_t count = 0;
      if (!file->Read(out + *got, n - *got, &count)) {
        os_position = kUnknownOsPosition;
        return kStreamOsError;
      }
      if (count == 0) break;
      *got += count;
    }
    os_position = at + *got;
    return kStreamOk;
  }

  std::int32_t WriteOs(std::uint64_t at, const char* in, std::size_t n) {
    if (const std::int32_t code = SeekOs(at); code != kStreamOk) return code;
    std::size_t written = 0;
    if (!file->Write(in, n, &written)) {
      os_position = kUnknownOsPosition;
      // A disk that filled up midway is a short write, not a failure of
      // the system.
      return file->LastError().kind() == StatusKind::kNoSpace ? kStreamWriteError : kStreamOsError;
    }
    os_position = at + written;
    return written < n ? kStreamWriteError : kStreamOk;
  }

  // Writes the dirty bytes out; the window stays as a clean cache. After a
  // failure the window is dropped: what reached the file is unknown.
  std::int32_t WriteBack() {
    if (dirty_begin == dirty_end) return kStreamOk;
    const std::int32_t code =
        WriteOs(buffer_start + dirty_begin, buffer.get() + dirty_begin, dirty_end - dirty_begin);
    dirty_begin = dirty_end = 0;
    if (code != kStreamOk) DropWindow();
    return code;
  }
};

BufferedFileStream::BufferedFileStream(std::string_view file_name, FileMode mode,
                                       std::size_t buffer_size)
    : state_(std::make_unique<State>()) {
  // A buffer size of 0 gives an unbuffered stream: every transfer is at
  // least as large as the buffer and goes straight to the file.
  if (buffer_size > 0) {
    state_->buffer.reset(new (std::nothrow) char[buffer_size]);
    if (state_->buffer == nullptr) {
      SetError(kStreamInitError, 0);
      return;
    }
    state_->capacity = buffer_size;
  }
  state_->file = Os().OpenFile(file_name, ToOpenMode(mode));
  if (state_->file == nullptr) SetError(kStreamInitError, 0);
}

BufferedFileStream::~BufferedFileStream() {
  // Data a Write accepted is written out even when an error latched later;
  // there is nobody left to tell about a failure here.
  if (state_->file != nullptr) static_cast<void>(state_->WriteBack());
}

void BufferedFileStream::Flush() {
  // Not inert while an error is latched: bytes already accepted by Write
  // are never dropped silently. The first error stays the one reported.
  if (state_->file == nullptr) return;
  const std::int32_t code = state_->WriteBack();
  if (code != kStreamOk && Ok()) SetError(code, 0);
}

std::int32_t BufferedFileStream::Position() {
  if (!Ok()) return -1;
  // Without a file (failed open, error cleared) every operation fails.
  if (state_->file == nullptr) {
    SetError(kStreamOsError, 0);
    return -1;
  }
  return static_cast<std::int32_t>(state_->position);
}

std::int32_t BufferedFileStream::Size() {
  if (!Ok()) return -1;
  if (state_->file == nullptr) {
    SetError(kStreamOsError, 0);
    return -1;
  }
  Flush();
  if (!Ok()) return -1;
  std::uint64_t size = 0;
  if (!state_->file->Size(&size) || size > kMaxPosition) {
    SetError(kStreamOsError, 0);
    return -1;
  }
  return static_cast<std::int32_t>(size);
}

void BufferedFileStream::Read(void* buffer, std::size_t n) {
  if (n == 0) return;
  auto* const destination = static_cast<char*>(buffer);
  const auto fail = [&](std::int32_t code) {
    std::memset(destination, 0, n);
    if (code != kStreamOk) SetError(code, 0);
  };
  if (!Ok()) return fail(kStreamOk);
  State& s = *state_;
  if (s.file == nullptr) return fail(kStreamOsError);
  // Nothing beyond the largest 32-bit position can be addressed.
  if (n > kMaxPosition - s.position) return fail(kStreamReadError);

  // The position moves only when the whole read succeeds.
  std::uint64_t at = s.position;
  char* out = destination;
  std::size_t left = n;
  while (left > 0) {
    if (s.InWindow(at)) {
      const std::size_t offset = static_cast<std::size_t>(at - s.buffer_start);
      const std::size_t count = std::min(left, s.buffer_length - offset);
      std::memcpy(out, s.buffer.get() + offset, count);
      out += count;
      at += count;
      left -= count;
      continue;
    }
    // Pending writes go out first so the file holds what we read back.
    if (const std::int32_t code = s.WriteBack(); code != kStreamOk) return fail(code);
    std::size_t got = 0;
    if (left >= s.capacity) {
      if (const std::int32_t code = s.ReadOs(at, out, left, &got); code != kStreamOk) {
        return fail(code);
      }
      if (got < left) return fail(kStreamReadError);
      at += got;
      break;
    }
    s.buffer_start = at;
    s.buffer_length = 0;
    if (const std::int32_t code = s.ReadOs(at, s.buffer.get(), s.capacity, &got);
        code != kStreamOk) {
      return fail(code);
    }
    if (got == 0) return fail(kStreamReadError);
    s.buffer_length = got;
  }
  s.position = at;
}

void BufferedFileStream::Seek(std::int32_t position) {
  if (!Ok()) return;
  if (state_->file == nullptr) return SetError(kStreamOsError, 0);
  Flush();
  if (!Ok()) return;
  state_->position = position < 0 ? 0 : static_cast<std::uint64_t>(position);
}

void BufferedFileStream::Truncate() {
  if (!Ok()) return;
  State& s = *state_;
  if (s.file == nullptr) return SetError(kStreamOsError, 0);
  Flush();
  if (!Ok()) return;
  s.DropWindow();
  // Some systems move the file pointer when the end of the file moves.
  s.os_position = kUnknownOsPosition;
  if (!s.file->Truncate(s.position)) SetError(kStreamOsError, 0);
}

void BufferedFileStream::Write(const void* buffer, std::size_t n) {
  if (!Ok() || n == 0) return;
  State& s = *state_;
  if (s.file == nullptr) return SetError(kStreamOsError, 0);
  if (n > kMaxPosition - s.position) return SetError(kStreamWriteError, 0);
  const auto* in = static_cast<const char*>(buffer);

  if (n >= s.capacity) {
    // Large writes go straight to the file; the window is written out and
    // dropped so that it cannot hold stale bytes of the range written.
    if (const std::int32_t code = s.WriteBack(); code != kStreamOk) return SetError(code, 0);
    s.DropWindow();
    if (const std::int32_t code = s.WriteOs(s.position, in, n); code != kStreamOk) {
      return SetError(code, 0);
    }
    s.position += n;
    return;
  }

  // The window can take the bytes when they start inside its valid data
  // (or right after it) and fit into the buffer; otherwise it moves here.
  const bool fits = s.position >= s.buffer_start &&
                    s.position - s.buffer_start <= s.buffer_length &&
                    s.position - s.buffer_start + n <= s.capacity;
  if (!fits) {
    if (const std::int32_t code = s.WriteBack(); code != kStreamOk) return SetError(code, 0);
    s.buffer_start = s.position;
    s.buffer_length = 0;
  }
  const std::size_t offset = static_cast<std::size_t>(s.position - s.buffer_start);
  std::memcpy(s.buffer.get() + offset, in, n);
  s.buffer_length = std::max(s.buffer_length, offset + n);
  if (s.dirty_begin == s.dirty_end) {
    s.dirty_begin = offset;
    s.dirty_end = offset + n;
  } else {
    // Clean bytes between two dirty ranges hold what the file holds, so
    // writing them out again with the rest is harmless.
    s.dirty_begin = std::min(s.dirty_begin, offset);
    s.dirty_end = std::max(s.dirty_end, offset + n);
  }
  s.position += n;
}

bool BufferedFileStream::SyncToDisk() {
  if (state_->file == nullptr) {
    if (Ok()) SetError(kStreamOsError, 0);
    return true;
  }
  Flush();
  if (!Ok()) return true;
  if (!state_->file->Sync()) {
    SetError(kStreamOsError, 0);
    return true;
  }
  return false;
}

}  // namespace qlr
