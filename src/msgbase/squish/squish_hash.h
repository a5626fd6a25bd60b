// The hash of a receiver name that Squish keeps in each index record, so a
// reader can find the mail for a name without opening the frames.
#pragma once

#include <cstdint>
#include <string_view>

namespace qlr {

// The ASCII letters are lowered first, so the hash ignores their case;
// bytes 80h-FFh enter unchanged (see squish_hash.cc).
// The result never has bit 31 set; the empty name hashes to 0.
std::uint32_t SquishHash(std::string_view name);

}  // namespace qlr
