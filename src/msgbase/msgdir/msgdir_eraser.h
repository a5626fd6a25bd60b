// Emptying a *.MSG directory base in place.
#pragma once

#include <memory>
#include <string_view>

#include "msgbase/copy_manifest.h"
#include "msgbase/message_base.h"

namespace qlr {

// Deletes the *.msg files of `directory` (ending in a separator) and
// returns a new base on it in state Created. Other files and
// subdirectories stay. With `copied`, a message file is deleted only when
// the copy holds it unchanged. Null when the directory cannot be listed, a
// message file that was to go is still there, or the base cannot be made.
std::unique_ptr<MessageBase> EraseMsgDir(std::string_view directory, const CopyManifest* copied);

}  // namespace qlr
