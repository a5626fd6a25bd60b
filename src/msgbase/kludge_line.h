// A control line of a message: its tag and its value, kept verbatim.
#pragma once

#include "util/strings.h"

namespace qlr {

// Prefix is the line's leading tag including the ^A (0x01) and the
// separator, e.g. "\x01Via ", or just "\x01" for an unrecognised kludge.
struct KludgeLine {
  HeapString Prefix;
  HeapString Value;
};

}  // namespace qlr
