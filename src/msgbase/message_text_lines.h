// Reading an FTN message text line by line.
//
// A line ends at CR or LF; the pairs CR LF and LF CR count as one line end,
// so "a\r\n\r\nb" is three lines ("a", "", "b") and "a\r\rb" is three too.
// A final line without a line end is a line; nothing after the last line
// end is an extra empty line. A line is held as a short string: a longer
// line is cut at 255 characters, its remaining bytes still belong to it.
#pragma once

#include <cstdint>
#include <string>

#include "support/short_string.h"
#include "support/stream.h"

namespace qlr {

struct TextLine {
  std::int32_t start = 0;  // offset of its first byte
  std::int32_t end = 0;    // offset just after its line end
  // Where the text ends when every line below this one is cut off: after
  // the CR of the line end (of a CR LF only the CR stays), else at `end`.
  std::int32_t keep_end = 0;
  ShortString text;  // the line without its line end, cut at 255
};

// Reads the lines of `text` from offset 0 on. It positions the stream
// itself before every line, so the caller may move the stream in between.
class TextLineReader {
 public:
  explicit TextLineReader(Stream& text) : text_(text) {}

  // The next line; false at the end of the data or when the stream has
  // an error latched.
  bool Next(TextLine& line);

 private:
  Stream& text_;
  std::int32_t position_ = 0;
  std::string scratch_;
};

}  // namespace qlr
