#include "msgbase/jam/jam_format.h"

#include "msgbase/copy_manifest.h"
#include "msgbase/erase_in_place.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/jam/jam_check.h"
#include "msgbase/open_contract.h"

#include <array>
#include <memory>
#include <string_view>

namespace qlr {
namespace {

Status EraseJam(std::string_view location, const CopyManifest* copied,
                std::unique_ptr<MessageBase>* emptied) {
  return EraseInPlace<JamBase>(JamFormat(), location, copied, emptied);
}

Status OpenJam(std::string_view location, std::unique_ptr<MessageBase>* base) {
  return OpenKeyedFileSet<JamBase>(JamFormat(), location, base);
}

OpenCourse ForeseeJam(std::string_view location) {
  return ForeseeKeyedFileSet(JamFormat(), location);
}

}  // namespace

const FormatDescriptor& JamFormat() {
  static const FormatDescriptor kFormat{
      .name = "JAM",
      .type_characters = "!J",
      .layout = FileLayout::kFileSet,
      // The files of a base, in the order they are handled, as the base
      // class names them: the one list of them. The last-read file
      // (.jlr) belongs to the readers, not to the base.
      .extensions = JamBase::kExtensions,
      .message_mask = {},
      .lock_extension = ".jhr",
      .open = &OpenJam,
      .foresee = &ForeseeJam,
      .erase = &EraseJam,
      .check = &CheckJamBase,
  };
  return kFormat;
}

}  // namespace qlr
