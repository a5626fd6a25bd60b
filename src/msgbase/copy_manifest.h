// What a copy of a base holds: every file it copied, as the file was when
// its bytes were read. The erase that follows the copy deletes only files
// that are still exactly that file, so a message that arrived or changed
// in between stays in the base.
//
// The comparison is with the source's own status taken at copy time, not
// with the copy's: a target that keeps coarser times (whole seconds, two
// seconds on FAT) would otherwise never match, and nothing would ever be
// erased.
#pragma once

#include <string_view>
#include <vector>

#include "util/files.h"

namespace qlr {

class CopyManifest {
 public:
  // The list the copy fills (CopyOptions::copied).
  std::vector<CopiedFile>* MutableFiles() { return &files_; }
  const std::vector<CopiedFile>& Files() const { return files_; }

  // True when `path` was copied and is still the same file: the same file
  // identity, size and modification time as when it was read. A file that
  // was not copied, has gone, or cannot be examined is not unchanged.
  bool Unchanged(std::string_view path) const;

 private:
  std::vector<CopiedFile> files_;
};

}  // namespace qlr
