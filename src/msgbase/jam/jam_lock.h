// The write lock of a JAM base: programs that write a base first lock the
// first byte of its ".jhr" file, and wait while another program holds it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "platform/platform.h"

namespace qlr {

class JamBaseLock {
 public:
  // How long one wait between two attempts lasts.
  static constexpr int kRetryStepMs = 50;

  JamBaseLock() = default;
  ~JamBaseLock() { Release(); }
  JamBaseLock(const JamBaseLock&) = delete;
  JamBaseLock& operator=(const JamBaseLock&) = delete;

  // Locks byte 0 of `header_file`, trying again every kRetryStepMs while
  // another holder has it, for at most `timeout_ms` in all (0: one try).
  // True on FAILURE: the file cannot be opened, the system has no locks,
  // or the byte stayed locked. Acquiring while held does nothing.
  //
  // The lock lives on a handle of its own that is kept until Release: the
  // lock belongs to that open file, and closing it is what frees it.
  [[nodiscard]] bool Acquire(std::string_view header_file, int timeout_ms);
  void Release();
  bool Held() const { return handle_ != nullptr; }
  // Why the last Acquire, ReadAt, WriteAt or Sync failed.
  const Status& LastError() const { return last_error_; }

  // The handle that holds the lock also reads and writes the base header
  // at offset 0: where locks are mandatory (Windows) no other handle may
  // touch the locked byte, and a positional read through it sees what is
  // on disk now, not what a stream's buffer kept. True on FAILURE: no lock
  // is held, the call failed, or fewer than all bytes were transferred.
  [[nodiscard]] bool ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes);
  [[nodiscard]] bool WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  [[nodiscard]] bool Sync();
  // Cuts the locked file to `size` bytes through the same handle.
  [[nodiscard]] bool Truncate(std::uint64_t size);

 private:
  std::unique_ptr<FileHandle> handle_;
  Status last_error_;
};

}  // namespace qlr
