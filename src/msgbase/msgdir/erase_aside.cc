#include "msgbase/msgdir/erase_aside.h"

#include <string>
#include <vector>

#include "msgbase/msgdir/msgdir_base.h"
#include "platform/platform.h"

namespace qlr {

bool AsideNameFits(std::string_view message_file) {
  return message_file.size() + kAsideSuffix.size() <= ShortString::kMax;
}

ShortString AsideNameOf(std::string_view message_file) {
  return ShortString(message_file) + kAsideSuffix;
}

bool PutBackLeftovers(const ShortString& base_directory) {
  const std::string pattern = std::string(kMsgFileMask) + std::string(kAsideSuffix);
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(base_directory, pattern, &entries)) return true;
  bool stays = false;
  for (const DirEntry& entry : entries) {
    if ((entry.attributes & kAttrDirectory) != 0) continue;
    const std::string_view name = entry.name;
    if (base_directory.size() + name.size() > ShortString::kMax) {
      stays = true;
      continue;
    }
    const ShortString leftover = base_directory + name;
    const ShortString message = base_directory + name.substr(0, name.size() - kAsideSuffix.size());
    // Never over a file of the same name: that is a message written since.
    if (!Os().RenameNoReplace(leftover, message)) stays = true;
  }
  return stays;
}

}  // namespace qlr
