#include "plan/rotation_plan.h"

#include <map>
#include <set>

#include "msgbase/base_files.h"
#include "msgbase/base_lock.h"
#include "msgbase/base_reference.h"
#include "msgbase/format_registry.h"
#include "msgbase/open_base.h"
#include "plan/pack_names.h"
#include "plan/rotation_target.h"
#include "plan/run_settings.h"
#include "plan/run_texts.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

using Verdict = PlannedBase::Verdict;

// The run lock as the run would find it: a free lock file (or none yet,
// which the run makes) lets it start; one another run holds stops it.
// Nothing when it would start, else the run's own words. `owns_leftovers`
// tells whether the lock would really keep runs apart.
std::optional<std::string> ProbeRunLock(const std::string& lock_path, bool* owns_leftovers) {
  *owns_leftovers = true;
  // Missing (or a link to a file not made yet): the run makes it.
  if (!Os().Stat(lock_path)) return std::nullopt;
  FileByteLock lock;
  switch (lock.Acquire(lock_path, /*create=*/false, 0, /*follow_links=*/true)) {
    case FileByteLock::Outcome::kLocked:
      return std::nullopt;
    case FileByteLock::Outcome::kNoLocks:
      *owns_leftovers = false;
      return std::nullopt;
    case FileByteLock::Outcome::kBusy:
      return RunLockHeldText(lock_path);
    case FileByteLock::Outcome::kFailed:
      break;
  }
  return RunLockFailedText(lock_path);
}

// Counts the base as the run does before it decides; false when the run
// would say "cannot open!" (the verdict and causes are then set).
bool CountBase(PlannedBase& base, const BaseReference& reference) {
  if (reference.format != nullptr) base.format = reference.format->name;
  if (const std::vector<std::string> links = LinkedBaseFiles(reference); !links.empty()) {
    base.problem = true;
    for (const std::string& link : links) {
      base.causes.push_back(Text("[", link, "] is a symbolic link: the base is left as it was"));
    }
    return false;
  }
  switch (ForeseeOpenBase(reference)) {
    case OpenCourse::kUnreadable:
      base.problem = true;
      return false;
    case OpenCourse::kNotOpened:
      return false;
    case OpenCourse::kCreate:
      // The run makes it, empty, where its directory can be made.
      if (!PathCouldBeMade(BaseDirectoryOf(reference))) return false;
      base.created = true;
      base.count = 0;
      return true;
    case OpenCourse::kOpen:
      break;
  }
  std::unique_ptr<MessageBase> opened;
  if (const Status status = OpenBase(reference, &opened); !status.ok()) {
    base.problem = status.kind() == StatusKind::kCorruption;
    return false;
  }
  base.count = opened->Count();
  return true;
}

// Whether the base's writers' lock is free now; false (with the verdict
// and the cause) when the run could not take it.
bool ProbeBaseLock(PlannedBase& base, const BaseReference& reference) {
  // A base the run creates has nobody else's lock on it.
  if (base.created) return true;
  BaseLock lock;
  if (!lock.Acquire(reference, 0)) return true;
  base.problem = true;
  if (lock.Busy()) {
    base.verdict = Verdict::kBusy;
    base.causes.push_back(Text("[", lock.LockFile(), "] is locked by another program now"));
  } else {
    base.verdict = Verdict::kCannotLock;
    base.causes.push_back(
        Text("base lock: ", lock.LastError().ok() ? lock.LockFile() : lock.LastError().ToString()));
  }
  return false;
}

// The numbers the rotations planned so far take, per target directory:
// a copy or its archive keeps its number for every later base line.
using ClaimedNumbers = std::map<std::string, std::set<std::uint32_t>>;

PlannedBase PlanBase(std::string_view base_line, const RunSettings& settings, bool pack_mode,
                     bool owns_leftovers, ClaimedNumbers& claimed) {
  PlannedBase base;
  base.spec = ExtractWord(1, base_line, kBlanks).view();
  const std::string target_dir = AddBackslash(ExtractWord(2, base_line, kBlanks));
  const BaseReference reference = ParseBaseReference(base.spec);
  if (!CountBase(base, reference)) return base;
  if (*base.count <= settings.MaxMessages) {
    base.verdict = Verdict::kLetItLive;
    return base;
  }
  if (!ProbeBaseLock(base, reference)) return base;

  RotationTarget target(target_dir, owns_leftovers);
  if (pack_mode) target.SetArchiveExtension(settings.ArcExtension.view());
  std::set<std::uint32_t>& taken = claimed[target_dir];
  for (const std::uint32_t number : taken) target.PassOver(number);
  Status error;
  const bool fails = target.Foresee(&error);
  base.copy_name = target.CopyName();
  if (fails) {
    base.verdict = Verdict::kCannotCopy;
    base.problem = true;
    base.causes.push_back(Text("cannot copy to [", base.copy_name, "]: ", error.ToString()));
    return base;
  }
  base.verdict = Verdict::kRotate;
  if (const auto number = RotationNumberOf(WholeFileName(target.CopyName()))) taken.insert(*number);
  if (!pack_mode) return base;
  const std::string stem = AddBackslash(ForeseePackingPlace(target_dir, owns_leftovers)) +
                           WholeFileName(target.CopyName());
  const auto tail = ArchiverCommandTail(settings.ArcAddCommand.view(), stem, target.CopyName());
  if (!tail) {
    base.problem = true;
    base.causes.push_back("not packed: the archiver command would pass 255 characters");
    return base;
  }
  constexpr std::size_t kSwitchSize = 4;  // " /C "
  base.command = tail->view().substr(kSwitchSize);
  return base;
}

}  // namespace

int RunPlan::ExitCode() const {
  if (!fatal.empty()) return 1;
  for (const PlannedBase& base : bases) {
    if (base.problem) return 1;
  }
  return 0;
}

std::string_view VerdictText(PlannedBase::Verdict verdict) {
  switch (verdict) {
    case Verdict::kLetItLive:
      return "let it live";
    case Verdict::kRotate:
      return "rotate";
    case Verdict::kCannotOpen:
      return "cannot open!";
    case Verdict::kBusy:
      return "base is busy!";
    case Verdict::kCannotLock:
      return "cannot lock!";
    case Verdict::kCannotCopy:
      return "cannot copy!";
  }
  return "?";
}

RunPlan PlanRun(std::string_view control_path, bool pack_mode) {
  RunPlan plan;
  if (!FileExists(control_path)) {
    plan.fatal = ControlFileMissingText(control_path);
    return plan;
  }
  RunSettings settings;
  if (LoadRunSettings(control_path, &settings)) {
    plan.fatal = ControlFileUnreadableText(control_path);
    return plan;
  }
  for (const std::int32_t line : settings.WrongLines) {
    plan.warnings.push_back(WrongLineText(line, control_path));
  }
  plan.limit = settings.MaxMessages;
  if (settings.BaseLines.empty()) {
    plan.fatal = kNothingToRotate;
    return plan;
  }
  const std::string lock_path = RunLockBeside(control_path);
  bool owns_leftovers = true;
  if (std::optional<std::string> stop = ProbeRunLock(lock_path, &owns_leftovers)) {
    plan.fatal = *stop;
    return plan;
  }
  ClaimedNumbers claimed;
  for (const HeapString& line : settings.BaseLines) {
    plan.bases.push_back(PlanBase(line.view(), settings, pack_mode, owns_leftovers, claimed));
  }
  return plan;
}

}  // namespace qlr
