// What a copy of a base holds: every file it copied, as the file was when
// its bytes were read. The erase that follows the copy deletes only files
// that are still exactly that file, so a message that arrived or changed
// in between stays in the base.
//
// The status comparison is with the source's own status taken at copy
// time, not with the copy's: a target that keeps coarser times (whole
// seconds, two seconds on FAT) would otherwise never match, and nothing
// would ever be erased. The status alone cannot prove a file unchanged,
// though: a rewrite in place that keeps the size within one tick of the
// file system's clock (a second on many shares, a few milliseconds even
// on local disks) leaves size, time and identity as they were. So before
// a file is given up its bytes are compared with the copy's, which is
// durable by then and holds exactly what will survive.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qlr {

// Declared in util/files.h and platform/platform.h, which are private to
// the library: a caller hands a manifest from CopyBaseFiles to EraseBase
// and needs neither.
struct CopiedFile;
struct FileStatus;

// The answer of a comparison of a file with its copy.
enum class CopyMatch {
  kSame,     // the same file, unchanged, and the copy holds its bytes
  kDiffers,  // another file, or changed since it was copied
  kUnknown,  // the file or the copy could not be read to tell
};

class CopyManifest {
 public:
  // Out of line: the list's elements are complete only in the library.
  CopyManifest();
  ~CopyManifest();
  CopyManifest(CopyManifest&&) noexcept;
  CopyManifest& operator=(CopyManifest&&) noexcept;

  // The list the copy fills (CopyOptions::copied).
  std::vector<CopiedFile>* MutableFiles() { return &files_; }
  const std::vector<CopiedFile>& Files() const { return files_; }
  // The symbolic links the copy found and left where they are
  // (CopyOptions::links).
  std::vector<std::string>* MutableLinks() { return &links_; }
  const std::vector<std::string>& Links() const { return links_; }

  // The record of the copied file `source`; null when it was not copied.
  // Constant time after a first call that indexes the list.
  const CopiedFile* Find(std::string_view source) const;

  // Tells the manifest that the copy was moved as a whole: every copy
  // path under `from_directory` is taken to be under `to_directory` now.
  // A copy made into a temporary directory that is renamed into place
  // must be relocated before the erase, or nothing could be compared and
  // nothing would be erased. Both directories end in a separator.
  void RelocateCopy(std::string_view from_directory, std::string_view to_directory);

  // True when `path` was copied and is still the same file: the same file
  // identity, size and modification time as when it was read. A file that
  // was not copied, has gone, or cannot be examined is not unchanged.
  bool Unchanged(std::string_view path) const;

 private:
  std::vector<CopiedFile> files_;
  std::vector<std::string> links_;
  // source path -> index in files_; rebuilt when files_ has grown.
  mutable std::unordered_map<std::string, std::size_t> index_;
  mutable std::size_t indexed_ = 0;
};

// True when `now` is the status `file` recorded: the same identity, size
// and modification time; for a linked file the same identity alone.
bool SameStatusAsCopied(const CopiedFile& file, const FileStatus& now);

// Compares the file at `path` (the copied source itself, or the same file
// under another name) with what was copied: its status with the recorded
// one, then its bytes with the copy's. kSame only when both agree.
CopyMatch MatchCopy(const CopiedFile& file, std::string_view path);

}  // namespace qlr
