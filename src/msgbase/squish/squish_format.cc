#include "msgbase/squish/squish_format.h"

#include "msgbase/copy_manifest.h"
#include "msgbase/erase_in_place.h"
#include "msgbase/open_contract.h"
#include "msgbase/squish/squish_base.h"
#include "msgbase/squish/squish_check.h"

#include <array>
#include <memory>
#include <string_view>

namespace qlr {
namespace {

Status EraseSquish(std::string_view location, const CopyManifest* copied,
                   std::unique_ptr<MessageBase>* emptied) {
  return EraseInPlace<SquishBase>(SquishFormat(), location, copied, emptied);
}

Status OpenSquish(std::string_view location, std::unique_ptr<MessageBase>* base) {
  return OpenKeyedFileSet<SquishBase>(SquishFormat(), location, base);
}

OpenCourse ForeseeSquish(std::string_view location) {
  return ForeseeKeyedFileSet(SquishFormat(), location);
}

}  // namespace

const FormatDescriptor& SquishFormat() {
  static const FormatDescriptor kFormat{
      .name = "Squish",
      .type_characters = "$S",
      .layout = FileLayout::kFileSet,
      // The files of a base, in the order they are handled, as the base
      // class names them: the one list of them. The last-read file
      // (.sql) belongs to the readers, not to the base.
      .extensions = SquishBase::kExtensions,
      .message_mask = {},
      .lock_extension = ".sqd",
      .open = &OpenSquish,
      .foresee = &ForeseeSquish,
      .erase = &EraseSquish,
      .check = &CheckSquishBase,
  };
  return kFormat;
}

}  // namespace qlr
