// The erase of a format whose files are emptied in place (JAM, Squish).
// Every writer of such a base locks it first, and the rotation holds that
// lock from before its copy until now; a file that changed all the same (a
// program that ignores the lock) is not truncated, since the copy would
// not hold it.
#pragma once

#include <memory>
#include <string_view>
#include <utility>

#include "msgbase/copy_manifest.h"
#include "msgbase/file_set_check.h"
#include "msgbase/format_registry.h"
#include "msgbase/message_base.h"

namespace qlr {

// `Base` has EmptyInPlace(location), true on failure with LastError set.
template <class Base>
Status EraseInPlace(const FormatDescriptor& format, std::string_view location,
                    const CopyManifest* copied, std::unique_ptr<MessageBase>* emptied) {
  Status why;
  if (!FileSetUnchangedSinceCopy(format, location, copied, &why)) return why;
  auto base = std::make_unique<Base>();
  if (base->EmptyInPlace(location) || base->State() != BaseState::kCreated) {
    return base->LastError().ok() ? Status(StatusKind::kIoError, location, "cannot be emptied")
                                  : base->LastError();
  }
  if (emptied != nullptr) *emptied = std::move(base);
  return Status::Ok();
}

}  // namespace qlr
