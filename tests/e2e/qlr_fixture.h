// A scratch installation of qlr for end-to-end tests: the real binary
// copied into its own directory beside a qlr.ctl of the test's choosing.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "testing/run_program.h"
#include "testing/scratch_dir.h"

namespace qlr::testing {

inline constexpr const char* kBanner = "\r\nquillor v0.1\r\nrotation of FTN message bases\r\n\r\n";

// The program under test: the environment variable `variable` when set,
// else the path the build recorded.
std::string ProgramUnderTest(const char* variable, const char* built_path);
inline std::string QlrBinary() { return ProgramUnderTest("QLR_BINARY", QLR_DEFAULT_BINARY); }
inline std::string FaultProbe() {
  return ProgramUnderTest("QLR_FAULT_PROBE", QLR_DEFAULT_FAULT_PROBE);
}

class QlrFixture : public ::testing::Test {
 protected:
  void SetUp() override;

  // Writes bin/qlr.ctl with the given lines (each ended by CR LF).
  void WriteControlFile(const std::vector<std::string>& lines);
  // Runs bin/qlr with `args` from `directory` (default: the scratch root).
  ProgramResult Run(const std::vector<std::string>& args, const std::string& directory = "",
                    const std::map<std::string, std::string>& environment = {});

  // An absolute path under the scratch root, in the host's syntax.
  std::string Path(const std::string& relative) { return dir_.Path(relative); }
  // Makes a *.msg area holding messages 1..count (files of a few bytes).
  void MakeMsgArea(const std::string& relative, int count);
  // Number of files in a directory (0 when it does not exist).
  int FileCount(const std::string& relative);
  bool Exists(const std::string& relative);
  // Whether the archiver of a pack run into `target` is writing `archive`
  // (in the run's private directory there).
  bool ArchiveBeingMade(const std::string& target, const std::string& archive);

  ScratchDir dir_;
  std::string binary_;
  std::string bin_dir_;
};

}  // namespace qlr::testing
