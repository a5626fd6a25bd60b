// The name under which the erase of a *.MSG directory holds a message file
// while it checks it against the copy, and what a later erase does with a
// file that was left under that name.
//
// The aside name is the message file's name with the extension "msg"
// replaced by "qlr" (12.msg -> 12.qlr): no longer matched by "*.msg", so
// no message reader, writer or counter sees it, and an extension no other
// program uses. It has the length of the message name, so every file the
// base can hold can be moved aside however long its path. It lies in the
// base directory itself, so moving a file there and back is one rename on
// one file system.
#pragma once

#include <optional>
#include <string_view>

#include "support/short_string.h"

namespace qlr {

// The mask of aside names in a base directory.
inline constexpr std::string_view kAsideMask = "*.qlr";

// True for a path ending in ".msg" (in any case), whose aside name exists.
bool HasAsideName(std::string_view message_file);
// The aside name of a message file (HasAsideName), and back.
std::string AsideNameOf(std::string_view message_file);
std::string MessageNameOf(std::string_view aside_file);

// Gives the file `aside_file` (in `base_directory`, ending in a separator)
// the first message number above every number the directory holds, never
// replacing anything, and says so on standard error. For a version of a
// message whose own name a writer took meanwhile: both stay messages, and
// nothing is left aside to block later runs. The new name, or nothing when
// none could be given.
std::optional<std::string> KeepUnderFreeNumber(const std::string& base_directory,
                                               const std::string& aside_file,
                                               std::string_view taken_name);

// Files are left under an aside name when a run stopped between moving a
// file aside and deleting or restoring it (a crash, a kill), or when the
// file had changed and its message name had been taken again by the time
// it was to go back (a writer made a new file under it).
//
// Such a file is never deleted unseen: it is either an older version of
// a message whose copy may not exist, or a version nobody else has. Each
// leftover in `base_directory` (ending in a separator) whose message name
// is free goes back under that name, without replacing anything a writer
// may create meanwhile; it is then an ordinary message again, counted and
// copied by the next rotation. A leftover whose name is taken gets a free
// number (KeepUnderFreeNumber). True when a leftover stays aside all the
// same (or the directory could not be listed).
[[nodiscard]] bool PutBackLeftovers(const std::string& base_directory);

}  // namespace qlr
