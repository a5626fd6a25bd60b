// The read-only integrity check of a base: each format walks its own
// files and reports what a reader would trip over, one finding per
// problem. A check never writes, never creates and takes no writer's
// lock: it reads what is there, as any reader may.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qlr {

// One problem: the message it concerns (0 for the base as a whole) and
// what is wrong, in words that name the file and the field.
struct Finding {
  std::int64_t number = 0;
  std::string text;
};

struct CheckReport {
  // A base broken throughout (an index of garbage) would give a finding
  // per record; past this many the rest are left out and the last finding
  // says so, which keeps a hostile base from filling the memory.
  static constexpr std::size_t kMaxFindings = 1000;

  std::vector<Finding> findings;
  // The messages the base holds as a reader counts them (deleted ones
  // excluded).
  std::int64_t messages = 0;

  void Add(std::int64_t number, std::string text);
  bool sound() const { return findings.empty(); }
  // True once the findings reached kMaxFindings: a check may stop.
  bool full() const { return findings.size() > kMaxFindings; }
};

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

// Checks the base at `location` (see BaseLocation) of one format.
using BaseChecker = CheckReport (*)(std::string_view location);

}  // namespace qlr
