// A message area stored as a directory of *.msg files, one stored message
// per file, named by its message number (message 12 lives in 12.msg).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "msgbase/message_base.h"
#include "msgbase/msgdir/stored_msg_header.h"
#include "platform/status.h"

namespace qlr {

// The mask of the message files in a base directory.
inline constexpr std::string_view kMsgFileMask = "*.msg";
// Appended to a message file's name while its new content is written: the
// name does not match the mask, so a half-written file is never counted
// or read as a message, and the finished file replaces the old one under
// its own name in one rename.
inline constexpr std::string_view kNewMsgFileSuffix = ".qlr-new";

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

  // Moves the header buffer into `message` (to_message) or `message` into
  // the header buffer. Names, subject and date travel as texts, nodes,
  // nets, times read and the low 16 bits of Attr as numbers; cost,
  // replyTo and nextReply stay as the buffer holds them (those of the
  // message last read through this object). Both date words of the buffer
  // and of the message become 0 either way.
  void TransferHeader(bool to_message, Message& message) override;
  // Reads message `number`: header, text, attributes and completed
  // addresses. True on failure (base not open, no file, a file shorter
  // than the header, a read error); the message is then unchanged, but
  // for a read error inside the text, which leaves it half filled.
  [[nodiscard]] bool ReadMessage(std::int32_t number, Message& message) override;
  // Writes `message` as message `number`, replacing the file of that
  // number if there is one, and adds 1 to Count. The file is written under
  // a temporary name, synced and renamed over the old one, so at every
  // moment the number names either the old message or the whole new one.
  // True on failure (no base path, a number below 1, a file that cannot
  // be created, written, synced, closed or renamed); then Count is
  // unchanged and no partial file is left behind.
  [[nodiscard]] bool WriteMessage(std::int32_t number, Message& message) override;
  // Erases the file of message `number`; Count stays (the number becomes a
  // gap). True when the base is not open, there is no such file, or it
  // could not be erased.
  [[nodiscard]] bool DeleteMessage(std::int32_t number) override;

  // The numbers, ascending, of the entries that match the mask: every
  // number whose message can be read is among them, so a caller that
  // visits every message need not try each number up to Count (a single
  // 99999999.msg would make that a hundred million tries). Nothing when
  // the directory cannot be listed.
  std::optional<std::vector<std::int32_t>> PresentNumbers() const;

  // The header of the message last read or written through this object;
  // all zero in a new object.
  const StoredMsgHeader& MsgHeaderBuffer() const { return msg_header_buffer_; }
  // Why the last failed message operation failed.
  const Status& LastError() const { return last_error_; }

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
  // The file name of message `number`; nothing (with last_error_ set) when
  // the number is below 1 or the name would not fit a short string.
  std::optional<ShortString> CheckedMsgFileName(std::int32_t number);
  // Records `status` and returns true, for `return Fail(...)`.
  bool Fail(Status status);

  StoredMsgHeader msg_header_buffer_;
  Status last_error_;
};

}  // namespace qlr
