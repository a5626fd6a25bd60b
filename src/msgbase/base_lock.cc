#include "msgbase/base_lock.h"

#include "msgbase/format_registry.h"
#include "msgbase/open_base.h"
#include "util/file_name_case.h"

namespace qlr {

bool BaseLock::Acquire(std::string_view spec, int timeout_ms) {
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  busy_ = false;
  // A base whose lock file cannot be named whole is not one to write.
  if (parsed.too_long) return true;
  if (parsed.format == nullptr) return false;  // nothing known, nothing to lock
  return Acquire(*parsed.format, BaseLocation(*parsed.format, parsed.path), timeout_ms);
}

bool BaseLock::Acquire(const FormatDescriptor& format, std::string_view location, int timeout_ms) {
  busy_ = false;
  if (format.lock_extension.empty()) {
    lock_file_ = ShortString();
    return false;
  }
  // The writers lock the file under the name it really has (AREA.JHR moved
  // from DOS), and so must we: another name would be another, unlocked file
  // on a case-sensitive system.
  lock_file_ = ResolveFileNameCase(ShortString(location) + format.lock_extension);
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
