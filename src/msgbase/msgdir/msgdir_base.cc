#include "msgbase/msgdir/msgdir_base.h"

#include <algorithm>
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

std::string MsgDirBase::BaseDirectory() const { return AddBackslash(JustPathName(path_)); }

std::string MsgDirBase::MsgFileName(std::int32_t number) const {
  const std::string extension = JustExtension(JustFileName(path_));
  return BaseDirectory() + std::string(LongToStr(number)) + "." + extension;
}

namespace {

// A symbolic link is no message, whatever it names: whoever can write the
// area can plant one. (A subdirectory named like a message counts like
// one, as the other programs of the area count it.)
bool IsMessageEntry(const DirEntry& entry) { return !entry.is_link; }

}  // namespace

std::optional<std::int64_t> MsgDirBase::HighestNumber(bool messages_only) const {
  std::int64_t high = 0;
  std::vector<DirEntry> entries;
  if (!Os().ListDirectory(BaseDirectory(), JustFileName(path_), &entries)) return std::nullopt;
  // Unless only messages count, every matching entry does, links
  // included: a link named 5.msg still blocks number 5 for a new message,
  // and so does a directory.
  for (const DirEntry& entry : entries) {
    if (messages_only && !IsMessageEntry(entry)) continue;
    const std::int64_t value = NumberOfName(entry.name);
    if (value > high) high = value;
  }
  return high;
}

std::vector<std::int32_t> MsgDirBase::MessageNumbers() const {
  std::optional<std::vector<std::int32_t>> present = PresentNumbers();
  if (!present) return MessageBase::MessageNumbers();
  std::vector<std::int32_t>& numbers = *present;
  numbers.erase(std::upper_bound(numbers.begin(), numbers.end(), count_), numbers.end());
  return numbers;
}

std::optional<std::vector<std::int32_t>> MsgDirBase::PresentNumbers() const {
  std::vector<DirEntry> entries;
  if (path_.empty() || !Os().ListDirectory(BaseDirectory(), JustFileName(path_), &entries)) {
    return std::nullopt;
  }
  std::vector<std::int32_t> numbers;
  for (const DirEntry& entry : entries) {
    if (!IsMessageEntry(entry)) continue;
    const std::int64_t value = NumberOfName(entry.name);
    if (value >= 1 && value <= std::numeric_limits<std::int32_t>::max()) {
      numbers.push_back(static_cast<std::int32_t>(value));
    }
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  return numbers;
}

std::string MsgDirBase::NextMsgFileName() const {
  if (!DirExists(BaseDirectory())) return std::string();
  const std::string extension = JustExtension(JustFileName(path_));
  // A name guessed without the listing could be that of a message present.
  const std::optional<std::int64_t> high = HighestNumber();
  if (!high) return std::string();
  // Computed in 64 bits: a file 2147483647.msg must not wrap to a negative
  // next number.
  return BaseDirectory() + std::to_string(*high + 1) + "." + extension;
}

bool MsgDirBase::Rescan() {
  // Count is the highest number present (gaps allowed), 0 for an empty or
  // missing directory. A path that was never set (the directory could not
  // be made for a new object) counts 0 as well.
  count_ = 0;
  if (path_.empty()) return false;
  // A directory that is not there holds no message. One that cannot be
  // examined may hold them all: counted as empty, every replace in it
  // would become an append.
  if (DirStatus(BaseDirectory()).kind() == StatusKind::kNotFound) {
    return false;
  }
  const std::optional<std::int64_t> high = HighestNumber(/*messages_only=*/true);
  if (!high) {
    state_ = BaseState::kOpenError;
    return true;
  }
  count_ = static_cast<std::int32_t>(
      std::min<std::int64_t>(*high, std::numeric_limits<std::int32_t>::max()));
  return false;
}

bool MsgDirBase::Open(std::string_view path) {
  (void)MessageBase::Open(path);
  // Still closed: the directory could not be made, and LastError says why.
  if (State() == BaseState::kClosed) return true;
  return Rescan();
}

bool MsgDirBase::Create(std::string_view path) {
  (void)MessageBase::Create(path);
  if (State() == BaseState::kClosed) return true;
  return Rescan();
}

bool MsgDirBase::IsValidMsg(std::int32_t number) {
  if (number < 1) return false;
  return FileExists(MsgFileName(number));
}

}  // namespace qlr
