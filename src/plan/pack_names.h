// The names a pack uses in a target directory, and the archiver command
// it hands the interpreter. The run makes them; the preview of a run
// forms them the same way without making anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/short_string.h"

namespace qlr {

// The private directories an archive is made in: this prefix and eight
// hex digits, a name no rotation ever has.
inline constexpr std::string_view kPackingPrefix = "qlr-packing.";
// Private directories tried before giving up: more than any run leaves.
inline constexpr std::uint32_t kPackingAttempts = 4096;

// The name of the k-th private directory a pack may use in `target_dir`.
std::string PackingPlaceName(std::string_view target_dir, std::uint32_t k);

// The interpreter's command tail of a pack: " /C " and Arc.Add with
// @ArcName and @FileName replaced. Nothing when the command had to be cut
// to fit 255 characters: a cut command may archive the wrong files and
// still exit 0.
std::optional<ShortString> ArchiverCommandTail(std::string_view arc_add,
                                               std::string_view archive_stem,
                                               std::string_view copy_name);
// The private directory a pack of a copy in `target_dir` would be made in
// now: the first of its names that nothing holds, once the run has
// removed its own leftovers (`owns_leftovers`: it holds the run lock).
std::string ForeseePackingPlace(std::string_view target_dir, bool owns_leftovers);

}  // namespace qlr
