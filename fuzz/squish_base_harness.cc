// A Squish base: the bytes are a delete pick, then ".sqd" behind a 16-bit
// length, then ".sqi".
#include "harness_support.h"
#include "harnesses.h"

namespace qlr::fuzz {

int FuzzSquishBase(const std::uint8_t* data, std::size_t size) {
  InputReader input(data, size);
  const std::uint8_t delete_pick = input.Byte();
  MemoryDisk disk;
  disk.Write("area/base.sqd", input.Prefixed());
  disk.Write("area/base.sqi", input.Rest());
  ExerciseBase(disk, "$" + MemoryDisk::Path("area/base"), size, delete_pick, false);
  return 0;
}

}  // namespace qlr::fuzz
