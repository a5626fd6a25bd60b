#include "msgbase/serial.h"

#include "msgbase/ftn_date.h"
#include "platform/platform.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr std::uint32_t kCounterMask = (1u << (32 - SerialCounter::kTagBits)) - 1;

std::int64_t LocalSeconds(const LocalTime& now) {
  DateTime dt;
  dt.year = now.year;
  dt.month = now.month;
  dt.day = now.day;
  dt.hour = now.hour;
  dt.min = now.minute;
  dt.sec = now.second;
  return DateTimeToUnix(dt);
}

}  // namespace

std::uint32_t SerialCounter::Tag(std::uint32_t process_id) {
  // A 32-bit mixer (xor-shift, multiply, twice): every bit of the id
  // reaches the top bits of the result, which become the tag.
  std::uint32_t x = process_id;
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x >> (32 - kTagBits);
}

std::uint32_t SerialCounter::Next(std::int64_t seconds, std::uint32_t process_id) {
  // A clock before 1970 (a broken system clock) counts as 0.
  const auto steps = static_cast<std::uint64_t>(seconds > 0 ? seconds : 0) / kSecondsPerStep;
  const auto clock = static_cast<std::uint32_t>(steps) & kCounterMask;
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint32_t counter = clock;
  if (started_) {
    counter = (last_ + 1) & kCounterMask;
    // The clock only wins when it is ahead of the counter, compared on
    // the counter's circle, so a clock set back never lowers the serials.
    const std::uint32_t ahead = (clock - counter) & kCounterMask;
    if (ahead != 0 && ahead < (kCounterMask >> 1)) counter = clock;
  }
  started_ = true;
  last_ = counter;
  return (counter << kTagBits) | Tag(process_id);
}

ShortString NewSerial() {
  static SerialCounter counter;
  Platform& os = Os();
  return HexLong(counter.Next(LocalSeconds(os.Now()), os.ProcessId()));
}

}  // namespace qlr
