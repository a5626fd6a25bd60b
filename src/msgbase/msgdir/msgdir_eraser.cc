#include "msgbase/msgdir/msgdir_eraser.h"

#include <vector>

#include "msgbase/msgdir/msgdir_base.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"

namespace qlr {

std::unique_ptr<MessageBase> EraseMsgDir(std::string_view directory, const CopyManifest* copied) {
  const ShortString base_directory = AddBackslash(directory);
  std::vector<DirEntry> entries;
  bool left_behind = false;
  if (DirExists(base_directory)) {
    if (!Os().ListDirectory(base_directory, kMsgFileMask, &entries)) return nullptr;
    for (const DirEntry& entry : entries) {
      if ((entry.attributes & kAttrDirectory) != 0) continue;
      const ShortString file = base_directory + entry.name;
      // A message that arrived or changed after the copy was made is not
      // in the copy: it stays in the base for the next rotation.
      if (copied != nullptr && !copied->Unchanged(file)) continue;
      DeleteFileIfExists(file);
      // A copied message left behind would be copied again by every later
      // run, as if the base had been rotated.
      if (FileExists(file)) left_behind = true;
    }
  }
  auto base = std::make_unique<MsgDirBase>();
  (void)base->Create(base_directory + kMsgFileMask);
  if (left_behind || base->State() != BaseState::kCreated) return nullptr;
  return base;
}

}  // namespace qlr
