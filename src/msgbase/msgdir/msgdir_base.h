// A message area stored as a directory of *.msg files, one stored message
// per file, named by its message number (message 12 lives in 12.msg).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
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
  MsgDirBase() = default;
  // Removes the files of a batch that EndBatch never published.
  ~MsgDirBase() override;

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
  // Writes `message` as message `number`. The file is written under a
  // temporary name and synced before it gets the number, so at every
  // moment the number names either the old message or the whole new one.
  // - Beyond Count the write is an append: the number is only the first
  //   candidate; a taken one (another program may have made it since this
  //   object counted) moves the message to the next free number.
  // - Within Count, a number that has a file is replaced (one rename).
  // - Within Count, a number without a file (a gap) is taken by a rename
  //   that never replaces: a file that another program made there
  //   meanwhile stays, and the write fails.
  // Count grows by 1 (a replacement too), and after an append it is at
  // least the number used.
  // True on failure (no base path, a number below 1, an entry of that
  // number that is not a regular file, a file that cannot be created,
  // written, synced, closed or renamed); then Count is unchanged and no
  // partial file is left behind.
  [[nodiscard]] bool WriteMessage(std::int32_t number, Message& message) override;
  // Adds `message` as number Count + 1 by a rename that never replaces;
  // a number that another program took since Open moves the message to
  // the next free one. Count becomes the number used.
  [[nodiscard]] bool AppendMessage(Message& message) override;
  // Inside a batch, AppendMessage only writes each message's file under a
  // temporary name that no scan counts. EndBatch makes them durable
  // together (one file-system sync where the platform has one, else file
  // by file), then gives them their numbers in order by renames that never
  // replace, and makes the directory durable once. A crash before the
  // publishing step leaves no new message (only temporary files that no
  // scan counts). A directory has no step that names many files at once:
  // a crash during the publishing step can leave the first messages of
  // the batch published, each one whole, and EndBatch reports success
  // only after the last sync. A failed
  // EndBatch removes again what it had published (each file only while it
  // is still the one written here) and the other temporary files.
  [[nodiscard]] bool BeginBatch() override;
  [[nodiscard]] bool EndBatch() override;
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
  // The present numbers up to Count; 1 to Count when the directory cannot
  // be listed.
  std::vector<std::int32_t> MessageNumbers() const override;

  // The header of the message last read or written through this object;
  // all zero in a new object.
  const StoredMsgHeader& MsgHeaderBuffer() const { return msg_header_buffer_; }

  std::string BaseDirectory() const;
  // The file of message `number`: base directory, number, ".", extension.
  std::string MsgFileName(std::int32_t number) const;
  // The file the next message would take (highest number present + 1);
  // empty when the base directory does not exist or cannot be listed.
  std::string NextMsgFileName() const;

 private:
  // Scans the directory and sets Count to the highest message number.
  // True when the directory exists but cannot be listed.
  bool Rescan();
  // Highest message number among the entries matching the mask (without
  // symbolic links with `messages_only`); nothing when the directory
  // cannot be listed.
  std::optional<std::int64_t> HighestNumber(bool messages_only = false) const;
  // The file name of message `number`; nothing (with last_error_ set) when
  // the number is below 1.
  std::optional<std::string> CheckedMsgFileName(std::int32_t number);
  // Writes the stored form of `message` into a new file `file_name`,
  // synced when `sync` is set; closed either way and checked. True on
  // failure, with the file removed again.
  bool WriteMessageFile(const std::string& file_name, Message& message, bool sync);
  // A name in the base directory, unique to this object and write, that
  // does not match the mask.
  std::string NewTemporaryName();
  // Gives the finished file `temporary` the first free number from
  // `first` on, by renames that never replace, and sets *used. With
  // `exact`, only `first` will do. True on failure; `temporary` is then
  // still there.
  bool PublishFrom(const std::string& temporary, std::int64_t first, bool exact,
                   std::int32_t* used);
  // Makes the entries of the base directory durable; with
  // `whole_file_system`, by one file-system sync where the platform has
  // one (which also makes file data durable). True on failure.
  bool SyncBaseDirectory(bool whole_file_system);
  // Removes the files of an unpublished batch; numbers published by a
  // failed EndBatch are removed while they still name the file written.
  void DropBatch();

  StoredMsgHeader msg_header_buffer_;

  struct BatchFile {
    std::string temporary;
    std::int32_t number = 0;  // 0 until published
    std::uint64_t volume = 0;
    std::uint64_t file_index = 0;
  };
  bool batching_ = false;
  std::vector<BatchFile> batch_;
  std::uint32_t temporary_serial_ = 0;
};

}  // namespace qlr
