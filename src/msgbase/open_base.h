// BaseSpec texts: a type character followed by a path. The type characters
// and the extensions that imply them are those of the installed formats
// (format_registry.h):
//
//   # or F  directory of *.msg files     P       packet file (.pkt)
//   $ or S  Squish base (.sqd/.sqi)      ! or J  JAM base (.jhr/.jdt/.jdx)
//
// The letters count as type characters too, in either case, so a path
// that starts with F, J, P or S and has no type character is read as typed
// by that letter.
#pragma once

#include <memory>
#include <string_view>

#include "msgbase/format_registry.h"
#include "msgbase/message_base.h"
#include "support/short_string.h"
#include "util/paths.h"

namespace qlr {

// A type character inferred from a known extension when there is none, and
// a known base-file extension removed (the name is cut at its first dot).
// Empty when the result would pass 255 characters.
ShortString NormalizeBaseSpec(std::string_view spec, PathStyle style = kHostPathStyle);

// A normalised spec split into its format and path.
struct ParsedBaseSpec {
  const FormatDescriptor* format = nullptr;  // null: no known format
  ShortString path;                          // without the type character
  // The base spec, or the name of a file of its base, passes 255 characters:
  // the format is then null too, and nothing of the base may be touched,
  // for a cut name would be the name of another file.
  bool too_long = false;
};
ParsedBaseSpec ParseBaseSpec(std::string_view spec);

// Why OpenBase returned no base.
enum class OpenFailure {
  kNone,
  // The base spec is empty or names no format this build can open, or the base
  // could be neither found nor created.
  kNotOpened,
  // The base is there but could not be read (its directory cannot be
  // listed, its files are unusable): its messages cannot be counted.
  kUnreadable,
};

// What OpenBase would do with the base of `spec`, told without opening or
// creating anything.
enum class OpenCourse {
  kOpen,        // the base is there: its files are opened, nothing is made
  kCreate,      // it is missing: an empty base (and its directory) is made
  kNotOpened,   // OpenBase gives up with OpenFailure::kNotOpened
  kUnreadable,  // OpenBase gives up with OpenFailure::kUnreadable at once
};
OpenCourse ForeseeOpenBase(std::string_view spec);
// The directory OpenBase makes for a missing base of `spec` (known format).
ShortString BaseDirectoryOf(const FormatDescriptor& format, std::string_view path);

// The base of `spec`, opened or created and opened; null when `spec` is
// empty, unknown or too long (kUnreadable), when the format failed to open
// or create it, or when its directory could not be made. `failure`, when
// given, says which; `why`, when given, the reason the format gave (ok
// when it gave none).
std::unique_ptr<MessageBase> OpenBase(std::string_view spec, OpenFailure* failure = nullptr,
                                      Status* why = nullptr);

}  // namespace qlr
