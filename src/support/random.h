// The program's pseudo-random generator.
//
// One 32-bit seed, 0 at start and never reseeded: a draw with range R sets
// seed := seed * 134775813 + 1 (mod 2^32) and yields (seed * R) div 2^32.
// Message-id serial numbers draw from the one generator of the process.
#pragma once

#include <cstdint>

namespace qlr {

class PseudoRandom {
 public:
  // A number from 0 to range - 1 (0 when range is 0).
  std::uint32_t Draw(std::uint32_t range) {
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed_) * range) >> 32);
  }
  std::uint32_t seed() const { return seed_; }

 private:
  std::uint32_t seed_ = 0;
};

// The generator shared by the whole process.
PseudoRandom& ProgramRandom();

}  // namespace qlr
