// BaseSpec texts: a type character followed by a path.
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

#include "msgbase/message_base.h"
#include "support/short_string.h"
#include "util/paths.h"

namespace qlr {

enum class BaseFormat { kNone, kMsgDir, kPacket, kSquish, kJam };

// A type character inferred from a known extension when there is none, and
// a known base-file extension removed (the name is cut at its first dot).
ShortString NormalizeBaseSpec(std::string_view spec, PathStyle style = kHostPathStyle);

// A normalised spec split into its format and path.
struct ParsedBaseSpec {
  BaseFormat format = BaseFormat::kNone;
  ShortString path;  // without the type character
};
ParsedBaseSpec ParseBaseSpec(std::string_view spec);

// The path of a file-based base without extension: the directory part and
// the file name of `path`.
ShortString BaseFilePath(std::string_view path);

// The base of `spec`, opened or created and opened; null when `spec` is
// empty or unknown, when the format failed to open or create it, or when
// its directory could not be made.
std::unique_ptr<MessageBase> OpenBase(std::string_view spec);

}  // namespace qlr
