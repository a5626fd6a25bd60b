// The settings a control file gives a rotation run, and where the control
// file and the run lock of an installation lie. The run reads them at its
// start, and the preview of a run reads them the same way, writing
// nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "support/short_string.h"
#include "util/strings.h"

namespace qlr {

inline constexpr std::string_view kControlFileName = "qlr.ctl";
// The run lock's file, beside the control file: one lock per installation.
// It stays in place after the run; removing it would race with the next
// run's open of it.
inline constexpr std::string_view kRunLockFileName = "qlr.lck";
// The run lock is named beside the control file, and fits where it does.
static_assert(kControlFileName.size() == kRunLockFileName.size());

struct RunSettings {
  std::int32_t MaxMessages = 0;
  // Each value holds the base spec and the target directory.
  std::vector<HeapString> BaseLines;
  HeapString ArcExtension;
  HeapString ArcAddCommand;
  // The numbers of the lines that were not understood, ascending.
  std::vector<std::int32_t> WrongLines;
};

// Reads `control_path` into `settings`: the first MaxMessages, every Base
// line in order, the first Arc.Extension and Arc.Add. True on FAILURE
// (the file cannot be loaded).
[[nodiscard]] bool LoadRunSettings(std::string_view control_path, RunSettings* settings);

// The control file in the directory of `executable`.
std::string ControlFileBeside(std::string_view executable);
// The run lock in the directory of the control file `control_path`.
std::string RunLockBeside(std::string_view control_path);

}  // namespace qlr
