// Facts about the operating system the program is built for, as constants
// the portable code can test without preprocessor conditions of its own.
#pragma once

namespace qlr {

#ifdef _WIN32
inline constexpr bool kHostIsWindows = true;
#else
inline constexpr bool kHostIsWindows = false;
#endif

}  // namespace qlr
