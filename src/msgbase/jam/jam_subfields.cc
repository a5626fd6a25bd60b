#include "msgbase/jam/jam_subfields.h"

#include <array>
#include <memory>
#include <utility>

#include "msgbase/jam/jam_records.h"
#include "msgbase/message_attributes.h"
#include "util/strings.h"

namespace qlr {
namespace {

// Octal escapes: "\x01F..." would read as the single byte 0x1F.
constexpr char kKludgeMark = '\001';
constexpr std::string_view kSeenByPrefix = "SEEN-BY: ";
constexpr std::string_view kPathPrefix = "\001PATH: ";

// Kludge prefixes compare without regard to case, through the one case rule.
bool HasPrefix(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         UpperStr(text.substr(0, prefix.size())) == UpperStr(prefix);
}

bool SamePrefix(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperStr(a) == UpperStr(b);
}

void AppendUnlessEmpty(std::uint32_t id, std::string_view data, std::vector<std::uint8_t>* out) {
  if (!data.empty()) AppendSubfield(id, data, out);
}

// A control line as a 2000 subfield: the text without the ^A that every
// JAM kludge subfield leaves out. A prefix without ^A (a line that is not
// a kludge) keeps its first character, which is text.
void AppendControlLine(const KludgeLine& line, std::vector<std::uint8_t>* out) {
  std::string_view prefix = line.Prefix.view();
  if (!prefix.empty() && prefix.front() == kKludgeMark) prefix.remove_prefix(1);
  // Built as a short string, as every line is: a reader takes no longer one.
  AppendSubfield(kJamSubKludge, ShortString(prefix) + line.Value.view(), out);
}

void AppendTrailLine(const KludgeLine& line, std::vector<std::uint8_t>* out) {
  // The routing lines have ids of their own in JAM, holding the value only.
  if (SamePrefix(line.Prefix.view(), kSeenByPrefix)) {
    AppendSubfield(kJamSubSeenBy, line.Value.view(), out);
  } else if (SamePrefix(line.Prefix.view(), kPathPrefix)) {
    AppendSubfield(kJamSubPath, line.Value.view(), out);
  } else {
    AppendControlLine(line, out);
  }
}

std::unique_ptr<KludgeLine> MakeLine(std::string_view prefix, std::string_view value) {
  auto line = std::make_unique<KludgeLine>();
  line->Prefix = NewStr(prefix);
  line->Value = NewStr(value);
  return line;
}

enum class KludgeAction { kDrop, kTrail };

struct KludgeRule {
  std::string_view prefix;
  KludgeAction action;
};

// Checked in this order; the first match decides. A line none matches is
// kept in Kludges.
constexpr std::array<KludgeRule, 6> kKludgeRules = {{
    // The addresses come from subfields 0 and 1.
    {"\001INTL ", KludgeAction::kDrop},
    {"\001TOPT ", KludgeAction::kDrop},
    {"\001FMPT ", KludgeAction::kDrop},
    {"\001Via ", KludgeAction::kTrail},
    {"\001Recd ", KludgeAction::kTrail},
    {"\001Forwarded ", KludgeAction::kTrail},
}};

void ApplyKludge(std::string_view data, Message& message) {
  const ShortString line = ShortString("\001") + data;
  for (const KludgeRule& rule : kKludgeRules) {
    if (!HasPrefix(line, rule.prefix)) continue;
    if (rule.action == KludgeAction::kTrail) {
      message.TrailLines.Insert(MakeLine(rule.prefix, line.view().substr(rule.prefix.size())));
    }
    return;
  }
  message.Kludges.Insert(MakeLine("\001", line.view().substr(1)));
}

void ApplySubfield(std::uint32_t id, std::string_view value, Message& message) {
  switch (id) {
    case kJamSubOrigAddress:
      message.AssignOrigAddress(value);
      break;
    case kJamSubDestAddress:
      message.AssignDestAddress(value);
      break;
    case kJamSubSenderName:
      message.From = value;
      break;
    case kJamSubReceiverName:
      message.To = value;
      break;
    case kJamSubMsgId:
      message.MsgId = value;
      break;
    case kJamSubReplyId:
      message.ReplyId = value;
      break;
    case kJamSubSubject:
      message.Subject = value;
      break;
    case kJamSubPid:
      message.Pid = value;
      break;
    case kJamSubTrace:
      message.AddVia(TraceToVia(value));
      break;
    case kJamSubAttachedFile:
    case kJamSubAttachedFileAlias:
    case kJamSubAttachedFileWildcard:
    case kJamSubIndirectAttachedFile:
      // The subject of a file attach names its files.
      if (message.TestAttr(kAttrFileAttached)) message.Subject = value;
      break;
    case kJamSubRequestedFile:
      if (message.TestAttr(kAttrFileRequest)) message.Subject = value;
      break;
    case kJamSubFlags:
      // Added to the words the header's attribute bits gave rather than
      // replacing them: a base from another program may carry "Dir" in its
      // attribute and only other words in FLAGS, and neither may be lost.
      // The attribute synchronisation matches words wherever they stand.
      message.Flags = message.Flags.empty() ? ShortString(value) : message.Flags + " " + value;
      break;
    case kJamSubEmbeddedData:
    case kJamSubKludge:
      ApplyKludge(value, message);
      break;
    default:
      break;  // SEEN-BY, PATH and every id without a use here
  }
}

}  // namespace

void AppendSubfield(std::uint32_t id, std::string_view data, std::vector<std::uint8_t>* out) {
  JamSubfieldHeader head;
  head.Id = id;
  head.DatLen = static_cast<std::uint32_t>(data.size());
  head.AppendTo(out);
  out->insert(out->end(), data.begin(), data.end());
}

std::vector<std::uint8_t> EncodeSubfields(const Message& m) {
  std::vector<std::uint8_t> out;
  // The addresses always, whatever they hold: readers expect both.
  AppendSubfield(kJamSubOrigAddress, m.OrigAddressText(), &out);
  AppendSubfield(kJamSubDestAddress, m.DestAddressText(), &out);
  AppendUnlessEmpty(kJamSubSenderName, m.From, &out);
  AppendUnlessEmpty(kJamSubReceiverName, m.To, &out);
  AppendUnlessEmpty(kJamSubMsgId, m.MsgId, &out);
  AppendUnlessEmpty(kJamSubReplyId, m.ReplyId, &out);
  AppendUnlessEmpty(kJamSubSubject, m.Subject, &out);
  AppendUnlessEmpty(kJamSubPid, m.Pid, &out);
  if (m.TestAttr(kAttrFileRequest)) AppendUnlessEmpty(kJamSubRequestedFile, m.Subject, &out);
  if (m.TestAttr(kAttrFileAttached)) AppendUnlessEmpty(kJamSubAttachedFile, m.Subject, &out);
  for (const auto& line : m.TrailLines) AppendTrailLine(*line, &out);
  for (const auto& line : m.Kludges) AppendControlLine(*line, &out);
  AppendUnlessEmpty(kJamSubFlags, m.Flags, &out);
  return out;
}

void ApplySubfields(std::span<const std::uint8_t> block, Message& message) {
  std::size_t position = 0;
  while (block.size() - position >= JamSubfieldHeader::kEncodedSize) {
    const std::optional<JamSubfieldHeader> head =
        JamSubfieldHeader::DecodeFrom(block.subspan(position));
    if (!head.has_value()) return;
    position += JamSubfieldHeader::kEncodedSize;
    // DatLen is whatever the file says: compared with what is left before
    // anything is taken, so it can neither overrun the block nor wrap.
    const std::size_t left = block.size() - position;
    if (head->DatLen > left) return;
    const std::size_t length = head->DatLen;
    if (head->DatLen <= kJamMaxSubfieldValue) {
      const auto* data = reinterpret_cast<const char*>(block.data() + position);
      ApplySubfield(head->Id, std::string_view(data, length), message);
    }
    position += length;
  }
}

ShortString TraceToVia(std::string_view trace) {
  // 14 digits of date and time, then at least one character of address.
  constexpr int kStampLength = 15;  // the digits and the "." put in
  if (trace.size() < 15) return ShortString(trace);
  ShortString via(trace);
  InsertChars(".", via, 9);
  via += ShortString(" @") + via.view().substr(0, kStampLength);
  DeleteChars(via, 1, kStampLength);
  via += " from jam area by Vorn";
  return via;
}

}  // namespace qlr
