#include "msgbase/jam/jam_format.h"

#include <array>
#include <string_view>

namespace qlr {
namespace {

// Header, text and index, in the order they are handled. The last-read
// file (.jlr) belongs to the readers, not to the base.
constexpr std::array<std::string_view, 3> kExtensions = {".jhr", ".jdt", ".jdx"};

}  // namespace

const FormatDescriptor& JamFormat() {
  static const FormatDescriptor kFormat{
      .name = "JAM",
      .type_characters = "!J",
      .layout = FileLayout::kFileSet,
      .extensions = kExtensions,
      .message_mask = {},
      .open_rule = OpenRule::kCreateThenOpen,
      .open_extension = {},
      .lock_extension = ".jhr",
      // No JAM base object in this build yet: such a base cannot be opened
      // or emptied, but its files can be copied.
      .construct = nullptr,
      .erase = nullptr,
  };
  return kFormat;
}

}  // namespace qlr
