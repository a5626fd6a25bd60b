// Address texts as they come in kludges, origin lines and packet headers.
#include "harness_support.h"
#include "harnesses.h"
#include "msgbase/ftn_address.h"
#include "msgbase/message.h"

namespace qlr::fuzz {

int FuzzFtnAddress(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const FtnAddress parsed = ParseAddress(text);
  const ShortString formatted = FormatAddress(parsed);
  // The text of an address reads back as the same four numbers.
  const FtnAddress again = ParseAddress(formatted);
  Require(again.zone == parsed.zone && again.net == parsed.net && again.node == parsed.node &&
              again.point == parsed.point,
          "address text round trip");
  (void)AddressToText(parsed.zone, parsed.net, parsed.node, parsed.point);
  // The message-level setters that take such texts from kludges.
  Message message;
  message.AssignOrigAddress(text);
  message.AssignDestAddress(text);
  (void)message.OrigAddressText();
  (void)message.DestAddressText();
  message.CompleteAddresses();
  return 0;
}

}  // namespace qlr::fuzz
