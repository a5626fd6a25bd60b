// The base named on a base line, parsed once: its format and where the
// base lives.
//
// A base is named by a type character followed by a path. The type characters and
// the extensions that imply them are those of the installed formats
// (format_registry.h):
//
//   # or F  directory of *.msg files     P       packet file (.pkt)
//   $ or S  Squish base (.sqd/.sqi)      ! or J  JAM base (.jhr/.jdt/.jdx)
//
// The letters count as type characters too, in either case, so a path
// that starts with F, J, P or S and has no type character is read as typed
// by that letter.
//
// The paths are whole: a path of any length is kept as given, and one the
// file system cannot take is refused by the platform when it is used.
#pragma once

#include <string>
#include <string_view>

#include "util/paths.h"

namespace qlr {

struct FormatDescriptor;

// A type character inferred from a known extension when there is none, and
// a known base-file extension removed (the name is cut at its first dot).
std::string NormalizeBaseSpec(std::string_view spec, PathStyle style = kHostPathStyle);

struct BaseReference {
  // The normalised base name, as messages show it.
  std::string spec;
  // Null: the name selects no known format; path and location are empty.
  const FormatDescriptor* format = nullptr;
  // The name's path, without its type character.
  std::string path;
  // Where the base lives, as the format's operations take it (see
  // BaseLocation).
  std::string location;
};

// The reference of the base that the text `spec` names.
BaseReference ParseBaseReference(std::string_view spec);

}  // namespace qlr
