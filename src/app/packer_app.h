// The application: start-up and settings, the rotation run over the bases,
// and the ways the process ends.
#pragma once

#include <string>

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "support/short_string.h"
#include "util/strings.h"

namespace qlr {

struct BaseReference;

class PackingPlace;

// How long a run waits for an earlier one to end before it gives up.
inline constexpr int kRunLockWaitMs = 10000;

class PackerApp {
 public:
  // Prints the banner, checks the switch, loads qlr.ctl from beside the
  // executable and reports the lines it did not understand. Fatal problems
  // end the process through ExitWithMessage.
  void Init(const std::vector<std::string_view>& arguments);
  // Rotates every base that has grown past MaxMessages.
  void Run();
  // Prints `text` and "exiting...", then ends the process with exit code 1.
  [[noreturn]] void ExitWithMessage(std::string_view text);

  // 0 after a clean run; 1 when a base was left unrotated by a failure.
  int ExitCode() const { return exit_code_; }

  bool PackMode = false;
  std::int32_t MaxMessages = 0;
  std::vector<HeapString> BaseLines;
  HeapString ArcExtension;
  HeapString ArcAddCommand;
  // The file whose lock keeps two runs apart, beside qlr.ctl (set by
  // Init). Empty: beside the executable.
  std::string RunLockPath;

 private:
  // Handles one base line of the run. `owns_leftovers`: the run lock is
  // held, so partial copies found belong to runs that died.
  void ProcessBase(std::string_view base_line, bool owns_leftovers);
  // Runs the archiver on the copy, making the archive under a private
  // name in `target_dir`, and publishes it as `archive_name` once it is
  // found sound and on stable storage: then ok. Otherwise the detail says
  // why not; nothing is then left under `archive_name`. `mode_limit`: the
  // permission bits the archive may have at most.
  Status PackCopy(const std::string& target_dir, const std::string& copy_name,
                  const std::string& archive_name, std::uint32_t mode_limit);
  // PackCopy's work once the private place is made.
  bool PackInPlace(const PackingPlace& place, const std::string& target_dir,
                   const std::string& copy_name, const std::string& archive_name,
                   std::uint32_t mode_limit, std::string* cause);
  // Reports, on standard error and in the exit code, each copy in
  // `target_dir` whose pack a killed run left unfinished, and removes what
  // that run's archiver left. Only the holder of the run lock may call it.
  // Ends the erases of `spec` that killed runs left after publishing a
  // linked copy in `target_dir`, before the base is counted.
  void FinishInterruptedErases(const BaseReference& base, std::string_view spec,
                               const std::string& target_dir);
  void ReportInterruptedPacks(const std::string& target_dir);

  int exit_code_ = 0;
};

}  // namespace qlr
