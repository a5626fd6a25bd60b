#include "msgbase/serial.h"

#include <cstdint>

#include "platform/platform.h"
#include "support/random.h"
#include "util/strings.h"

namespace qlr {

ShortString NewSerial() {
  const LocalTime now = Os().Now();
  // All in 32-bit arithmetic that wraps around, with the full year.
  const auto u = [](int v) { return static_cast<std::uint32_t>(v); };
  std::uint32_t v = u(now.minute) * 60u + u(now.hour) * 3600u + u(now.day) * 86400u +
                    u(now.month) * 2592000u + u(now.year) * 31536000u + u(now.second);
  v = (v * 128u) | (u(now.hundredths) & 127u);
  v += ProgramRandom().Draw(65535);
  return HexLong(v);
}

}  // namespace qlr
