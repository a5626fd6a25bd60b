// The file reader of the format checkers, kept out of base_check.h: it
// holds a platform file handle, and the platform layer is not installed.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "msgbase/base_check.h"
#include "platform/platform.h"

namespace qlr {

// A file of a base opened for reading only, with its size taken once:
// every offset and length read from the base is checked against that
// size before it is used.
class CheckedFile {
 public:
  // Opens `path` for reading; false (with a finding naming `label`, such
  // as ".jhr") when it is missing or cannot be opened.
  bool Open(std::string_view path, std::string_view label, CheckReport* report);
  std::uint64_t size() const { return size_; }
  // True when `length` bytes from `offset` lie inside the file.
  bool Holds(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  // Reads `out.size()` bytes at `offset`, which the caller has checked
  // with Holds; false (with a finding) when the read fails or comes up
  // short (the file shrank meanwhile).
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out);

 private:
  std::unique_ptr<FileHandle> handle_;
  std::string label_;
  CheckReport* report_ = nullptr;
  std::uint64_t size_ = 0;
};

}  // namespace qlr
