// Checks shared by the formats whose base is a set of files beside each
// other (JAM, Squish, packets).
#pragma once

#include <string>
#include <string_view>

#include "msgbase/copy_manifest.h"
#include "msgbase/format_registry.h"

namespace qlr {

// `path` under the name it exists by (a name differing only in case is
// found on POSIX), whole, of any length.
std::string NameAsItExists(std::string_view path);

// The file of the set with `extension`, under the name it exists by (a
// name differing only in case is found on POSIX). The name is whole, of
// any length.
std::string FileOfSet(std::string_view location, std::string_view extension);

// How many files of the set exist.
int ExistingFilesOfSet(const FormatDescriptor& format, std::string_view location);

// True when every file of the set that exists is one the copy holds
// unchanged. Without a manifest there is nothing to compare: true. When
// false, *why (if given) names the file that changed.
bool FileSetUnchangedSinceCopy(const FormatDescriptor& format, std::string_view location,
                               const CopyManifest* copied, Status* why = nullptr);

}  // namespace qlr
