// What the harnesses share: cutting an input into pieces, a memory disk
// to put the pieces on, and the walk over a base's messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "msgbase/message_base.h"
#include "platform/platform.h"
#include "testing/memory_platform.h"

namespace qlr::fuzz {

// Takes an input apart from the front.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size)
      : bytes_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return bytes_.empty(); }
  // The next byte; 0 when the input is used up.
  std::uint8_t Byte();
  // A little-endian 16-bit length, then that many bytes (fewer when the
  // input ends first). The formats made of several files take all but the
  // last file this way.
  std::string_view Prefixed();
  // Everything not taken yet.
  std::string_view Rest();

 private:
  std::string_view bytes_;
};

// The same framing, for the seed generator: `piece` behind its length.
std::string PrefixedPiece(std::string_view piece);

// A fresh, empty memory disk installed as the platform for one input. The
// harness's bases must be gone before it is.
class MemoryDisk {
 public:
  MemoryDisk();
  ~MemoryDisk();
  MemoryDisk(const MemoryDisk&) = delete;
  MemoryDisk& operator=(const MemoryDisk&) = delete;

  // `relative` ("area/x.jhr") below the root, in the host's path syntax.
  static std::string Path(std::string_view relative);
  void Write(std::string_view relative, std::string_view bytes);
  testing::MemoryPlatform& platform() { return *platform_; }

 private:
  std::unique_ptr<testing::MemoryPlatform> platform_;
  ScopedPlatform installed_;
};

// Installs the program's formats, once per process.
void InstallFormatsOnce();

// How many messages a harness reads at most, so that a header claiming
// millions costs no more than a few.
inline constexpr std::int32_t kMaxMessagesRead = 64;

// Opens `spec` through OpenBase and works it as a program would: reads
// numbers 1..Count (bounded) and the invalid numbers around them, writes
// one message at Count + 1 (the last one read, else a made-up one),
// deletes message `delete_pick` mod Count + 1, then closes the base and
// opens and reads it once more. `packet` also reads the packet header.
//
// One message added to a base made of `input_size` bytes must not make
// the files on `disk` much larger than both together: a write that
// trusts an offset from a damaged header would fill the disk. That is
// checked after the write (Require).
void ExerciseBase(MemoryDisk& disk, std::string_view spec, std::size_t input_size,
                  std::uint8_t delete_pick, bool packet);

}  // namespace qlr::fuzz

namespace qlr::fuzz {

// For the few properties a harness can check without judging the reader:
// prints `what` and aborts, which both libFuzzer and the test suite
// report as a failure.
void Require(bool holds, const char* what);

}  // namespace qlr::fuzz
