#include "msgbase/base_files.h"

#include <optional>
#include <string>
#include <vector>

#include "msgbase/file_set_check.h"
#include "msgbase/format_registry.h"
#include "msgbase/open_base.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"

namespace qlr {
namespace {

// Records the first failure in `error` (when given); true for `return`.
bool Failed(Status* error, const Status& why, std::string_view path, std::string_view step) {
  if (error != nullptr && error->ok()) {
    *error = why.ok() ? Status(StatusKind::kIoError, path, step) : why;
  }
  return true;
}

// Copies the files of a file-set base under the names they exist by (a
// name differing only in case is found on POSIX); a missing file is
// skipped.
bool CopyFileSet(const FormatDescriptor& format, std::string_view base_path,
                 std::string_view destination, const CopyOptions& options) {
  bool failed = false;
  for (std::string_view extension : format.extensions) {
    const std::string source = FileOfSet(base_path, extension);
    if (CopyFileTo(source, std::string(destination) + WholeFileName(source), false, options)) {
      failed = true;
    }
  }
  return failed;
}

// How the copy into `target` will be made durable: by one sync of the
// whole file system after the last file where the platform has one, else
// file by file. Asked once before the copy, on the target itself, so that
// the files need not be opened again afterwards to be flushed one by one.
// Why not when the platform has the call and it failed.
Result<CopyDurability> ChooseDurability(std::string_view target) {
  const Status synced = Os().SyncFileSystem(target);
  if (synced) return CopyDurability::kCallerSyncs;
  if (synced.kind() == StatusKind::kNotSupported) {
    return CopyDurability::kSyncEachFile;
  }
  return synced;
}

// Makes the copy's directory entries durable after a copy that synced
// each file: the copy directory itself, and its entry in the parent.
bool SyncCopyDirectories(const std::string& target, Status* error) {
  if (const Status synced = Os().SyncDirectory(target); !synced) {
    return Failed(error, synced, target, "cannot be flushed");
  }
  std::string parent = JustPathName(RemoveBackslash(target));
  if (parent.empty()) parent = ".";
  if (const Status synced = Os().SyncDirectory(parent); !synced) {
    return Failed(error, synced, parent, "cannot be flushed");
  }
  return false;
}

}  // namespace

bool CopyBaseFiles(const BaseReference& base, std::string_view destination, CopyManifest* copied,
                   Status* error) {
  if (base.spec.empty()) return Failed(error, Status::Invalid("", "no base named"), "", "");
  const std::string target = AddBackslash(destination);
  if (const Status made = MakePath(target); !made) {
    return Failed(error, made, target, "cannot be created");
  }
  if (base.format == nullptr) {
    return Failed(error, Status::Invalid(base.spec, "unknown base type"), base.spec, "");
  }
  const FormatDescriptor& format = *base.format;

  const Result<CopyDurability> durability = ChooseDurability(target);
  if (!durability) return Failed(error, durability.status(), target, "cannot be flushed");
  std::vector<CopiedFile> unrecorded;
  CopyOptions options{*durability, copied != nullptr ? copied->MutableFiles() : &unrecorded};
  // Message files are removed one by one after the copy, never rewritten
  // in place: a second name of the same file is a copy nothing can take
  // from it.
  options.link = format.finish_shared != nullptr;
  Status copy_error;
  options.error = &copy_error;
  std::vector<std::string> unrecorded_links;
  options.links = copied != nullptr ? copied->MutableLinks() : &unrecorded_links;

  bool failed = false;
  if (format.layout == FileLayout::kDirectory) {
    // Every file of the directory, no subdirectory; a missing directory
    // is an empty base and copies nothing.
    if (DirExists(RemoveBackslash(base.path)))
      failed = CopyTree(base.location, target, false, options);
  } else {
    failed = CopyFileSet(format, base.location, target, options);
  }
  if (failed) return Failed(error, copy_error, target, "copy failed");

  // Nothing may be erased before the copy is on stable storage.
  if (*durability == CopyDurability::kCallerSyncs) {
    // One flush covers the files, the copy directory and its entry in the
    // parent, which lie on the same file system.
    if (const Status synced = Os().SyncFileSystem(target); !synced) {
      return Failed(error, synced, target, "cannot be flushed");
    }
    return false;
  }
  return SyncCopyDirectories(target, error);
}

bool CopyBaseFiles(std::string_view spec, std::string_view destination, CopyManifest* copied,
                   Status* error) {
  return CopyBaseFiles(ParseBaseReference(spec), destination, copied, error);
}

std::vector<std::string> LinkedBaseFiles(const BaseReference& base) {
  std::vector<std::string> links;
  if (base.format == nullptr || base.format->layout != FileLayout::kFileSet) return links;
  for (std::string_view extension : base.format->extensions) {
    std::string file = FileOfSet(base.location, extension);
    const std::optional<FileStatus> status = Os().StatLink(file);
    if (status && status->is_link) links.push_back(std::move(file));
  }
  return links;
}

Status RecoverInterruptedErase(const BaseReference& base) {
  if (base.format == nullptr || base.format->recover == nullptr) return Status::Ok();
  return base.format->recover(base.location);
}

Status RecoverInterruptedErase(std::string_view spec) {
  return RecoverInterruptedErase(ParseBaseReference(spec));
}

Status FinishSharedErase(const BaseReference& base, std::string_view copy_directory) {
  if (base.format == nullptr || base.format->finish_shared == nullptr) return Status::Ok();
  return base.format->finish_shared(base.location, copy_directory);
}

Status FinishSharedErase(std::string_view spec, std::string_view copy_directory) {
  return FinishSharedErase(ParseBaseReference(spec), copy_directory);
}

Status EraseBase(const BaseReference& base, const CopyManifest* copied,
                 std::unique_ptr<MessageBase>* emptied) {
  if (emptied != nullptr) emptied->reset();
  if (base.format == nullptr || base.format->erase == nullptr) {
    return Status::Invalid(base.spec, "this build cannot empty such a base");
  }
  const Status why = base.format->erase(base.location, copied, emptied);
  if (why.ok() || HasReason(why)) return why;
  return Status(StatusKind::kIoError, base.location, "cannot be emptied");
}

Status EraseBase(std::string_view spec, const CopyManifest* copied,
                 std::unique_ptr<MessageBase>* emptied) {
  return EraseBase(ParseBaseReference(spec), copied, emptied);
}

std::unique_ptr<MessageBase> EraseBase(std::string_view spec, const CopyManifest* copied) {
  std::unique_ptr<MessageBase> emptied;
  (void)EraseBase(spec, copied, &emptied);
  return emptied;
}

}  // namespace qlr
