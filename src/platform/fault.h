// The fault report: how the process ends on an internal fault.
//
// One block on standard error, then the process ends with the run-time
// error number as its exit code:
//
//   CR LF "Warning! Please report to " contact "!!!" CR LF
//   "Found bug number " N " at " XXXXXXXX [" (Exception " CCCCCCCC ")"]
//   " TID=" thread "." CR LF
//
// The address is that of the faulting instruction (or of the caller of the
// routine that raised a run-time error), as its offset in the executable
// image so that it fits eight hex digits and `addr2line` resolves it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qlr {

// Run-time error numbers the program raises itself.
inline constexpr int kRunErrorAbstractCall = 211;
inline constexpr int kRunErrorRangeCheck = 213;
inline constexpr int kRunErrorCollectionOverflow = 214;

// Where the fault reports of every program of this build ask the operator
// to write.
inline constexpr const char* kMaintainerContact = "the quillor maintainers";

// Installs the handlers that turn hardware faults (access violation,
// divide by zero, stack overflow, Ctrl-C...) into the fault report.
// `contact` must stay valid for the life of the process.
void InstallFaultHandler(const char* contact);

// Writes the fault report without an exception part and ends the process
// with `error_number`.
[[noreturn]] void RaiseRunError(int error_number, const void* address);

// Builds the report text into `out` (async-signal-safe: no allocation).
// Returns the number of bytes written, at most `capacity`.
std::size_t FormatFaultReport(char* out, std::size_t capacity, const char* contact,
                              int error_number, std::uint32_t address, bool has_exception,
                              std::uint32_t exception_code, std::uint64_t thread_id);

}  // namespace qlr
