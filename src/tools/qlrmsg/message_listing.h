// The texts qlrmsg prints for a message, in the stable format scripts
// read (see UsageText and the README). Every line ends in a single LF on
// every platform.
#pragma once

#include <cstdint>
#include <string>

#include "msgbase/message.h"

namespace qlr::qlrmsg {

inline constexpr char kLineEnd = '\n';

// One line of `list`: number, From, To, Subject and Date, separated by
// TABs. A TAB, CR or LF inside a field is printed as a blank, so every
// line has exactly five fields.
std::string ListLine(std::int32_t number, const Message& message);

// The text of `show`: one "Name: value" line per field in the order of
// the record, the Kludge and Trail lines (0x01 written as "^A"), then
// "Text:" and the body with each CR written as a line end.
std::string ShowText(Message& message);

// zone:net/node.point, then "@" and the domain when there is one.
std::string FullAddress(std::uint16_t zone, std::uint16_t net, std::uint16_t node,
                        std::uint16_t point, std::string_view domain);

}  // namespace qlr::qlrmsg
