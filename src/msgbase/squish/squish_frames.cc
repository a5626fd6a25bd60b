#include "msgbase/squish/squish_frames.h"

#include <algorithm>
#include <array>

namespace qlr {

std::optional<SquishFrameHeader> ReadFrameHeader(Stream& data, std::uint32_t offset,
                                                 std::uint32_t limit) {
  constexpr std::uint32_t kSize = SquishFrameHeader::kEncodedSize;
  if (offset < kSquishFirstFrame || offset > limit || limit - offset < kSize) return std::nullopt;
  std::array<std::uint8_t, kSize> bytes{};
  data.Seek(static_cast<std::int32_t>(offset));
  data.Read(bytes.data(), bytes.size());
  if (!data.Ok()) return std::nullopt;
  std::optional<SquishFrameHeader> header = SquishFrameHeader::DecodeFrom(bytes);
  if (!header || header->frame_id != kSquishFrameId) return std::nullopt;
  return header;
}

SquishFrameHeader* SquishFrames::Get(std::uint32_t offset) {
  if (const auto found = frames_.find(offset); found != frames_.end()) {
    return &found->second.current;
  }
  const std::optional<SquishFrameHeader> header = ReadFrameHeader(data_, offset, limit_);
  if (!header) return nullptr;
  Entry& entry = frames_[offset];
  entry.read = *header;
  entry.current = *header;
  return &entry.current;
}

std::uint64_t SquishFrames::HighestEnd() const {
  std::uint64_t end = 0;
  for (const auto& [offset, entry] : frames_) {
    end = std::max(
        end, std::uint64_t{offset} + SquishFrameHeader::kEncodedSize + entry.read.frame_length);
  }
  return end;
}

bool SquishFrames::WriteBack() {
  std::array<std::uint8_t, SquishFrameHeader::kEncodedSize> bytes{};
  for (const auto& [offset, entry] : frames_) {
    if (entry.current == entry.read) continue;
    entry.current.EncodeTo(bytes.data());
    data_.Seek(static_cast<std::int32_t>(offset));
    data_.Write(bytes.data(), bytes.size());
  }
  data_.Flush();
  return !data_.Ok();
}

bool WalkFrameChain(Stream& data, std::uint32_t first, std::uint32_t limit,
                    std::vector<std::uint32_t>* offsets) {
  offsets->clear();
  // Frames do not overlap, so no chain holds more frames than headers fit
  // into the file; a walk that goes on longer is going round.
  const std::uint32_t room = limit > kSquishFirstFrame ? limit - kSquishFirstFrame : 0;
  const std::uint32_t most = room / SquishFrameHeader::kEncodedSize;
  std::uint32_t previous = 0;
  for (std::uint32_t at = first; at != 0;) {
    if (offsets->size() >= most) return true;
    const std::optional<SquishFrameHeader> header = ReadFrameHeader(data, at, limit);
    if (!header || header->prev_frame != previous) return true;
    offsets->push_back(at);
    previous = at;
    at = header->next_frame;
  }
  return false;
}

}  // namespace qlr
