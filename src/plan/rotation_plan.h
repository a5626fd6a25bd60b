// The preview of a rotation run: what `qlr` would do with each base line
// of a control file if it ran now, found without writing, creating or
// removing anything. It reads the control file, opens the bases, lists
// the target directories and tries the locks exactly as the run does,
// and stops short of every change.
//
// What cannot be foreseen is said so: a lock found free now may be taken
// before the run, and a base whose erase was interrupted is counted as it
// stands (the run first puts the messages held aside back).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qlr {

// What the run would do with one base line.
struct PlannedBase {
  enum class Verdict {
    kLetItLive,  // at or under the limit
    kRotate,     // copied, emptied and, in pack mode, archived
    kCannotOpen,
    kBusy,        // another program holds the base's writers' lock now
    kCannotLock,  // the lock file cannot be opened
    kCannotCopy,  // the target cannot take the copy
  };
  std::string spec;
  std::string format;                 // the format's name; empty when unknown
  std::optional<std::int32_t> count;  // nothing when the base is not counted
  Verdict verdict = Verdict::kCannotOpen;
  // The rotation directory the copy would take (kRotate, kCannotCopy).
  std::string copy_name;
  // Pack mode: the archiver command as the interpreter gets it, after its
  // " /C " (kRotate).
  std::string command;
  // A missing base the run creates, empty, before it counts it.
  bool created = false;
  // The run would end with exit code 1 for this base.
  bool problem = false;
  // Why, in the words of the run's cause lines.
  std::vector<std::string> causes;
};

struct RunPlan {
  // A reason the run would not start (the control file is missing or
  // unreadable, there are no base lines, the run lock is held): the run's
  // own text, and nothing else is planned.
  std::string fatal;
  std::vector<std::string> warnings;  // the lines the run warns about
  std::int32_t limit = 0;
  std::vector<PlannedBase> bases;
  // The exit code the run would end with.
  int ExitCode() const;
};

// The preview of `qlr /p` (`pack_mode`) or `qlr /c` with the control
// file `control_path`, whose run lock lies beside it.
RunPlan PlanRun(std::string_view control_path, bool pack_mode);

// The text a verdict has in the preview's output.
std::string_view VerdictText(PlannedBase::Verdict verdict);

}  // namespace qlr
