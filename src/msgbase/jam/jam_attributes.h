// How the status flags of a Message map onto the JAM attribute bits.
//
// Twelve attribute bits of Message::Attr and the deleted bit have a JAM
// bit of their own; so do seven of the attributes that otherwise exist
// only as FLAGS words (Message::ExtFlags), Cfm among them. The rest (RRc,
// ARq, URq, the two carried bits, Zon, Hub, Xma) have no JAM counterpart
// and travel only in the FLAGS subfield.
#pragma once

#include <cstdint>

#include "msgbase/message.h"

namespace qlr {

// The JAM attribute bits of `message`: those of its Attr bits and ExtFlags
// that JAM has, and the echomail type when it names an area, else netmail.
std::uint32_t JamAttributeOf(const Message& message);

// The reverse: sets the Attr bits of the JAM bits in `attribute` (Attr is
// cleared first) and appends the FLAGS words of the seven FLAGS-only bits to
// Flags, so that the attribute synchronisation after reading turns them
// into ExtFlags. Flags loses its leading and trailing blanks.
void ApplyJamAttribute(std::uint32_t attribute, Message& message);

}  // namespace qlr
