// Path helpers: pure string functions over paths. A path is a std::string
// of any length and is never cut: a cut path names another file.
//
// Each takes a path style. DOS: "\" separates directories and ":" ends a
// drive prefix. POSIX: "/" separates and ":" is an ordinary character. The
// default is the host's style, so DOS rules can be tested on any machine.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/host.h"

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

}  // namespace qlr
