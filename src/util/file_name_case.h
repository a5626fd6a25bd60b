// Base files moved from DOS often carry upper-case names (AREA.JHR) while a
// control file names them in lower case (area.jhr), or the other way round.
// On a case-sensitive file system the exact name is tried first; only when
// it does not exist is the directory searched once for a name that differs
// in case alone.
#pragma once

#include <string>
#include <string_view>

#include "util/paths.h"

namespace qlr {

// The name under which the file `path` exists: `path` itself when it exists
// or when the host ignores case anyway (Windows); otherwise the single entry
// of its directory whose name equals the file name without regard to case.
// With no such entry, or several (AREA.JHR and Area.jhr), the exact `path`
// is returned: guessing between two files could open the wrong base.
std::string ResolveFileNameCase(std::string_view path, PathStyle style = kHostPathStyle);

}  // namespace qlr
