// The writers' lock of a base, held by a rotation from before its copy
// until its erase is done, so that no tosser or editor can add a message
// in between that the erase would then take away uncopied.
//
// Formats that have a lock convention name its file in their descriptor
// (`lock_extension`: the first byte of ".jhr" for JAM, of ".sqd" for
// Squish); the others (packets, *.MSG directories) have none, and then
// there is nothing to hold.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/locked_file_route.h"

#include "platform/status.h"
#include "util/files.h"

namespace qlr {

struct BaseReference;
struct FormatDescriptor;

class BaseLock {
 public:
  // How long a rotation waits for a writer to finish.
  static constexpr int kWaitMs = 5000;

  // Takes the lock of the base, waiting up to `timeout_ms` while another
  // program holds it. True on FAILURE: the lock file could not be opened,
  // or it stayed locked (Busy() tells). Success without holding anything
  // for an unknown format or one without a lock convention, and on a
  // system without byte-range locks.
  [[nodiscard]] bool Acquire(const BaseReference& base, int timeout_ms = kWaitMs);
  // The same for a base of a known format at `location` (BaseLocation).
  [[nodiscard]] bool Acquire(const FormatDescriptor& format, std::string_view location,
                             int timeout_ms = kWaitMs);
  // While the lock is held, every open of the lock file in this process
  // is a view of the handle that holds it (see LockedFileRoute): on
  // Windows, which enforces locks, the copy and the erase could not read
  // or write the file otherwise.
  void Release() {
    route_.reset();
    lock_.Release();
  }
  bool Held() const { return lock_.Held(); }
  // After a failed Acquire: another program kept the lock all along.
  bool Busy() const { return busy_; }
  // The file whose first byte is (or was to be) locked; empty when the
  // format has none.
  const std::string& LockFile() const { return lock_file_; }
  // Why the last Acquire failed.
  const Status& LastError() const { return lock_.LastError(); }

 private:
  FileByteLock lock_;
  std::unique_ptr<LockedFileRoute> route_;  // destroyed before the lock
  std::string lock_file_;
  bool busy_ = false;
};

}  // namespace qlr
