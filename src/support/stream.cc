// The parts of Stream shared by every kind: the latched status and copying
// between streams.
#include "support/stream.h"

#include <algorithm>
#include <memory>

namespace qlr {
namespace {

// Copies move through one temporary buffer of at most this many bytes.
constexpr std::int32_t kCopyPiece = 16384;

}  // namespace

void Stream::SetError(std::int32_t code, std::int32_t detail) {
  status_ = code;
  error_detail_ = detail;
}

void Stream::ClearError() {
  status_ = kStreamOk;
  error_detail_ = 0;
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

}  // namespace qlr
