#include "msgbase/squish/squish_hash.h"

namespace qlr {

std::uint32_t SquishHash(std::string_view name) {
  std::uint32_t h = 0;
  for (const char c : name) {
    // The format defines the hash over the name with the ASCII capitals
    // A-Z lowered and every other byte as it is: the bytes 80h-FFh are
    // taken unchanged as the values 128-255 (never sign-extended), and no
    // code-page letter is folded. That is what the other programs of the
    // format compute, and a record is only found by hash when every writer
    // agrees; a code-page folding of our own would hide personal mail
    // addressed in Cyrillic or accented names from them.
    auto byte = static_cast<std::uint32_t>(static_cast<unsigned char>(c));
    if (byte >= 'A' && byte <= 'Z') byte += 'a' - 'A';
    h = (h << 4) + byte;  // modulo 2^32 by unsigned arithmetic
    // The top nibble is folded back in with an inclusive or and is not
    // cleared afterwards: other programs compute it exactly so.
    const std::uint32_t g = h & 0xF0000000u;
    if (g != 0) h |= g >> 24;
  }
  return h & 0x7FFFFFFFu;
}

}  // namespace qlr
