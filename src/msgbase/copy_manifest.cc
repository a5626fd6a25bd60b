#include "msgbase/copy_manifest.h"

#include <optional>

#include "platform/platform.h"

namespace qlr {

bool CopyManifest::Unchanged(std::string_view path) const {
  for (const CopiedFile& file : files_) {
    if (file.source.view() != path) continue;
    const std::optional<FileStatus> now = Os().Stat(path);
    if (!now) return false;
    const FileStatus& then = file.status;
    // A file replaced under its name (written elsewhere and renamed over
    // it) has another identity even when its size and time are the same.
    return now->size == then.size && now->modified == then.modified && now->volume == then.volume &&
           now->file_index == then.file_index;
  }
  return false;
}

}  // namespace qlr
