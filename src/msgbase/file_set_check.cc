#include "msgbase/file_set_check.h"

#include "platform/platform.h"
#include "util/files.h"

namespace qlr {

ShortString FileOfSet(std::string_view location, std::string_view extension) {
  // Empty, naming nothing, where the name cannot be formed whole; a base
  // spec whose files cannot be named is refused before it gets here.
  return BaseFileName(location, extension).value_or(ShortString());
}

int ExistingFilesOfSet(const FormatDescriptor& format, std::string_view location) {
  int existing = 0;
  for (std::string_view extension : format.extensions) {
    if (FileExists(FileOfSet(location, extension))) ++existing;
  }
  return existing;
}

bool FileSetUnchangedSinceCopy(const FormatDescriptor& format, std::string_view location,
                               const CopyManifest* copied, Status* why) {
  if (copied == nullptr) return true;
  for (std::string_view extension : format.extensions) {
    const ShortString file = FileOfSet(location, extension);
    // Only a file that is really not there has nothing to lose. One whose
    // status cannot be read may hold a message written after the copy.
    const Result<FileStatus> now = Os().StatLink(file);
    if (!now) {
      if (now.status().kind() == StatusKind::kNotFound) continue;
      if (why != nullptr) *why = now.status();
      return false;
    }
    if ((now->attributes & kAttrDirectory) != 0 && !now->is_link) continue;
    const CopiedFile* record = copied->Find(file);
    if (record == nullptr || !SameStatusAsCopied(*record, *now)) {
      if (why != nullptr) *why = Status(StatusKind::kBusy, file, "changed since it was copied");
      return false;
    }
  }
  return true;
}

}  // namespace qlr
