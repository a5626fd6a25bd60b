#include "msgbase/message_text_lines.h"

namespace qlr {
namespace {

constexpr std::string_view kLineEnds = "\r\n";
constexpr std::size_t kMaxLine = 255;
// The rest of an overlong line is skipped in pieces of this size.
constexpr std::size_t kSkipPiece = 4096;

}  // namespace

bool TextLineReader::Next(TextLine& line) {
  if (!text_.Ok()) return false;
  text_.Seek(position_);
  scratch_.clear();
  // One byte more than a short string holds, so that a line of exactly
  // 255 characters still comes with its line end.
  ReadStop stop = text_.ReadUntilAny(kLineEnds, &scratch_, kMaxLine + 1);
  if (stop == ReadStop::kError || (stop == ReadStop::kEnd && scratch_.empty())) return false;

  line.start = position_;
  std::size_t consumed = scratch_.size();
  char line_end = 0;
  if (stop == ReadStop::kDelimiter) {
    line_end = scratch_.back();
    scratch_.pop_back();
  }
  line.text = scratch_;  // cut at 255
  if (stop == ReadStop::kLimit) {
    // Longer than a short string: skip to the line end.
    std::string piece;
    do {
      piece.clear();
      stop = text_.ReadUntilAny(kLineEnds, &piece, kSkipPiece);
      consumed += piece.size();
    } while (stop == ReadStop::kLimit);
    if (stop == ReadStop::kError) return false;
    if (stop == ReadStop::kDelimiter) line_end = piece.back();
  }

  // Offsets stay below 2^31: a stream holds no more.
  const std::int32_t content_end =
      position_ + static_cast<std::int32_t>(consumed) - (line_end != 0 ? 1 : 0);
  bool paired = false;
  if (line_end != 0) {
    const char partner = line_end == '\r' ? '\n' : '\r';
    std::string next;
    if (text_.ReadUpTo(&next, 1) == ReadStop::kError) return false;
    if (next.size() == 1 && next[0] == partner) {
      ++consumed;
      paired = true;
    }
  }
  position_ += static_cast<std::int32_t>(consumed);
  line.end = position_;
  // CR LF keeps only its CR; a lone CR, LF CR and a lone LF stay whole.
  line.keep_end = line_end == '\r' && paired ? content_end + 1 : line.end;
  return true;
}

}  // namespace qlr
