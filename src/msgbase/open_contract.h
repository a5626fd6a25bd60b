// The steps the formats' openers share to keep the Open contract (see
// BaseOpener in format_registry.h).
#pragma once

#include <memory>
#include <string_view>
#include <utility>

#include "msgbase/format_registry.h"
#include "msgbase/message_base.h"
#include "platform/status.h"

namespace qlr {

// Whether the first file of a file-set base (its key file) exists.
bool KeyFileExists(const FormatDescriptor& format, std::string_view location);

// The base's key file is gone but others of its set are there (a .jdt
// full of texts beside a missing .jhr): making the base anew would
// truncate them before any copy of their messages exists.
bool KeyFileLost(const FormatDescriptor& format, std::string_view location);

// The contract's verdict on `made` after its format's Open or Create,
// `failed` being what the last of them returned: a base refused in state
// OpenError is unusable (kCorruption); any other failure, or a success
// that left the base closed (its directory could not be made), is a base
// that could not be made. On success `made` moves to *base.
Status ConcludeOpen(std::unique_ptr<MessageBase> made, bool failed,
                    std::unique_ptr<MessageBase>* base);

// The verdict for a file set whose key file is lost: refused, untouched.
Status KeyFileLostStatus();

// The contract for a file set whose Create makes (and truncates) every
// file of the set, as JAM and Squish do: a base without its key file is
// made anew unless others of its files are there, then opened.
template <class Base>
Status OpenKeyedFileSet(const FormatDescriptor& format, std::string_view location,
                        std::unique_ptr<MessageBase>* base) {
  base->reset();
  auto made = std::make_unique<Base>();
  if (!KeyFileExists(format, location)) {
    if (KeyFileLost(format, location)) return KeyFileLostStatus();
    // Only the last call decides: Open reports what Create left.
    (void)made->Create(location);
  }
  const bool failed = made->Open(location);
  return ConcludeOpen(std::move(made), failed, base);
}
OpenCourse ForeseeKeyedFileSet(const FormatDescriptor& format, std::string_view location);

}  // namespace qlr
