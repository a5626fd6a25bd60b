#include "util/file_name_case.h"

#include <string>
#include <vector>

#include "platform/platform.h"
#include "util/strings.h"

namespace qlr {

std::string ResolveFileNameCase(std::string_view path, PathStyle style) {
  const std::string exact(path);
  // DOS-style names are case-insensitive on their own file systems.
  if (style == PathStyle::kDos || Os().Stat(path).has_value()) return exact;
  const std::string name = WholeFileName(path, style);
  if (name.empty()) return exact;
  const std::string directory = JustPathName(path, style);
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(directory.empty() ? std::string_view(".") : std::string_view(directory),
                          "*", &entries)) {
    return exact;
  }
  const ShortString wanted = UpperStr(name);
  const DirEntry* match = nullptr;
  for (const DirEntry& entry : entries) {
    if (UpperStr(entry.name) != wanted) continue;
    if (match != nullptr) return exact;  // ambiguous
    match = &entry;
  }
  if (match == nullptr) return exact;
  return AddBackslash(directory, style) + match->name;
}

}  // namespace qlr
