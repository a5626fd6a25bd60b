// The *.MSG directory format's entry in the format registry.
#pragma once

#include "msgbase/format_registry.h"

namespace qlr {

// Type characters # and F; a spec without any extension is of this format.
const FormatDescriptor& MsgDirFormat();

}  // namespace qlr
