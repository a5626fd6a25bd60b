#include "msgbase/msgdir/erase_aside.h"

#include <vector>

#include "platform/platform.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr std::string_view kMessageExtension = ".msg";
constexpr std::string_view kAsideExtension = ".qlr";

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  const std::string_view tail = text.substr(text.size() - end.size());
  for (std::size_t i = 0; i < end.size(); ++i) {
    if (UpCaseChar(tail[i]) != UpCaseChar(end[i])) return false;
  }
  return true;
}

ShortString WithExtension(std::string_view path, std::string_view extension) {
  return ShortString(path.substr(0, path.size() - extension.size())) + extension;
}

}  // namespace

bool HasAsideName(std::string_view message_file) {
  return EndsWithNoCase(message_file, kMessageExtension);
}

ShortString AsideNameOf(std::string_view message_file) {
  return WithExtension(message_file, kAsideExtension);
}

// On a system that ignores case the message name comes back as "N.msg"
// whatever case it had, which names the same file there.
ShortString MessageNameOf(std::string_view aside_file) {
  return WithExtension(aside_file, kMessageExtension);
}

bool PutBackLeftovers(const ShortString& base_directory) {
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(base_directory, kAsideMask, &entries)) return true;
  bool stays = false;
  for (const DirEntry& entry : entries) {
    if ((entry.attributes & kAttrDirectory) != 0) continue;
    if (base_directory.size() + entry.name.size() > ShortString::kMax) {
      stays = true;
      continue;
    }
    const ShortString leftover = base_directory + entry.name;
    // Never over a file of the same name: that is a message written since.
    if (!Os().RenameNoReplace(leftover, MessageNameOf(leftover)) &&
        Os().LastError().kind() != StatusKind::kNotFound) {
      stays = true;
    }
  }
  return stays;
}

}  // namespace qlr
