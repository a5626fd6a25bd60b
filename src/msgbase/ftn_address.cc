#include "msgbase/ftn_address.h"

#include "util/strings.h"

namespace qlr {

namespace {

const CharSet kAddressDelims(".:/@");

// StrToLong gives 0 for anything that is not entirely a number; the value
// is then stored in 16 bits, as the native headers hold it.
std::uint16_t AddressNumber(std::string_view text, std::size_t word) {
  return static_cast<std::uint16_t>(StrToLong(ExtractWord(word, text, kAddressDelims)));
}

}  // namespace

ShortString AddressToText(std::uint16_t zone, std::uint16_t net, std::uint16_t node,
                          std::uint16_t point) {
  ShortString text = LongToStr(zone);
  text += ':';
  text += LongToStr(net);
  text += '/';
  text += LongToStr(node);
  if (point != 0) {
    text += '.';
    text += LongToStr(point);
  }
  return text;
}

ShortString FormatAddress(const FtnAddress& address) {
  return AddressToText(address.zone, address.net, address.node, address.point);
}

FtnAddress ParseAddress(std::string_view text) {
  // ExtractWord works on short strings: longer input is cut at 255
  // characters, which no real address comes near.
  const ShortString source(text);
  FtnAddress address;
  address.zone = AddressNumber(source, 1);
  address.net = AddressNumber(source, 2);
  address.node = AddressNumber(source, 3);
  address.point = AddressNumber(source, 4);
  address.domain = ExtractWord(5, source, kAddressDelims);
  return address;
}

}  // namespace qlr
