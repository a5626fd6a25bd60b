// The fault report on POSIX: signal handlers that turn hardware faults and
// Ctrl-C into the report and the run-time error number as exit code.
//
// The handlers run on an alternate signal stack (a stack overflow leaves
// no room on the faulting one) and use only async-signal-safe calls:
// FormatFaultReport into a static buffer, write(2), _exit(2).
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#if defined(__linux__)
#include <elf.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#include <ucontext.h>
#endif

#include "platform/fault.h"

namespace qlr {
namespace {

// Win32 exception codes: the report names every fault by the code the same
// fault has on Windows, so reports read alike on both systems.
constexpr std::uint32_t kAccessViolation = 0xC0000005;
constexpr std::uint32_t kStackOverflow = 0xC00000FD;
constexpr std::uint32_t kIntDivideByZero = 0xC0000094;
constexpr std::uint32_t kIntOverflow = 0xC0000095;
constexpr std::uint32_t kFltDivideByZero = 0xC000008E;
constexpr std::uint32_t kFltOverflow = 0xC0000091;
constexpr std::uint32_t kFltUnderflow = 0xC0000093;
constexpr std::uint32_t kFltInexactResult = 0xC000008F;
constexpr std::uint32_t kFltInvalidOperation = 0xC0000090;
constexpr std::uint32_t kPrivilegedInstruction = 0xC0000096;
constexpr std::uint32_t kIllegalInstruction = 0xC000001D;
constexpr std::uint32_t kControlCExit = 0xC000013A;

// A stack overflow faults a little below the lowest address the stack may
// reach: within the kernel's guard gap (1 MiB by default on Linux) or, for
// a large frame, up to a frame below it.
constexpr std::uintptr_t kGuardSlack = 2u << 20;
// A fault this close to the stack pointer is the stack growing into its
// guard, whatever the recorded limit says.
constexpr std::uintptr_t kNearStackPointer = 64u << 10;

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGINT};

const char* g_contact = "";
std::uintptr_t g_load_bias = 0;    // run-time address minus link-time address
std::uintptr_t g_stack_top = 0;    // an address near the top of the main stack
std::uintptr_t g_stack_limit = 0;  // its maximum size, 0 when unlimited/unknown

alignas(16) char g_alternate_stack[64 * 1024];
char g_report[1024];

struct Fault {
  int error_number;
  std::uint32_t exception_code;
};

// The executable's load bias, so that a run-time address becomes the
// link-time address `addr2line -e qlr` resolves: the offset in the image for
// a position-independent executable, the address itself otherwise.
std::uintptr_t LoadBias() {
#if defined(__linux__)
  const auto phdr_address = static_cast<std::uintptr_t>(getauxval(AT_PHDR));
  const auto count = static_cast<std::size_t>(getauxval(AT_PHNUM));
  const auto* phdr = reinterpret_cast<const ElfW(Phdr)*>(phdr_address);
  for (std::size_t i = 0; phdr != nullptr && i < count; ++i) {
    if (phdr[i].p_type == PT_PHDR) return phdr_address - phdr[i].p_vaddr;
  }
#endif
  return 0;  // not relocated (or unknown): print the address as it is
}

std::uint32_t ImageAddress(const void* address) {
  // A 64-bit offset that does not fit (an address in a shared library)
  // keeps its low 32 bits, which is all the report has room for.
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - g_load_bias);
}

std::uint64_t ThreadId() {
#if defined(__linux__)
  return static_cast<std::uint64_t>(syscall(SYS_gettid));
#else
  return static_cast<std::uint64_t>(getpid());
#endif
}

void WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(STDERR_FILENO, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

[[noreturn]] void Report(int error_number, const void* address, bool has_exception,
                         std::uint32_t exception_code) {
  const std::size_t size =
      FormatFaultReport(g_report, sizeof g_report, g_contact, error_number, ImageAddress(address),
                        has_exception, exception_code, ThreadId());
  WriteAll(g_report, size);
  _exit(error_number);
}

// The faulting instruction and the stack pointer at the fault.
void InterruptedState(const siginfo_t* info, void* context, const void** pc, std::uintptr_t* sp) {
  *pc = info->si_addr;
  *sp = 0;
#if defined(__linux__) && defined(__x86_64__)
  const auto* uc = static_cast<const ucontext_t*>(context);
  *pc = reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_RIP]);
  *sp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__linux__) && defined(__i386__)
  const auto* uc = static_cast<const ucontext_t*>(context);
  *pc = reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_EIP]);
  *sp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_ESP]);
#elif defined(__linux__) && defined(__aarch64__)
  const auto* uc = static_cast<const ucontext_t*>(context);
  *pc = reinterpret_cast<const void*>(uc->uc_mcontext.pc);
  *sp = static_cast<std::uintptr_t>(uc->uc_mcontext.sp);
#else
  (void)context;
#endif
}

bool IsStackOverflow(std::uintptr_t fault_address, std::uintptr_t sp) {
  if (sp != 0 && fault_address + kNearStackPointer >= sp &&
      fault_address <= sp + kNearStackPointer) {
    return true;
  }
  if (g_stack_limit == 0) return false;
  const std::uintptr_t reach = g_stack_limit + kGuardSlack;
  const std::uintptr_t lowest = g_stack_top > reach ? g_stack_top - reach : 0;
  return fault_address >= lowest && fault_address <= g_stack_top;
}

Fault Classify(int signal_number, const siginfo_t* info, std::uintptr_t sp) {
  switch (signal_number) {
    case SIGSEGV:
    case SIGBUS:
      if (IsStackOverflow(reinterpret_cast<std::uintptr_t>(info->si_addr), sp)) {
        return {202, kStackOverflow};
      }
      return {216, kAccessViolation};
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV:
          return {200, kIntDivideByZero};
        case FPE_INTOVF:
          return {215, kIntOverflow};
        case FPE_FLTDIV:
          return {200, kFltDivideByZero};
        case FPE_FLTOVF:
          return {205, kFltOverflow};
        case FPE_FLTUND:
          return {206, kFltUnderflow};
        case FPE_FLTRES:
          return {208, kFltInexactResult};
        case FPE_FLTINV:
          return {207, kFltInvalidOperation};
        default:
          return {207, kFltInvalidOperation};
      }
    case SIGILL:
      if (info->si_code == ILL_PRVOPC) return {218, kPrivilegedInstruction};
      return {217, kIllegalInstruction};
    default:  // SIGINT
      return {217, kControlCExit};
  }
}

void OnFault(int signal_number, siginfo_t* info, void* context) {
  // Standard output is deliberately not flushed here: stdio is not
  // async-signal-safe, and a fault may have struck inside stdio itself
  // with its buffers and locks half updated. The console is unbuffered
  // (PrepareConsole), so whatever the program printed is already out; the
  // report follows it on standard error.
  const void* pc = nullptr;
  std::uintptr_t sp = 0;
  InterruptedState(info, context, &pc, &sp);
  const Fault fault = Classify(signal_number, info, sp);
  Report(fault.error_number, pc, /*has_exception=*/true, fault.exception_code);
}

void RecordMainStack() {
  // Only the address is kept, as a number: where the stack stood.
  int marker = 0;
  // cppcheck-suppress danglingLifetime
  g_stack_top = reinterpret_cast<std::uintptr_t>(&marker);
  rlimit limit{};
  if (getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    g_stack_limit = static_cast<std::uintptr_t>(limit.rlim_cur);
  }
}

}  // namespace

void InstallFaultHandler(const char* contact) {
  g_contact = contact != nullptr ? contact : "";
  g_load_bias = LoadBias();
  RecordMainStack();

  stack_t alternate{};
  alternate.ss_sp = g_alternate_stack;
  alternate.ss_size = sizeof g_alternate_stack;
  alternate.ss_flags = 0;
  sigaltstack(&alternate, nullptr);

  struct sigaction action {};
  action.sa_sigaction = OnFault;
  // SA_RESETHAND: a fault inside the handler itself ends the process by
  // the default action instead of looping.
  action.sa_flags = static_cast<int>(SA_SIGINFO | SA_ONSTACK | SA_RESETHAND);
  sigemptyset(&action.sa_mask);
  for (int signal_number : kFaultSignals) {
    sigaddset(&action.sa_mask, signal_number);
  }
  for (int signal_number : kFaultSignals) {
    sigaction(signal_number, &action, nullptr);
  }
}

void RaiseRunError(int error_number, const void* address) {
  // Not in a signal context: standard output can be flushed safely, so
  // the program's last lines come out before the report.
  std::fflush(stdout);
  g_load_bias = LoadBias();  // also when no handler was installed
  Report(error_number, address, /*has_exception=*/false, 0);
}

}  // namespace qlr
