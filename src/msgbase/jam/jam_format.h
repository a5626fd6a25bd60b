// The JAM format's entry in the format registry.
#pragma once

#include "msgbase/format_registry.h"

namespace qlr {

// Type characters ! and J; files .jhr, .jdt and .jdx.
const FormatDescriptor& JamFormat();

}  // namespace qlr
