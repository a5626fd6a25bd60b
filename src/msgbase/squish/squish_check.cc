#include "msgbase/squish/squish_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "msgbase/checked_file.h"
#include "msgbase/file_set_check.h"
#include "msgbase/squish/squish_records.h"

namespace qlr {
namespace {

constexpr std::uint64_t kFrameHeader = SquishFrameHeader::kEncodedSize;
constexpr std::uint64_t kMsgHeader = SquishMsgHeader::kEncodedSize;
constexpr std::uint64_t kRecord = SquishIndexRecord::kEncodedSize;

std::string Num(std::uint64_t value) { return std::to_string(value); }
std::string At(std::uint64_t offset) { return "the frame at offset " + Num(offset); }

// What a walk along one chain found.
struct Chain {
  // Offset -> position in the chain (from 1).
  std::unordered_map<std::uint64_t, std::uint64_t> frames;
  std::uint64_t last = 0;  // the last frame reached, 0 for none
};

// The header of the frame at `offset`, when a whole frame header lies
// there and carries the frame id.
std::optional<SquishFrameHeader> FrameAt(CheckedFile& data, std::uint64_t offset) {
  if (offset < kSquishFirstFrame || !data.Holds(offset, kFrameHeader)) return std::nullopt;
  std::array<std::uint8_t, kFrameHeader> bytes{};
  if (!data.Read(offset, bytes)) return std::nullopt;
  std::optional<SquishFrameHeader> frame = SquishFrameHeader::DecodeFrom(bytes);
  if (!frame || frame->frame_id != kSquishFrameId) return std::nullopt;
  return frame;
}

// The lengths of one frame must stay inside the frame and the file; a
// message frame must hold its message header and its control information.
void CheckLengths(std::uint64_t offset, const SquishFrameHeader& frame, const CheckedFile& data,
                  std::int64_t number, CheckReport* report) {
  if (!data.Holds(offset + kFrameHeader, frame.frame_length)) {
    report->Add(number, At(offset) + " (FrameLength " + Num(frame.frame_length) +
                            ") passes the end of .sqd (" + Num(data.size()) + " bytes)");
  }
  if (frame.frame_type != kSquishMessageFrame) return;
  if (frame.msg_length > frame.frame_length) {
    report->Add(number, At(offset) + " has MsgLength " + Num(frame.msg_length) +
                            " beyond its FrameLength " + Num(frame.frame_length));
  }
  if (std::uint64_t{frame.ctrl_length} + kMsgHeader > frame.msg_length) {
    report->Add(number, At(offset) + " has MsgLength " + Num(frame.msg_length) +
                            ", too short for the message header and CtrlLength " +
                            Num(frame.ctrl_length));
  }
}

// Follows one chain from `first`, checking each frame's type, back link
// and lengths, until its end, a link that leaves the file or reaches no
// frame, or a frame met before (a loop). `numbers` maps frame offsets to
// the message numbers of the index, for the findings.
Chain WalkChain(CheckedFile& data, std::uint64_t first, std::uint16_t type, std::string_view name,
                const std::unordered_map<std::uint64_t, std::int64_t>& numbers,
                CheckReport* report) {
  const auto number_of = [&numbers](std::uint64_t offset) -> std::int64_t {
    const auto found = numbers.find(offset);
    return found == numbers.end() ? 0 : found->second;
  };
  Chain chain;
  std::uint64_t previous = 0;
  for (std::uint64_t offset = first; offset != 0;) {
    // A bad link is the fault of the frame that holds it.
    const std::int64_t linking = number_of(previous);
    if (chain.frames.contains(offset)) {
      report->Add(linking, "the " + std::string(name) + " chain loops back to " + At(offset));
      break;
    }
    // More frames than headers fit in the file: frames that overlap.
    if (chain.frames.size() > data.size() / kFrameHeader) {
      report->Add(0, "the " + std::string(name) + " chain holds more frames than .sqd can");
      break;
    }
    const std::int64_t number = number_of(offset);
    const std::optional<SquishFrameHeader> frame = FrameAt(data, offset);
    if (!frame) {
      report->Add(linking, "the " + std::string(name) + " chain leads to offset " + Num(offset) +
                               (data.Holds(offset, kFrameHeader) && offset >= kSquishFirstFrame
                                    ? ", where no frame is"
                                    : ", outside the frames of .sqd"));
      break;
    }
    if (frame->frame_type != type) {
      report->Add(number, At(offset) + " in the " + std::string(name) + " chain has FrameType " +
                              Num(frame->frame_type));
    }
    if (frame->prev_frame != previous) {
      report->Add(number, At(offset) + " has PrevFrame " + Num(frame->prev_frame) +
                              ", not the frame before it (" + Num(previous) + ")");
    }
    CheckLengths(offset, *frame, data, number, report);
    chain.frames.emplace(offset, chain.frames.size() + 1);
    chain.last = offset;
    previous = offset;
    offset = frame->next_frame;
  }
  return chain;
}

}  // namespace

CheckReport CheckSquishBase(std::string_view location) {
  CheckReport report;
  CheckedFile data;
  CheckedFile index;
  const bool opened = data.Open(FileOfSet(location, ".sqd"), ".sqd", &report);
  if (!index.Open(FileOfSet(location, ".sqi"), ".sqi", &report) || !opened) return report;
  if (!data.Holds(0, SquishBaseHeader::kEncodedSize)) {
    report.Add(0, ".sqd is shorter than its " + Num(SquishBaseHeader::kEncodedSize) +
                      "-byte base header (" + Num(data.size()) + " bytes)");
    return report;
  }
  std::array<std::uint8_t, SquishBaseHeader::kEncodedSize> header_bytes{};
  if (!data.Read(0, header_bytes)) return report;
  const std::optional<SquishBaseHeader> header = SquishBaseHeader::DecodeFrom(header_bytes);
  if (!header) return report;

  if (index.size() % kRecord != 0) {
    report.Add(0,
               ".sqi ends in a partial index record (" + Num(index.size() % kRecord) + " bytes)");
  }
  const std::uint64_t records = index.size() / kRecord;
  if (header->num_msg != records) {
    report.Add(0, "NumMsg says " + Num(header->num_msg) + ", .sqi holds " + Num(records) +
                      " index records");
  }
  if (header->high_msg != header->num_msg) {
    report.Add(0,
               "HighMsg " + Num(header->high_msg) + " differs from NumMsg " + Num(header->num_msg));
  }
  if (header->end_frame > data.size()) {
    report.Add(0, "EndFrame " + Num(header->end_frame) + " lies past the end of .sqd (" +
                      Num(data.size()) + " bytes)");
  }

  // The index first: it gives the frames their message numbers. Records
  // beyond the frames that .sqd could hold point at no frame anyway, and
  // are not read: the index could be far larger than the data.
  const std::uint64_t possible = data.size() / kFrameHeader;
  if (records > possible) {
    report.Add(0, ".sqi holds " + Num(records) + " index records, .sqd room for " + Num(possible) +
                      " frames");
  }
  std::vector<std::uint8_t> index_bytes(std::min(records, possible) * kRecord);
  if (!index_bytes.empty() && !index.Read(0, index_bytes)) return report;
  std::vector<std::uint64_t> offsets;
  std::unordered_map<std::uint64_t, std::int64_t> numbers;
  for (std::uint64_t i = 0; i < index_bytes.size() / kRecord; ++i) {
    const std::optional<SquishIndexRecord> record = SquishIndexRecord::DecodeFrom(
        std::span<const std::uint8_t>(index_bytes).subspan(i * kRecord));
    offsets.push_back(record ? record->offset : 0);
    const auto [it, fresh] = numbers.try_emplace(offsets.back(), static_cast<std::int64_t>(i + 1));
    if (!fresh) {
      report.Add(static_cast<std::int64_t>(i + 1),
                 "index points at the frame of message " + std::to_string(it->second));
    }
  }

  const Chain messages =
      WalkChain(data, header->begin_frame, kSquishMessageFrame, "message", numbers, &report);
  const Chain free = WalkChain(data, header->free_frame, kSquishFreeFrame, "free", {}, &report);
  if (messages.last != header->last_frame) {
    report.Add(0, "LastFrame is " + Num(header->last_frame) + ", the message chain ends at " +
                      Num(messages.last));
  }
  if (free.last != header->last_free_frame) {
    report.Add(0, "LastFreeFrame is " + Num(header->last_free_frame) + ", the free chain ends at " +
                      Num(free.last));
  }
  if (messages.frames.size() != header->num_msg) {
    report.Add(0, "the message chain holds " + Num(messages.frames.size()) +
                      " frames, NumMsg says " + Num(header->num_msg));
  }
  for (const auto& [offset, position] : free.frames) {
    if (messages.frames.contains(offset)) {
      report.Add(0, At(offset) + " is in both the message and the free chain");
    }
  }
  for (std::uint64_t i = 0; i < offsets.size(); ++i) {
    if (!messages.frames.contains(offsets[i])) {
      report.Add(static_cast<std::int64_t>(i + 1),
                 "index points at no frame of the message chain (offset " + Num(offsets[i]) + ")");
    }
  }
  report.messages = static_cast<std::int64_t>(std::min<std::uint64_t>(header->num_msg, records));
  return report;
}

}  // namespace qlr
