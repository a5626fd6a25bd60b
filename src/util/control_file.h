// The keyword control file.
//
// A line-oriented text file of "Keyword value" lines:
//
//   ; a comment runs from the first ";" to the end of the line
//   @Define ROOT C:\FIDO            ; a macro for the lines after it
//   Base !ROOT\JAM\NET ROOT\OLD     ; keyword, blanks, the rest is the value
//   Arc.Add "zip -m @ArcName"       ; quotes around a value are dropped
//
// Keywords are matched ignoring case and must be followed by a blank or the
// end of the line. Every occurrence of a keyword adds one value. Lines that
// are not blank, not a directive and not a known keyword are remembered by
// their line number. A defined name is replaced in every later line,
// directives included; to redefine it, write it escaped: @Define @ROOT D:.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "support/collection.h"
#include "support/short_string.h"
#include "support/stream.h"
#include "util/template_expander.h"

namespace qlr {

// Reads one text line. CR, LF, CR LF and LF CR each end a line (so CR CR
// or LF LF leave an empty line between them); no other byte is special.
// Characters beyond the 255th are consumed and dropped. At the end of the
// data the stream's error is cleared and it is left positioned at its
// size. When `read_status` is given it receives the status of the read
// that ended the data (kStreamOk when a line end was found); when `cut` is
// given it tells whether characters were dropped.
ShortString ReadLine(Stream& stream, std::int32_t* read_status = nullptr, bool* cut = nullptr);

struct KeywordEntry {
  ShortString name;  // as registered
  Collection<ShortString> values{16, 16};
};

struct WrongLine {
  std::int32_t line = 0;  // 1-based
};

class ControlFile {
 public:
  ControlFile();
  virtual ~ControlFile();
  ControlFile(const ControlFile&) = delete;
  ControlFile& operator=(const ControlFile&) = delete;

  // Keyword numbers follow registration order, from 1.
  void AddKeyword(std::string_view name);

  // Reads the file, adding to the values already held and replacing the
  // list of wrong lines. True on FAILURE: no such regular file, no keyword
  // registered, or the file cannot be opened or read.
  [[nodiscard]] bool Load(std::string_view path);

  // 0 when `keyword` is out of range.
  std::int32_t ValueCount(std::int32_t keyword) const;
  // Value `index` (1-based) of `keyword`; empty when either is out of range.
  ShortString GetValue(std::int32_t keyword, std::int32_t index) const;
  std::int32_t ErrorCount() const;
  // Line number of wrong line `index` (1-based, in file order); -1 when
  // out of range.
  std::int32_t ErrorLine(std::int32_t index) const;

 private:
  // `cut`: the line was longer than 255 characters.
  void ProcessLine(ShortString line, std::int32_t line_number, bool cut);
  void AddWrongLine(std::int32_t line_number);
  bool AddKeywordValue(const ShortString& line);

  Collection<KeywordEntry> keywords_{16, 16};
  Collection<WrongLine> wrong_lines_{16, 16};
  // Only macro replacement: the control file has no text functions.
  std::unique_ptr<TemplateExpander> line_expander_;
};

}  // namespace qlr
