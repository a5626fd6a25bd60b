// Hand-built files of JAM and Squish bases, as another program leaves
// them, and a snapshot of a tree of files, for the base contracts and the
// formats' own suites.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "msgbase/jam/jam_base.h"
#include "support/coding.h"
#include "testing/corruption.h"

namespace qlr::testing {

inline std::string Bytes(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Every name under `root` with the content of each file: equal
// snapshots taken around a step show that it wrote nothing.
inline std::vector<std::string> Snapshot(const std::string& root) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = e.path().string();
    names.push_back(name + ":" + (e.is_regular_file() ? ReadWholeFile(name).value_or("") : "/"));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// ---- JAM ----

// The 1024-byte base header of an existing base.
inline std::string JamHeaderFile(std::uint32_t active_msgs, std::uint32_t mod_counter = 7) {
  JamBaseHeader header;
  header.Signature = kJamSignature;
  header.DateCreated = 0x386D4380;
  header.ModCounter = mod_counter;
  header.ActiveMsgs = active_msgs;
  header.PasswordCrc = kJamNoPassword;
  header.BaseMsgNum = 1;
  std::vector<std::uint8_t> bytes;
  header.AppendTo(&bytes);
  return Bytes(bytes);
}

inline std::string JamIndexFile(const std::vector<JamIndexRecord>& records) {
  std::vector<std::uint8_t> bytes;
  for (const JamIndexRecord& record : records) record.AppendTo(&bytes);
  return Bytes(bytes);
}

inline std::string JamMsgHeaders(int count) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < count; ++i) JamMsgHeader().AppendTo(&bytes);
  return Bytes(bytes);
}

// ---- Squish ----

// Stores a u32 field of a hand-built file.
inline void Put32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  EncodeFixed32(reinterpret_cast<std::uint8_t*>(bytes.data()) + offset, value);
}

// The header of an empty base, written from the field offsets by hand.
inline std::string SquishEmptyHeader() {
  std::string h(256, '\0');
  h[1] = '\x01';    // 0: Len 256
  h[16] = '\x01';   // 16: HighWater 1
  h[20] = '\x02';   // 20: Uid 2
  h[105] = '\x01';  // 104: BeginFrame 256
  h[121] = '\x01';  // 120: EndFrame 256
  h[130] = '\x1C';  // 130: SzFrameHeader 28
  return h;
}

// A header of `size` bytes (at least the 8 up to HighMsg) with NumMsg set.
inline std::string SquishHeaderWithNumMsg(std::uint32_t num_msg, std::size_t size = 256) {
  std::string h = SquishEmptyHeader();
  h.resize(size, '\0');
  Put32(h, 4, num_msg);
  return h;
}

// `n` index records of frames one smallest frame (266 bytes) apart;
// `repeat_last` names the frame of the one before the last twice.
inline std::string SquishRecords(std::uint32_t n, bool repeat_last = false) {
  std::string sqi(n * 12, '\0');
  for (std::uint32_t i = 0; i < n; ++i) {
    const bool repeat = repeat_last && i + 1 == n && i > 0;
    Put32(sqi, i * 12, 256 + (repeat ? i - 1 : i) * 266);
  }
  return sqi;
}

// The size of a data file holding `n` smallest frames.
inline std::size_t SquishFramesOf(std::size_t n) { return 256 + n * 266; }

}  // namespace qlr::testing
