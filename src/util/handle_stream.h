// A stream over a file handle that someone else owns, without a buffer.
//
// The writers of a Squish base or of a packet work through the handle
// that holds the base's lock: where locks are mandatory no other handle
// may touch the locked byte, and only a read that goes to the file sees
// what another program wrote a moment ago. Every call here is one positional call of
// the handle, so nothing is ever cached.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "support/stream.h"

namespace qlr {

class HandleStream final : public Stream {
 public:
  HandleStream(FileHandle& file, std::string_view path) : file_(file), path_(path) {}

  std::int32_t Position() override;
  std::int32_t Size() override;
  void Read(void* buffer, std::size_t n) override;
  void Seek(std::int32_t position) override;
  void Truncate() override;
  void Write(const void* buffer, std::size_t n) override;
  // Makes the file durable. True on failure (also with an error latched).
  [[nodiscard]] bool Sync();

 private:
  FileHandle& file_;
  std::string path_;
  std::uint64_t position_ = 0;
};

}  // namespace qlr
