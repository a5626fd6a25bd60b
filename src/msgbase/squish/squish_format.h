// The Squish format's entry in the format registry.
#pragma once

#include "msgbase/format_registry.h"

namespace qlr {

// Type characters $ and S; files .sqd and .sqi.
const FormatDescriptor& SquishFormat();

}  // namespace qlr
