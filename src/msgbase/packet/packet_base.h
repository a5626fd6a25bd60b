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
// message is written). Purge builds the new content in a temporary file
// and renames it over the packet, so a crash or a full disk never leaves a
// packet with half its messages.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/message_base.h"
#include "msgbase/packet/packet_records.h"
#include "support/collection.h"

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
  // The boundary scan reads the file in pieces of this size.
  static constexpr std::int32_t kScanChunk = 32768;

  // A byte range [start, end) of the file to remove at the next Purge.
  struct RangeItem {
    std::int32_t start = 0;
    std::int32_t end = 0;
  };

  PacketBase();
  // Purges the pending deletions, then closes the file.
  ~PacketBase() override;

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
  // was; the pending deletions are dropped either way.
  void Purge();

  // Releases the object without Purge: the pending deletions are dropped,
  // the file is closed as it stands and the object is back in state Closed,
  // so destroying it afterwards touches nothing. For callers that must
  // abandon a base without changing its file.
  void Discard();

  // Records a range to remove at the next Purge. Ranges are kept ordered
  // by start; a second range with the start of one already recorded is
  // ignored, so deleting a message twice records it once.
  void AddPendingDelete(std::int32_t start, std::int32_t end);

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
  // Purge without the reopen: removes the pending ranges from the file
  // through a temporary file and forgets them.
  void ApplyPendingDeletes();
  // Writes the kept bytes of the packet (of `size` bytes) into the
  // temporary file and makes it durable. True on failure.
  [[nodiscard]] bool WritePurgedCopy(const std::string& temp_path, std::int32_t size);
  // Leaves the object with its file closed after a refusal.
  bool Refuse();

  std::array<std::uint8_t, kPacketHeaderBufferSize> pkt_header_buffer_{};
  // Bytes 2 to 33 of the fixed part of the message being read or written
  // (everything after its type word).
  std::array<std::uint8_t, kPackedMsgHeaderSize - 2> pkt_msg_buffer_{};
  // One offset per message; kept as plain offsets, not heap items, as a
  // packet may hold many thousands of messages.
  std::vector<std::int32_t> boundaries_;
  SortedCollection<RangeItem, RangeStartOrder> pending_deletes_;
};

}  // namespace qlr
