#include "tools/qlrmsg/message_listing.h"

#include <string_view>

#include "msgbase/kludge_line.h"
#include "msgbase/message_attributes.h"
#include "support/collection.h"
#include "util/strings.h"

namespace qlr::qlrmsg {
namespace {

std::string ListField(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

void AddLine(std::string& out, std::string_view name, std::string_view value) {
  out.append(name);
  out.append(": ");
  out.append(value);
  out += kLineEnd;
}

std::string Number(std::uint32_t value) { return std::to_string(value); }

std::string YesNo(bool value) { return value ? "yes" : "no"; }

// A control line as prefix and value, its 0x01 bytes written as "^A".
std::string ControlLine(const KludgeLine& line) {
  std::string out;
  for (std::string_view part : {line.Prefix.view(), line.Value.view()}) {
    for (char c : part) {
      if (c == '\x01') {
        out += "^A";
      } else {
        out += c;
      }
    }
  }
  return out;
}

// A FLAGS name without its trailing blank.
std::string_view FlagName(std::size_t index) {
  std::string_view name = kFlagsNames[index];
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  return name;
}

void AddWord(std::string& out, std::string_view word) {
  if (!out.empty()) out += ' ';
  out.append(word);
}

// The set attribute bits by FLAGS name; the bits without one (16, 17 and
// deleted) as their mask in 8 hex digits.
std::string AttrFlagNames(const Message& m) {
  std::string out;
  for (std::size_t i = 0; i < m.AttrFlags.size(); ++i) {
    if (!m.AttrFlags[i]) continue;
    AddWord(out, i < kNamedAttrCount ? std::string(FlagName(i)) : HexLong(kAttrMasks[i]).str());
  }
  return out;
}

std::string ExtFlagNames(const Message& m) {
  std::string out;
  for (std::size_t i = 0; i < m.ExtFlags.size(); ++i) {
    if (m.ExtFlags[i]) AddWord(out, FlagName(kFirstExtFlagName + i));
  }
  return out;
}

std::string BodyText(Message& message) {
  Stream& text = message.Text;
  text.ClearError();
  const std::int32_t size = text.Size();
  std::string body(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  text.Seek(0);
  if (!body.empty()) text.Read(body.data(), body.size());
  for (char& c : body) {
    if (c == '\r') c = kLineEnd;
  }
  return body;
}

}  // namespace

std::string FullAddress(std::uint16_t zone, std::uint16_t net, std::uint16_t node,
                        std::uint16_t point, std::string_view domain) {
  std::string out = Number(zone) + ":" + Number(net) + "/" + Number(node) + "." + Number(point);
  if (!domain.empty()) {
    out += '@';
    out.append(domain);
  }
  return out;
}

std::string ListLine(std::int32_t number, const Message& message) {
  std::string out = std::to_string(number);
  for (std::string_view field :
       {message.From.view(), message.To.view(), message.Subject.view(), message.Date.view()}) {
    out += '\t';
    out += ListField(field);
  }
  out += kLineEnd;
  return out;
}

std::string ShowText(Message& m) {
  std::string out;
  AddLine(out, "From", m.From);
  AddLine(out, "To", m.To);
  AddLine(out, "Subject", m.Subject);
  AddLine(out, "Date", m.Date);
  AddLine(out, "TimesRead", Number(m.TimesRead));
  AddLine(out, "DateWritten", HexLong(m.DateWritten));
  AddLine(out, "DateArrived", HexLong(m.DateArrived));
  AddLine(out, "ReplyTo", Number(m.ReplyTo));
  AddLine(out, "MsgId", m.MsgId);
  AddLine(out, "ReplyId", m.ReplyId);
  AddLine(out, "Intl", m.Intl);
  AddLine(out, "Pid", m.Pid);
  AddLine(out, "Tid", m.Tid);
  AddLine(out, "TearLine", m.TearLine);
  AddLine(out, "Origin", m.Origin);
  AddLine(out, "Area", m.Area);
  AddLine(out, "OtherFlags", m.OtherFlags);
  AddLine(out, "Orig", FullAddress(m.OrigZone, m.OrigNet, m.OrigNode, m.OrigPoint, m.OrigDomain));
  AddLine(out, "Dest", FullAddress(m.DestZone, m.DestNet, m.DestNode, m.DestPoint, m.DestDomain));
  AddLine(out, "Cost", Number(m.Cost));
  AddLine(out, "Attr", HexLong(m.Attr));
  AddLine(out, "AttrFlags", AttrFlagNames(m));
  AddLine(out, "ExtFlags", ExtFlagNames(m));
  std::string replies;
  for (std::uint32_t reply : m.Replies) {
    if (!replies.empty()) replies += ' ';
    replies += Number(reply);
  }
  AddLine(out, "Replies", replies);
  AddLine(out, "UMsgId", Number(m.UMsgId));
  AddLine(out, "HadMsgId", YesNo(m.HadMsgId));
  AddLine(out, "HadIntl", YesNo(m.HadIntl));
  for (const auto& line : m.Kludges) AddLine(out, "Kludge", ControlLine(*line));
  for (const auto& line : m.TrailLines) AddLine(out, "Trail", ControlLine(*line));
  out += "Text:";
  out += kLineEnd;
  out += BodyText(m);
  return out;
}

}  // namespace qlr::qlrmsg
