// Frame headers of a ".sqd" file: loaded, changed in memory and written
// back as one set, and the walk along a frame chain.
//
// A message write or delete changes up to six frame headers (the frame
// itself, its neighbours in the message chain, the old head or tail of
// the free chain, the neighbours of a new frame). Several of them can be
// the same frame, so every change goes to one copy per offset, in the
// order the format prescribes, and each changed header is written once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "msgbase/squish/squish_records.h"
#include "support/stream.h"

namespace qlr {

class SquishFrames {
 public:
  // `data` is the ".sqd" stream; no frame header may reach beyond `limit`
  // (the used end of the file).
  SquishFrames(Stream& data, std::uint32_t limit) : data_(data), limit_(limit) {}

  // The header of the frame at `offset`, read on first use. Null when no
  // frame can be there (inside the base header, or its 28 bytes pass the
  // limit), the read fails or the bytes carry no frame id: a link that
  // points there is corrupt, and following it would write a frame header
  // over message data.
  SquishFrameHeader* Get(std::uint32_t offset);
  // The end of the farthest frame loaded so far, as its FrameLength says.
  std::uint64_t HighestEnd() const;
  // Writes every header that differs from what was read back in place, in
  // offset order, and flushes. True on failure.
  [[nodiscard]] bool WriteBack();

 private:
  struct Entry {
    SquishFrameHeader read;
    SquishFrameHeader current;
  };

  Stream& data_;
  std::uint32_t limit_;
  std::map<std::uint32_t, Entry> frames_;
};

// Reads the frame header at `offset` of `data`, whose used end is `limit`.
// Nothing when no frame header fits there or the bytes are no frame.
std::optional<SquishFrameHeader> ReadFrameHeader(Stream& data, std::uint32_t offset,
                                                 std::uint32_t limit);

// Follows the NextFrame links from `first` (0: an empty chain) and stores
// the offsets of the frames on the way. Fails on a link to where no frame
// is, a PrevFrame that does not point back, or a chain longer than the
// file can hold, which means it loops: the walk is bounded by the number
// of frame headers that fit below `limit`. True on failure.
[[nodiscard]] bool WalkFrameChain(Stream& data, std::uint32_t first, std::uint32_t limit,
                                  std::vector<std::uint32_t>* offsets);

}  // namespace qlr
