// Console lines: plain 8-bit text on standard output, each line ended by
// CR LF on every platform. Text() joins their pieces (plan/run_texts.h).
#pragma once

#include <string>
#include <string_view>

#include "plan/run_texts.h"

namespace qlr {

inline constexpr std::string_view kLineEnd = "\r\n";

// A partial line, continued by the next write.
void Write(std::string_view text);
// A whole line: the text, then CR LF.
void WriteLine(std::string_view text = {});
// A line on standard error that says why something failed: "qlr: ",
// the text, CR LF. Standard output keeps its fixed lines; this is beside
// them.
void WriteCause(std::string_view text);

}  // namespace qlr
