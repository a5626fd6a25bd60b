// Bases of every format filled with numbered messages through the library,
// and read back whole, for the crash tests: a message is known by its
// subject, and equal when everything a reader sees of it is.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "msgbase/message.h"

namespace qlr::testing {

// Makes the program's formats known in this process (the end-to-end tests
// have no start-up of their own that does it).
void UseBuiltInFormats();

// The spec of the crash tests' base in the directory `dir` (an absolute
// path): the directory itself for *.msg files, else the base "area" in it.
std::string CrashBaseSpec(char type, const std::string& dir);
// True when every file of that base is there (for *.msg files, the
// directory): only then may it be opened, which would make what is missing.
bool CrashBasePresent(char type, const std::string& dir);

// Crash message `number`: a netmail whose subject names the number and
// whose body of several lines does too.
void FillCrashMessage(Message& m, int number);

// Appends crash messages `first`..`last` to the base of `spec` (made when
// missing), each as message Count + 1. Records a failure when one cannot
// be written.
void AppendCrashMessages(const std::string& spec, int first, int last);

// What a reader of the base of `spec` sees: whether it opens, its count,
// and for each number 1..count the message when it can be read.
struct BaseReading {
  bool opened = false;  // OpenBase gave a base
  int count = 0;
  std::vector<std::optional<std::string>> messages;  // DescribeMessage of each
  std::vector<std::optional<int>> numbers;           // CrashMessageNumber of each
};
// The base must exist: opening one that does not would make it.
BaseReading ReadWholeBase(const std::string& spec);

}  // namespace qlr::testing
