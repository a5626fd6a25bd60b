// Runs a program of the project in a chosen directory and captures what
// it writes, for the end-to-end tests.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qlr::testing {

struct ProgramResult {
  int exit_code = -1;  // -1 when it could not be started or was killed
  std::string out;     // standard output, byte for byte
  std::string err;     // standard error
};

// Runs `program` with `args` in `directory`. `environment` entries are
// set (an empty value removes the variable) on top of the inherited ones.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory,
                         const std::map<std::string, std::string>& environment = {});

}  // namespace qlr::testing
