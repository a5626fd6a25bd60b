// The fault report on Windows: an unhandled-exception filter turns
// hardware faults into the report and the run-time error number as exit
// code, and a console control handler does the same for Ctrl-C.
//
// The filter runs on the faulting thread, after a stack overflow too, so
// it keeps its state in static storage and calls only the kernel: no heap,
// no C library.
#include "platform/win32/windows_api.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/fault.h"

namespace qlr {
namespace {

constexpr DWORD kControlCExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT
// Stack kept in reserve for the filter after a stack overflow.
constexpr ULONG kStackGuarantee = 32 * 1024;

const char* g_contact = "";
DWORD g_main_thread_id = 0;
HANDLE g_main_thread = nullptr;  // for the interrupted address on Ctrl-C
char g_report[1024];
CONTEXT g_interrupted;  // large: kept off the handler's stack

int ErrorNumber(DWORD code) {
  switch (code) {
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      return 201;
    case EXCEPTION_FLT_DENORMAL_OPERAND:
      return 209;
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
      return 200;
    case EXCEPTION_FLT_INEXACT_RESULT:
      return 208;
    case EXCEPTION_FLT_INVALID_OPERATION:
      return 207;
    case EXCEPTION_FLT_OVERFLOW:
      return 205;
    case EXCEPTION_FLT_STACK_CHECK:
      return 207;
    case EXCEPTION_FLT_UNDERFLOW:
      return 206;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return 200;
    case EXCEPTION_INT_OVERFLOW:
      return 215;
    case EXCEPTION_PRIV_INSTRUCTION:
      return 218;
    case EXCEPTION_ACCESS_VIOLATION:
      return 216;
    case EXCEPTION_STACK_OVERFLOW:
      return 202;
    case kControlCExit:
      return 217;
    default:
      return 217;
  }
}

// The address as its offset in the executable image (an RVA), which fits
// the report's eight digits; an address outside the image keeps its low
// 32 bits.
std::uint32_t ImageAddress(const void* address) {
  const auto base = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address) - base);
}

void WriteReport(int error_number, const void* address, bool has_exception, DWORD code,
                 DWORD thread_id) {
  const std::size_t size = FormatFaultReport(g_report, sizeof g_report, g_contact, error_number,
                                             ImageAddress(address), has_exception, code, thread_id);
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(err, g_report, static_cast<DWORD>(size), &written, nullptr);
}

// Ends the process without running DLL detach code or C library exit
// handlers: after a fault the process state cannot be trusted (a lock
// may be held by the faulting code), and after a stack overflow there is
// no room for them. Standard output is not flushed for the same reason;
// every console line of the run is flushed as it is written.
[[noreturn]] void EndAfterFault(int error_number) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(error_number));
  ::ExitProcess(static_cast<UINT>(error_number));  // only if termination failed
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  const int error_number = ErrorNumber(record->ExceptionCode);
  WriteReport(error_number, record->ExceptionAddress, /*has_exception=*/true, record->ExceptionCode,
              ::GetCurrentThreadId());
  EndAfterFault(error_number);
}

// The instruction the main thread was running when Ctrl-C came; the
// handler itself runs on a thread of its own.
const void* InterruptedAddress() {
  if (g_main_thread == nullptr || ::SuspendThread(g_main_thread) == static_cast<DWORD>(-1)) {
    return nullptr;
  }
  g_interrupted.ContextFlags = CONTEXT_CONTROL;
  if (!::GetThreadContext(g_main_thread, &g_interrupted)) return nullptr;
#if defined(_M_X64) || defined(__x86_64__)
  return reinterpret_cast<const void*>(g_interrupted.Rip);
#elif defined(_M_IX86) || defined(__i386__)
  return reinterpret_cast<const void*>(g_interrupted.Eip);
#else
  return nullptr;
#endif
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // default handling
  WriteReport(ErrorNumber(kControlCExit), InterruptedAddress(), /*has_exception=*/true,
              kControlCExit, g_main_thread_id);
  EndAfterFault(ErrorNumber(kControlCExit));
}

}  // namespace

void InstallFaultHandler(const char* contact) {
  g_contact = contact != nullptr ? contact : "";
  g_main_thread_id = ::GetCurrentThreadId();
  if (g_main_thread == nullptr) {
    HANDLE self = nullptr;
    if (::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self,
                          THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, 0)) {
      g_main_thread = self;  // kept for the life of the process
    }
  }
  ULONG guarantee = kStackGuarantee;
  ::SetThreadStackGuarantee(&guarantee);
  // No error dialogs: a fault ends with the report, unattended.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  ::SetUnhandledExceptionFilter(OnUnhandledException);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void RaiseRunError(int error_number, const void* address) {
  // A controlled end: the program's last lines come out before the report.
  std::fflush(stdout);
  WriteReport(error_number, address, /*has_exception=*/false, 0, ::GetCurrentThreadId());
  ::ExitProcess(static_cast<UINT>(error_number));
}

}  // namespace qlr
