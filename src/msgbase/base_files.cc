#include "msgbase/base_files.h"

#include <optional>
#include <vector>

#include "msgbase/format_registry.h"
#include "msgbase/open_base.h"
#include "platform/platform.h"
#include "util/files.h"
#include "msgbase/file_set_check.h"
#include "util/paths.h"

namespace qlr {
namespace {

// Copies the files of a file-set base under the names they exist by (a
// name differing only in case is found on POSIX); a missing file is
// skipped.
bool CopyFileSet(const FormatDescriptor& format, std::string_view base_path,
                 std::string_view destination, const CopyOptions& options) {
  bool failed = false;
  for (std::string_view extension : format.extensions) {
    const ShortString source = FileOfSet(base_path, extension);
    if (CopyFileTo(source, ShortString(destination) + JustFileName(source), false, options)) {
      failed = true;
    }
  }
  return failed;
}

// How the copy into `target` will be made durable: by one sync of the
// whole file system after the last file where the platform has one, else
// file by file. Asked once before the copy, on the target itself, so that
// the files need not be opened again afterwards to be flushed one by one.
// Nothing when the platform has the call and it failed.
std::optional<CopyDurability> ChooseDurability(std::string_view target) {
  if (Os().SyncFileSystem(target)) return CopyDurability::kCallerSyncs;
  if (Os().LastError().kind() == StatusKind::kInvalidArgument) {
    return CopyDurability::kSyncEachFile;
  }
  return std::nullopt;
}

// Makes the copy's directory entries durable after a copy that synced
// each file: the copy directory itself, and its entry in the parent.
bool SyncCopyDirectories(const ShortString& target) {
  bool failed = !Os().SyncDirectory(target);
  const ShortString parent = JustPathName(RemoveBackslash(target));
  if (!Os().SyncDirectory(parent.empty() ? ShortString(".") : parent)) failed = true;
  return failed;
}

}  // namespace

bool CopyBaseFiles(std::string_view spec, std::string_view destination, CopyManifest* copied) {
  if (spec.empty()) return true;
  const ShortString target = AddBackslash(destination);
  if (!MakePath(target)) return true;
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  if (parsed.format == nullptr) return true;
  const FormatDescriptor& format = *parsed.format;

  const std::optional<CopyDurability> durability = ChooseDurability(target);
  if (!durability) return true;
  std::vector<CopiedFile> unrecorded;
  const CopyOptions options{*durability, copied != nullptr ? copied->MutableFiles() : &unrecorded};

  const ShortString location = BaseLocation(format, parsed.path);
  bool failed = false;
  if (format.layout == FileLayout::kDirectory) {
    // Every file of the directory, no subdirectory; a missing directory
    // is an empty base and copies nothing.
    if (DirExists(RemoveBackslash(parsed.path)))
      failed = CopyTree(location, target, false, options);
  } else {
    failed = CopyFileSet(format, location, target, options);
  }
  if (failed) return true;

  // Nothing may be erased before the copy is on stable storage.
  if (*durability == CopyDurability::kCallerSyncs) {
    // One flush covers the files, the copy directory and its entry in the
    // parent, which lie on the same file system.
    return !Os().SyncFileSystem(target);
  }
  return SyncCopyDirectories(target);
}

std::unique_ptr<MessageBase> EraseBase(std::string_view spec, const CopyManifest* copied) {
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  if (parsed.format == nullptr || parsed.format->erase == nullptr) return nullptr;
  return parsed.format->erase(BaseLocation(*parsed.format, parsed.path), copied);
}

}  // namespace qlr
