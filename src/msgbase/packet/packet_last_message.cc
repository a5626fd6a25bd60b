// Where the last message of a packet ends, and what an interrupted append
// left after it.
//
// Every message but the last ends at a seam (00 02 00) that the forward
// scan found. The last one is read as a sequential reader reads it: the
// fixed part, three names (each ended by a NUL or, as some writers do, a
// CR), then the text up to its closing NUL. A whole last message has that
// NUL; the bytes after it are the terminator, part of it, or nothing.
//
// An append killed after its type word but before its closing NUL leaves a
// message without one. Its bytes are the start of a message, never a whole
// one (the writers drop NULs from the text), so they are not counted: the
// packet reads as it did before the append began, and the next append cuts
// them off before it writes (see AppendPackedLocked).
#include <algorithm>
#include <cstdint>
#include <vector>

#include "msgbase/packet/packet_base.h"

namespace qlr {
namespace {

// What the scan of the bytes after the last seam found.
enum class LastMessage {
  kWhole,    // a closing NUL, and only zero bytes after it
  kUnusual,  // a closing NUL with other bytes after it, or a read error
  kCut,      // no closing NUL before the end of the file
};

}  // namespace

void PacketBase::EndLastMessage(std::int32_t size) {
  scanned_size_ = size;
  cut_tail_.reset();
  if (size <= kEmptyPacketSize) return;
  const std::int32_t seam = boundaries_.back();
  // The fixed part follows the seam's NUL and the type word.
  const std::int32_t fixed_start = seam + 3;
  if (fixed_start >= size) return;  // the file ends in a seam: nothing after it
  const std::int64_t strings_start = static_cast<std::int64_t>(seam) + 1 + kPackedMsgHeaderSize;

  LastMessage found = LastMessage::kCut;
  std::int32_t closing_nul = -1;
  int names_left = 3;
  std::vector<std::uint8_t> piece;
  for (std::int64_t at = strings_start; at < size && found != LastMessage::kUnusual;) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(kScanChunk, size - at));
    piece.resize(want);
    stream_->Seek(static_cast<std::int32_t>(at));
    stream_->Read(piece.data(), want);
    if (!stream_->Ok()) {
      stream_->ClearError();
      found = LastMessage::kUnusual;
      break;
    }
    for (std::size_t i = 0; i < want; ++i) {
      const std::uint8_t byte = piece[i];
      if (closing_nul >= 0) {
        if (byte != 0) {
          found = LastMessage::kUnusual;
          break;
        }
      } else if (names_left > 0) {
        if (byte == 0 || byte == '\r') --names_left;
      } else if (byte == 0) {
        closing_nul = static_cast<std::int32_t>(at + static_cast<std::int64_t>(i));
        found = LastMessage::kWhole;
      }
    }
    at += static_cast<std::int64_t>(want);
  }

  switch (found) {
    case LastMessage::kWhole:
      boundaries_.push_back(closing_nul);
      break;
    case LastMessage::kUnusual: {
      // Not what any writer leaves: the old reading holds, the last two
      // bytes taken for the terminator. Boundaries only ever grow.
      const std::int32_t last = size - 3;
      if (last > seam) boundaries_.push_back(last);
      break;
    }
    case LastMessage::kCut:
      // Cutting the file back to here leaves it ending in the seam.
      cut_tail_ = fixed_start;
      break;
  }
}

}  // namespace qlr
