// The read-only integrity check of a base: each format walks its own
// files and reports what a reader would trip over, one finding per
// problem. A check never writes, never creates and takes no writer's
// lock: it reads what is there, as any reader may.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// Checks the base at `location` (see BaseLocation) of one format.
using BaseChecker = CheckReport (*)(std::string_view location);

}  // namespace qlr
