#include "msgbase/packet/packet_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "msgbase/checked_file.h"
#include "msgbase/file_set_check.h"
#include "msgbase/packet/packet_records.h"
#include "support/coding.h"

namespace qlr {
namespace {

constexpr std::uint64_t kBlock = 65536;

std::string Num(std::uint64_t value) { return std::to_string(value); }

// The offset of the first NUL at or after `from`; nothing when the file
// ends (or cannot be read) first. Read in blocks: a packet may be large.
std::optional<std::uint64_t> FindNul(CheckedFile& file, std::uint64_t from) {
  std::vector<std::uint8_t> block;
  while (from < file.size()) {
    block.resize(static_cast<std::size_t>(std::min(kBlock, file.size() - from)));
    if (!file.Read(from, block)) return std::nullopt;
    const auto nul = std::find(block.begin(), block.end(), std::uint8_t{0});
    if (nul != block.end()) return from + static_cast<std::uint64_t>(nul - block.begin());
    from += block.size();
  }
  return std::nullopt;
}

// The NUL-terminated strings after the fixed part of a packed message.
constexpr std::array<std::string_view, 4> kStrings = {"to-user name", "from-user name", "subject",
                                                      "text"};

}  // namespace

CheckReport CheckPacket(std::string_view location) {
  CheckReport report;
  CheckedFile packet;
  if (!packet.Open(FileOfSet(location, ".pkt"), ".pkt", &report)) return report;
  if (!packet.Holds(0, kPacketHeaderSize)) {
    report.Add(0, "the packet is shorter than its " + Num(kPacketHeaderSize) + "-byte header (" +
                      Num(packet.size()) + " bytes)");
    return report;
  }
  // Readers refuse a packet of another version: its messages are none of
  // theirs, however sound they look.
  std::array<std::uint8_t, 2> version{};
  if (!packet.Read(18, version)) return report;
  if (const std::uint16_t found = DecodeFixed16(version.data()); found != kPacketVersion) {
    report.Add(0, "the packet header gives version " + Num(found) + ", not " + Num(kPacketVersion));
    return report;
  }
  std::uint64_t at = kPacketHeaderSize;
  for (std::int64_t number = 1;; ++number) {
    std::array<std::uint8_t, 2> word{};
    if (!packet.Holds(at, word.size())) {
      report.Add(0, at == packet.size()
                        ? "the packet ends without its terminating zero word"
                        : "the packet ends inside a message type word at offset " + Num(at));
      break;
    }
    if (!packet.Read(at, word)) break;
    const std::uint16_t type = DecodeFixed16(word.data());
    if (type == 0) {
      const std::uint64_t after = packet.size() - at - word.size();
      if (after > 0) {
        report.Add(0, Num(after) + " bytes follow the terminating zero word at offset " + Num(at));
      }
      break;
    }
    if (type != kPackedMsgType) {
      report.Add(number, "the message at offset " + Num(at) + " starts with type word " +
                             Num(type) + ", not " + Num(kPackedMsgType));
      break;
    }
    if (!packet.Holds(at, kPackedMsgHeaderSize)) {
      report.Add(number, "the message at offset " + Num(at) + " is cut off in its " +
                             Num(kPackedMsgHeaderSize) + "-byte header");
      break;
    }
    std::uint64_t next = at + kPackedMsgHeaderSize;
    bool whole = true;
    for (const std::string_view name : kStrings) {
      const std::optional<std::uint64_t> nul = FindNul(packet, next);
      if (!nul) {
        report.Add(number, "the message at offset " + Num(at) + " is cut off: its " +
                               std::string(name) + " has no terminating NUL");
        whole = false;
        break;
      }
      next = *nul + 1;
    }
    if (!whole) break;
    report.messages = number;
    at = next;
  }
  return report;
}

}  // namespace qlr
