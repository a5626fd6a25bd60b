// Byte streams with a latched error status.
//
// Once `Status` is not 0 every operation is inert until ClearError: Read
// fills its whole destination with zeros and reads nothing, Write writes
// nothing, Seek and Truncate do nothing, Position and Size return -1. A
// read is all or nothing: when fewer than N bytes are available the stream
// latches kStreamReadError and the destination is all zeros. The message
// formats rely on this to detect short headers and reads past the end.
// A failed Read or Write leaves the position where it was.
//
// Positions and sizes are signed 32-bit: nothing is read or written beyond
// 2^31-1, and Size of a larger file reports -1 with kStreamOsError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qlr {

inline constexpr std::int32_t kStreamOk = 0;
inline constexpr std::int32_t kStreamOsError = -1;
inline constexpr std::int32_t kStreamInitError = -2;
inline constexpr std::int32_t kStreamReadError = -3;
inline constexpr std::int32_t kStreamWriteError = -4;

class Stream {
 public:
  virtual ~Stream() = default;

  std::int32_t Status() const { return status_; }
  std::int32_t ErrorDetail() const { return error_detail_; }
  bool Ok() const { return status_ == kStreamOk; }

  virtual void SetError(std::int32_t code, std::int32_t detail);
  void ClearError();

  // Writes out buffered data. Unlike the other operations it is not inert
  // while an error is latched: data a Write accepted is never dropped.
  virtual void Flush() {}
  virtual std::int32_t Position() = 0;
  virtual std::int32_t Size() = 0;
  virtual void Read(void* buffer, std::size_t n) = 0;
  // A negative position is taken as 0; beyond the end is allowed.
  virtual void Seek(std::int32_t position) = 0;
  // The data ends at the current position.
  virtual void Truncate() = 0;
  virtual void Write(const void* buffer, std::size_t n) = 0;

  // Copies n bytes from source's position to this stream's position in
  // pieces of at most 16384 bytes; errors latch where they happen.
  void CopyFromStream(Stream& source, std::int32_t n);

 private:
  std::int32_t status_ = kStreamOk;
  std::int32_t error_detail_ = 0;
};

// The three ways the program opens files (DOS open-mode words kept as
// names for the reader of the formats).
enum class FileMode {
  kCreate,     // 0x3C00: new or truncated, read and write, shared
  kOpenRead,   // 0x3D40: existing, read only, deny none
  kOpenWrite,  // 0x3D42: existing, read and write, deny none
};

inline constexpr std::size_t kDefaultFileBuffer = 4096;

// A stream over one file through a buffer of fixed size (0: unbuffered).
// A file that cannot be opened leaves the stream with kStreamInitError; it
// is still usable in the inert way, and after ClearError every operation
// fails again with kStreamOsError because there is no file. Buffered data
// is written out before Size, Seek, Truncate and destruction.
class BufferedFileStream : public Stream {
 public:
  BufferedFileStream(std::string_view file_name, FileMode mode,
                     std::size_t buffer_size = kDefaultFileBuffer);
  ~BufferedFileStream() override;  // flushes and closes

  void Flush() override;
  std::int32_t Position() override;
  std::int32_t Size() override;
  void Read(void* buffer, std::size_t n) override;
  void Seek(std::int32_t position) override;
  void Truncate() override;
  void Write(const void* buffer, std::size_t n) override;
  // Writes out the buffer and flushes the file to stable storage. True on
  // failure (also when an error was already latched); a failure latches
  // kStreamOsError.
  [[nodiscard]] bool SyncToDisk();

 private:
  // implementation-defined buffer state
  struct State;
  std::unique_ptr<State> state_;
};

// A stream over memory held in blocks (8192 bytes when 0 is given). It
// grows block by block without moving data; Truncate releases the blocks
// beyond the position. `limit` bytes are reserved at construction (the size
// stays 0); kStreamInitError when that memory cannot be had. Growing beyond
// the memory available fails like a short write (kStreamWriteError).
class MemoryStream : public Stream {
 public:
  explicit MemoryStream(std::size_t limit = 0, std::size_t block_size = 0);
  ~MemoryStream() override;

  std::int32_t Position() override;
  std::int32_t Size() override;
  void Read(void* buffer, std::size_t n) override;
  void Seek(std::int32_t position) override;
  void Truncate() override;
  void Write(const void* buffer, std::size_t n) override;

 private:
  std::size_t block_size_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t size_ = 0;
  std::size_t position_ = 0;
};

}  // namespace qlr
