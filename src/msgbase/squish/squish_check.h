// The integrity check of a Squish base (see base_check.h).
#pragma once

#include <string_view>

#include "msgbase/base_check.h"

namespace qlr {

// Checks the Squish base whose files are `location` plus ".sqd" and
// ".sqi": the base header, both frame chains, every frame's lengths, and
// each index record against the frames of the message chain.
CheckReport CheckSquishBase(std::string_view location);

}  // namespace qlr
