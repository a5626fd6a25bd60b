// The parts of Stream shared by every kind: the latched status with its
// reason, the scan for a delimiter through Read, and copying between
// streams.
#include "support/stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace qlr {
namespace {

// Copies move through one temporary buffer of at most this many bytes.
constexpr std::int32_t kCopyPiece = 16384;
// The scan through Read reads this much at a time and seeks back over
// what follows the delimiter.
constexpr std::size_t kScanPiece = 256;
// FindAnyOf looks for several delimiters in blocks of this size.
constexpr std::size_t kFindBlock = 64;

// What LastError says when SetError was called without a reason.
::qlr::Status GenericReason(std::int32_t code) {
  switch (code) {
    case kStreamOsError:
      return ::qlr::Status(StatusKind::kIoError, "", "operating-system error");
    case kStreamInitError:
      return ::qlr::Status(StatusKind::kIoError, "", "stream not initialised");
    case kStreamReadError:
      return ::qlr::Status(StatusKind::kIoError, "", "read error");
    case kStreamWriteError:
      return ::qlr::Status(StatusKind::kIoError, "", "write error");
    default:
      return ::qlr::Status(StatusKind::kIoError, "", "stream error " + std::to_string(code));
  }
}

}  // namespace

std::size_t FindAnyOf(const char* data, std::size_t n, std::string_view delimiters) {
  if (delimiters.empty()) return n;
  if (delimiters.size() == 1) {
    const void* hit = std::memchr(data, static_cast<unsigned char>(delimiters[0]), n);
    return hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : n;
  }
  // memchr per delimiter over a range that shrinks to the best hit so far.
  // Done block by block, so that a delimiter the data lacks (CR in a file
  // of LF lines) costs one block per call, not the rest of the buffer.
  for (std::size_t block = 0; block < n; block += kFindBlock) {
    std::size_t found = std::min(n - block, kFindBlock);
    const char* const start = data + block;
    bool hit_any = false;
    for (const char delimiter : delimiters) {
      const void* hit = std::memchr(start, static_cast<unsigned char>(delimiter), found);
      if (hit == nullptr) continue;
      found = static_cast<std::size_t>(static_cast<const char*>(hit) - start);
      hit_any = true;
    }
    if (hit_any) return block + found;
  }
  return n;
}

void Stream::SetError(std::int32_t code, std::int32_t detail) {
  status_ = code;
  error_detail_ = detail;
  last_error_ = code == kStreamOk ? ::qlr::Status() : GenericReason(code);
}

void Stream::ClearError() {
  status_ = kStreamOk;
  error_detail_ = 0;
  last_error_ = ::qlr::Status();
}

void Stream::Fail(std::int32_t code, ::qlr::Status why) {
  SetError(code, 0);
  last_error_ = std::move(why);
}

::qlr::Status Stream::ShortRead(std::string_view path, std::size_t wanted, std::uint64_t position,
                                std::uint64_t available) {
  return ::qlr::Status(StatusKind::kIoError, path,
                       "read error: " + std::to_string(wanted) + " bytes wanted at position " +
                           std::to_string(position) + ", " + std::to_string(available) +
                           " available");
}

::qlr::Status Stream::BeyondLimit(std::string_view path, std::string_view operation, std::size_t n,
                                  std::uint64_t position) {
  return ::qlr::Status::Invalid(path, "file larger than 2 GiB: " + std::string(operation) + " of " +
                                          std::to_string(n) + " bytes at position " +
                                          std::to_string(position) + " would end beyond 2^31-1");
}

ReadStop Stream::ReadUntilAny(std::string_view delimiters, std::string* out, std::size_t max) {
  if (!Ok()) return ReadStop::kError;
  const std::int32_t start = Position();
  const std::int32_t size = Size();
  if (!Ok()) return ReadStop::kError;
  const std::size_t original = out != nullptr ? out->size() : 0;
  const std::size_t available = size > start ? static_cast<std::size_t>(size - start) : 0;
  std::size_t taken = 0;
  char piece[kScanPiece];
  while (taken < max) {
    if (taken == available) return ReadStop::kEnd;
    const std::size_t count = std::min({kScanPiece, available - taken, max - taken});
    Read(piece, count);
    if (!Ok()) {
      // Undo the pieces read before: the reason latched stays, but the
      // position goes back to where the scan started.
      const std::int32_t code = Status();
      const std::int32_t detail = ErrorDetail();
      ::qlr::Status why = LastError();
      ClearError();
      Seek(start);
      SetError(code, detail);
      last_error_ = std::move(why);
      if (out != nullptr) out->resize(original);
      return ReadStop::kError;
    }
    std::size_t n = FindAnyOf(piece, count, delimiters);
    const bool found = n < count;
    if (found) ++n;
    if (out != nullptr) out->append(piece, n);
    taken += n;
    if (found) {
      // Give back what was read beyond the delimiter.
      Seek(start + static_cast<std::int32_t>(taken));
      if (Ok()) return ReadStop::kDelimiter;
      if (out != nullptr) out->resize(original);
      return ReadStop::kError;
    }
  }
  return ReadStop::kLimit;
}

void Stream::CopyFromStream(Stream& source, std::int32_t n) {
  if (n <= 0) return;
  const auto piece_size = static_cast<std::size_t>(std::min(n, kCopyPiece));
  const auto piece = std::make_unique<char[]>(piece_size);
  // Errors latch where they happen and make that side inert, so the copy
  // simply goes on: a failed source yields zero-filled pieces, a failed
  // destination ignores them.
  while (n > 0) {
    const auto count = static_cast<std::size_t>(std::min(n, kCopyPiece));
    source.Read(piece.get(), count);
    Write(piece.get(), count);
    n -= static_cast<std::int32_t>(count);
  }
}

::qlr::Status StreamFailure(const Stream& stream, std::string_view path, std::string_view what) {
  const ::qlr::Status& why = stream.LastError();
  if (why.ok()) return ::qlr::Status(StatusKind::kIoError, path, what);
  if (why.path().empty()) return ::qlr::Status(why.kind(), path, why.detail());
  return why;
}

}  // namespace qlr
