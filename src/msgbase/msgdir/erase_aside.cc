#include "msgbase/msgdir/erase_aside.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/platform.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

constexpr std::string_view kMessageExtension = ".msg";
constexpr std::string_view kAsideExtension = ".qlr";

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  const std::string_view tail = text.substr(text.size() - end.size());
  for (std::size_t i = 0; i < end.size(); ++i) {
    if (UpCaseChar(tail[i]) != UpCaseChar(end[i])) return false;
  }
  return true;
}

std::string WithExtension(std::string_view path, std::string_view extension) {
  return std::string(path.substr(0, path.size() - extension.size())) + std::string(extension);
}

}  // namespace

bool HasAsideName(std::string_view message_file) {
  return EndsWithNoCase(message_file, kMessageExtension);
}

std::string AsideNameOf(std::string_view message_file) {
  return WithExtension(message_file, kAsideExtension);
}

// On a system that ignores case the message name comes back as "N.msg"
// whatever case it had, which names the same file there.
std::string MessageNameOf(std::string_view aside_file) {
  return WithExtension(aside_file, kMessageExtension);
}

namespace {

// The number of a message file name "N.msg" (any case); 0 for any other.
std::uint64_t MessageNumberOf(std::string_view name) {
  if (!HasAsideName(name) || name.size() == kMessageExtension.size()) return 0;
  std::uint64_t number = 0;
  for (char c : name.substr(0, name.size() - kMessageExtension.size())) {
    if (c < '0' || c > '9' || number > 0xFFFFFFFFu) return 0;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return number;
}

// Numbers tried above the highest before giving up: writers racing for
// the same numbers move this one up each time.
constexpr std::uint64_t kFreeNumberAttempts = 64;
constexpr std::uint64_t kHighestNumber = 0x7FFFFFFF;

}  // namespace

std::optional<std::string> KeepUnderFreeNumber(const std::string& base_directory,
                                               const std::string& aside_file,
                                               std::string_view taken_name) {
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(base_directory, "*.*", &entries)) return std::nullopt;
  std::uint64_t highest = 0;
  for (const DirEntry& entry : entries) highest = std::max(highest, MessageNumberOf(entry.name));
  for (std::uint64_t k = 1; k <= kFreeNumberAttempts && highest + k <= kHighestNumber; ++k) {
    const std::string name = std::to_string(highest + k) + std::string(kMessageExtension);
    const std::string path = base_directory + name;
    const Status renamed = Os().RenameNoReplace(aside_file, path);
    if (renamed) {
      // Said where the run's causes go, in their form.
      WriteStderr("qlr: [" + std::string(taken_name) +
                  "] was written anew during the erase; the version it replaced is kept as [" +
                  path + "]\r\n");
      return path;
    }
    if (renamed.kind() != StatusKind::kBusy) return std::nullopt;
  }
  return std::nullopt;
}

bool PutBackLeftovers(const std::string& base_directory) {
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(base_directory, kAsideMask, &entries)) return true;
  bool stays = false;
  for (const DirEntry& entry : entries) {
    if ((entry.attributes & kAttrDirectory) != 0) continue;
    const std::string leftover = base_directory + entry.name;
    // Never over a file of the same name: that is a message written since.
    const std::string message = MessageNameOf(leftover);
    const Status renamed = Os().RenameNoReplace(leftover, message);
    if (renamed) continue;
    const StatusKind why = renamed.kind();
    if (why == StatusKind::kNotFound) continue;
    if (why != StatusKind::kBusy || !KeepUnderFreeNumber(base_directory, leftover, message)) {
      stays = true;
    }
  }
  return stays;
}

}  // namespace qlr
