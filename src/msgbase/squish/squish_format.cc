#include "msgbase/squish/squish_format.h"

#include <array>
#include <string_view>

namespace qlr {
namespace {

// Data, then index. The last-read file (.sql) belongs to the readers.
constexpr std::array<std::string_view, 2> kExtensions = {".sqd", ".sqi"};

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
      // No Squish base object in this build yet: such a base cannot be
      // opened or emptied, but its files can be copied.
      .construct = nullptr,
      .erase = nullptr,
  };
  return kFormat;
}

}  // namespace qlr
