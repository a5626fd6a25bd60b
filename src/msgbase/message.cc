#include "msgbase/message.h"

#include "msgbase/ftn_address.h"
#include "msgbase/serial.h"
#include "util/strings.h"

namespace qlr {
namespace {

// The address text up to its first "." (INTL never carries points).
ShortString WithoutPoint(std::string_view address) { return address.substr(0, address.find('.')); }

void SetAddressFields(const FtnAddress& a, std::uint16_t& zone, std::uint16_t& net,
                      std::uint16_t& node, std::uint16_t& point, ShortString& domain) {
  zone = a.zone;
  net = a.net;
  node = a.node;
  point = a.point;
  domain = a.domain;
}

}  // namespace

void Message::Clear() {
  From.clear();
  To.clear();
  Subject.clear();
  Date.clear();
  TimesRead = 0;
  DateWritten = DateArrived = ReplyTo = 0;
  MsgId.clear();
  ReplyId.clear();
  Intl.clear();
  Pid.clear();
  Tid.clear();
  TearLine.clear();
  Origin.clear();
  Area.clear();
  Flags.clear();
  OtherFlags.clear();
  OrigZone = DestZone = OrigNode = DestNode = 0;
  OrigNet = DestNet = OrigPoint = DestPoint = 0;
  OrigDomain.clear();
  DestDomain.clear();
  Cost = 0;
  Attr = 0;
  UtcOffset = 0;
  Replies.fill(0);
  UMsgId = 0;
  AttrFlags.fill(false);
  ExtFlags.fill(false);
  HadMsgId = HadIntl = false;
  Text.ClearError();
  Text.Seek(0);
  Text.Truncate();
  TrailLines.DisposeAll();
  Kludges.DisposeAll();
  MsgState = kStateNone;
  UnixDateWritten = UnixDateArrived = 0;
}

ShortString Message::OrigAddressText() const {
  return AddressToText(OrigZone, OrigNet, OrigNode, OrigPoint);
}

ShortString Message::DestAddressText() const {
  return AddressToText(DestZone, DestNet, DestNode, DestPoint);
}

void Message::AssignOrigAddress(std::string_view address) {
  MsgId = ShortString(address) + " " + NewSerial();
  const ShortString destination = ExtractWord(1, Intl, kBlanks);
  Intl = destination + " " + WithoutPoint(address);
  SetAddressFields(ParseAddress(address), OrigZone, OrigNet, OrigNode, OrigPoint, OrigDomain);
}

void Message::AssignDestAddress(std::string_view address) {
  ShortString origin = ExtractWord(2, Intl, kBlanks);
  if (origin.empty()) origin = ExtractWord(1, Intl, kBlanks);
  Intl = WithoutPoint(address) + " " + origin;
  SetAddressFields(ParseAddress(address), DestZone, DestNet, DestNode, DestPoint, DestDomain);
}

void Message::AddVia(std::string_view text) {
  auto line = std::make_unique<KludgeLine>();
  line->Prefix = NewStr("\x01Via ");
  line->Value = NewStr(text);
  TrailLines.Insert(std::move(line));
}

void Message::SetAttr(bool on, std::uint32_t mask) {
  if (on) {
    Attr |= mask;
  } else {
    Attr &= ~mask;
  }
}

}  // namespace qlr
