#include "msgbase/jam/jam_format.h"

#include "msgbase/copy_manifest.h"
#include "msgbase/file_set_check.h"
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

// Empties the base in place after a complete copy. Every writer of a JAM
// base locks its .jhr first, and the rotation holds that lock from
// before its copy until now; a file that changed all the same (a program
// that ignores the lock) is not truncated: the copy would not hold it.
std::unique_ptr<MessageBase> EraseJam(std::string_view location, const CopyManifest* copied) {
  if (!FileSetUnchangedSinceCopy(JamFormat(), location, copied)) return nullptr;
  auto base = std::make_unique<JamBase>();
  if (base->EmptyInPlace(location) || base->State() != BaseState::kCreated) return nullptr;
  return base;
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
