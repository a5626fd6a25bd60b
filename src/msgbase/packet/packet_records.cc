#include "msgbase/packet/packet_records.h"

namespace qlr {

void StampPacketHeader(PacketHeader& h, const DateTime& now) {
  h.packet_version = kPacketVersion;
  h.year = static_cast<std::uint16_t>(now.year);
  h.month = static_cast<std::uint16_t>(now.month - 1);
  h.day = static_cast<std::uint16_t>(now.day);
  h.hour = static_cast<std::uint16_t>(now.hour);
  h.minute = static_cast<std::uint16_t>(now.min);
  h.second = static_cast<std::uint16_t>(now.sec);
}

}  // namespace qlr
