// Path helpers: splitting and composing paths.
//
// DOS style: "\" separates directories and a drive prefix ends in ":", so
// both end a directory part. POSIX style: only "/" does; ":" is an
// ordinary character.
#include "util/paths.h"

namespace qlr {
namespace {

// A DOS-style file name holds at most 64 characters. POSIX names may use
// the file system's whole 255, so a long base name is never cut into the
// name of another base.
std::size_t MaxFileNameLength(PathStyle style) { return style == PathStyle::kDos ? 64 : 255; }

// True for the characters that end a directory part.
bool EndsDirectoryPart(char c, PathStyle style) {
  return c == PathSeparator(style) || (style == PathStyle::kDos && c == ':');
}

// 1-based position of the last character that ends a directory part, 0
// when there is none.
std::size_t LastDirectoryEnd(std::string_view path, PathStyle style) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (EndsDirectoryPart(path[i - 1], style)) return i;
  }
  return 0;
}

}  // namespace

char PathSeparator(PathStyle style) { return style == PathStyle::kDos ? '\\' : '/'; }

std::string AddBackslash(std::string_view s, PathStyle style) {
  if (s.empty() || EndsDirectoryPart(s.back(), style)) return std::string(s);
  return std::string(s) + PathSeparator(style);
}

std::string RemoveBackslash(std::string_view s, PathStyle style) {
  if (s.empty() || s.back() != PathSeparator(style)) return std::string(s);
  // On POSIX "/" is the root and has no shorter name; cutting it would turn
  // it into the empty path, which means the current directory. (DOS keeps
  // its rule: C:\ becomes C:.)
  if (style == PathStyle::kPosix && s.size() == 1) return std::string(s);
  return std::string(s.substr(0, s.size() - 1));
}

std::string JustPathName(std::string_view path, PathStyle style) {
  const std::size_t i = LastDirectoryEnd(path, style);
  if (i == 0) return std::string();
  if (i == 1) return std::string(path.substr(0, 1));  // \FIDO gives \, /qlr gives /
  const char at = path[i - 1];
  if (style == PathStyle::kDos && (at == ':' || path[i - 2] == ':')) {
    return std::string(path.substr(0, i));  // C:QLR.EXE gives C:, C:\FIDO gives C:\ .
  }
  std::size_t end = i - 1;
  // POSIX: a//b names the directory a; keep at least the root.
  if (style == PathStyle::kPosix) {
    while (end > 1 && path[end - 1] == '/') --end;
  }
  return std::string(path.substr(0, end));
}

std::string JustFileName(std::string_view path, PathStyle style) {
  const std::size_t i = LastDirectoryEnd(path, style);
  return std::string(path.substr(i, MaxFileNameLength(style)));
}

std::string WholeFileName(std::string_view path, PathStyle style) {
  return std::string(path.substr(LastDirectoryEnd(path, style)));
}

std::string JustName(std::string_view path, PathStyle style) {
  const std::string name = JustFileName(path, style);
  return name.substr(0, name.find('.'));
}

bool HasExtension(std::string_view path, std::size_t* dot_pos, PathStyle style) {
  if (dot_pos != nullptr) *dot_pos = 0;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return false;
  // A dot followed by a separator belongs to a directory name. In DOS
  // style only the 64 characters after the dot count; POSIX names are
  // longer, so there the whole rest counts.
  std::string_view after = path.substr(dot + 1);
  if (style == PathStyle::kDos) after = after.substr(0, 64);
  if (after.find(PathSeparator(style)) != std::string_view::npos) return false;
  if (dot_pos != nullptr) *dot_pos = dot + 1;
  return true;
}

std::string JustExtension(std::string_view path, PathStyle style) {
  std::size_t dot = 0;
  if (!HasExtension(path, &dot, style)) return std::string();
  return std::string(path.substr(dot));
}

std::string ForceExtension(std::string_view path, std::string_view extension, PathStyle style) {
  std::size_t dot = 0;
  if (HasExtension(path, &dot, style))
    return std::string(path.substr(0, dot)) + std::string(extension);
  if (path.empty()) return std::string();
  return std::string(path) + '.' + std::string(extension);
}

}  // namespace qlr
