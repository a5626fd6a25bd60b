// The integrity check of a packet (see base_check.h).
#pragma once

#include <string_view>

#include "msgbase/base_check.h"

namespace qlr {

// Checks the packet `location` plus ".pkt": its header, every packed
// message up to the terminating zero word, and what follows that word.
CheckReport CheckPacket(std::string_view location);

}  // namespace qlr
