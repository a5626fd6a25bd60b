#include "msgbase/msgdir/msgdir_base.h"

#include <limits>
#include <vector>

#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

const CharSet kDot(".");

// The number a message file name stands for: its first dot-separated word
// as a decimal number; names that are not numbers count as 0.
std::int64_t NumberOfName(std::string_view file_name) {
  return StrToLong(ExtractWord(1, file_name, kDot));
}

}  // namespace

ShortString MsgDirBase::BaseDirectory() const { return AddBackslash(JustPathName(path_)); }

ShortString MsgDirBase::MsgFileName(std::int32_t number) const {
  const ShortString extension = JustExtension(JustFileName(path_));
  return BaseDirectory() + LongToStr(number) + "." + extension;
}

std::int64_t MsgDirBase::HighestNumber() const {
  std::int64_t high = 0;
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(BaseDirectory(), JustFileName(path_), &entries)) return 0;
  // Every matching entry counts, subdirectories included: a directory
  // named 5.msg still blocks number 5 for a new message.
  for (const DirEntry& entry : entries) {
    const std::int64_t value = NumberOfName(entry.name);
    if (value > high) high = value;
  }
  return high;
}

ShortString MsgDirBase::NextMsgFileName() const {
  if (!DirExists(BaseDirectory())) return ShortString();
  const ShortString extension = JustExtension(JustFileName(path_));
  // Computed in 64 bits: a file 2147483647.msg must not wrap to a negative
  // next number.
  const std::int64_t next = HighestNumber() + 1;
  return BaseDirectory() + std::to_string(next) + "." + extension;
}

void MsgDirBase::Rescan() {
  // Count is the highest number present (gaps allowed), 0 for an empty or
  // missing directory. A path that was never set (the directory could not
  // be made for a new object) counts 0 as well.
  if (path_.empty() || !DirExists(BaseDirectory())) {
    count_ = 0;
    return;
  }
  const std::int64_t high = HighestNumber();
  count_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(high, std::numeric_limits<std::int32_t>::max()));
}

bool MsgDirBase::Open(std::string_view path) {
  (void)MessageBase::Open(path);
  Rescan();
  return false;
}

bool MsgDirBase::Create(std::string_view path) {
  (void)MessageBase::Create(path);
  Rescan();
  return false;
}

bool MsgDirBase::IsValidMsg(std::int32_t number) {
  if (number < 1) return false;
  return FileExists(MsgFileName(number));
}

}  // namespace qlr
