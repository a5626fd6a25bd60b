#include "msgbase/open_contract.h"

#include <utility>

#include "msgbase/file_set_check.h"
#include "util/files.h"

namespace qlr {

bool KeyFileExists(const FormatDescriptor& format, std::string_view location) {
  return !format.extensions.empty() && FileExists(FileOfSet(location, format.extensions.front()));
}

bool KeyFileLost(const FormatDescriptor& format, std::string_view location) {
  return !KeyFileExists(format, location) && ExistingFilesOfSet(format, location) != 0;
}

OpenCourse ForeseeKeyedFileSet(const FormatDescriptor& format, std::string_view location) {
  if (KeyFileExists(format, location)) return OpenCourse::kOpen;
  return KeyFileLost(format, location) ? OpenCourse::kUnreadable : OpenCourse::kCreate;
}

Status KeyFileLostStatus() {
  // No reason of the format's own: the run reports the base as unreadable
  // and names no file.
  return Status(StatusKind::kCorruption, "", "");
}

Status ConcludeOpen(std::unique_ptr<MessageBase> made, bool failed,
                    std::unique_ptr<MessageBase>* base) {
  base->reset();
  const Status& reason = failed ? made->LastError() : Status::Ok();
  if (failed && made->State() == BaseState::kOpenError) {
    return Status(StatusKind::kCorruption, reason.path(), reason.detail());
  }
  if (failed || made->State() == BaseState::kClosed) {
    // Never read as an unusable base: this one was not there to be read.
    const StatusKind kind = reason.ok() || reason.kind() == StatusKind::kCorruption
                                ? StatusKind::kIoError
                                : reason.kind();
    return Status(kind, reason.path(), reason.detail());
  }
  // A packet too short for a message (no header, or the header alone)
  // opens in state OpenError without failing: it is empty and counts 0.
  *base = std::move(made);
  return Status::Ok();
}

}  // namespace qlr
