// Loading the keyword control file.
#include "util/control_file.h"

#include <string>

#include "util/files.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr char kCR = 13;
constexpr char kLF = 10;
constexpr std::string_view kDirective = "@DEFINE";

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

const CharSet& QuoteSet() {
  static const CharSet quote("\"");
  return quote;
}

// Either byte ends a line; the other one right after it belongs to the
// same line end.
constexpr std::string_view kLineEnds = "\r\n";
// Pieces in which the rest of an overlong line is read and dropped.
constexpr std::size_t kDropPiece = 4096;

// The data has ended: leave the stream healthy and at its end so the
// caller sees position = size.
void StopAtEnd(Stream& stream, std::int32_t* read_status, std::int32_t status) {
  if (read_status != nullptr) *read_status = status;
  stream.ClearError();
  stream.Seek(stream.Size());
}

}  // namespace

ShortString ReadLine(Stream& stream, std::int32_t* read_status, bool* cut) {
  if (read_status != nullptr) *read_status = kStreamOk;
  if (cut != nullptr) *cut = false;
  // One byte more than a line holds tells a line that is too long from one
  // that just fits before its line end.
  std::string text;
  ReadStop stop = stream.ReadUntilAny(kLineEnds, &text, ShortString::kMax + 1);
  if (stop == ReadStop::kLimit) {
    if (cut != nullptr) *cut = true;
    // The rest of the line is consumed and dropped; only its last piece is
    // looked at, to see which line end closed it.
    text.resize(ShortString::kMax);
    std::string rest;
    do {
      rest.clear();
      stop = stream.ReadUntilAny(kLineEnds, &rest, kDropPiece);
    } while (stop == ReadStop::kLimit);
    if (stop == ReadStop::kDelimiter) text.push_back(rest.back());
  }
  if (stop == ReadStop::kError) {
    StopAtEnd(stream, read_status, stream.Status());
    return ShortString(text);
  }
  if (stop == ReadStop::kEnd) {
    // As if the read of one more character had failed at the end.
    StopAtEnd(stream, read_status, kStreamReadError);
    return ShortString(text);
  }

  const char end = text.back();
  text.pop_back();
  const ShortString line(text);
  switch (stream.ReadUntil(end == kCR ? kLF : kCR, nullptr, 1)) {
    case ReadStop::kDelimiter:  // the partner: one line end of two bytes
      break;
    case ReadStop::kLimit:  // another byte: it starts the next line
      stream.Seek(stream.Position() - 1);
      break;
    case ReadStop::kEnd:  // the line end itself was found
      StopAtEnd(stream, read_status, kStreamOk);
      break;
    case ReadStop::kError:
      StopAtEnd(stream, read_status, stream.Status());
      break;
  }
  return line;
}

ControlFile::ControlFile() : line_expander_(std::make_unique<TemplateExpander>()) {
  line_expander_->process_functions = false;
}

ControlFile::~ControlFile() = default;

void ControlFile::AddKeyword(std::string_view name) {
  auto entry = std::make_unique<KeywordEntry>();
  entry->name = name;
  keywords_.Insert(std::move(entry));
}

bool ControlFile::Load(std::string_view path) {
  if (!FileExists(path) || keywords_.ItemCount() == 0) return true;
  BufferedFileStream stream(path, FileMode::kOpenRead, kDefaultFileBuffer);
  // A file that exists but cannot be opened is a failure, not an empty file.
  if (!stream.Ok()) return true;
  wrong_lines_.DisposeAll();

  std::int32_t line_number = 0;
  for (;;) {
    ++line_number;
    const std::int32_t before = stream.Position();
    std::int32_t read_status = kStreamOk;
    bool cut = false;
    const ShortString line = ReadLine(stream, &read_status, &cut);
    // An operating-system read error is not the end of the file.
    if (read_status == kStreamOsError) return true;
    ProcessLine(line, line_number, cut);
    if (!stream.Ok()) break;
    const std::int32_t position = stream.Position();
    const std::int32_t size = stream.Size();
    // A stream that can no longer report where it stands, or that did not
    // move, would repeat the same line for ever.
    if (position < 0 || size < 0 || position == size || position <= before) break;
  }
  return false;
}

void ControlFile::ProcessLine(ShortString line, std::int32_t line_number, bool cut) {
  const std::size_t comment = line.view().find(';');
  if (comment != std::string_view::npos) line.truncate(comment);
  // A value cut at 255 characters would name another base, another target
  // directory or another archiver command, so a line that lost more than a
  // comment, or that macro replacement filled to the limit (where a cut
  // cannot be told from a fit), is refused as a wrong line.
  if (cut && comment == std::string_view::npos) {
    AddWrongLine(line_number);
    return;
  }
  line = TrimSet(line, kBlanks);

  // A blank line is fine; a line that only macro replacement emptied is not.
  bool recognised = line.empty();
  const ShortString written = line;
  line_expander_->Expand(line);
  if (line.size() == ShortString::kMax && line != written) {
    AddWrongLine(line_number);
    return;
  }

  const ShortString first_word = ExtractWord(1, line, kBlanks);
  if (StartsWith(UpperStr(line).view(), kDirective) && first_word.size() == kDirective.size()) {
    DeleteChars(line, 1, static_cast<int>(kDirective.size()) + 1);
    if (!line.empty()) {
      line_expander_->Define(ExtractWord(1, line, kBlanks), ExtractWord(2, line, kBlanks), false);
    }
    recognised = true;
  }

  if (!line.empty() && !recognised) recognised = AddKeywordValue(line);
  if (!recognised) AddWrongLine(line_number);
}

void ControlFile::AddWrongLine(std::int32_t line_number) {
  auto wrong = std::make_unique<WrongLine>();
  wrong->line = line_number;
  wrong_lines_.Insert(std::move(wrong));
}

// The first keyword that the line starts with, followed by a blank or the
// end of the line, takes the rest of the line as its value.
bool ControlFile::AddKeywordValue(const ShortString& line) {
  const ShortString upper = UpperStr(line);
  const std::size_t first_word_length = ExtractWord(1, line, kBlanks).size();
  for (const auto& keyword : keywords_) {
    const std::size_t length = keyword->name.size();
    if (length == 0 || length != first_word_length) continue;
    if (!StartsWith(upper.view(), UpperStr(keyword->name).view())) continue;
    ShortString value = line;
    DeleteChars(value, 1, static_cast<int>(length) + 1);
    value = TrimSet(TrimSet(value, kBlanks), QuoteSet());
    if (!value.empty()) keyword->values.Insert(std::make_unique<ShortString>(value));
    return true;
  }
  return false;
}

std::int32_t ControlFile::ValueCount(std::int32_t keyword) const {
  if (keyword < 1 || keyword > keywords_.ItemCount()) return 0;
  return keywords_.ItemAt(keyword - 1).values.ItemCount();
}

ShortString ControlFile::GetValue(std::int32_t keyword, std::int32_t index) const {
  if (index < 1 || index > ValueCount(keyword)) return {};
  return keywords_.ItemAt(keyword - 1).values.ItemAt(index - 1);
}

std::int32_t ControlFile::ErrorCount() const { return wrong_lines_.ItemCount(); }

std::int32_t ControlFile::ErrorLine(std::int32_t index) const {
  if (index < 1 || index > wrong_lines_.ItemCount()) return -1;
  return wrong_lines_.ItemAt(index - 1).line;
}

}  // namespace qlr
