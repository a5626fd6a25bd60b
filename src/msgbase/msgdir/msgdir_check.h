// The integrity check of a *.MSG directory (see base_check.h).
#pragma once

#include <string_view>

#include "msgbase/base_check.h"

namespace qlr {

// Checks the message files of the directory `location` (with its
// trailing separator): each name must be a message number as a writer
// makes it ("12.msg") and each file must hold at least a whole header.
CheckReport CheckMsgDir(std::string_view location);

}  // namespace qlr
