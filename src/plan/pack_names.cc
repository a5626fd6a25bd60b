#include "plan/pack_names.h"

#include "platform/platform.h"
#include "util/strings.h"
#include "util/template_expander.h"

namespace qlr {

std::string PackingPlaceName(std::string_view target_dir, std::uint32_t k) {
  return std::string(target_dir) + std::string(kPackingPrefix) + std::string(HexLong(k));
}

std::optional<ShortString> ArchiverCommandTail(std::string_view arc_add,
                                               std::string_view archive_stem,
                                               std::string_view copy_name) {
  constexpr std::string_view kSwitch = " /C ";
  if (kSwitch.size() + arc_add.size() > ShortString::kMax) return std::nullopt;
  ShortString tail = ShortString(kSwitch) + arc_add;
  TemplateExpander expander;
  expander.Define("@ArcName", archive_stem, false);
  expander.Define("@FileName", copy_name, false);
  expander.Expand(tail);
  // A full-length result cannot be told from one that was cut.
  if (tail.size() >= ShortString::kMax) return std::nullopt;
  return tail;
}

std::string ForeseePackingPlace(std::string_view target_dir, bool owns_leftovers) {
  for (std::uint32_t k = 0; k < kPackingAttempts; ++k) {
    const std::string path = PackingPlaceName(target_dir, k);
    const std::optional<FileStatus> status = Os().StatLink(path);
    if (!status) return path;
    // The run removes its own directories before it packs.
    if (owns_leftovers && !status->is_link && (status->attributes & kAttrDirectory) != 0) {
      return path;
    }
  }
  return PackingPlaceName(target_dir, kPackingAttempts);
}

}  // namespace qlr
