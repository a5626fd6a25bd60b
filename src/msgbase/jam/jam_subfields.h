// The subfields that follow a JAM message header: the names, addresses,
// MSGID and the other control lines of a message, each an 8-byte head (id,
// DatLen) and DatLen characters.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "msgbase/message.h"
#include "support/short_string.h"

namespace qlr {

// The ids used for the routing lines a writer may carry in TrailLines:
// SEEN-BY lines and ^APATH lines, the value only. Reading puts them back
// as the last TrailLines ("SEEN-BY: ", "^APATH: ") when the message asks
// for them (Message::KeepRouting), and ignores them otherwise.
inline constexpr std::uint32_t kJamSubSeenBy = 2001;
inline constexpr std::uint32_t kJamSubPath = 2002;

// Values longer than this are not interpreted when reading: no field or
// line of a message holds more.
inline constexpr std::uint32_t kJamMaxSubfieldValue = 255;

// Appends one subfield (head and data) to `out`.
void AppendSubfield(std::uint32_t id, std::string_view data, std::vector<std::uint8_t>* out);

// The subfields of `message` in the order they are stored: the two
// addresses always, then the names, MSGID, REPLY, subject and PID when not
// empty, the requested or attached file name, the trailing lines, the TID
// and the kludges as kludge subfields, and FLAGS with the OtherFlags words.
std::vector<std::uint8_t> EncodeSubfields(const Message& message);

// Walks a block of subfields from its start and applies each to `message`
// (see jam_subfields.cc for what each id does). Stops at a subfield whose
// head or value the block cuts off; what came before it is kept. Values
// over kJamMaxSubfieldValue bytes are skipped.
void ApplySubfields(std::span<const std::uint8_t> block, Message& message);

// The Via line of a trace subfield: "YYYYMMDDhhmmssADDRESS" becomes
// "ADDRESS @YYYYMMDD.hhmmss from jam area by Vorn". A value shorter than
// the 14 digits and one address character is taken as it is.
ShortString TraceToVia(std::string_view trace);

}  // namespace qlr
