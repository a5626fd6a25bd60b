#include "msgbase/address_completion.h"

#include "msgbase/ftn_address.h"
#include "msgbase/ftn_date.h"
#include "msgbase/message.h"
#include "msgbase/serial.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr CharSet kAddressDelims(".:/@");
// The origin line's address keeps its parentheses. "@" separates too, so
// that "(2:5020/1@fidonet)" gives node 1: without it the node word would
// be "1@fidonet", which is not a number and would read as node 0.
constexpr CharSet kOriginDelims(".(:/)@");
constexpr CharSet kAt("@");

// Zones and nets are unknown when 0 or 65535; nodes and points only when
// 65535, because node 0 is a real node (a net's host).
bool ZoneOrNetUnset(std::uint16_t value) { return value == 0 || value == kUnknownAddressPart; }
bool NodeOrPointUnset(std::uint16_t value) { return value == kUnknownAddressPart; }

std::uint16_t AddressWord(std::size_t n, std::string_view text, const CharSet& delims) {
  return static_cast<std::uint16_t>(StrToLong(ExtractWord(n, text, delims)));
}

bool Contains(std::string_view text, char c) { return text.find(c) != std::string_view::npos; }

struct AddressFields {
  std::uint16_t& zone;
  std::uint16_t& net;
  std::uint16_t& node;
};

// Fills the unknown ones of zone, net and node from `text`, when it looks
// like an address at all (has both ":" and "/").
void TakeAddress(std::string_view text, const CharSet& delims, AddressFields side) {
  if (!Contains(text, ':') || !Contains(text, '/')) return;
  if (ZoneOrNetUnset(side.zone)) side.zone = AddressWord(1, text, delims);
  if (ZoneOrNetUnset(side.net)) side.net = AddressWord(2, text, delims);
  if (NodeOrPointUnset(side.node)) side.node = AddressWord(3, text, delims);
}

// Word `n` of a kludge value (split at blanks) without its domain.
ShortString KludgeAddress(std::string_view value, std::size_t n) {
  return TrimBlanks(ExtractWord(1, ExtractWord(n, value, kBlanks), kAt));
}

// The domain of a MSGID or REPLY value: the word after its "@".
ShortString KludgeDomain(std::string_view value) {
  return TrimBlanks(ExtractWord(1, ExtractWord(2, value, kAt), kBlanks));
}

// Splits the parenthesised address off the origin line and takes the
// originating address from it.
void TakeOriginLineAddress(Message& m, AddressFields orig) {
  const std::size_t open = m.Origin.view().rfind('(');
  if (open == std::string_view::npos) return;
  ShortString part(m.Origin.view().substr(open));
  m.Origin.truncate(open);
  // An origin line that is only an address keeps a blank as its text.
  if (m.Origin.empty()) m.Origin = " ";
  // "(Fido 1:2/3)": a system name before the address is dropped.
  const std::size_t blank = part.view().find(' ');
  if (blank != std::string_view::npos) part = part.view().substr(blank);
  TakeAddress(part, kOriginDelims, orig);
}

// Destination first, so an unknown value on both sides stays unknown.
template <typename Unset>
void FillFromOtherSide(std::uint16_t& dest, std::uint16_t& orig, Unset unset) {
  if (unset(dest)) dest = orig;
  if (unset(orig)) orig = dest;
}

ShortString NewMsgId(const Message& m) {
  BoundedString<40> id = LongToStr(m.OrigZone);
  id += ':';
  id += LongToStr(m.OrigNet);
  id += '/';
  id += LongToStr(m.OrigNode);
  if (m.OrigPoint != 0 && !NodeOrPointUnset(m.OrigPoint)) {
    id += '.';
    id += LongToStr(m.OrigPoint);
  }
  if (!m.OrigDomain.empty()) {
    id += '@';
    id += m.OrigDomain;
  }
  id += ' ';
  id += NewSerial();
  return id;
}

// INTL names zones, never points; the trailing blank is part of the value.
ShortString NewIntl(const Message& m) {
  BoundedString<40> intl = AddressToText(m.DestZone, m.DestNet, m.DestNode, 0);
  intl += ' ';
  intl += AddressToText(m.OrigZone, m.OrigNet, m.OrigNode, 0);
  intl += ' ';
  return intl;
}

void ReconcileDates(Message& m) {
  if (m.DateWritten == 0 && !m.Date.empty()) {
    const DateTime parsed = ParseFtsDate(m.Date);
    m.DateWritten = PackDateTime(parsed);
    m.Date = FormatFtsDate(parsed);
  } else {
    m.Date = FormatFtsDate(UnpackDateTime(m.DateWritten));
  }
}

}  // namespace

void Message::CompleteAddresses() {
  HadMsgId = !MsgId.empty();
  HadIntl = !Intl.empty();
  const AddressFields orig{OrigZone, OrigNet, OrigNode};
  const AddressFields dest{DestZone, DestNet, DestNode};

  // INTL is "destination origin"; MSGID starts with the full origin.
  TakeAddress(KludgeAddress(Intl, 2), kAddressDelims, orig);
  const ShortString msgid_address = KludgeAddress(MsgId, 1);
  TakeAddress(msgid_address, kAddressDelims, orig);
  if (NodeOrPointUnset(OrigPoint) && Contains(msgid_address, '.')) {
    OrigPoint = AddressWord(4, msgid_address, kAddressDelims);
  }
  if (OrigDomain.empty()) OrigDomain = KludgeDomain(MsgId);
  TakeOriginLineAddress(*this, orig);
  if (NodeOrPointUnset(OrigPoint)) OrigPoint = 0;

  TakeAddress(KludgeAddress(Intl, 1), kAddressDelims, dest);
  TakeAddress(KludgeAddress(ReplyId, 1), kAddressDelims, dest);
  if (NodeOrPointUnset(DestPoint)) DestPoint = 0;
  if (DestDomain.empty()) DestDomain = KludgeDomain(ReplyId);
  if (DestDomain.empty()) DestDomain = OrigDomain;

  FillFromOtherSide(DestZone, OrigZone, ZoneOrNetUnset);
  FillFromOtherSide(DestNet, OrigNet, ZoneOrNetUnset);
  FillFromOtherSide(DestNode, OrigNode, NodeOrPointUnset);
  if (ZoneOrNetUnset(DestZone)) DestZone = kDefaultZone;
  if (ZoneOrNetUnset(OrigZone)) OrigZone = kDefaultZone;

  if (MsgId.empty()) MsgId = NewMsgId(*this);
  if (Intl.empty()) Intl = NewIntl(*this);
  ReconcileDates(*this);
}

}  // namespace qlr
