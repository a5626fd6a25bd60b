// Helpers for the packet tests: hand-built packet bytes, and a platform
// double with a fixed clock and a rename of its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "testing/forwarding_platform.h"

namespace qlr::testing {

// The bytes of a u16, little-endian.
inline std::string U16(std::uint16_t value) {
  return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

// A 58-byte packet header: zero but for the version word and a marker in
// the product data, so a test can tell the header survived.
inline std::string PacketHeaderBytes(std::uint16_t version = 2) {
  std::string h(58, '\0');
  h.replace(18, 2, U16(version));
  h.replace(54, 4, "HDR!");
  return h;
}

// One packed message: type word 2, a 32-byte fixed part filled with
// `fixed_fill`, the three names and the text, each NUL-terminated.
inline std::string PackedMessage(std::string_view text, char fixed_fill = 'f') {
  std::string m = U16(2);
  m += std::string(32, fixed_fill);
  m += std::string("to") + '\0' + "from" + '\0' + "subj" + '\0';
  m += text;
  m += '\0';
  return m;
}

inline const std::string kTerminator(2, '\0');

// The header, the messages and the terminator.
inline std::string PacketBytes(const std::vector<std::string>& messages) {
  std::string p = PacketHeaderBytes();
  for (const std::string& m : messages) p += m;
  return p + kTerminator;
}

// The boundaries the scan must find: 57, then the offset of each
// message's last byte (its closing NUL).
inline std::vector<std::int32_t> ExpectedBoundaries(const std::vector<std::string>& messages) {
  std::vector<std::int32_t> b{57};
  std::int32_t at = 57;
  for (const std::string& m : messages) {
    at += static_cast<std::int32_t>(m.size());
    b.push_back(at);
  }
  return b;
}

// Compares file contents without printing packets of many kilobytes: on
// a mismatch it tells the sizes and the first offset that differs.
inline ::testing::AssertionResult SameBytes(const std::string& actual,
                                            const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at offset " << at;
}

// Forwards to another platform, with two changes: Now is a fixed time,
// and Rename may be made to fail, and calls `on_rename` first so a test
// can see how far the caller got.
class PacketTestPlatform final : public ForwardingPlatform {
 public:
  explicit PacketTestPlatform(Platform& inner) : ForwardingPlatform(inner) {}

  LocalTime now{2024, 2, 29, 23, 58, 7, 0};
  bool fail_rename = false;
  int renames = 0;
  std::function<void()> on_rename;

  [[nodiscard]] ScopedPlatform Install() { return ScopedPlatform(*this); }

  Status Rename(std::string_view from, std::string_view to) override {
    ++renames;
    if (on_rename) on_rename();
    if (fail_rename) return Status(StatusKind::kIoError, from, "rename refused");
    return inner_.Rename(from, to);
  }
  LocalTime Now() override { return now; }
};

}  // namespace qlr::testing
