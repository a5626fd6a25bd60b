#include "msgbase/base_lock.h"

#include "msgbase/base_reference.h"
#include "msgbase/file_set_check.h"
#include "msgbase/format_registry.h"

namespace qlr {

bool BaseLock::Acquire(const BaseReference& base, int timeout_ms) {
  busy_ = false;
  if (base.format == nullptr) return false;  // nothing known, nothing to lock
  return Acquire(*base.format, base.location, timeout_ms);
}

bool BaseLock::Acquire(const FormatDescriptor& format, std::string_view location, int timeout_ms) {
  busy_ = false;
  if (format.lock_extension.empty()) {
    lock_file_.clear();
    return false;
  }
  // The writers lock the file under the name it really has (AREA.JHR moved
  // from DOS), and so must we: another name would be another, unlocked file
  // on a case-sensitive system.
  lock_file_ = FileOfSet(location, format.lock_extension);
  switch (lock_.Acquire(lock_file_, /*create=*/false, timeout_ms)) {
    case FileByteLock::Outcome::kLocked:
      if (route_ == nullptr)
        route_ = std::make_unique<LockedFileRoute>(lock_file_, *lock_.Handle());
      return false;
    case FileByteLock::Outcome::kNoLocks:
      return false;
    case FileByteLock::Outcome::kBusy:
      busy_ = true;
      return true;
    case FileByteLock::Outcome::kFailed:
      return true;
  }
  return true;
}

}  // namespace qlr
