#include "msgbase/jam/jam_subfields.h"

#include <array>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "msgbase/ftn_address.h"
#include "msgbase/jam/jam_records.h"
#include "msgbase/message_attributes.h"
#include "util/strings.h"

namespace qlr {
namespace {

// Octal escapes: "\x01F..." would read as the single byte 0x1F.
constexpr char kKludgeMark = '\001';
constexpr std::string_view kSeenByPrefix = "SEEN-BY: ";
constexpr std::string_view kPathPrefix = "\001PATH: ";
constexpr std::string_view kTidPrefix = "\001TID: ";

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

enum class KludgeAction { kDrop, kTrail, kTid };

struct KludgeRule {
  std::string_view prefix;
  KludgeAction action;
};

// Checked in this order; the first match decides. A line none matches is
// kept in Kludges.
constexpr std::array<KludgeRule, 7> kKludgeRules = {{
    // The addresses come from subfields 0 and 1.
    {"\001INTL ", KludgeAction::kDrop},
    {"\001TOPT ", KludgeAction::kDrop},
    {"\001FMPT ", KludgeAction::kDrop},
    {"\001Via ", KludgeAction::kTrail},
    {"\001Recd ", KludgeAction::kTrail},
    {"\001Forwarded ", KludgeAction::kTrail},
    // JAM has no subfield of its own for the TID: it travels as a kludge
    // and goes back into its field.
    {kTidPrefix, KludgeAction::kTid},
}};

void ApplyKludge(std::string_view data, Message& message) {
  const ShortString line = ShortString("\001") + data;
  for (const KludgeRule& rule : kKludgeRules) {
    if (!HasPrefix(line, rule.prefix)) continue;
    const std::string_view rest = line.view().substr(rule.prefix.size());
    if (rule.action == KludgeAction::kTrail) message.TrailLines.Insert(MakeLine(rule.prefix, rest));
    if (rule.action == KludgeAction::kTid) message.Tid = rest;
    return;
  }
  message.Kludges.Insert(MakeLine("\001", line.view().substr(1)));
}

// What the walk collects beyond the fields: the address subfields, which
// make the INTL only together, and the routing lines, which a reader that
// keeps them gets after every other trailing line.
struct WalkState {
  std::optional<ShortString> orig;
  std::optional<ShortString> dest;
  std::vector<std::unique_ptr<KludgeLine>> routing;
};

// INTL names zones and nodes, never points.
ShortString WithoutPoint(std::string_view address) { return address.substr(0, address.find('.')); }

void ApplySubfield(std::uint32_t id, std::string_view value, Message& message, WalkState& walk) {
  switch (id) {
    case kJamSubOrigAddress: {
      // The origin and nothing else: no MSGID or INTL is made up from it.
      const FtnAddress a = ParseAddress(value);
      message.OrigZone = a.zone;
      message.OrigNet = a.net;
      message.OrigNode = a.node;
      message.OrigPoint = a.point;
      message.OrigDomain = a.domain;
      walk.orig = ShortString(value);
      break;
    }
    case kJamSubDestAddress: {
      const FtnAddress a = ParseAddress(value);
      message.DestZone = a.zone;
      message.DestNet = a.net;
      message.DestNode = a.node;
      message.DestPoint = a.point;
      message.DestDomain = a.domain;
      walk.dest = ShortString(value);
      break;
    }
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
    case kJamSubSeenBy:
      if (message.KeepRouting) walk.routing.push_back(MakeLine(kSeenByPrefix, value));
      break;
    case kJamSubPath:
      if (message.KeepRouting) walk.routing.push_back(MakeLine(kPathPrefix, value));
      break;
    default:
      break;  // every id without a use here
  }
}

// The FLAGS value: the words the attributes gave, then every word the
// message carried that names nothing known here (OtherFlags), unless it is
// there already, so that a message read and written again keeps them.
ShortString FlagsValue(const Message& m) {
  ShortString flags = m.Flags;
  const ShortString upper_flags = ShortString(" ") + UpperStr(flags) + " ";
  for (std::size_t n = 1;; ++n) {
    const ShortString word = ExtractWord(n, m.OtherFlags, kBlanks);
    if (word.empty()) break;
    const ShortString upper_word = ShortString(" ") + UpperStr(word) + " ";
    if (upper_flags.view().find(upper_word.view()) != std::string_view::npos) continue;
    flags = flags.empty() ? word : flags + " " + word;
  }
  return flags;
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
  if (!m.Tid.empty()) {
    AppendSubfield(kJamSubKludge, ShortString(kTidPrefix.substr(1)) + m.Tid.view(), &out);
  }
  for (const auto& line : m.Kludges) AppendControlLine(*line, &out);
  AppendUnlessEmpty(kJamSubFlags, FlagsValue(m), &out);
  return out;
}

void ApplySubfields(std::span<const std::uint8_t> block, Message& message) {
  WalkState walk;
  std::size_t position = 0;
  while (block.size() - position >= JamSubfieldHeader::kEncodedSize) {
    const std::optional<JamSubfieldHeader> head =
        JamSubfieldHeader::DecodeFrom(block.subspan(position));
    if (!head.has_value()) break;
    position += JamSubfieldHeader::kEncodedSize;
    // DatLen is whatever the file says: compared with what is left before
    // anything is taken, so it can neither overrun the block nor wrap.
    const std::size_t left = block.size() - position;
    if (head->DatLen > left) break;
    const std::size_t length = head->DatLen;
    if (head->DatLen <= kJamMaxSubfieldValue) {
      const auto* data = reinterpret_cast<const char*>(block.data() + position);
      ApplySubfield(head->Id, std::string_view(data, length), message, walk);
    }
    position += length;
  }
  // Both addresses are what an INTL line says; with the origin alone
  // (usual for echomail) there is none, and the completion of addresses
  // decides as for every other format.
  if (walk.orig.has_value() && walk.dest.has_value()) {
    message.Intl = WithoutPoint(*walk.dest) + " " + WithoutPoint(*walk.orig);
  }
  for (auto& line : walk.routing) message.TrailLines.Insert(std::move(line));
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
