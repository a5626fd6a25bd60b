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
#include <string>
#include <string_view>

#include "msgbase/base_check.h"
#include "msgbase/message_base.h"

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

// What opening a base would do, told without opening or creating anything.
enum class OpenCourse {
  kOpen,        // the base is there: its files are opened, nothing is made
  kCreate,      // it is missing: an empty base (and its directory) is made
  kNotOpened,   // no format this build can open (OpenBase only)
  kUnreadable,  // the base is there but cannot be read: refused at once
};

// The Open contract every format keeps, so that OpenBase needs to know
// nothing of any of them. A BaseOpener brings the base at `location` (see
// BaseLocation) to the open state and leaves it in *base:
//   - missing: an empty base is made, with its directory; ok.
//   - empty: it is opened and counts 0; ok.
//   - there but unusable (its files are refused, or part of a file set is
//     gone so that making the base anew would truncate the rest): nothing
//     is written; kCorruption, with the format's reason as path and detail
//     (both empty when it gave none).
//   - missing and impossible to make: the reason the system gave, or
//     none; not kCorruption when nothing was made (a directory of
//     messages), kCorruption when the format refuses the files its Create
//     could not finish (a file set).
// *base is null whenever the status is not ok.
using BaseOpener = Status (*)(std::string_view location, std::unique_ptr<MessageBase>* base);
// Which of kOpen, kCreate and kUnreadable the format's opener would take
// for the base at `location`, touching nothing.
using OpenForecast = OpenCourse (*)(std::string_view location);

// Empties the base at `location` (see BaseLocation) and leaves it in
// *emptied (when given) in state Created; on failure the reason, never
// without path or detail. With `copied`, only files the copy holds
// unchanged are removed.
using BaseEraser = Status (*)(std::string_view location, const CopyManifest* copied,
                              std::unique_ptr<MessageBase>* emptied);

// Puts back, in the base at `location`, whatever an erase that was
// interrupted left out of the writers' reach, so that it is counted and
// copied like any message. Not ok when something had to stay aside.
using BaseRecoverer = Status (*)(std::string_view location);

// Removes from the base at `location` every file that is the very file a
// copy in `copy_directory` holds by a hard link, for a run stopped between
// publishing such a copy and erasing the base. Not ok when one could not
// go.
using SharedEraseFinisher = Status (*)(std::string_view location, std::string_view copy_directory);

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
  // kFileSet: the file whose first byte every writer of the base locks
  // before it writes (".jhr" for JAM, ".sqd" for Squish); empty when the
  // format has no lock convention (packets, *.MSG directories).
  std::string_view lock_extension;
  // Null: the format cannot be opened by this build ("cannot open!").
  // Both or neither are given.
  BaseOpener open = nullptr;
  OpenForecast foresee = nullptr;
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
std::string BaseFilePath(std::string_view path);
// Where the base of `path` lives, as its format's operations take it: the
// directory with a trailing separator, or the base path of a file set.
std::string BaseLocation(const FormatDescriptor& format, std::string_view path);

}  // namespace qlr
