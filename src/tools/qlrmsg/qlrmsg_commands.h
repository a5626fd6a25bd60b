// The commands of qlrmsg, the companion program that lists, shows and
// copies single messages of a base through the message-base library.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/format_registry.h"

namespace qlr::qlrmsg {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a base or message could not be used
inline constexpr int kExitUsage = 2;   // the command line is wrong

// Runs the command line (without the program name); returns the exit
// code. Output goes to standard output, reasons for failures to standard
// error. The formats must be installed first.
int Run(const std::vector<std::string_view>& args);

// The text of --help, with the installed formats.
std::string_view UsageText();
// The paragraph of the help on base specs: the type character of each of
// `formats` and the letters a path must not start with.
std::string SpecHelp(std::span<const FormatDescriptor* const> formats);

}  // namespace qlr::qlrmsg
