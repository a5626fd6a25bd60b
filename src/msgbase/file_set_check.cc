#include "msgbase/file_set_check.h"

#include "platform/platform.h"
#include "util/file_name_case.h"
#include "util/files.h"

namespace qlr {

std::string NameAsItExists(std::string_view path) {
  // The search for another case of the name holds names of up to 255
  // characters; a longer one is used as given, never cut.
  if (path.size() > ShortString::kMax) return std::string(path);
  return std::string(std::string_view(ResolveFileNameCase(path)));
}

std::string FileOfSet(std::string_view location, std::string_view extension) {
  return NameAsItExists(std::string(location) + std::string(extension));
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
    const std::string file = FileOfSet(location, extension);
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
