#include "msgbase/msgdir/msgdir_format.h"

#include "msgbase/msgdir/erase_aside.h"
#include "msgbase/msgdir/msgdir_base.h"
#include "msgbase/msgdir/msgdir_check.h"
#include "msgbase/msgdir/msgdir_eraser.h"
#include "util/paths.h"

namespace qlr {
namespace {

std::unique_ptr<MessageBase> NewMsgDirBase() { return std::make_unique<MsgDirBase>(); }

bool PutBackAside(std::string_view directory) { return PutBackLeftovers(AddBackslash(directory)); }

}  // namespace

const FormatDescriptor& MsgDirFormat() {
  static const FormatDescriptor kFormat{
      .name = "*.MSG directory",
      .type_characters = "#F",
      .layout = FileLayout::kDirectory,
      .extensions = {},
      .message_mask = kMsgFileMask,
      // Open makes a missing directory itself; an empty directory is a
      // complete base.
      .open_rule = OpenRule::kOpen,
      .open_extension = {},
      .lock_extension = {},
      .construct = &NewMsgDirBase,
      .erase = &EraseMsgDir,
      .recover = &PutBackAside,
      .check = &CheckMsgDir,
      .finish_shared = &EraseSharedWithCopy,
  };
  return kFormat;
}

}  // namespace qlr
