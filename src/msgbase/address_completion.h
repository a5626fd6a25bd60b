// Completing the addresses of a message that has just been read.
//
// A stored message carries its addresses in several places at once, often
// incompletely: the native header, the INTL kludge (zones), the MSGID and
// REPLY kludges (full addresses with domain) and the address in
// parentheses at the end of the origin line. Message::CompleteAddresses
// (address_completion.cc) merges them into the address fields, fills the
// gaps from the other side of the message and from the default zone,
// builds MSGID and INTL when the message had none and makes Date and
// DateWritten agree.
#pragma once

#include <cstdint>

namespace qlr {

// The zone of an address that no source names.
inline constexpr std::uint16_t kDefaultZone = 2;

}  // namespace qlr
