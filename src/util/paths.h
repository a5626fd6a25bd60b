// Path helpers: pure string functions over paths. A path is a std::string
// of any length and is never cut: a cut path names another file.
//
// Each takes a path style. DOS: "\" separates directories and ":" ends a
// drive prefix. POSIX: "/" separates and ":" is an ordinary character. The
// default is the host's style, so DOS rules can be tested on any machine.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/host.h"
#include "platform/status.h"
#include "support/short_string.h"

namespace qlr {

enum class PathStyle { kDos, kPosix };

inline constexpr PathStyle kHostPathStyle = kHostIsWindows ? PathStyle::kDos : PathStyle::kPosix;

// The directory separator of a style: "\" or "/".
char PathSeparator(PathStyle style = kHostPathStyle);

std::string AddBackslash(std::string_view s, PathStyle style = kHostPathStyle);
// Drops one trailing separator (C:\ becomes C:); the POSIX root "/" stays.
std::string RemoveBackslash(std::string_view s, PathStyle style = kHostPathStyle);
std::string JustPathName(std::string_view path, PathStyle style = kHostPathStyle);
std::string JustFileName(std::string_view path, PathStyle style = kHostPathStyle);
std::string JustName(std::string_view path, PathStyle style = kHostPathStyle);
// The file name of a path whole, for the names given to the system:
// JustFileName keeps the 64 characters of a DOS name, and a longer
// Windows name cut there would name another file.
std::string WholeFileName(std::string_view path, PathStyle style = kHostPathStyle);
// True when the path has an extension: a last dot with no separator after
// it. *dot_pos (may be null) gets the 1-based position of that dot, or 0.
bool HasExtension(std::string_view path, std::size_t* dot_pos, PathStyle style = kHostPathStyle);
std::string JustExtension(std::string_view path, PathStyle style = kHostPathStyle);
std::string ForceExtension(std::string_view path, std::string_view extension,
                           PathStyle style = kHostPathStyle);

// The failure of a path that cannot be taken whole: the path as far as it
// is known, "path too long" (the Status the platform gives for a name the
// system cannot take).
Status LongPathError(std::initializer_list<std::string_view> parts);

// The short-string checks below remain only for the base-file code that
// still holds its names in short strings; a path held as std::string needs
// none of them.
// A path composed of parts, or nothing when the whole would not fit a
// short string (which would cut it into the name of another file).
std::optional<ShortString> WholePath(std::initializer_list<std::string_view> parts);
// AddBackslash, or nothing when the separator (or the text) would not fit.
std::optional<ShortString> WholeDirectory(std::string_view directory,
                                          PathStyle style = kHostPathStyle);
// False when a path passes 255 bytes.
inline bool FitsShortString(std::string_view path) { return path.size() <= ShortString::kMax; }

}  // namespace qlr
