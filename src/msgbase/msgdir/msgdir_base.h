// A message area stored as a directory of *.msg files, one stored message
// per file, named by its message number (message 12 lives in 12.msg).
#pragma once

#include <cstdint>
#include <string_view>

#include "msgbase/message_base.h"

namespace qlr {

class MsgDirBase : public FtnTextBase {
 public:
  // `path` is the base directory, a separator and the mask ("*.msg").
  [[nodiscard]] bool Open(std::string_view path) override;
  [[nodiscard]] bool Create(std::string_view path) override;
  // True when the file of message `number` exists (whatever the state).
  bool IsValidMsg(std::int32_t number) override;

  ShortString BaseDirectory() const;
  // The file of message `number`: base directory, number, ".", extension.
  ShortString MsgFileName(std::int32_t number) const;
  // The file the next message would take (highest number present + 1);
  // empty when the base directory does not exist.
  ShortString NextMsgFileName() const;

 private:
  // Scans the directory and sets Count to the highest message number.
  void Rescan();
  // Highest message number among the entries matching the mask.
  std::int64_t HighestNumber() const;
};

}  // namespace qlr
