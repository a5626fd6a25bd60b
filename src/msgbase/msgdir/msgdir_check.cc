#include "msgbase/msgdir/msgdir_check.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "msgbase/msgdir/msgdir_base.h"
#include "platform/platform.h"

namespace qlr {
namespace {

// The number a message file's name stands for: decimal digits without a
// leading zero before one dot and the extension, 1 to 2147483647. Any
// other name matching the mask counts for the highest number (a writer
// would skip it) but is never read as the message it seems to be.
std::optional<std::int64_t> NumberOfName(std::string_view name) {
  const std::size_t dot = name.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot > 10) return std::nullopt;
  if (name.find('.', dot + 1) != std::string_view::npos || name[0] == '0') return std::nullopt;
  std::int64_t value = 0;
  for (const char c : name.substr(0, dot)) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return value;
}

}  // namespace

CheckReport CheckMsgDir(std::string_view location) {
  CheckReport report;
  std::vector<DirEntry> entries;
  if (const Status listed = Os().ListDirectory(location, kMsgFileMask, &entries); !listed) {
    report.Add(0, "the directory cannot be listed: " + listed.ToString());
    return report;
  }
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  for (const DirEntry& entry : entries) {
    const std::optional<std::int64_t> number = NumberOfName(entry.name);
    if (!number) {
      report.Add(0, entry.name + ": the name is not a message number");
      continue;
    }
    const Result<FileStatus> status = Os().Stat(std::string(location) + entry.name);
    if (!status) {
      report.Add(*number, entry.name + " cannot be examined: " + status.status().ToString());
    } else if (!status->is_regular) {
      report.Add(*number, entry.name + " is not a regular file");
    } else if (status->size < StoredMsgHeader::kEncodedSize) {
      report.Add(*number, entry.name + " is too short for a message header (" +
                              std::to_string(status->size) + " of " +
                              std::to_string(StoredMsgHeader::kEncodedSize) + " bytes)");
    } else {
      ++report.messages;
    }
  }
  return report;
}

}  // namespace qlr
