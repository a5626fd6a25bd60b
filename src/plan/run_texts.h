// The words a rotation run ends or warns with, shared by the run and by
// its preview, which must say exactly what the run would say.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/strings.h"

namespace qlr {

// Joins the pieces of a console text. Console lines are not short
// strings: a long path must never cut the end off a line.
template <typename... Pieces>
std::string Text(const Pieces&... pieces) {
  std::string out;
  (out.append(std::string_view(pieces)), ...);
  return out;
}

inline constexpr std::string_view kNothingToRotate = "nothing to archiving...";

inline std::string ControlFileMissingText(std::string_view control_path) {
  return Text("[", control_path, "] is not found!");
}
inline std::string ControlFileUnreadableText(std::string_view control_path) {
  return Text("cannot load [", control_path, "]");
}
inline std::string WrongLineText(std::int32_t line, std::string_view control_path) {
  return Text("wrong line #[", LongToStr(line), "] in [", control_path, "]");
}
inline std::string RunLockHeldText(std::string_view lock_path) {
  return Text("[", lock_path, "] is held by another run!");
}
inline std::string RunLockFailedText(std::string_view lock_path) {
  return Text("cannot lock [", lock_path, "]!");
}

}  // namespace qlr
