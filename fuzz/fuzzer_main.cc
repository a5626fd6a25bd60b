// The libFuzzer entry of one harness; the build names the harness's
// function in QLR_FUZZ_ENTRY.
#include <cstddef>
#include <cstdint>

#include "harness_support.h"
#include "harnesses.h"

#ifndef QLR_FUZZ_ENTRY
#error "QLR_FUZZ_ENTRY must name the harness function"
#endif

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlr::fuzz::InstallFormatsOnce();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return qlr::fuzz::QLR_FUZZ_ENTRY(data, size);
}
