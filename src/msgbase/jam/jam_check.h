// The integrity check of a JAM base (see base_check.h).
#pragma once

#include <string_view>

#include "msgbase/base_check.h"

namespace qlr {

// Checks the JAM base whose files are `location` plus ".jhr", ".jdt" and
// ".jdx": the base header, every index record, the message header it
// points at with its subfields and text, and ActiveMsgs against the
// headers.
CheckReport CheckJamBase(std::string_view location);

}  // namespace qlr
