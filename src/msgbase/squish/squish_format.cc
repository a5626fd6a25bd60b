#include "msgbase/squish/squish_format.h"

#include "msgbase/copy_manifest.h"
#include "msgbase/erase_in_place.h"
#include "msgbase/squish/squish_base.h"
#include "msgbase/squish/squish_check.h"

#include <array>
#include <memory>
#include <string_view>

namespace qlr {
namespace {

// Data, then index. The last-read file (.sql) belongs to the readers.
constexpr std::array<std::string_view, 2> kExtensions = {".sqd", ".sqi"};

std::unique_ptr<MessageBase> EraseSquish(std::string_view location, const CopyManifest* copied,
                                         Status* why) {
  return EraseInPlace<SquishBase>(SquishFormat(), location, copied, why);
}

std::unique_ptr<MessageBase> NewSquishBase() { return std::make_unique<SquishBase>(); }

}  // namespace

const FormatDescriptor& SquishFormat() {
  static const FormatDescriptor kFormat{
      .name = "Squish",
      .type_characters = "$S",
      .layout = FileLayout::kFileSet,
      .extensions = kExtensions,
      .message_mask = {},
      .open_rule = OpenRule::kCreateThenOpen,
      .open_extension = {},
      .lock_extension = ".sqd",
      .construct = &NewSquishBase,
      .erase = &EraseSquish,
      .check = &CheckSquishBase,
  };
  return kFormat;
}

}  // namespace qlr
