// Console lines: plain 8-bit text on standard output, each line ended by
// CR LF on every platform.
#pragma once

#include <string>
#include <string_view>

namespace qlr {

inline constexpr std::string_view kLineEnd = "\r\n";

// Joins the pieces of a console text. Console lines are not short
// strings: a long path must never cut the end off a line.
template <typename... Pieces>
std::string Text(const Pieces&... pieces) {
  std::string out;
  (out.append(std::string_view(pieces)), ...);
  return out;
}

// A partial line, continued by the next write.
void Write(std::string_view text);
// A whole line: the text, then CR LF.
void WriteLine(std::string_view text = {});
// A line on standard error that says why something failed: "qlr: ",
// the text, CR LF. Standard output keeps its fixed lines; this is beside
// them.
void WriteCause(std::string_view text);

}  // namespace qlr
