#include "msgbase/squish/squish_control.h"

#include <array>
#include <cstdint>

#include "support/short_string.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr char kKludgeStart = '\x01';

enum class ControlField {
  kIntl,
  kDestPoint,
  kOrigPoint,
  kMsgId,
  kReplyId,
  kFlags,
  kPid,
  kTid,
  kTrail
};

struct ControlPrefix {
  std::string_view prefix;  // upper case, for the comparison without case
  std::string_view stored;  // as a trailing line's Prefix is kept
  ControlField field;
};

// The first that matches decides. TID goes into its own field, as every
// other format reads it, so that a copy writes it back once, as TID.
constexpr std::array<ControlPrefix, 11> kPrefixes = {{
    {"\x01INTL ", "\x01INTL ", ControlField::kIntl},
    {"\x01TOPT ", "\x01TOPT ", ControlField::kDestPoint},
    {"\x01"
     "FMPT ",
     "\x01"
     "FMPT ",
     ControlField::kOrigPoint},
    {"\x01MSGID: ", "\x01MSGID: ", ControlField::kMsgId},
    {"\x01REPLY: ", "\x01REPLY: ", ControlField::kReplyId},
    {"\x01"
     "FLAGS ",
     "\x01"
     "FLAGS ",
     ControlField::kFlags},
    {"\x01PID: ", "\x01PID: ", ControlField::kPid},
    {"\x01TID: ", "\x01TID: ", ControlField::kTid},
    {"\x01VIA ", "\x01Via ", ControlField::kTrail},
    {"\x01RECD ", "\x01Recd ", ControlField::kTrail},
    {"\x01"
     "FORWARDED ",
     "\x01"
     "Forwarded ",
     ControlField::kTrail},
}};

void AddLine(Collection<KludgeLine>& lines, std::string_view prefix, std::string_view value) {
  auto item = std::make_unique<KludgeLine>();
  item->Prefix = NewStr(prefix);
  item->Value = NewStr(value);
  lines.Insert(std::move(item));
}

void FileControlLine(const ShortString& line, Message& message) {
  const ShortString upper = UpperStr(line);
  for (const ControlPrefix& p : kPrefixes) {
    if (!upper.view().starts_with(p.prefix)) continue;
    const std::string_view rest = line.view().substr(p.prefix.size());
    switch (p.field) {
      case ControlField::kIntl:
        message.Intl = rest;
        break;
      // Point numbers are 16 bits; StrToLong gives 0 for what is no number.
      case ControlField::kDestPoint:
        message.DestPoint = static_cast<std::uint16_t>(StrToLong(rest));
        break;
      case ControlField::kOrigPoint:
        message.OrigPoint = static_cast<std::uint16_t>(StrToLong(rest));
        break;
      case ControlField::kMsgId:
        message.MsgId = rest;
        break;
      case ControlField::kReplyId:
        message.ReplyId = rest;
        break;
      case ControlField::kFlags:
        message.Flags = rest;
        break;
      case ControlField::kPid:
        message.Pid = rest;
        break;
      case ControlField::kTid:
        message.Tid = rest;
        break;
      case ControlField::kTrail:
        AddLine(message.TrailLines, p.stored, rest);
        break;
    }
    return;
  }
  // Any other kludge is kept whole; characters ahead of the first ^A are
  // no kludge and are dropped.
  if (!line.empty() && line[0] == kKludgeStart) {
    AddLine(message.Kludges, "\x01", line.view().substr(1));
  }
}

void AppendLine(std::string& out, std::string_view prefix, std::string_view value) {
  const ShortString line = ShortString(prefix) + value;
  out.append(line.view());
}

void AppendTextLine(std::string& out, std::string_view prefix, std::string_view value) {
  AppendLine(out, prefix, value);
  out.push_back('\r');
}

}  // namespace

void ParseSquishControl(std::string_view block, Message& message) {
  // The block ends at its NUL. Writers that pad the block, or count the
  // NUL in CtrlLength and put more after it, leave bytes there that are
  // not control information; a block without any NUL is taken whole
  // rather than losing its last character.
  if (const std::size_t nul = block.find('\0'); nul != std::string_view::npos) {
    block = block.substr(0, nul);
  }
  std::size_t start = 0;
  while (start < block.size()) {
    // A line runs from a ^A to the next one; the empty piece before a
    // leading ^A, or between two adjacent ones, is no line.
    const bool kludge = block[start] == kKludgeStart;
    const std::size_t body = kludge ? start + 1 : start;
    std::size_t next = block.find(kKludgeStart, body);
    if (next == std::string_view::npos) next = block.size();
    if (next > body || !kludge) {
      // A short string: lines longer than 255 characters are cut.
      FileControlLine(ShortString(block.substr(start, next - start)), message);
    }
    start = next;
  }
}

std::string ComposeSquishControl(const Message& m) {
  std::string out;
  if (m.Area.empty()) {
    if (m.OrigPoint != 0)
      AppendLine(out,
                 "\x01"
                 "FMPT ",
                 LongToStr(m.OrigPoint));
    if (m.DestPoint != 0) AppendLine(out, "\x01TOPT ", LongToStr(m.DestPoint));
    if (!m.Intl.empty()) AppendLine(out, "\x01INTL ", m.Intl);
  }
  if (!m.MsgId.empty()) AppendLine(out, "\x01MSGID: ", m.MsgId);
  if (!m.ReplyId.empty()) AppendLine(out, "\x01REPLY: ", m.ReplyId);
  if (!m.Flags.empty())
    AppendLine(out,
               "\x01"
               "FLAGS ",
               m.Flags);
  if (!m.Pid.empty()) AppendLine(out, "\x01PID: ", m.Pid);
  if (!m.Tid.empty()) AppendLine(out, "\x01TID: ", m.Tid);
  for (const auto& item : m.Kludges) AppendLine(out, item->Prefix.view(), item->Value.view());
  out.push_back('\0');
  return out;
}

bool ComposeSquishText(Message& message, std::string* out) {
  out->clear();
  MemoryStream& body = message.Text;
  body.ClearError();
  const std::int32_t size = body.Size();
  if (size < 0) return false;
  out->resize(static_cast<std::size_t>(size));
  body.Seek(0);
  body.Read(out->data(), out->size());
  if (!body.Ok()) return false;

  const Message& m = message;
  if (!m.TearLine.empty()) AppendTextLine(*out, "--- ", m.TearLine);
  // No blank before the parenthesis: a read origin keeps its own.
  if (!m.Origin.empty() || !m.Area.empty()) {
    AppendTextLine(*out, " * Origin: ", m.Origin + "(" + m.OrigAddressText() + ")");
  }
  for (const auto& item : m.TrailLines) {
    AppendTextLine(*out, item->Prefix.view(), item->Value.view());
  }
  out->push_back('\0');
  return true;
}

}  // namespace qlr
