// A *.msg directory: the bytes are up to eight message files, each a name
// pick and its length-prefixed bytes.
#include <string>

#include "harness_support.h"
#include "harnesses.h"

namespace qlr::fuzz {
namespace {

constexpr int kMaxFiles = 8;

// Mostly small numbers, and a few names a directory may also hold.
std::string FileName(std::uint8_t pick) {
  switch (pick) {
    case 255:
      return "4294967297.msg";  // beyond 32 bits
    case 254:
      return "99999999.msg";
    case 253:
      return "0.msg";
    case 252:
      return "1.MSG";
    case 251:
      return "x1.msg";
    default:
      return std::to_string(pick % 32 + 1) + ".msg";
  }
}

}  // namespace

int FuzzMsgdirBase(const std::uint8_t* data, std::size_t size) {
  InputReader input(data, size);
  const std::uint8_t delete_pick = input.Byte();
  MemoryDisk disk;
  disk.platform().MakeDirs(MemoryDisk::Path("area"));
  for (int i = 0; i < kMaxFiles && !input.empty(); ++i) {
    const std::uint8_t pick = input.Byte();
    disk.Write("area/" + FileName(pick), input.Prefixed());
  }
  ExerciseBase(disk, "#" + MemoryDisk::Path("area"), size, delete_pick, false);
  return 0;
}

}  // namespace qlr::fuzz
