// A type-2 packet: the bytes are a delete pick, then the packet file.
#include "harness_support.h"
#include "harnesses.h"

namespace qlr::fuzz {

int FuzzPacketBase(const std::uint8_t* data, std::size_t size) {
  InputReader input(data, size);
  const std::uint8_t delete_pick = input.Byte();
  MemoryDisk disk;
  disk.Write("area/base.pkt", input.Rest());
  ExerciseBase(disk, "P" + MemoryDisk::Path("area/base"), size, delete_pick, true);
  return 0;
}

}  // namespace qlr::fuzz
