// The abstract message base: the fields and virtual operations shared by
// the four storage formats.
//
// Operations that can fail return true on FAILURE. The six packet-header
// operations exist only for packets; calling one on another format is a
// programming error that ends the program with run-time error 211.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/short_string.h"
#include "support/stream.h"

namespace qlr {

class Message;

enum class BaseState : std::uint8_t {
  kClosed = 0,     // constructed, or after the destructor
  kOpenError = 1,  // the format found its files unusable
  kOpened = 2,
  kCreated = 3,
  kBadFormat = 4,  // a packet of another version
};

class MessageBase {
 public:
  MessageBase() = default;
  virtual ~MessageBase() = default;
  MessageBase(const MessageBase&) = delete;
  MessageBase& operator=(const MessageBase&) = delete;

  // --- packet header (packets only) ---
  virtual void GetOrigAddress(ShortString& address);
  virtual void GetDestAddress(ShortString& address);
  virtual void GetPassword(ShortString& password);
  virtual void SetOrigAddress(std::string_view address);
  virtual void SetDestAddress(std::string_view address);
  virtual void SetPassword(std::string_view password);

  // Copies between the format's native header and `message` (to_message:
  // native header into the message, after reading; else the other way).
  virtual void TransferHeader(bool to_message, Message& message);
  // Each format's override calls these first. The common part makes sure
  // the base's directory exists (creating missing levels), then records
  // the path and state and sets Count to 0; it always reports failure, the
  // format's own part decides.
  [[nodiscard]] virtual bool Open(std::string_view path);
  [[nodiscard]] virtual bool Create(std::string_view path);
  // True when the base is usable and 1 <= number <= Count.
  virtual bool IsValidMsg(std::int32_t number);
  // Reads the bytes [start, end) of Stream into the message: kludge lines
  // of the head into their fields and Kludges, tear line, origin and
  // trailing control lines of the tail into theirs, the rest into Text.
  // True on failure (no stream, start >= end, stream shorter); then the
  // message is unchanged. Defined in message_text.cc; no format overrides it.
  [[nodiscard]] virtual bool ReadText(Message& message, std::int32_t start, std::int32_t end);
  [[nodiscard]] virtual bool ReadMessage(std::int32_t number, Message& message);
  [[nodiscard]] virtual bool WriteMessage(std::int32_t number, Message& message);
  // Adds `message` after the last message. The number it takes is decided
  // while the format's writers' lock is held (or, for formats without one,
  // by a create that never replaces), so a message that another program
  // appended meanwhile is never overwritten; Count then includes both.
  // True on failure. The default writes number Count + 1: a format whose
  // base other programs write at the same time overrides it.
  [[nodiscard]] virtual bool AppendMessage(Message& message);
  // Group commit for bulk appends. Between BeginBatch and EndBatch the
  // format may hold its writers' lock and defer the durable steps of
  // AppendMessage; EndBatch makes the batch's data durable once, then
  // writes and syncs the index and header once, and releases the lock.
  // A crash before EndBatch returns leaves the base as it was before the
  // batch, or with the batch whole; only after EndBatch succeeded are the
  // batch's messages on stable storage. Callers keep batches short (the
  // lock keeps other writers out) and never read or delete inside one.
  // True on failure; after a failed EndBatch the batch is not in the base.
  // The defaults do nothing, so every append stays durable on its own.
  [[nodiscard]] virtual bool BeginBatch();
  [[nodiscard]] virtual bool EndBatch();
  [[nodiscard]] virtual bool DeleteMessage(std::int32_t number);
  // Why Count is lower than the base's own header says (the base is
  // damaged); ok when the files hold every message it counts. Formats
  // whose count cannot disagree with anything keep the default.
  virtual const Status& Damage() const;
  // The numbers worth reading, ascending: every number whose message can
  // be read is among them. The default is 1 to Count; a format whose
  // numbering has gaps lists what it has, so that a caller visiting every
  // message need not try each number up to Count.
  virtual std::vector<std::int32_t> MessageNumbers() const;
  // Why the last failed operation of this object failed, where the format
  // says; ok otherwise.
  const Status& LastError() const { return last_error_; }
  // Clears the error status of the open streams.
  virtual void ResetStreams();

  const std::string& Path() const { return path_; }
  BaseState State() const { return state_; }
  std::int32_t Count() const { return count_; }
  bool Usable() const { return state_ == BaseState::kOpened || state_ == BaseState::kCreated; }

 protected:
  // The common part of Open and Create. True when the base's directory is
  // missing and could not be made; then nothing else changes.
  bool EnterState(std::string_view path, BaseState state);

  // Records `status` as the last error and returns true, for
  // `return Fail(...)`.
  bool Fail(Status status);

  std::string path_;
  Status last_error_;
  std::unique_ptr<Stream> stream_;
  BaseState state_ = BaseState::kClosed;
  std::int32_t count_ = 0;
};

// The common parent of the formats whose text is composed as FTS-0001
// text lines (*.MSG directories and packets).
class FtnTextBase : public MessageBase {
 public:
  // Appends the composed text of `message` (kludge lines, body, tear line,
  // origin line, trailing lines; each composed line ended by a CR) to
  // Stream at its current position. Nothing when there is no Stream.
  // Defined in message_text.cc.
  virtual void WriteText(Message& message);
};

}  // namespace qlr
