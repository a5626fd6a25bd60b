// The storage formats known to the program, each described by a table
// entry that lives in the format's own directory (msgdir/, jam/, squish/,
// packet/). The base-spec rules, OpenBase and the whole-base operations
// look formats up here instead of knowing them.
//
// The list of all formats is assembled above the formats (they must not
// know each other) and installed once at start-up with InstallFormats.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "msgbase/base_check.h"
#include "msgbase/message_base.h"
#include "support/short_string.h"

namespace qlr {

class CopyManifest;

// How the files of a base are found from the path of its spec.
enum class FileLayout {
  // A directory of message files; the path names the directory, and the
  // files that make up the base are every file in it.
  kDirectory,
  // A set of files: the base path followed by each extension.
  kFileSet,
};

// How OpenBase brings a base of the format to the open state.
enum class OpenRule {
  // Open only: the format's Open makes whatever is missing itself.
  kOpen,
  // Open when the first file of the set exists, Create otherwise.
  kOpenElseCreate,
  // Create when the first file of the set is missing, then Open.
  kCreateThenOpen,
};

// A new, closed object of the format.
using BaseFactory = std::unique_ptr<MessageBase> (*)();
// Empties the base at `location` (see BaseLocation) and returns it in state
// Created; null on failure, with *why saying why. With `copied`, only
// files the copy holds unchanged are removed.
using BaseEraser = std::unique_ptr<MessageBase> (*)(std::string_view location,
                                                    const CopyManifest* copied, Status* why);

// Puts back, in the base at `location`, whatever an erase that was
// interrupted left out of the writers' reach, so that it is counted and
// copied like any message. True when something had to stay aside.
using BaseRecoverer = bool (*)(std::string_view location);

// Removes from the base at `location` every file that is the very file a
// copy in `copy_directory` holds by a hard link, for a run stopped between
// publishing such a copy and erasing the base. True when one could not go.
using SharedEraseFinisher = bool (*)(std::string_view location, std::string_view copy_directory);

struct FormatDescriptor {
  std::string_view name;
  // The characters that select the format in a spec, upper case. The first
  // is the one put in front of a spec whose type is inferred.
  std::string_view type_characters;
  FileLayout layout = FileLayout::kFileSet;
  // kFileSet: the extensions of the files that make up a base, in the order
  // they are handled (with their dots, lower case). A spec ending in one of
  // them is of this format.
  std::span<const std::string_view> extensions;
  // kDirectory: the mask of the message files ("*.msg"). A spec without
  // any extension is of the directory format.
  std::string_view message_mask;
  OpenRule open_rule = OpenRule::kOpen;
  // kFileSet: appended to the base path for Open and Create (the packet
  // format opens its one file; JAM and Squish take the bare base path).
  std::string_view open_extension;
  // kFileSet: the file whose first byte every writer of the base locks
  // before it writes (".jhr" for JAM, ".sqd" for Squish); empty when the
  // format has no lock convention (packets, *.MSG directories).
  std::string_view lock_extension;
  // Null: the format cannot be opened by this build ("cannot open!").
  BaseFactory construct = nullptr;
  // Null: bases of the format cannot be emptied by this build.
  BaseEraser erase = nullptr;
  // Null: the format's erase leaves nothing behind when interrupted.
  BaseRecoverer recover = nullptr;
  // Null: bases of the format cannot be checked by this build.
  BaseChecker check = nullptr;
  // Null: the format's copies are never linked to its files (they are
  // emptied in place, which would empty a linked copy with them).
  SharedEraseFinisher finish_shared = nullptr;
};

// Makes `formats` the known formats; they must outlive every use. Type
// characters and extensions must not repeat between formats.
void InstallFormats(std::span<const FormatDescriptor* const> formats);
// The installed formats, in the order they were given.
std::span<const FormatDescriptor* const> AllFormats();

// The format a type character selects (either case); null when none does.
const FormatDescriptor* FindFormatByType(char type);
// The file-set format one of whose files has `extension` (with its dot,
// any case); null when none has. The directory format has no extension.
const FormatDescriptor* FindFormatByExtension(std::string_view extension);
// The format a spec without type character and without extension is of.
const FormatDescriptor* FindDirectoryFormat();

// The path of a file-set base without extension: the directory part and
// the file name of `path`.
ShortString BaseFilePath(std::string_view path);
// Where the base of `path` lives, as its format's operations take it: the
// directory with a trailing separator, or the base path of a file set.
ShortString BaseLocation(const FormatDescriptor& format, std::string_view path);

}  // namespace qlr
