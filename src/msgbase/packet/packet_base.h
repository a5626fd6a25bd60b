// One type-2 packet file (.pkt) read as a message base.
//
// The packet file is held open from Open or Create until destruction.
// Messages are numbered from 1 in file order; where each one ends is found
// once by a forward scan for the three bytes 00 02 00 (the NUL that ends a
// text followed by the next message's type word), so reading a message
// later needs no search.
//
// Deleting a message only records its byte range; the ranges are removed
// from the file together by Purge, which runs at destruction (and when a
// message is replaced). Purge builds the new content in a temporary file
// and renames it over the packet, so a crash or a full disk never leaves a
// packet with half its messages.
//
// Writing a message appends it in place of the terminator, in two steps
// that are each made durable before the next: first the new type word
// 02 00 over the terminator, then the rest of the message and a new
// terminator after it. A packet that ends in 00 02 00 reads exactly like
// one that ends in 00 00 00 (the scan takes the seam as the end of the last
// message and finds nothing after it), so a crash after the first step
// leaves the packet reading as before. A crash while the rest is being
// written leaves the start of the new message without its closing NUL:
// the scan does not count it, so the packet still reads as before, and
// the next append cuts it off first. A write that fails is undone:
// the file is cut back to its old size and its old last two bytes are put
// back. Replacing a message is one Purge whose new content ends with the
// new message, so the packet holds either the old or the new messages.
//
// Writers lock byte 0 of the packet file itself, the convention of the
// other formats, and wait while another program holds it. Under the lock
// every write works through the handle that holds it (where locks are
// mandatory no other handle may touch the locked byte) and re-reads what
// it builds on: the real end of the file for an append, and for a purge
// the bytes of each message it removes. A packet that another writer
// replaced by a rename since it was scanned is scanned anew before
// anything is written, and a deletion is carried over to the new content
// only where a message with the very same bytes is found there; one that
// is no longer there is dropped, as it is gone already. A program that
// writes without taking the lock can still overwrite bytes of an append
// made at the same instant; nothing can prevent that.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/message_base.h"
#include "msgbase/packet/packet_records.h"
#include "support/collection.h"
#include "util/files.h"

namespace qlr {

class PacketBase : public FtnTextBase {
 public:
  // File extensions of the format, for the base registry.
  static constexpr std::array<std::string_view, 1> kExtensions = {".pkt"};
  // Purge writes the new content under the packet's name plus this suffix
  // and renames it over the packet. The suffix makes the name end in
  // neither ".pkt" nor any other base extension, so a temporary file left
  // by a crash is never taken for a packet; the next Purge overwrites it.
  static constexpr std::string_view kPurgeTempSuffix = ".qlr-tmp";
  // The boundary scan reads the file in pieces of this size: large enough
  // that the calls cost little beside the copy, small enough to stay in
  // the cache for the search that follows.
  static constexpr std::int32_t kScanChunk = 262144;
  // How long a write waits for another writer's lock.
  static constexpr int kWriteLockTimeoutMs = 10000;

  // A byte range [start, end) of the file to remove at the next Purge.
  // `digest`, taken from the range's bytes when a message is deleted, lets
  // a purge tell that the file still holds that message there, or find it
  // again elsewhere. A range recorded without one is taken as it stands,
  // and only on the very content that was scanned.
  struct RangeItem {
    RangeItem() = default;
    RangeItem(std::int32_t from, std::int32_t to,
              std::optional<std::uint64_t> bytes_digest = std::nullopt)
        : start(from), end(to), digest(bytes_digest) {}
    std::int32_t start = 0;
    std::int32_t end = 0;
    std::optional<std::uint64_t> digest;
  };

  PacketBase();
  // Purges deletions still pending (a last resort, see the definition),
  // then closes the file.
  ~PacketBase() override;

  // Copies the fixed part of the packed message (PktMsgBuffer) into the
  // message or back. Dates are kept as text; the 20-byte date field takes
  // at most 19 characters and a NUL.
  void TransferHeader(bool to_message, Message& message) override;
  // Reads message `number` (1 to Count) from the packet. Needs state
  // Opened or Created. A message cut short by the end of the file reads as
  // far as it goes (false); a read error of the file is a failure.
  [[nodiscard]] bool ReadMessage(std::int32_t number, Message& message) override;
  // Appends the message; when `number` is an existing message, that one
  // is removed in the same step (with every pending deletion), so the new
  // message becomes the last one. True when anything failed: the packet
  // is then as it was.
  [[nodiscard]] bool WriteMessage(std::int32_t number, Message& message) override;
  // Appends the message after the last one of the file as it is now,
  // never in place of another (whatever Count this object saw).
  [[nodiscard]] bool AppendMessage(Message& message) override;
  // Inside a batch the appends are written without their own syncs: the
  // first one still makes its type word durable over the old terminator
  // before the rest, so the packet reads as before until EndBatch makes
  // the whole batch durable with one sync. A failed EndBatch cuts the
  // packet back to where the batch began; so does the EndBatch of a batch
  // in which an append failed, and it reports the failure.
  [[nodiscard]] bool BeginBatch() override;
  [[nodiscard]] bool EndBatch() override;
  // Records the bytes of message `number` for removal at the next Purge;
  // until then the message still reads and Count does not change.
  [[nodiscard]] bool DeleteMessage(std::int32_t number) override;

  void GetOrigAddress(ShortString& address) override;
  void GetDestAddress(ShortString& address) override;
  void GetPassword(ShortString& password) override;
  // The setters change only the header held in memory; it reaches the file
  // at the next Create.
  void SetOrigAddress(std::string_view address) override;
  void SetDestAddress(std::string_view address) override;
  void SetPassword(std::string_view password) override;

  // Opens an existing packet (a name differing only in case is found on
  // POSIX). False (success) also for a missing, short or empty packet:
  // then State is OpenError and Count 0. True for a packet of another
  // version (State BadFormat, file closed) and for a file beyond the 2 GiB
  // limit of the streams (State OpenError, file closed).
  [[nodiscard]] bool Open(std::string_view path) override;
  // Makes an empty packet, or rewrites the header of an existing one and
  // keeps its messages; State is Created. Unlike a missing packet at Open,
  // a packet that cannot be made or whose header cannot be written is a
  // failure (true, State OpenError): the caller must not report 0 messages
  // for a base that does not exist.
  [[nodiscard]] bool Create(std::string_view path) override;

  // Removes the pending ranges from the file and reopens it (see Open).
  // The kept bytes are copied in bounded pieces into a temporary file,
  // which is synced and renamed over the packet. If any step before the
  // rename fails, the temporary file is removed and the packet stays as it
  // was; the pending deletions are dropped either way. Returns why the
  // deletions could not be made (ok when they were, or when none were
  // pending); a caller that deleted messages calls it and reports that.
  Status Purge();

  // Releases the object without Purge: the pending deletions are dropped,
  // the file is closed as it stands and the object is back in state Closed,
  // so destroying it afterwards touches nothing. For callers that must
  // abandon a base without changing its file.
  void Discard();

  // Records a range to remove at the next Purge. Ranges are kept ordered
  // by start; a second range with the start of one already recorded is
  // ignored, so deleting a message twice records it once.
  void AddPendingDelete(std::int32_t start, std::int32_t end,
                        std::optional<std::uint64_t> digest = std::nullopt);

  // Entry 0 is 57, the last byte of the header; entry i is the offset of
  // the NUL that ends the text of message i.
  const std::vector<std::int32_t>& Boundaries() const { return boundaries_; }
  std::int32_t PendingDeleteCount() const { return pending_deletes_.ItemCount(); }
  // The 58-byte header and the u16 that follows it in the file.
  const std::array<std::uint8_t, kPacketHeaderBufferSize>& PktHeaderBuffer() const {
    return pkt_header_buffer_;
  }
  // The packet file, or null when it is closed (BadFormat, Closed).
  const Stream* PacketStream() const { return stream_.get(); }

 private:
  struct RangeStartOrder {
    int operator()(const RangeItem& a, const RangeItem& b) const {
      return a.start < b.start ? -1 : (a.start > b.start ? 1 : 0);
    }
  };

  PacketHeader Header() const;
  void StoreHeader(const PacketHeader& header);
  // Back to "no messages": Boundaries holds only the header's last byte and
  // no deletion is pending.
  void ResetBoundaries();
  // Appends the end of every message after the first; `size` is the file
  // size.
  void ScanBoundaries(std::int32_t size);
  // The end of the scan (packet_last_message.cc): appends the end of the
  // last message when it is whole, or records where the cut start of one
  // begins.
  void EndLastMessage(std::int32_t size);
  // Purge without the reopen: removes the pending ranges from the file
  // through a temporary file and forgets them. With `tail` (a composed
  // message, type word through closing NUL) the new content ends with that
  // message and a terminator. Not ok when there was something to do and
  // the packet could not be replaced: why.
  [[nodiscard]] Status ApplyPendingDeletes(const std::string* tail = nullptr);
  // Writes the kept bytes of the packet (of `size` bytes), and `tail` when
  // given, into the temporary file and makes it durable. Not ok: why not.
  [[nodiscard]] Status WritePurgedCopy(const std::string& temp_path, std::int32_t size,
                                       const std::string* tail);
  // Whether the last two bytes of the packet (of `size` bytes, at least
  // 60) are its terminator: 00 00, or 02 00 left by an append that stopped
  // after its first step. The two bytes after the header of a 60-byte
  // packet are its terminator whatever they hold. Nothing on a read error.
  std::optional<bool> EndsInTerminator(std::int32_t size);

  // The writers' lock (packet_lock.cc), taken for one operation through a
  // WriteLockScope. LockBase takes byte 0 of the file the packet's name
  // leads to now and, while it is held, puts a stream over the locking
  // handle in place of the buffered one. A packet replaced since it was
  // scanned is scanned anew through it (and its pending deletions found
  // again). True on failure: nothing is then held.
  friend class WriteLockScope<PacketBase>;
  [[nodiscard]] bool LockBase(int timeout_ms);
  void UnlockBase();
  bool Locked() const { return locked_; }
  // Under the lock, after the packet was found replaced: reads the header
  // and the boundaries of the new content. True when it cannot be used.
  [[nodiscard]] bool ReloadLocked();
  // Under the lock: checks that every pending range still holds the bytes
  // it held when it was recorded, and otherwise rescans the packet and
  // moves each range to the message of the same bytes (dropping one that
  // is gone). True on a read error, and where a range without a digest
  // would have to be moved: the purge is then refused.
  [[nodiscard]] bool RelocatePendingDeletes(std::int32_t size);
  // The digest of the bytes [start, end) of the packet, read as
  // ReadPacketAt reads.
  std::optional<std::uint64_t> RangeDigest(std::int32_t start, std::int32_t end);

  // Message writing (packet_message_write.cc).
  // The message as packed bytes: type word, fixed part, names, area line,
  // composed text and the closing NUL. True when memory ran out.
  [[nodiscard]] bool ComposeMessage(Message& message, std::string* packed);
  // Takes the lock around AppendPackedLocked.
  [[nodiscard]] bool AppendPacked(const std::string& packed);
  [[nodiscard]] bool AppendPackedLocked(const std::string& packed);
  // Under the lock, the end of the batch: its sync, or on failure the cut
  // back to where it began; `rescan` is set when the boundaries must be
  // read anew from the file.
  [[nodiscard]] bool EndBatchLocked(bool* rescan);
  // Moves the end of a pending deletion that ends at `from` to `to` (the
  // last message grew by the NUL an append closed it with) and takes its
  // digest anew.
  void MovePendingEnd(std::int32_t from, std::int32_t to);
  // Whether the packet's name still leads to the file this object holds
  // open: a packet that another program replaced (a purge, an erase) must
  // not be written through the old file, whose bytes nobody reads any
  // more, nor purged back over the new one.
  bool StillTheOpenedFile();
  // Records which file the packet's name leads to, after an open.
  void RememberIdentity();
  // Reads n bytes at `offset` through the locking handle while the lock is
  // held (what is on disk now), otherwise through this object's own file,
  // the one that was scanned. False on a read error or a short read.
  bool ReadPacketAt(std::int32_t offset, std::uint8_t* bytes, std::size_t n);
  // Whether a message starts at `start` of the file (read as ReadPacketAt
  // reads): its type word, after the NUL that closes the text before it.
  // Boundaries from a scan of other content would cut messages apart.
  // Nothing on a read error.
  std::optional<bool> StartsMessage(std::int32_t start);
  [[nodiscard]] bool ReplaceMessage(std::int32_t number, const std::string& packed);
  // Cuts the packet back to `end`, where the cut start of a message that
  // an interrupted append left begins, and makes that durable. True on
  // failure.
  [[nodiscard]] bool CutOffTail(std::int32_t end);
  // Cuts the packet back to `size` bytes ending in `last_two`, after a
  // failed append. Always true, the result of the append.
  bool UndoAppend(std::int32_t size, const std::array<std::uint8_t, 2>& last_two);
  // Flushes the packet to stable storage. True on failure, also for an
  // error latched earlier.
  [[nodiscard]] bool SyncPacket();
  // Leaves the object with its file closed after a refusal.
  bool Refuse();

  std::array<std::uint8_t, kPacketHeaderBufferSize> pkt_header_buffer_{};
  // Bytes 2 to 33 of the fixed part of the message being read or written
  // (everything after its type word).
  std::array<std::uint8_t, kPackedMsgHeaderSize - 2> pkt_msg_buffer_{};
  // One offset per message; kept as plain offsets, not heap items, as a
  // packet may hold many thousands of messages.
  std::vector<std::int32_t> boundaries_;
  // The file size that the boundaries describe, and where the cut start of
  // a message left by an interrupted append begins (the fixed part after
  // the last seam), if the file ends in one.
  std::int32_t scanned_size_ = kEmptyPacketSize;
  std::optional<std::int32_t> cut_tail_;
  SortedCollection<RangeItem, RangeStartOrder> pending_deletes_;
  // The identity of the open packet file (both 0 where the system cannot
  // tell, and then not checked).
  std::uint64_t volume_ = 0;
  std::uint64_t file_index_ = 0;

  // The open batch: where its first append began, to cut back to.
  struct BatchStart {
    std::int32_t size = 0;
    std::array<std::uint8_t, 2> last_two{};
    std::size_t boundary_count = 0;
    std::int32_t last_boundary = 0;
    std::int32_t count = 0;
  };
  bool batching_ = false;
  // An append of the open batch failed: EndBatch cuts the batch off.
  bool batch_failed_ = false;
  std::optional<BatchStart> batch_start_;

  FileByteLock lock_;
  // Whether the writers' section is entered; with no lock support on the
  // system it is, with nothing held.
  bool locked_ = false;
  // Whether BeginBatch took the lock, which EndBatch then lets go.
  bool batch_took_lock_ = false;
  // The buffered stream, kept aside while stream_ works through the lock.
  std::unique_ptr<Stream> unlocked_stream_;
};

}  // namespace qlr
