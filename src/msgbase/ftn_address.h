// FTN addresses: zone:net/node.point@domain.
//
// Every storage format and the kludge-line code meet addresses as text
// (MSGID, REPLY, INTL, origin lines, packet headers) and as four 16-bit
// numbers in native headers. These are the two conversions between them.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/short_string.h"

namespace qlr {

struct FtnAddress {
  std::uint16_t zone = 0;
  std::uint16_t net = 0;
  std::uint16_t node = 0;
  std::uint16_t point = 0;
  ShortString domain;

  friend bool operator==(const FtnAddress&, const FtnAddress&) = default;
};

// "zone:net/node", followed by ".point" only when the point is not 0.
ShortString AddressToText(std::uint16_t zone, std::uint16_t net, std::uint16_t node,
                          std::uint16_t point);

// The same text for an FtnAddress. The domain is not part of it: native
// headers and kludges that print addresses this way never carry one.
ShortString FormatAddress(const FtnAddress& address);

// Splits `text` at ".", ":", "/" and "@" into zone, net, node, point and
// domain (words 1 to 5, empty pieces not counted). A missing word, or one
// that is not entirely a number, gives 0; numbers keep their low 16 bits.
// So "1:234/56@fidonet" has point 0 and no domain: "fidonet" is word 4.
FtnAddress ParseAddress(std::string_view text);

}  // namespace qlr
