// Serial numbers for MSGID values.
#pragma once

#include "support/short_string.h"

namespace qlr {

// Eight lower-case hex digits: the local time in 1/128 steps plus a draw
// from the program's generator, so two ids made in the same hundredth of
// a second still differ.
ShortString NewSerial();

}  // namespace qlr
