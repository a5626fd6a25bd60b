// A message area stored as a JAM base: AREA.jhr (headers), AREA.jdt
// (texts) and AREA.jdx (index), sharing the base path AREA. The record
// layouts are in jam_records.h.
//
// The base level (jam_base.cc): opening, creating, the message count and
// the index lookup of one message. Count is the number of index records,
// deleted ones included (not ActiveMsgs of the base header). The messages
// (jam_messages.cc): reading one into a Message, writing and deleting.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/jam/jam_records.h"
#include "msgbase/message_base.h"
#include "util/files.h"

namespace qlr {

class JamBase : public MessageBase {
 public:
  // The three files of a base, in the order they are handled.
  static constexpr std::array<std::string_view, 3> kExtensions = {".jhr", ".jdt", ".jdx"};
  // How long LockBase waits by default for another program's lock.
  static constexpr int kDefaultLockTimeoutMs = 10000;

  // The headers start out as InitHeaders leaves them: a creation date of
  // now, ModCounter 1, BaseMsgNum 1.
  JamBase();
  // Closes the files; nothing is written (message operations write as they
  // go). Releases a lock still held.
  ~JamBase() override;

  // Fills the fixed parts of BaseHeader and MsgHeader: the signatures, no
  // password, BaseMsgNum 1, zeroed reserved bytes, revision 1; a creation
  // date of now and ModCounter 1 only where they are 0. ActiveMsgs and the
  // message fields are left alone.
  void InitHeaders();

  // Opens the three files of `path` (the base path, no extension) for
  // reading and writing, shared. Fails with State OpenError when ".jhr" is
  // missing or shorter than its 1024-byte header, or when any file is
  // larger than a stream can address (2 GiB). A missing ".jdx" or ".jdt"
  // is not a failure: a missing index counts 0 messages. The header's
  // fields, signature included, are not checked here.
  [[nodiscard]] bool Open(std::string_view path) override;
  // Creates the three files anew (existing ones are truncated, under the
  // name they have on disk) and writes a fresh base header: the base is
  // then empty. Also the erase of a base after its copy. Fails, with State
  // OpenError and no files open, when a file cannot be created or the
  // header cannot be written out.
  [[nodiscard]] bool Create(std::string_view path) override;
  // The erase of a base after its copy: the files Create leaves, made in
  // place and in an order that leaves a base every reader opens should it
  // stop at any step. The index goes first (the count is its size), then
  // the header of an empty base is written over the old one and the
  // headers after it cut, then the text. (Create truncates ".jhr" first:
  // stopped there it would leave a header file too short to open.) A base
  // with a file missing is created. True on FAILURE, as Create.
  [[nodiscard]] bool EmptyInPlace(std::string_view path);
  // True when the base is usable, 1 <= number <= Count, and the index
  // record of `number` (loaded into IndexRecord) points at a whole message
  // header after the base header in ".jhr". A deleted record (all 0xFF)
  // and an unreadable one are invalid. Leaves no stream error behind.
  bool IsValidMsg(std::int32_t number) override;
  // Clears the error status of all three streams.
  void ResetStreams() override;

  // Copies between MsgHeader and `message`: dates, reply links, cost,
  // times read and the attribute bits (jam_attributes.h). Towards the
  // header it also sets the signature, revision and the CRCs of MSGID and
  // REPLY; the text and subfield fields are WriteMessage's.
  void TransferHeader(bool to_message, Message& message) override;
  // Reads message `number`: its header, text and subfields, then the
  // attributes from FLAGS and the completed addresses. True on failure: an
  // invalid or deleted number, an unreadable header, or a header that is
  // neither signed "JAM" nor of revision 1 (MsgState 4 then). A text or
  // subfield block that the files cut short is read as far as it goes.
  [[nodiscard]] bool ReadMessage(std::int32_t number, Message& message) override;
  // Writes `message` as message `number`, replacing a message of that
  // number, or appended as Count + 1 when `number` is beyond Count. True on
  // failure, when the base lock cannot be had, when the base is damaged
  // (see CheckBeforeWrite) or any write or flush fails; then nothing was
  // written that a reader sees.
  // The new text, header and subfields reach the disk before the index
  // record that points at them, and the base header comes last: whatever
  // stops a write leaves the base readable as before it or as after it.
  [[nodiscard]] bool WriteMessage(std::int32_t number, Message& message) override;
  // Adds `message` as number Count + 1, Count as the files say under the
  // lock: a message another program appended since Open is never replaced.
  // Inside a batch the message is only planned (see BeginBatch).
  [[nodiscard]] bool AppendMessage(Message& message) override;
  // Marks message `number` deleted: its index record all 0xFF, its header
  // flagged deleted with no text; ModCounter is raised. Count stays. True
  // on failure, as above.
  [[nodiscard]] bool DeleteMessage(std::int32_t number) override;
  // A batch of appends under one lock: BeginBatch takes the lock (unless
  // the base holds it already) and checks the base; AppendMessage then
  // collects texts, headers and index records in memory (written out
  // unsynced when they grow large, past the files' ends where no reader
  // looks). EndBatch writes the rest, syncs text and headers once, then
  // writes and syncs the index records (the commit point of the whole
  // batch) and the base header, and releases the lock. WriteMessage and
  // DeleteMessage fail inside a batch. A batch that failed, or that the
  // object drops (Open, Create, destructor), leaves the base as it was.
  [[nodiscard]] bool BeginBatch() override;
  [[nodiscard]] bool EndBatch() override;

  // True when at least one file of the base `base_path` exists (looked up
  // without regard to case where the host's names have case). A base is
  // created only when none does, so a half-present base is never wiped.
  static bool AnyFileExists(std::string_view base_path);
  // The file of `base_path` with `extension`, under the name it has on
  // disk (AREA.JHR for area + ".jhr" when only that exists).
  static std::string BaseFileName(std::string_view base_path, std::string_view extension);
  // The readers' last-read file (".jlr"). It holds none of the messages,
  // but every writer makes sure it exists: a tosser that finds it missing
  // takes the base for a broken one and creates it anew, emptying the
  // other three files.
  // Named after `header_file` (the ".jhr" as it exists, in its case).
  static std::string LastReadFileName(std::string_view header_file);

  // Takes the write lock that JAM programs share (byte 0 of ".jhr"),
  // waiting up to `timeout_ms` for another holder. True on FAILURE; also
  // when no base is open. The lock survives Open and Create of the same
  // base and ends with UnlockBase or the destructor.
  [[nodiscard]] bool LockBase(int timeout_ms = kDefaultLockTimeoutMs);
  void UnlockBase() { lock_.Release(); }
  bool Locked() const { return lock_.Held(); }
  const Status& LockError() const { return lock_.LastError(); }
  // How long WriteMessage and DeleteMessage wait for the lock.
  void SetLockTimeout(int timeout_ms) { lock_timeout_ms_ = timeout_ms; }

  const JamMsgHeader& MsgHeader() const { return msg_header_; }
  const JamBaseHeader& BaseHeader() const { return base_header_; }
  const JamIndexRecord& IndexRecord() const { return index_record_; }

 protected:
  // Disposes the streams in the order header, text, index.
  void DisposeStreams();
  // Create (files made or truncated) and EmptyInPlace (files opened as
  // they are): the files of an empty base, index first. True on failure.
  bool MakeEmpty(std::string_view path, FileMode mode);

  JamMsgHeader msg_header_;      // message last read, written or deleted
  JamBaseHeader base_header_;    // in-memory copy of the ".jhr" header
  JamIndexRecord index_record_;  // index record last loaded or built
  JamSubfieldHeader subfield_header_;
  // stream_ (of MessageBase) is ".jdt"; text_file_ is the same stream as
  // the file stream it is, for syncing.
  BufferedFileStream* text_file_ = nullptr;
  std::unique_ptr<BufferedFileStream> header_stream_;  // ".jhr"
  std::unique_ptr<BufferedFileStream> index_stream_;   // ".jdx"
  std::string header_file_;                            // ".jhr" as found on disk

 private:
  // Opens or creates the three files in the order index, text, header.
  void OpenStreams(std::string_view path, FileMode mode);
  // Whether this object's lock is the one on `header_file`.
  bool HoldsLockOn(std::string_view header_file) const;

  // Helpers of the message operations (jam_messages.cc); true on failure.
  // Reads the message header at `offset` of ".jhr".
  [[nodiscard]] bool ReadMsgHeader(std::int64_t offset, JamMsgHeader* header);
  // Takes the base header and Count as they are on disk now (another
  // program may have written since Open), then checks them. Needs the lock.
  [[nodiscard]] bool RefreshFromDisk();
  // True when the base a write would build on is inconsistent: a base
  // header without the signature, more active messages than index
  // records, a text file that cannot be read, or an index record that is
  // neither deleted nor points at a whole header after the base header.
  // The index is scanned whole unless the files are as this object left
  // them after its last change.
  [[nodiscard]] bool CheckBeforeWrite();
  // The common part of WriteMessage and AppendMessage, under the lock.
  [[nodiscard]] bool WriteLocked(std::int32_t number, Message& message, bool append);
  // A write in two steps: the plan reads what it must and decides every
  // byte, writing nothing; the commit writes them in the order that makes
  // the index record the commit point.
  struct WritePlan;
  [[nodiscard]] bool PlanWrite(std::int32_t number, Message& message, bool append, WritePlan* plan);
  [[nodiscard]] bool CommitWrite(const WritePlan& plan, Message& message);
  // Builds the text and the header (with its subfields) of `message` as
  // number `number` with its text at `text_offset` and its header at
  // `header_offset`; fills MsgHeader and IndexRecord. True when the
  // message cannot be composed or would end beyond what the files address.
  [[nodiscard]] bool EncodeMessage(std::int32_t number, Message& message, std::int64_t text_offset,
                                   std::int64_t header_offset, std::string* text,
                                   std::vector<std::uint8_t>* header_bytes);
  // Remembers the files as this object left them, for CheckBeforeWrite.
  void RememberFiles();
  // Writes the batch's pending texts and headers at their planned offsets
  // (unsynced). True on failure.
  [[nodiscard]] bool SpillBatch();
  // Ends a batch without committing it: the lock is released when the
  // batch took it, the in-memory state is as before the batch.
  void DropBatch();
  // Writes `bytes` at `offset` of `stream` and syncs it.
  [[nodiscard]] static bool WriteDurably(BufferedFileStream& stream, std::int64_t offset,
                                         std::span<const std::uint8_t> bytes);
  // Writes BaseHeader at offset 0 of ".jhr" through the lock and syncs it.
  [[nodiscard]] bool WriteBaseHeader();

  // Byte 0 of ".jhr". The handle that holds it also reads and writes the
  // base header at offset 0: where locks are mandatory (Windows) no other
  // handle may touch the locked byte.
  FileByteLock lock_;
  // The ".jhr" that lock_ locks, for Open and Create of the same base.
  std::string locked_file_;
  int lock_timeout_ms_ = kDefaultLockTimeoutMs;

  // What CheckBeforeWrite found whole, and the files as this object left
  // them: ModCounter, index records and ".jhr" size after its last change.
  std::int32_t checked_records_ = 0;
  std::uint32_t left_mod_counter_ = 0;
  std::int32_t left_count_ = -1;
  std::int64_t left_header_size_ = -1;

  struct Batch {
    bool took_lock = false;
    bool failed = false;
    JamBaseHeader base_before;
    std::int32_t count_before = 0;
    std::int64_t text_end = 0;      // where the next text goes in ".jdt"
    std::int64_t header_end = 0;    // where the next header goes in ".jhr"
    std::int64_t text_start = 0;    // where `text` goes
    std::int64_t header_start = 0;  // where `headers` goes
    std::string text;
    std::vector<std::uint8_t> headers;
    std::vector<std::uint8_t> index;  // records of count_before + 1 on
  };
  std::unique_ptr<Batch> batch_;
};

}  // namespace qlr
