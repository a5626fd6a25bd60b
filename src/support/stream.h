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
// Beside the status code every stream keeps a `LastError` saying why, with
// the path of the file: the platform's reason when the operating system
// failed (kNotFound, kNoSpace, ...), and the stream's own for the failures
// it detects itself. A read past the end is kIoError "read error: N bytes
// wanted at position P, M available": the stream cannot know whether the
// file is damaged or merely shorter than the caller assumed; a format that
// knows turns it into corruption of its own. ClearError clears both.
//
// Files past 2 GiB. Positions and sizes are signed 32-bit: that is the
// interface every format is written against, and it stays so. JAM offsets
// are unsigned 32-bit and could point beyond 2^31-1, but a stream never
// addresses such a byte: nothing is read or written beyond 2^31-1 (the
// operation fails with kInvalidArgument, it never wraps), and Size of a
// larger file reports -1 with kStreamOsError and the LastError
// kInvalidArgument "file larger than 2 GiB". A format that must reach that
// range reads through the positional FileHandle::ReadAt instead, or refuses
// the base with that clear error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace qlr {

inline constexpr std::int32_t kStreamOk = 0;
inline constexpr std::int32_t kStreamOsError = -1;
inline constexpr std::int32_t kStreamInitError = -2;
inline constexpr std::int32_t kStreamReadError = -3;
inline constexpr std::int32_t kStreamWriteError = -4;

// Why ReadUntil stopped.
enum class ReadStop {
  kDelimiter,  // a delimiter was read; it is the last byte appended
  kLimit,      // `max` bytes were read, none of them a delimiter
  kEnd,        // the data ended first; everything up to the end was read
  kError,      // an error is latched; nothing was read
};

// No limit for ReadUntil beyond the data itself.
inline constexpr std::size_t kReadAll = static_cast<std::size_t>(-1);

class Stream {
 public:
  virtual ~Stream() = default;

  // The member function `Status` hides the type of the same name, so the
  // type is always written qualified in this class.
  std::int32_t Status() const { return status_; }
  std::int32_t ErrorDetail() const { return error_detail_; }
  bool Ok() const { return status_ == kStreamOk; }
  // Why the latched error happened; ok while Status is 0.
  const ::qlr::Status& LastError() const { return last_error_; }

  // Latches `code`; LastError then only names the kind of failure, since
  // the caller gave no reason.
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

  // Scans forward from the position for the first byte that is one of
  // `delimiters`, reading at most `max` bytes, and appends the bytes read
  // (the delimiter included) to *out; a null `out` skips them. An empty
  // set reads up to `max` bytes, fewer only at the end of the data. The
  // position advances by the bytes read.
  //
  // Unlike Read this is not all or nothing, and reaching the end of the
  // data is one of its normal outcomes (kEnd), not an error: nothing
  // latches, and a caller that needs the delimiter (a NUL-terminated
  // string) makes kEnd its own failure. A position at or beyond the end
  // gives kEnd at once. With an error already latched it returns kError
  // and appends nothing. When an operation fails on the way (the file
  // cannot be read, data beyond 2^31-1) the error latches and, as with
  // Read, nothing is appended and the position stays where it was.
  //
  //   stream.ReadUntil('\r', &line, kReadAll);  // a line of message text
  //   stream.ReadUntil('\0', &name, 36);        // a bounded NUL-terminated string
  //   stream.ReadUpTo(&chunk, 32768);           // the next piece of a scan
  //
  // The default reads through Read and Seek; the streams here scan their
  // buffer in place.
  virtual ReadStop ReadUntilAny(std::string_view delimiters, std::string* out, std::size_t max);
  ReadStop ReadUntil(char delimiter, std::string* out, std::size_t max) {
    return ReadUntilAny(std::string_view(&delimiter, 1), out, max);
  }
  // Up to `max` bytes, fewer only at the end of the data (kEnd then).
  ReadStop ReadUpTo(std::string* out, std::size_t max) { return ReadUntilAny({}, out, max); }

  // Copies n bytes from source's position to this stream's position in
  // pieces of at most 16384 bytes; errors latch where they happen.
  void CopyFromStream(Stream& source, std::int32_t n);

 protected:
  // Latches `code` (detail 0) with the reason `why`.
  void Fail(std::int32_t code, ::qlr::Status why);
  // The reasons the streams give for the failures they detect themselves.
  static ::qlr::Status ShortRead(std::string_view path, std::size_t wanted, std::uint64_t position,
                                 std::uint64_t available);
  static ::qlr::Status BeyondLimit(std::string_view path, std::string_view operation, std::size_t n,
                                   std::uint64_t position);

 private:
  std::int32_t status_ = kStreamOk;
  std::int32_t error_detail_ = 0;
  ::qlr::Status last_error_;
};

// Index of the first byte of data[0, n) that is one of `delimiters`; n
// when there is none.
std::size_t FindAnyOf(const char* data, std::size_t n, std::string_view delimiters);

// The three ways the program opens files (DOS open-mode words kept as
// names for the reader of the formats).
enum class FileMode {
  kCreate,     // 0x3C00: new or truncated, read and write, shared
  kOpenRead,   // 0x3D40: existing, read only, deny none
  kOpenWrite,  // 0x3D42: existing, read and write, deny none
  kCreateNew,  // a new file only (OpenMode::kCreateNew), read and write
};

inline constexpr std::size_t kDefaultFileBuffer = 4096;

// A stream over one file through a buffer of fixed size (0: unbuffered).
// A file that cannot be opened leaves the stream with kStreamInitError; it
// is still usable in the inert way, and after ClearError every operation
// fails again with kStreamOsError because there is no file; LastError
// holds the platform's reason for the failed open (kNotFound and the path,
// for instance). Buffered data is written out before Size, Seek, Truncate,
// Close and destruction.
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
  ReadStop ReadUntilAny(std::string_view delimiters, std::string* out, std::size_t max) override;
  // Writes out the buffer and flushes the file to stable storage. True on
  // failure (also when an error was already latched); a failure latches
  // kStreamOsError.
  [[nodiscard]] bool SyncToDisk();
  // Writes out the buffer and closes the file, reporting the late errors
  // that only closing reveals. True on failure, also when an error was
  // latched earlier: a writer that ends with Close learns of every failure
  // of the stream's life. Afterwards the stream has no file, as after a
  // failed open. The destructor closes too, but cannot report.
  [[nodiscard]] bool Close();

 private:
  // Latches `code` with the reason the last failed file call left.
  void FailFile(std::int32_t code);
  // Latches kStreamOsError for an operation on a stream without a file.
  void FailNoFile();

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
  ReadStop ReadUntilAny(std::string_view delimiters, std::string* out, std::size_t max) override;

 private:
  std::size_t block_size_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t size_ = 0;
  std::size_t position_ = 0;
};

// Why `stream` failed: its own reason, with `path` where that names no
// file, or `what` about `path` when it gives none.
::qlr::Status StreamFailure(const Stream& stream, std::string_view path, std::string_view what);

}  // namespace qlr
