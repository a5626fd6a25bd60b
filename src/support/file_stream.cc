// A stream over one file through a single buffer.
//
// The buffer holds a window of the file starting at `buffer_start`: the
// first `buffer_length` bytes are valid (read from the file or written by
// the user), and the bytes in [dirty_begin, dirty_end) still have to be
// written out. Reads, writes and scans inside the window touch no system
// call; anything else writes the dirty bytes out first and moves the
// window. Transfers at least as large as the buffer bypass it.
//
// Positions and sizes are signed 32-bit in the stream interface. The file
// position therefore never goes beyond 2^31-1: a read, scan or write that
// would end there fails (kInvalidArgument, never a wrapped position), and
// a file that is larger reports an error from Size instead of a wrapped
// value.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "platform/platform.h"
#include "support/stream.h"

namespace qlr {
namespace {

constexpr std::uint64_t kMaxPosition = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t kUnknownOsPosition = std::numeric_limits<std::uint64_t>::max();
// An unbuffered stream scans for delimiters through a chunk of this size.
constexpr std::size_t kUnbufferedScanChunk = 512;

OpenMode ToOpenMode(FileMode mode) {
  switch (mode) {
    case FileMode::kCreate:
      return OpenMode::kCreate;
    case FileMode::kOpenRead:
      return OpenMode::kRead;
    case FileMode::kOpenWrite:
      return OpenMode::kReadWrite;
    case FileMode::kCreateNew:
      return OpenMode::kCreateNew;
  }
  return OpenMode::kRead;
}

// The reason a failed platform call left, with the stream's path when the
// platform gave none, and a reason of our own when it gave no reason at
// all (a test double, an implementation that does not say).
qlr::Status Reason(const qlr::Status& reported, std::string_view path, std::string_view fallback) {
  if (reported.ok()) return qlr::Status(StatusKind::kIoError, path, fallback);
  if (reported.path().empty()) return qlr::Status(reported.kind(), path, reported.detail());
  return reported;
}

std::string At(std::string_view what, std::uint64_t position) {
  return std::string(what) + " at position " + std::to_string(position);
}

}  // namespace

struct BufferedFileStream::State {
  std::string path;
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
  // Why the last helper below failed.
  qlr::Status failure;

  bool InWindow(std::uint64_t at) const {
    return at >= buffer_start && at - buffer_start < buffer_length;
  }

  void DropWindow() {
    buffer_length = 0;
    dirty_begin = dirty_end = 0;
  }

  // The helpers below return a stream status: 0 or the code to latch, with
  // the reason in `failure`.
  std::int32_t FileFailed(const qlr::Status& why, std::int32_t code, std::string_view what) {
    failure = Reason(why, path, what);
    return code;
  }

  std::int32_t SeekOs(std::uint64_t at) {
    if (os_position == at) return kStreamOk;
    if (const qlr::Status sought = file->Seek(at); !sought) {
      os_position = kUnknownOsPosition;
      return FileFailed(sought, kStreamOsError, At("seek failed", at));
    }
    os_position = at;
    return kStreamOk;
  }

  // Reads until n bytes or the end of the file; *got receives the count.
  // The handle itself reads on until one or the other, so one call does.
  std::int32_t ReadOs(std::uint64_t at, char* out, std::size_t n, std::size_t* got) {
    *got = 0;
    if (const std::int32_t code = SeekOs(at); code != kStreamOk) return code;
    if (const qlr::Status read = file->Read(out, n, got); !read) {
      os_position = kUnknownOsPosition;
      *got = 0;
      return FileFailed(read, kStreamOsError, At("read failed", at));
    }
    os_position = at + *got;
    return kStreamOk;
  }

  // A write that stops short because the disk is full is kStreamWriteError;
  // any other failure of the system is kStreamOsError.
  std::int32_t WriteOs(std::uint64_t at, const char* in, std::size_t n) {
    if (const std::int32_t code = SeekOs(at); code != kStreamOk) return code;
    std::size_t written = 0;
    const qlr::Status ok = file->Write(in, n, &written);
    os_position = ok ? at + written : kUnknownOsPosition;
    const std::string what = "write of " + std::to_string(n) + " bytes stopped after " +
                             std::to_string(written) + " at position " + std::to_string(at);
    if (!ok) {
      const bool full = ok.kind() == StatusKind::kNoSpace;
      return FileFailed(ok, full ? kStreamWriteError : kStreamOsError, what);
    }
    if (written < n) {
      failure = qlr::Status(StatusKind::kNoSpace, path, what);
      return kStreamWriteError;
    }
    return kStreamOk;
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
  state_->path = file_name;
  // A buffer size of 0 gives an unbuffered stream: every transfer is at
  // least as large as the buffer and goes straight to the file.
  if (buffer_size > 0) {
    state_->buffer.reset(new (std::nothrow) char[buffer_size]);
    if (state_->buffer == nullptr) {
      Fail(kStreamInitError,
           qlr::Status(StatusKind::kIoError, file_name,
                       "no memory for a buffer of " + std::to_string(buffer_size) + " bytes"));
      return;
    }
    state_->capacity = buffer_size;
  }
  auto file = Os().OpenFile(file_name, ToOpenMode(mode));
  if (!file) {
    Fail(kStreamInitError, Reason(file.status(), file_name, "cannot open the file"));
  }
  state_->file = std::move(file);
}

BufferedFileStream::~BufferedFileStream() {
  // Data a Write accepted is written out even when an error latched later;
  // there is nobody left to tell about a failure here.
  if (state_->file != nullptr) static_cast<void>(state_->WriteBack());
}

void BufferedFileStream::FailFile(std::int32_t code) { Fail(code, state_->failure); }

void BufferedFileStream::FailNoFile() {
  Fail(kStreamOsError, qlr::Status::Invalid(state_->path, "the file is not open"));
}

void BufferedFileStream::Flush() {
  // Not inert while an error is latched: bytes already accepted by Write
  // are never dropped silently. The first error stays the one reported.
  if (state_->file == nullptr) return;
  const std::int32_t code = state_->WriteBack();
  if (code != kStreamOk && Ok()) FailFile(code);
}

std::int32_t BufferedFileStream::Position() {
  if (!Ok()) return -1;
  // Without a file (failed open, error cleared, closed) every operation
  // fails.
  if (state_->file == nullptr) {
    FailNoFile();
    return -1;
  }
  return static_cast<std::int32_t>(state_->position);
}

std::int32_t BufferedFileStream::Size() {
  if (!Ok()) return -1;
  if (state_->file == nullptr) {
    FailNoFile();
    return -1;
  }
  Flush();
  if (!Ok()) return -1;
  std::uint64_t size = 0;
  if (const qlr::Status known = state_->file->Size(&size); !known) {
    FailFile(state_->FileFailed(known, kStreamOsError, "size unknown"));
    return -1;
  }
  if (size > kMaxPosition) {
    Fail(kStreamOsError, qlr::Status::Invalid(state_->path, "file larger than 2 GiB (" +
                                                                std::to_string(size) + " bytes)"));
    return -1;
  }
  return static_cast<std::int32_t>(size);
}

void BufferedFileStream::Read(void* buffer, std::size_t n) {
  if (n == 0) return;
  auto* const destination = static_cast<char*>(buffer);
  // Every failure leaves the whole destination zero.
  const auto fail = [&](std::int32_t code, qlr::Status why) {
    std::memset(destination, 0, n);
    if (code != kStreamOk) Fail(code, std::move(why));
  };
  if (!Ok()) return fail(kStreamOk, {});
  State& s = *state_;
  if (s.file == nullptr) {
    std::memset(destination, 0, n);
    return FailNoFile();
  }
  // Nothing beyond the largest 32-bit position can be addressed.
  if (n > kMaxPosition - s.position) {
    return fail(kStreamReadError, BeyondLimit(s.path, "read", n, s.position));
  }
  const auto fail_file = [&](std::int32_t code) { fail(code, s.failure); };
  const auto short_read = [&](std::uint64_t available) {
    fail(kStreamReadError, ShortRead(s.path, n, s.position, available));
  };

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
    if (const std::int32_t code = s.WriteBack(); code != kStreamOk) return fail_file(code);
    std::size_t got = 0;
    if (left >= s.capacity) {
      if (const std::int32_t code = s.ReadOs(at, out, left, &got); code != kStreamOk) {
        return fail_file(code);
      }
      if (got < left) return short_read(at - s.position + got);
      at += got;
      break;
    }
    s.buffer_start = at;
    s.buffer_length = 0;
    if (const std::int32_t code = s.ReadOs(at, s.buffer.get(), s.capacity, &got);
        code != kStreamOk) {
      return fail_file(code);
    }
    if (got == 0) return short_read(at - s.position);
    s.buffer_length = got;
  }
  s.position = at;
}

ReadStop BufferedFileStream::ReadUntilAny(std::string_view delimiters, std::string* out,
                                          std::size_t max) {
  if (!Ok()) return ReadStop::kError;
  State& s = *state_;
  if (s.file == nullptr) {
    FailNoFile();
    return ReadStop::kError;
  }
  const std::size_t original = out != nullptr ? out->size() : 0;
  const auto fail = [&](std::int32_t code, qlr::Status why) {
    if (out != nullptr) out->resize(original);
    Fail(code, std::move(why));
    return ReadStop::kError;
  };
  char chunk[kUnbufferedScanChunk];

  // The position moves only when the scan ends without a failure.
  std::uint64_t at = s.position;
  std::size_t taken = 0;
  while (taken < max) {
    const char* data = nullptr;
    std::size_t length = 0;
    if (s.InWindow(at)) {
      const std::size_t offset = static_cast<std::size_t>(at - s.buffer_start);
      data = s.buffer.get() + offset;
      length = s.buffer_length - offset;
    } else {
      // The window moves here, in chunks of the whole buffer; pending
      // writes go out first so the file holds what we read back.
      if (const std::int32_t code = s.WriteBack(); code != kStreamOk) {
        return fail(code, s.failure);
      }
      const bool buffered = s.capacity > 0;
      char* const target = buffered ? s.buffer.get() : chunk;
      if (buffered) {
        s.buffer_start = at;
        s.buffer_length = 0;
      }
      std::size_t got = 0;
      if (const std::int32_t code =
              s.ReadOs(at, target, buffered ? s.capacity : sizeof chunk, &got);
          code != kStreamOk) {
        return fail(code, s.failure);
      }
      if (buffered) s.buffer_length = got;
      if (got == 0) {
        s.position = at;
        return ReadStop::kEnd;
      }
      data = target;
      length = got;
    }
    // There is data at `at`, but no position can address it.
    if (at >= kMaxPosition) return fail(kStreamReadError, BeyondLimit(s.path, "scan", 1, at));
    length = std::min({length, max - taken, static_cast<std::size_t>(kMaxPosition - at)});
    std::size_t n = FindAnyOf(data, length, delimiters);
    const bool found = n < length;
    if (found) ++n;
    if (out != nullptr) out->append(data, n);
    at += n;
    taken += n;
    if (found) {
      s.position = at;
      return ReadStop::kDelimiter;
    }
  }
  s.position = at;
  return ReadStop::kLimit;
}

void BufferedFileStream::Seek(std::int32_t position) {
  if (!Ok()) return;
  if (state_->file == nullptr) return FailNoFile();
  Flush();
  if (!Ok()) return;
  state_->position = position < 0 ? 0 : static_cast<std::uint64_t>(position);
}

void BufferedFileStream::Truncate() {
  if (!Ok()) return;
  State& s = *state_;
  if (s.file == nullptr) return FailNoFile();
  Flush();
  if (!Ok()) return;
  s.DropWindow();
  // Some systems move the file pointer when the end of the file moves.
  s.os_position = kUnknownOsPosition;
  if (const qlr::Status cut = s.file->Truncate(s.position); !cut) {
    FailFile(s.FileFailed(cut, kStreamOsError, At("truncate failed", s.position)));
  }
}

void BufferedFileStream::Write(const void* buffer, std::size_t n) {
  if (!Ok() || n == 0) return;
  State& s = *state_;
  if (s.file == nullptr) return FailNoFile();
  if (n > kMaxPosition - s.position) {
    return Fail(kStreamWriteError, BeyondLimit(s.path, "write", n, s.position));
  }
  const auto* in = static_cast<const char*>(buffer);

  if (n >= s.capacity) {
    // Large writes go straight to the file; the window is written out and
    // dropped so that it cannot hold stale bytes of the range written.
    if (const std::int32_t code = s.WriteBack(); code != kStreamOk) return FailFile(code);
    s.DropWindow();
    if (const std::int32_t code = s.WriteOs(s.position, in, n); code != kStreamOk) {
      return FailFile(code);
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
    if (const std::int32_t code = s.WriteBack(); code != kStreamOk) return FailFile(code);
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
    if (Ok()) FailNoFile();
    return true;
  }
  Flush();
  if (!Ok()) return true;
  if (const qlr::Status synced = state_->file->Sync(); !synced) {
    FailFile(state_->FileFailed(synced, kStreamOsError, "sync failed"));
    return true;
  }
  return false;
}

bool BufferedFileStream::Close() {
  State& s = *state_;
  if (s.file == nullptr) return !Ok();
  // Flush is not inert while an error is latched, so the data accepted
  // reaches the file whatever happened before.
  Flush();
  if (const qlr::Status closed = s.file->Close(); !closed && Ok()) {
    FailFile(s.FileFailed(closed, kStreamOsError, "close failed"));
  }
  s.file.reset();
  s.DropWindow();
  return !Ok();
}

}  // namespace qlr
