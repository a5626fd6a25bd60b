// A program that installs the fault handler and then faults on purpose,
// so that the end-to-end tests can check the report and the exit code.
//
//   qlr_fault_probe segv|div|stack|runerror
//
// The faults are real (a null-pointer write, an integer division by zero,
// unbounded recursion), reached through volatile values so that the
// compiler can neither fold them away nor replace them with a trap of its
// own. This file is built without sanitizers so that they do not catch
// the faults first.
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/fault.h"

namespace {

int WriteThroughNull() {
  int* volatile target = nullptr;
  *target = 42;
  return *target;
}

int DivideByZero() {
  volatile int dividend = 1;
  volatile int divisor = 0;
  return dividend / divisor;
}

// Never reached; read through a volatile so that the recursion has an end
// as far as the compiler can tell.
volatile int g_depth_limit = -1;

// Each frame holds a page, and the frame is still needed after the call
// returns, so the recursion cannot become a loop.
[[gnu::noinline]] int Recurse(int depth) {
  if (depth == g_depth_limit) return 0;
  volatile char page[4096];
  page[0] = static_cast<char>(depth);
  page[sizeof page - 1] = page[0];
  return Recurse(depth + 1) + page[0] + page[sizeof page - 1];
}

[[gnu::noinline]] void RangeCheckFailure() {
  qlr::RaiseRunError(qlr::kRunErrorRangeCheck, __builtin_return_address(0));
}

}  // namespace

int main(int argc, char** argv) {
  qlr::PrepareConsole();
  qlr::InstallFaultHandler("the quillor maintainers");
  // Not flushed: the console itself must never hold output back.
  qlr::WriteStdout("probe\r\n");
  if (argc != 2) {
    std::fputs("usage: qlr_fault_probe segv|div|stack|runerror\n", stderr);
    return 2;
  }
  const char* what = argv[1];
  int result = 0;
  if (std::strcmp(what, "segv") == 0) {
    result = WriteThroughNull();
  } else if (std::strcmp(what, "div") == 0) {
    result = DivideByZero();
  } else if (std::strcmp(what, "stack") == 0) {
    result = Recurse(0);
  } else if (std::strcmp(what, "runerror") == 0) {
    RangeCheckFailure();
  } else {
    std::fputs("unknown fault\n", stderr);
    return 2;
  }
  // Only reached when the fault did not happen.
  std::printf("no fault (%d)\n", result);
  return 1;
}
