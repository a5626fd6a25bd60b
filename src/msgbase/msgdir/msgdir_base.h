// A message area stored as a directory of *.msg files, one stored message
// per file, named by its message number (message 12 lives in 12.msg).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "msgbase/message_base.h"

namespace qlr {

// The mask of the message files in a base directory.
inline constexpr std::string_view kMsgFileMask = "*.msg";

class MsgDirBase : public FtnTextBase {
 public:
  // `path` is the base directory, a separator and the mask ("*.msg").
  // Both report success for an empty or new directory; they fail, with
  // State OpenError, only when the directory exists but cannot be listed:
  // its messages cannot be counted, and counting 0 would let a full base
  // live forever.
  [[nodiscard]] bool Open(std::string_view path) override;
  [[nodiscard]] bool Create(std::string_view path) override;
  // True when the file of message `number` exists (whatever the state).
  bool IsValidMsg(std::int32_t number) override;

  ShortString BaseDirectory() const;
  // The file of message `number`: base directory, number, ".", extension.
  ShortString MsgFileName(std::int32_t number) const;
  // The file the next message would take (highest number present + 1);
  // empty when the base directory does not exist or cannot be listed.
  ShortString NextMsgFileName() const;

 private:
  // Scans the directory and sets Count to the highest message number.
  // True when the directory exists but cannot be listed.
  bool Rescan();
  // Highest message number among the entries matching the mask; nothing
  // when the directory cannot be listed.
  std::optional<std::int64_t> HighestNumber() const;
};

}  // namespace qlr
