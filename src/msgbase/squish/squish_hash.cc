#include "msgbase/squish/squish_hash.h"

#include "util/strings.h"

namespace qlr {

std::uint32_t SquishHash(std::string_view name) {
  std::uint32_t h = 0;
  for (const char c : name) {
    const auto lowered = static_cast<unsigned char>(LoCaseChar(c));
    h = (h << 4) + lowered;  // modulo 2^32 by unsigned arithmetic
    // The top nibble is folded back in with an inclusive or and is not
    // cleared afterwards: other programs compute it exactly so, and the
    // index is only useful when every writer agrees.
    const std::uint32_t g = h & 0xF0000000u;
    if (g != 0) h |= g >> 24;
  }
  return h & 0x7FFFFFFFu;
}

}  // namespace qlr
