// Emptying a *.MSG directory base in place.
#pragma once

#include <memory>
#include <string_view>

#include "msgbase/copy_manifest.h"
#include "msgbase/message_base.h"

namespace qlr {

// Empties the base in `directory` (ending in a separator) and returns a
// new base on it in state Created. Other files and subdirectories stay.
//
// With `copied` (what the copy of the base recorded), a message file goes
// only when it is, byte for byte, what the copy holds: it is first moved
// aside under a name no other program uses (see erase_aside.h), checked
// there, checked once more after the last file was moved, and deleted or
// put back (under a free number when its name was taken meanwhile). A
// message written, rewritten or renamed over during the erase stays in the
// base. Files left aside by an earlier run are put back first. Without
// `copied`, every *.msg file is deleted. A symbolic link is never deleted.
//
// Null when the directory cannot be listed, a copied message file that
// was unchanged could not be removed or checked, a moved file had to stay
// under its aside name, or the base cannot be made. A message that
// changed since the copy and simply stays is no failure.
std::unique_ptr<MessageBase> EraseMsgDir(std::string_view directory, const CopyManifest* copied,
                                         Status* why);

// Finishes the erase of a run that was stopped after it had published a
// copy of the base in `copy_directory` built from hard links: every
// message file of the base that is still the very file the copy holds
// under its name (the same identity) goes, by the same moves as above; a
// file put under the name since stays. True when such a file could not
// be removed, or the copy could not be listed.
bool EraseSharedWithCopy(std::string_view directory, std::string_view copy_directory);

}  // namespace qlr
