// A JAM base: the bytes are a delete pick, then ".jhr" and ".jdt" each
// behind a 16-bit length, then ".jdx".
#include "harness_support.h"
#include "harnesses.h"

namespace qlr::fuzz {

int FuzzJamBase(const std::uint8_t* data, std::size_t size) {
  InputReader input(data, size);
  const std::uint8_t delete_pick = input.Byte();
  MemoryDisk disk;
  disk.Write("area/base.jhr", input.Prefixed());
  disk.Write("area/base.jdt", input.Prefixed());
  disk.Write("area/base.jdx", input.Rest());
  ExerciseBase(disk, "!" + MemoryDisk::Path("area/base"), size, delete_pick, false);
  return 0;
}

}  // namespace qlr::fuzz
