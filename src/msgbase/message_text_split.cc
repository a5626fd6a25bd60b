#include "msgbase/message_text_split.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "msgbase/message_text_lines.h"
#include "util/strings.h"

namespace qlr {
namespace {

// Octal escapes: "\x01F..." would read as the single byte 0x1F.
constexpr char kKludgeMark = '\001';
constexpr std::string_view kKludgePrefix = "\001";

// Prefixes compare without regard to case, through the one case rule.
bool HasPrefix(std::string_view line, std::string_view prefix) {
  return line.size() >= prefix.size() &&
         UpperStr(line.substr(0, prefix.size())) == UpperStr(prefix);
}

std::unique_ptr<KludgeLine> MakeKludgeLine(std::string_view prefix, std::string_view value) {
  auto item = std::make_unique<KludgeLine>();
  item->Prefix = NewStr(prefix);
  item->Value = NewStr(value);
  return item;
}

// --- head ---

enum class HeadField { kIntl, kTopt, kFmpt, kMsgId, kReply, kFlags, kPid, kTid };

struct HeadKludge {
  std::string_view prefix;
  HeadField field;
};

constexpr HeadKludge kHeadKludges[] = {
    {"\001INTL ", HeadField::kIntl},    {"\001TOPT ", HeadField::kTopt},
    {"\001FMPT ", HeadField::kFmpt},    {"\001MSGID: ", HeadField::kMsgId},
    {"\001REPLY: ", HeadField::kReply}, {"\001FLAGS ", HeadField::kFlags},
    {"\001PID: ", HeadField::kPid},     {"\001TID: ", HeadField::kTid},
};

void StoreHeadField(HeadField field, std::string_view value, Message& m) {
  // The fields cut what does not fit; a point that does not parse is 0.
  switch (field) {
    case HeadField::kIntl:
      m.Intl = value;
      break;
    case HeadField::kTopt:
      m.DestPoint = static_cast<std::uint16_t>(StrToLong(value));
      break;
    case HeadField::kFmpt:
      m.OrigPoint = static_cast<std::uint16_t>(StrToLong(value));
      break;
    case HeadField::kMsgId:
      m.MsgId = value;
      break;
    case HeadField::kReply:
      m.ReplyId = value;
      break;
    case HeadField::kFlags:
      m.Flags = value;
      break;
    case HeadField::kPid:
      m.Pid = value;
      break;
    case HeadField::kTid:
      m.Tid = value;
      break;
  }
}

// True when `line` is a kludge line of the head; its value is then stored
// in its field, or the line kept in Kludges when it is not one of ours.
bool TakeHeadKludge(std::string_view line, Message& m) {
  for (const HeadKludge& kludge : kHeadKludges) {
    if (HasPrefix(line, kludge.prefix)) {
      StoreHeadField(kludge.field, line.substr(kludge.prefix.size()), m);
      return true;
    }
  }
  if (!line.empty() && line[0] == kKludgeMark) {
    m.Kludges.Insert(MakeKludgeLine(kKludgePrefix, line.substr(1)));
    return true;
  }
  return false;
}

// --- tail ---

enum class TailKind { kTear, kOrigin, kTrail, kRouting };

struct TailPrefix {
  std::string_view prefix;
  TailKind kind;
};

constexpr TailPrefix kTailPrefixes[] = {
    {"--- ", TailKind::kTear},
    {" * Origin: ", TailKind::kOrigin},
    {"\001Via ", TailKind::kTrail},
    {"\001Recd ", TailKind::kTrail},
    {"\001Forwarded ", TailKind::kTrail},
    // The echomail routing lines: by default not kept, as a writer
    // supplies its own; a copy that passes a message on keeps them.
    {"\001PATH: ", TailKind::kRouting},
    {"SEEN-BY: ", TailKind::kRouting},
};

constexpr CharSet kNul{std::string_view("\0", 1)};

// The tail of a text is the run of lines at its end that are empty or are
// tail lines; the first other line met from below ends it. Its lines are
// decided as if read upwards from the end: an empty line belongs to the
// cut only while no tear or origin line lies below it, and of several
// tear or origin lines the topmost counts. The scan here sees the lines
// from the top down, so it keeps the current candidate run and drops it
// whenever a line shows that the tail begins further down.
class TailScan {
 public:
  explicit TailScan(bool keep_routing) : keep_routing_(keep_routing) {}

  // A line that cannot be part of the tail: a body line, or a kludge of
  // the head. The tail can only begin below it.
  void Break() {
    open_ = false;
    matched_ = false;
    tear_found_ = origin_found_ = false;
    trail_.clear();
    routing_.clear();
  }

  // The next line; `above` is where the text would end if this line and
  // everything below it were cut off.
  void Add(const TextLine& line, std::int32_t above) {
    const ShortString trimmed = TrimSet(line.text, kNul);
    if (trimmed.empty()) {
      Open(above);
      return;
    }
    for (const TailPrefix& tail : kTailPrefixes) {
      if (!HasPrefix(trimmed, tail.prefix)) continue;
      Open(above);
      if (!matched_) {
        matched_ = true;
        first_match_ = above;
      }
      const std::string_view rest = trimmed.view().substr(tail.prefix.size());
      switch (tail.kind) {
        case TailKind::kTear:
          if (!tear_found_) tear_ = rest;
          tear_found_ = true;
          break;
        case TailKind::kOrigin:
          if (!origin_found_) origin_ = rest;
          origin_found_ = true;
          break;
        case TailKind::kTrail:
          trail_.push_back(MakeKludgeLine(tail.prefix, rest));
          break;
        case TailKind::kRouting:
          if (keep_routing_) routing_.push_back(MakeKludgeLine(tail.prefix, rest));
          break;
      }
      return;
    }
    Break();
  }

  bool HasCut() const { return open_; }

  // Where the text ends once the tail is cut off. With a tear or origin
  // line the cut begins at the topmost tail line, so the empty lines above
  // it stay with the body; without, the empty lines go too.
  std::int32_t CutFrom() const { return tear_found_ || origin_found_ ? first_match_ : top_; }

  // Fills the message's fields from the tail. The trailing lines go in
  // front of those the list holds already, in text order; kept routing
  // lines go after all of them, in text order too.
  void Commit(Message& m) {
    if (tear_found_) m.TearLine = tear_;
    if (origin_found_) m.Origin = origin_;
    std::int32_t index = 0;
    for (auto& item : trail_) m.TrailLines.AtInsert(index++, std::move(item));
    for (auto& item : routing_) m.TrailLines.Insert(std::move(item));
    trail_.clear();
    routing_.clear();
  }

 private:
  void Open(std::int32_t above) {
    if (open_) return;
    open_ = true;
    top_ = above;
  }

  bool open_ = false;
  std::int32_t top_ = 0;
  bool matched_ = false;
  std::int32_t first_match_ = 0;
  bool tear_found_ = false;
  ShortString tear_;
  bool origin_found_ = false;
  ShortString origin_;
  std::vector<std::unique_ptr<KludgeLine>> trail_;
  const bool keep_routing_;
  std::vector<std::unique_ptr<KludgeLine>> routing_;
};

// --- cut ---

// Collects the bytes of the text that stay, in order, in a temporary
// stream, and puts them back into the text at the end. Cuts are given in
// text order.
class Compactor {
 public:
  explicit Compactor(Stream& text) : text_(text) {}

  void Cut(std::int32_t start, std::int32_t end) {
    Keep(start);
    kept_from_ = end;
    cut_ = true;
  }

  // Cuts everything from `end` on and replaces the text by what stays.
  // The text is left as it was when the copy could not be made.
  void Finish(std::int32_t end) {
    if (!text_.Ok()) return;
    if (!cut_) {
      // Nothing cut out in front: the tail cut is a truncation.
      if (end < text_.Size()) {
        text_.Seek(end);
        text_.Truncate();
      }
      return;
    }
    // A tail cut that begins inside the last head cut adds nothing to it.
    Keep(end);
    if (!temp_.Ok() || !text_.Ok()) return;
    const std::int32_t size = temp_.Size();
    temp_.Seek(0);
    text_.Seek(0);
    text_.CopyFromStream(temp_, size);
    text_.Truncate();
  }

 private:
  void Keep(std::int32_t upto) {
    if (upto <= kept_from_) return;
    text_.Seek(kept_from_);
    temp_.CopyFromStream(text_, upto - kept_from_);
    kept_from_ = upto;
  }

  Stream& text_;
  MemoryStream temp_;
  std::int32_t kept_from_ = 0;
  bool cut_ = false;
};

}  // namespace

void StripTrailingNuls(Stream& text) {
  std::int32_t end = text.Size();
  if (end <= 0) return;
  const std::int32_t size = end;
  char piece[4096];
  while (end > 0) {
    const std::int32_t n = std::min<std::int32_t>(end, sizeof piece);
    text.Seek(end - n);
    text.Read(piece, static_cast<std::size_t>(n));
    if (!text.Ok()) return;
    std::int32_t kept = n;
    while (kept > 0 && piece[kept - 1] == '\0') --kept;
    end -= n - kept;
    if (kept > 0) break;
  }
  if (end < size) {
    text.Seek(end);
    text.Truncate();
  }
}

void SplitText(Message& m) {
  Stream& text = m.Text;
  const std::int32_t size = text.Size();
  if (size <= 0) return;
  TextLineReader reader(text);
  Compactor compactor(text);
  TailScan tail(m.KeepRouting);
  bool in_head = true;
  std::int32_t above = 0;  // where the text ends without the current line
  TextLine line;
  while (reader.Next(line)) {
    if (in_head) {
      if (TakeHeadKludge(line.text, m)) {
        // Adjacent kludge lines join into one cut.
        compactor.Cut(line.start, line.end);
        tail.Break();
        above = line.keep_end;
        continue;
      }
      // Empty lines before the body stay in the text; the first other
      // line ends the head.
      if (!line.text.empty()) in_head = false;
    }
    if (line.start == 0 && line.end == 1 && line.end < size) {
      // An empty first line of one line-end byte, with more text below:
      // reading upwards stops once it is down to offset 1, so this line
      // is never looked at and stays with the body.
      tail.Break();
    } else {
      tail.Add(line, above);
    }
    above = line.keep_end;
  }
  tail.Commit(m);
  compactor.Finish(tail.HasCut() ? tail.CutFrom() : size);
}

}  // namespace qlr
