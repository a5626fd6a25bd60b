// The platform in use, and the helpers every implementation shares.
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

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

bool FileHandle::Fail(Status status) {
  last_error_ = std::move(status);
  return false;
}

bool Platform::Fail(Status status) {
  last_error_ = std::move(status);
  return false;
}

// Defaults for implementations that lack a call: each fails and says so.
bool FileHandle::ReadAt(std::uint64_t, void* buffer, std::size_t n, std::size_t* got) {
  std::memset(buffer, 0, n);
  *got = 0;
  return Fail(Status::NotSupported("", "positional read"));
}

bool FileHandle::WriteAt(std::uint64_t, const void*, std::size_t, std::size_t* written) {
  *written = 0;
  return Fail(Status::NotSupported("", "positional write"));
}

bool FileHandle::CopyFrom(FileHandle& source, std::uint64_t n, std::uint64_t* copied) {
  constexpr std::size_t kBlock = 65535;
  *copied = 0;
  std::vector<char> buffer(kBlock);
  while (*copied < n) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, n - *copied));
    std::size_t got = 0;
    if (!source.Read(buffer.data(), want, &got)) return Fail(source.LastError());
    if (got == 0) break;
    std::size_t written = 0;
    const bool ok = Write(buffer.data(), got, &written);
    *copied += written;
    if (!ok) return false;  // Write said why
    if (written != got) return Fail(Status(StatusKind::kIoError, "", "short write"));
  }
  return true;
}

FileHandle* FileHandle::HolderOfFile(std::uint64_t*) { return nullptr; }

bool FileHandle::TryLock(std::uint64_t, std::uint64_t) {
  return Fail(Status::NotSupported("", "locks"));
}

bool FileHandle::Unlock(std::uint64_t, std::uint64_t) {
  return Fail(Status::NotSupported("", "locks"));
}

bool FileHandle::Close() { return true; }

bool Platform::Rename(std::string_view from, std::string_view) {
  return Fail(Status::NotSupported(from, "rename"));
}

bool Platform::RenameNoReplace(std::string_view from, std::string_view) {
  return Fail(Status::NotSupported(from, "rename"));
}

bool Platform::Link(std::string_view from, std::string_view) {
  return Fail(Status::Invalid(from, "links not supported"));
}

bool Platform::SyncFileSystem(std::string_view path) {
  return Fail(Status::NotSupported(path, "file-system sync"));
}

std::uint32_t Platform::ProcessId() { return 0; }

std::uint32_t Platform::SetCreationMask(std::uint32_t) { return 0; }

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
