// The platform in use, and the helpers every implementation shares.
#include "platform/platform.h"

#include <cctype>

namespace qlr {
namespace {

Platform* g_current = nullptr;

bool SameChar(char a, char b, bool ignore_case) {
  if (!ignore_case) return a == b;
  return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}

bool Match(std::string_view name, std::string_view pattern, bool ignore_case) {
  // Iterative wildcard match with backtracking to the last "*".
  std::size_t n = 0, p = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || SameChar(pattern[p], name[n], ignore_case))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

Platform& Os() { return g_current != nullptr ? *g_current : HostPlatform(); }

ScopedPlatform::ScopedPlatform(Platform& replacement) : previous_(g_current) {
  g_current = &replacement;
}

ScopedPlatform::~ScopedPlatform() { g_current = previous_; }

bool MatchesPattern(std::string_view name, std::string_view pattern, bool ignore_case) {
  // As on DOS, "*.*" stands for every name, with or without a dot.
  if (pattern == "*.*") return true;
  return Match(name, pattern, ignore_case);
}

}  // namespace qlr
