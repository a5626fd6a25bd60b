// A stream over memory held in fixed-size blocks.
//
// Blocks are allocated zero-filled and never moved, so growing the stream
// does not copy existing data. Every byte of an allocated block at or
// beyond `size_` is kept zero; a write past the end therefore leaves a gap
// that reads as zeros, like a file does.
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "support/stream.h"

namespace qlr {
namespace {

constexpr std::size_t kDefaultBlockSize = 8192;
constexpr std::size_t kMaxSize = std::numeric_limits<std::int32_t>::max();

qlr::Status OutOfMemory(std::size_t size) {
  return qlr::Status(StatusKind::kIoError, "",
                     "no memory for a stream of " + std::to_string(size) + " bytes");
}

}  // namespace

MemoryStream::MemoryStream(std::size_t limit, std::size_t block_size)
    : block_size_(block_size == 0 ? kDefaultBlockSize : block_size) {
  if (limit > kMaxSize) {
    Fail(kStreamInitError, qlr::Status::Invalid("", "memory stream larger than 2 GiB: " +
                                                        std::to_string(limit) + " bytes"));
    return;
  }
  const std::size_t wanted = (limit + block_size_ - 1) / block_size_;
  while (blocks_.size() < wanted) {
    std::unique_ptr<char[]> block(new (std::nothrow) char[block_size_]());
    if (block == nullptr) {
      Fail(kStreamInitError, OutOfMemory(limit));
      return;
    }
    blocks_.push_back(std::move(block));
  }
}

MemoryStream::~MemoryStream() = default;

std::int32_t MemoryStream::Position() {
  if (!Ok()) return -1;
  return static_cast<std::int32_t>(position_);
}

std::int32_t MemoryStream::Size() {
  if (!Ok()) return -1;
  return static_cast<std::int32_t>(size_);
}

void MemoryStream::Read(void* buffer, std::size_t n) {
  if (n == 0) return;
  auto* out = static_cast<char*>(buffer);
  if (!Ok()) {
    std::memset(out, 0, n);
    return;
  }
  // All or nothing: a read that cannot be satisfied completely leaves the
  // whole destination zero and the position where it was.
  if (position_ > size_ || n > size_ - position_) {
    std::memset(out, 0, n);
    Fail(kStreamReadError, ShortRead("", n, position_, position_ < size_ ? size_ - position_ : 0));
    return;
  }
  std::size_t at = position_;
  while (n > 0) {
    const std::size_t offset = at % block_size_;
    const std::size_t count = std::min(n, block_size_ - offset);
    std::memcpy(out, blocks_[at / block_size_].get() + offset, count);
    out += count;
    at += count;
    n -= count;
  }
  position_ = at;
}

ReadStop MemoryStream::ReadUntilAny(std::string_view delimiters, std::string* out,
                                    std::size_t max) {
  if (!Ok()) return ReadStop::kError;
  // Block by block: a block is the largest run of contiguous bytes.
  std::size_t at = position_;
  std::size_t taken = 0;
  while (taken < max) {
    if (at >= size_) {
      position_ = at;
      return ReadStop::kEnd;
    }
    const std::size_t offset = at % block_size_;
    const std::size_t length = std::min({block_size_ - offset, size_ - at, max - taken});
    const char* const data = blocks_[at / block_size_].get() + offset;
    std::size_t n = FindAnyOf(data, length, delimiters);
    const bool found = n < length;
    if (found) ++n;
    if (out != nullptr) out->append(data, n);
    at += n;
    taken += n;
    if (found) {
      position_ = at;
      return ReadStop::kDelimiter;
    }
  }
  position_ = at;
  return ReadStop::kLimit;
}

void MemoryStream::Seek(std::int32_t position) {
  if (!Ok()) return;
  position_ = position < 0 ? 0 : static_cast<std::size_t>(position);
}

void MemoryStream::Truncate() {
  if (!Ok()) return;
  if (position_ < size_) {
    // Keep the invariant that bytes beyond the size are zero.
    const std::size_t offset = position_ % block_size_;
    const std::size_t keep = (position_ + block_size_ - 1) / block_size_;
    if (offset != 0) {
      std::memset(blocks_[position_ / block_size_].get() + offset, 0, block_size_ - offset);
    }
    blocks_.resize(keep);
    size_ = position_;
    return;
  }
  // Truncating beyond the end extends the data with zeros. An empty write
  // at the position has exactly that effect.
  Write(nullptr, 0);
}

void MemoryStream::Write(const void* buffer, std::size_t n) {
  if (!Ok()) return;
  // Positions are signed 32-bit: refuse what would end beyond them.
  if (n > kMaxSize - position_) {
    Fail(kStreamWriteError, BeyondLimit("", "write", n, position_));
    return;
  }
  const std::size_t end = position_ + n;
  const std::size_t needed = (end + block_size_ - 1) / block_size_;
  while (blocks_.size() < needed) {
    std::unique_ptr<char[]> block(new (std::nothrow) char[block_size_]());
    if (block == nullptr) {
      // Out of memory: nothing is written; the blocks gained so far stay
      // (they are zero and beyond the size).
      Fail(kStreamWriteError, OutOfMemory(end));
      return;
    }
    blocks_.push_back(std::move(block));
  }
  const auto* in = static_cast<const char*>(buffer);
  std::size_t at = position_;
  std::size_t left = n;
  while (left > 0) {
    const std::size_t offset = at % block_size_;
    const std::size_t count = std::min(left, block_size_ - offset);
    std::memcpy(blocks_[at / block_size_].get() + offset, in, count);
    in += count;
    at += count;
    left -= count;
  }
  position_ = end;
  size_ = std::max(size_, end);
}

}  // namespace qlr
