// Damage done to a file on purpose, to check that a reader refuses it
// cleanly: cut at every length, a byte flipped or set. Each works through
// a Platform, the host's (real files, the default) or a MemoryPlatform.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qlr::testing {

// The whole content of a file; nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(std::string_view path, Platform& platform = Os());
// Replaces the content of a file (created when missing). True on success.
[[nodiscard]] bool WriteWholeFile(std::string_view path, std::string_view bytes,
                                  Platform& platform = Os());

// Calls `check(length)` with the file cut to `length` bytes, for every
// length from 0 to its size - 1, restoring its first `length` bytes before
// each call (so a check may change the file), and the whole file at the
// end. False when the file cannot be read or rewritten (a test failure is
// recorded then).
bool ForEachTruncation(std::string_view path, const std::function<void(std::uint64_t)>& check,
                       Platform& platform = Os());
// XORs the byte at `offset` with `mask`; false when the file is shorter.
[[nodiscard]] bool FlipByte(std::string_view path, std::uint64_t offset, std::uint8_t mask = 0xFF,
                            Platform& platform = Os());
// Sets the byte at `offset` to `value`; false when the file is shorter.
[[nodiscard]] bool SetByte(std::string_view path, std::uint64_t offset, std::uint8_t value,
                           Platform& platform = Os());

}  // namespace qlr::testing
