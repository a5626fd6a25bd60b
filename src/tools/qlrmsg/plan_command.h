// `qlrmsg plan`: what a rotation run would do now, one line per base line
// of the control file, without touching anything.
#pragma once

#include <string_view>
#include <vector>

namespace qlr::qlrmsg {

// Runs `plan` with its operands ([/c|/p] [CTL]); returns the exit code.
int Plan(const std::vector<std::string_view>& operands);

}  // namespace qlr::qlrmsg
