#include "msgbase/squish/squish_format.h"

#include "msgbase/copy_manifest.h"
#include "msgbase/file_set_check.h"
#include "msgbase/squish/squish_base.h"
#include "msgbase/squish/squish_check.h"

#include <array>
#include <memory>
#include <string_view>

namespace qlr {
namespace {

// Data, then index. The last-read file (.sql) belongs to the readers.
constexpr std::array<std::string_view, 2> kExtensions = {".sqd", ".sqi"};

// Empties the base in place after a complete copy. Every writer of a Squish
// base locks its .sqd first, and the rotation holds that lock from
// before its copy until now; a file that changed all the same (a program
// that ignores the lock) is not truncated: the copy would not hold it.
std::unique_ptr<MessageBase> EraseSquish(std::string_view location, const CopyManifest* copied) {
  if (!FileSetUnchangedSinceCopy(SquishFormat(), location, copied)) return nullptr;
  auto base = std::make_unique<SquishBase>();
  if (base->EmptyInPlace(location) || base->State() != BaseState::kCreated) return nullptr;
  return base;
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
