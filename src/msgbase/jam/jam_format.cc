#include "msgbase/jam/jam_format.h"

#include "msgbase/copy_manifest.h"
#include "msgbase/erase_in_place.h"
#include "msgbase/jam/jam_base.h"
#include "msgbase/jam/jam_check.h"

#include <array>
#include <memory>
#include <string_view>

namespace qlr {
namespace {

// Header, text and index, in the order they are handled. The last-read
// file (.jlr) belongs to the readers, not to the base.
constexpr std::array<std::string_view, 3> kExtensions = {".jhr", ".jdt", ".jdx"};

std::unique_ptr<MessageBase> EraseJam(std::string_view location, const CopyManifest* copied,
                                      Status* why) {
  return EraseInPlace<JamBase>(JamFormat(), location, copied, why);
}

std::unique_ptr<MessageBase> NewJamBase() { return std::make_unique<JamBase>(); }

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
      .construct = &NewJamBase,
      .erase = &EraseJam,
      .check = &CheckJamBase,
  };
  return kFormat;
}

}  // namespace qlr
