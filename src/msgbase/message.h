// The common in-memory message record that every storage format fills.
#pragma once

#include <array>
#include <cstdint>

#include "msgbase/kludge_line.h"
#include "support/collection.h"
#include "support/short_string.h"
#include "support/stream.h"

namespace qlr {

// An address number that is not known yet.
inline constexpr std::uint16_t kUnknownAddressPart = 0xFFFF;

class Message {
 public:
  Message() = default;
  virtual ~Message() = default;
  Message(const Message&) = delete;
  Message& operator=(const Message&) = delete;

  // Returns every field to empty, zero or false and empties Text and both
  // lists of control lines.
  virtual void Clear();

  // zone:net/node, then .point when the point is not 0.
  ShortString OrigAddressText() const;
  ShortString DestAddressText() const;
  ShortString GetTo() const { return To; }
  // Makes this message originate at `address`: a new MSGID, the origin
  // half of INTL and the five originating fields.
  void AssignOrigAddress(std::string_view address);
  // The destination half of INTL and the five destination fields.
  void AssignDestAddress(std::string_view address);
  void AddVia(std::string_view text);
  void SetAttr(bool on, std::uint32_t mask);
  // Keeps Attr, AttrFlags, ExtFlags, Flags and OtherFlags consistent. With
  // `from_flags` (after reading) the FLAGS words go into the attributes;
  // without (before writing) the attributes are turned into FLAGS words.
  // Defined in message_attributes.cc.
  void SyncAttributes(bool from_flags);
  // Merges the addresses of header, kludges and origin line into the
  // address fields, creates MSGID and INTL when missing and makes Date and
  // DateWritten agree. Defined in address_completion.cc.
  void CompleteAddresses();
  bool TestAttr(std::uint32_t mask) const { return (Attr & mask) != 0; }

  BoundedString<36> From;
  BoundedString<36> To;
  BoundedString<72> Subject;
  BoundedString<20> Date;  // FTS date text
  std::uint16_t TimesRead = 0;
  std::uint32_t DateWritten = 0;  // DOS packed; 0 = none recorded
  std::uint32_t DateArrived = 0;
  std::uint32_t ReplyTo = 0;
  BoundedString<40> MsgId;
  BoundedString<40> ReplyId;
  BoundedString<40> Intl;
  BoundedString<40> Pid;
  BoundedString<40> Tid;
  ShortString TearLine;
  ShortString Origin;
  ShortString Area;  // empty means netmail
  ShortString Flags;
  ShortString OtherFlags;
  std::uint16_t OrigZone = 0, DestZone = 0, OrigNode = 0, DestNode = 0;
  std::uint16_t OrigNet = 0, DestNet = 0, OrigPoint = 0, DestPoint = 0;
  ShortString OrigDomain;
  ShortString DestDomain;
  std::uint16_t Cost = 0;
  std::uint32_t Attr = 0;
  std::int16_t UtcOffset = 0;
  std::array<std::uint32_t, 9> Replies{};
  std::uint32_t UMsgId = 0;
  std::array<bool, 18> AttrFlags{};
  std::array<bool, 10> ExtFlags{};
  bool HadMsgId = false;
  bool HadIntl = false;
  MemoryStream Text;
  Collection<KludgeLine> TrailLines;
  Collection<KludgeLine> Kludges;
  // What the last operation on this message did, one of the values below.
  // A byte, not an enum: callers compare it with the numbers themselves.
  static constexpr std::uint8_t kStateNone = 0;      // set by Clear
  static constexpr std::uint8_t kStateRead = 2;      // a read succeeded
  static constexpr std::uint8_t kStateWritten = 3;   // a write succeeded
  static constexpr std::uint8_t kStateRejected = 4;  // the stored header was refused
  std::uint8_t MsgState = kStateNone;
  // A reading option, not message data, so Clear keeps it: when set, a
  // read keeps the SEEN-BY and PATH lines as the last TrailLines (in
  // their stored order) instead of dropping them, so that a copy passes
  // the echomail loop protection on.
  bool KeepRouting = false;
  // The dates as seconds since 1970 (local, as JAM stores them; 0 = none),
  // set by a JAM read: the DOS values above hold even seconds only and no
  // year before 1980. A JAM write uses them only while they still agree
  // with DateWritten and DateArrived, so a caller that changes those wins.
  std::uint32_t UnixDateWritten = 0;
  std::uint32_t UnixDateArrived = 0;
};

}  // namespace qlr
