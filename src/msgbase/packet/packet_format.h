// The packet format's entry in the format registry.
#pragma once

#include "msgbase/format_registry.h"

namespace qlr {

// Type character P; one file, .pkt.
const FormatDescriptor& PacketFormat();

}  // namespace qlr
