// Serial numbers for MSGID values.
//
// A MSGID serial is 32 bits, written as eight hex digits, and must not
// repeat for one originating address for years. It is made of two parts:
//
//   bits 31-8  a counter, seeded from the clock in steps of 8 seconds, so
//              that it wraps only after about 4.25 years and a later run
//              starts where the clock stands, above what earlier runs
//              made at their usual pace;
//   bits 7-0   the low byte of the process id, so that processes started
//              at the same moment (whose ids are close together) never
//              produce the same serial, however many they make.
//
// Within a process the counter only ever grows: each serial takes the
// clock's value when the clock has moved past the last one, else the last
// one plus 1. A process that makes serials faster than one per 8 seconds
// therefore runs ahead of the clock; a later process with the same low
// byte of its id could meet those serials again, which 32 bits cannot
// rule out.
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

 private:
  std::mutex mutex_;
  bool started_ = false;
  std::uint32_t last_ = 0;  // the counter part of the last serial
};

// The process's next serial, as eight lower-case hex digits.
ShortString NewSerial();

}  // namespace qlr
