// Opening a base by its reference, or by the text that names it (see
// base_reference.h for how a base is named).
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "msgbase/base_reference.h"
#include "msgbase/format_registry.h"
#include "msgbase/message_base.h"
#include "platform/status.h"

namespace qlr {

// What OpenBase would do with the base, told without opening or creating
// anything (kNotOpened: the base line names no format this build can
// open).
OpenCourse ForeseeOpenBase(const BaseReference& base);
OpenCourse ForeseeOpenBase(std::string_view spec);
// The directory OpenBase makes for a missing base (of a known format).
std::string BaseDirectoryOf(const BaseReference& base);

// Opens the base into *base, creating it when it is missing, by
// its format's Open contract (see BaseOpener). On failure *base is null
// and the kind says what the caller faces:
//   kCorruption       the base may be there but cannot be read, so its
//                     messages cannot be counted
//   kInvalidArgument  the base line is empty or names no format this build
//                     can open
//   any other         the base is missing and could not be made
// The path and detail are the reason, both empty when none was given
// (see HasReason); a path the file system cannot take fails with the
// platform's reason.
Status OpenBase(const BaseReference& reference, std::unique_ptr<MessageBase>* base);
// The same for the text that names a base, parsed first.
Status OpenBase(std::string_view spec, std::unique_ptr<MessageBase>* base);
// The same for callers that need no reason: null on failure.
std::unique_ptr<MessageBase> OpenBase(std::string_view spec);

// Whether a failure carries a reason to show (a format may refuse a base
// without saying why).
inline bool HasReason(const Status& status) {
  return !status.path().empty() || !status.detail().empty();
}

}  // namespace qlr
