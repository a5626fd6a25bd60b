// The string CRC of JAM bases (index ToCrc, header MsgIdCrc and ReplyCrc).
#pragma once

#include <cstdint>
#include <string_view>

namespace qlr {

// The reflected CRC-32 of polynomial 0xEDB88320 over `text` with the ASCII
// letters A-Z lowered first (bytes above 127 are taken as they are),
// starting at 0xFFFFFFFF and NOT inverted at the end: JamCrc("") is
// 0xFFFFFFFF, and "abc" and "ABC" both give 0xCADBBE3D.
std::uint32_t JamCrc(std::string_view text);

}  // namespace qlr
