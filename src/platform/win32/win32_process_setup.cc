#include "platform/process_setup.h"

namespace qlr {

// Windows has no file-size signal: a write past a quota simply fails.
void IgnoreFileSizeSignal() {}

}  // namespace qlr
