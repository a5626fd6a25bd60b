// A message area in the Squish format: a data file of linked frames
// (".sqd") and an index file (".sqi") that share one base path. The base
// level opens and creates the two files and takes the message count from
// the data file's header; the message operations work on the frames.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/message_base.h"
#include "msgbase/squish/squish_records.h"
#include "platform/platform.h"
#include "platform/status.h"
#include "support/stream.h"
#include "util/files.h"

namespace qlr {

class SquishBase : public MessageBase {
 public:
  // The base's files in the order they are handled (copied, erased).
  static constexpr std::array<std::string_view, 2> kExtensions = {".sqd", ".sqi"};

  SquishBase();
  // Closes both files and forgets the headers; nothing is written.
  ~SquishBase() override;

  // Opens the two files of the existing base `path` (without extension).
  // Fails with OpenError when ".sqd" is missing, cannot be opened for
  // writing, holds fewer than 256 bytes, or is beyond the 2 GiB the
  // streams can address. A missing ".sqi" is not an error here: reading
  // a message fails later. Count is the header's NumMsg, bounded by what
  // the files can hold (see Open in squish_base.cc); when the two differ
  // Damage() says so.
  [[nodiscard]] bool Open(std::string_view path) override;
  // Why the count Open gave is lower than the header's NumMsg (the base is
  // damaged); ok when the files hold every message the header counts.
  const Status& Damage() const override { return damage_; }
  // Creates (or truncates) both files and writes the header of an empty
  // base. Whether a base should be created at all is the caller's decision
  // (see AnyFileExists). Fails with OpenError when a file cannot be made or
  // the header does not reach the file.
  [[nodiscard]] bool Create(std::string_view path) override;
  // Makes an existing base at `path` empty, with the same files Create
  // leaves, but in place and in an order that leaves a base every reader
  // opens should it stop at any step: the header of an empty base over
  // the old one first, then the index, then the frames after the header.
  // (Create truncates first: stopped there it would leave an empty .sqd,
  // which no program opens.) A base with a file missing is created. True
  // on FAILURE, as Create.
  [[nodiscard]] bool EmptyInPlace(std::string_view path);
  // Clears the error status of both streams.
  void ResetStreams() override;

  // The message operations (squish_messages.cc). Reading takes the frame
  // through its index record; writing and deleting keep the message chain,
  // the free chain, the index and the base header in step, under the
  // base's lock. True on failure.
  void TransferHeader(bool to_message, Message& message) override;
  [[nodiscard]] bool ReadMessage(std::int32_t number, Message& message) override;
  [[nodiscard]] bool WriteMessage(std::int32_t number, Message& message) override;
  [[nodiscard]] bool DeleteMessage(std::int32_t number) override;
  // Appends under the lock: the number is the count the files hold once
  // the lock is taken, whatever this object saw before.
  [[nodiscard]] bool AppendMessage(Message& message) override;
  // Group commit: the lock is held from BeginBatch to EndBatch, appends
  // write their frames without a sync, and EndBatch syncs the frames once,
  // then writes and syncs the index records and the header once each.
  // Only appends belong in a batch; a replace or delete inside one fails.
  [[nodiscard]] bool BeginBatch() override;
  [[nodiscard]] bool EndBatch() override;

  // How long a message write or delete waits for another program's lock.
  static constexpr int kMessageLockTimeoutMs = 10000;
  // Puts the fixed values of the format into the headers in memory (header
  // size, frame header size, frame id) and fills a zero Uid and EndFrame
  // with their starting values; other fields are left alone.
  virtual void SetBaseDefaults();

  // True when a file of the base `base_path` (without extension) exists
  // under any of the extensions, in any case of its name.
  static bool AnyFileExists(std::string_view base_path);

  // Takes the lock Squish writers take before they change a base: the
  // first byte of ".sqd". Retries for about `timeout_ms` while another
  // program holds it. True on failure (base not open, lock held elsewhere,
  // or locks not available; LockError says which). The lock stays until
  // UnlockBase or destruction, across Open and Create.
  [[nodiscard]] bool LockBase(int timeout_ms);
  void UnlockBase();
  bool Locked() const { return lock_.Held(); }
  const Status& LockError() const { return lock_error_; }

  const SquishBaseHeader& BaseHeader() const { return base_header_; }

  // The frame offsets of the message chain (BeginFrame on) and of the free
  // chain (FreeFrame on), as the files hold them. True when a chain is
  // broken or loops (see WalkFrameChain).
  [[nodiscard]] bool MessageChain(std::vector<std::uint32_t>* offsets);
  [[nodiscard]] bool FreeChain(std::vector<std::uint32_t>* offsets);

 protected:
  // The stream of ".sqd" (the common Stream field) and of ".sqi".
  Stream* DataStream() const { return stream_.get(); }
  Stream* IndexStream() const { return index_stream_.get(); }

  // The name of one of the base's files under the case it exists in.
  std::string FileName(std::string_view extension) const;

  SquishBaseHeader base_header_;
  SquishMsgHeader msg_header_;
  SquishFrameHeader frame_header_;
  SquishIndexRecord index_record_;
  std::unique_ptr<Stream> index_stream_;

 private:
  void CloseStreams();
  // Create and EmptyInPlace: the files of an empty base, header first,
  // made anew or (`in_place`, both files there) opened as they are.
  bool MakeEmpty(std::string_view path, bool in_place);
  // Writes the header of an empty base at the start of the data file
  // `data` (both streams open); true on failure.
  bool WriteEmptyHeader(BufferedFileStream& data);
  // Gives up an Open or Create: both streams closed, State OpenError,
  // `why` the last error.
  bool FailOpen(Status why);
  // Empties the headers in memory and puts the defaults back.
  void ResetHeaders();

  // The steps of the message operations (squish_messages.cc).
  bool ReadIndexRecord(std::int32_t number, SquishIndexRecord* record);
  bool WriteBaseHeader(const SquishBaseHeader& header);
  bool SyncBaseHeader();
  std::optional<SquishBaseHeader> ReadBackHeader();
  void ReloadAfterFailure();
  // Under the lock: the header and the sizes of both files as they are
  // now, checked; true when the base is not fit to be written.
  bool LoadForWrite();
  // Completes a deletion that stopped between its two files (see
  // squish_messages.cc); true when the base is not fit to be written.
  bool FinishCutDeletion();
  // A store in two steps: the plan reads the chain and the index and
  // decides every byte, writing nothing; the commit writes them in the
  // order that keeps each message whole at every instant.
  struct StorePlan;
  bool StoreMessage(std::int32_t number, Message& message);
  bool PlanStore(std::int32_t number, Message& message, StorePlan* plan);
  bool CommitStore(StorePlan& plan, Message& message);
  bool RemoveMessage(std::int32_t number);
  bool CommitBatch();

  // Byte 0 of ".sqd", on a handle of its own; the streams do not expose
  // theirs. Under the lock every read and write of ".sqd" goes through
  // that handle, and those of ".sqi" through `index_file_`.
  FileByteLock lock_;
  std::unique_ptr<FileHandle> index_file_;
  Status lock_error_;
  Status damage_;

  // The index records ".sqi" holds, as LoadForWrite found them.
  std::int32_t index_records_ = 0;
  // A batch in progress: the header and records it will commit, whether
  // it took the lock itself, and whether an append of it failed.
  bool in_batch_ = false;
  bool batch_took_lock_ = false;
  bool batch_failed_ = false;
  std::int32_t batch_first_ = 0;
  SquishBaseHeader batch_header_;
  std::vector<SquishIndexRecord> batch_records_;
};

}  // namespace qlr
