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
#include "platform/status.h"
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

// What OpenBase would do with the base of `spec`, told without opening or
// creating anything (kNotOpened: the base line names no format this build
// can open; kUnreadable also for a base whose files cannot be named whole).
OpenCourse ForeseeOpenBase(std::string_view spec);
// The directory OpenBase makes for a missing base of `spec` (known format).
ShortString BaseDirectoryOf(const FormatDescriptor& format, std::string_view path);

// Opens the base of `spec` into *base, creating it when it is missing, by
// its format's Open contract (see BaseOpener). On failure *base is null
// and the kind says what the caller faces:
//   kCorruption       the base may be there but cannot be read, so its
//                     messages cannot be counted; also a base whose files
//                     cannot be named whole
//   kInvalidArgument  the base line is empty or names no format this build
//                     can open
//   any other         the base is missing and could not be made
// The path and detail are the reason, both empty when none was given
// (see HasReason).
Status OpenBase(std::string_view spec, std::unique_ptr<MessageBase>* base);
// The same for callers that need no reason: null on failure.
std::unique_ptr<MessageBase> OpenBase(std::string_view spec);

// Whether a failure carries a reason to show (a format may refuse a base
// without saying why).
inline bool HasReason(const Status& status) {
  return !status.path().empty() || !status.detail().empty();
}

}  // namespace qlr
