// Serial numbers for MSGID values.
//
// A MSGID serial is 32 bits, written as eight hex digits, and must not
// repeat for one originating address for years. It is made of two parts:
//
//   bits 31-8  a counter, seeded from the clock in steps of 8 seconds, so
//              that it wraps only after about 4.25 years and a later run
//              starts where the clock stands, above what earlier runs
//              made at their usual pace;
//   bits 7-0   a tag of the process: 8 bits of a hash of the whole
//              process id, so that processes started at the same moment
//              most likely make different serials however many they make.
//              Every bit of the id counts, so ids that differ only in
//              their high bits, or only by multiples of 4 (all ids are
//              such on Windows), spread over all 256 tags like any others.
//
// What holds:
// - Within a process the serials strictly increase, so they never repeat
//   (until the counter wraps after 2^24 of them, 4.25 years at the
//   clock's pace). Each serial takes the clock's value when the clock has
//   moved past the last one, else the last one plus 1; a clock set back
//   never lowers them.
// - Two processes with different tags never make the same serial.
//
// What does not:
// - Two processes have the same tag with a chance of 1 in 256, whatever
//   their ids (neighbouring ids included); if they also run at the same
//   time, their serials meet.
// - A process that makes serials faster than one per 8 seconds runs ahead
//   of the clock. A later process with the same tag that starts before
//   the clock has caught up with it can make those serials again.
// 32 bits cannot rule either out.
#pragma once

#include <cstdint>
#include <mutex>

#include "support/short_string.h"

namespace qlr {

class SerialCounter {
 public:
  static constexpr int kTagBits = 8;
  static constexpr int kSecondsPerStep = 8;

  // The next serial for a clock of `seconds` (since 1970, local time) in
  // the process `process_id`. Safe to call from several threads.
  std::uint32_t Next(std::int64_t seconds, std::uint32_t process_id);
  // The low kTagBits of the serials of the process `process_id`.
  static std::uint32_t Tag(std::uint32_t process_id);

 private:
  std::mutex mutex_;
  bool started_ = false;
  std::uint32_t last_ = 0;  // the counter part of the last serial
};

// The process's next serial, as eight lower-case hex digits.
ShortString NewSerial();

}  // namespace qlr
