// Console lines: plain 8-bit text on standard output, each line ended by
// CR LF on every platform.
#pragma once

#include <string_view>

namespace qlr {

inline constexpr std::string_view kLineEnd = "\r\n";

// A partial line, continued by the next write.
void Write(std::string_view text);
// A whole line: the text, then CR LF.
void WriteLine(std::string_view text = {});

}  // namespace qlr
