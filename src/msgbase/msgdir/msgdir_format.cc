#include "msgbase/msgdir/msgdir_format.h"

#include "msgbase/msgdir/erase_aside.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "msgbase/msgdir/msgdir_check.h"
#include "msgbase/msgdir/msgdir_eraser.h"
#include "msgbase/open_contract.h"
#include "util/files.h"
#include "util/paths.h"

#include <memory>
#include <utility>

namespace qlr {
namespace {

// The directory that holds the message files of the base at `location`.
std::string DirectoryOf(std::string_view location) {
  return AddBackslash(JustPathName(std::string(location) + std::string(kMsgFileMask)));
}

// Open makes a missing directory itself; an empty directory is a complete
// base.
Status OpenMsgDir(std::string_view location, std::unique_ptr<MessageBase>* base) {
  auto made = std::make_unique<MsgDirBase>();
  const bool failed = made->Open(std::string(location) + std::string(kMsgFileMask));
  return ConcludeOpen(std::move(made), failed, base);
}

OpenCourse ForeseeMsgDir(std::string_view location) {
  return DirExists(DirectoryOf(location)) ? OpenCourse::kOpen : OpenCourse::kCreate;
}

Status EraseMsgDirBase(std::string_view directory, const CopyManifest* copied,
                       std::unique_ptr<MessageBase>* emptied) {
  Status why;
  std::unique_ptr<MessageBase> base = EraseMsgDir(directory, copied, &why);
  if (base == nullptr) {
    return why.ok() ? Status(StatusKind::kIoError, directory, "cannot be emptied") : why;
  }
  if (emptied != nullptr) *emptied = std::move(base);
  return Status::Ok();
}

Status PutBackAside(std::string_view directory) {
  if (!PutBackLeftovers(AddBackslash(directory))) return Status::Ok();
  return Status(StatusKind::kIoError, directory, "files of an interrupted erase stay aside");
}

Status FinishShared(std::string_view directory, std::string_view copy_directory) {
  if (!EraseSharedWithCopy(directory, copy_directory)) return Status::Ok();
  return Status(StatusKind::kIoError, directory,
                "files shared with an interrupted copy cannot be removed");
}

}  // namespace

const FormatDescriptor& MsgDirFormat() {
  static const FormatDescriptor kFormat{
      .name = "*.MSG directory",
      .type_characters = "#F",
      .layout = FileLayout::kDirectory,
      .extensions = {},
      .message_mask = kMsgFileMask,
      .lock_extension = {},
      .open = &OpenMsgDir,
      .foresee = &ForeseeMsgDir,
      .erase = &EraseMsgDirBase,
      .recover = &PutBackAside,
      .check = &CheckMsgDir,
      .finish_shared = &FinishShared,
  };
  return kFormat;
}

}  // namespace qlr
