#include "msgbase/jam/jam_crc.h"

#include <array>

namespace qlr {
namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

std::uint32_t JamCrc(std::string_view text) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (const char ch : text) {
    auto c = static_cast<std::uint8_t>(ch);
    // Only the ASCII letters fold; code-page letters keep their bytes so
    // every program computes the same index CRC for the same name.
    if (c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c + 32);
    crc = (crc >> 8) ^ kCrcTable[(crc ^ c) & 0xFF];
  }
  return crc;
}

}  // namespace qlr
