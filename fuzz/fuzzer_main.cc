// The libFuzzer entry of one harness; the build names the harness, after
// its file NAME_harness.cc, in QLR_FUZZ_HARNESS.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "harness_support.h"
#include "harnesses.h"

#ifndef QLR_FUZZ_HARNESS
#error "QLR_FUZZ_HARNESS must name the harness"
#endif

namespace {

qlr::fuzz::HarnessEntry g_entry = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qlr::fuzz::InstallFormatsOnce();
  for (const qlr::fuzz::Harness& harness : qlr::fuzz::AllHarnesses()) {
    if (harness.name == QLR_FUZZ_HARNESS) g_entry = harness.entry;
  }
  if (g_entry == nullptr) {
    std::fprintf(stderr, "no harness %s in the harness table\n", QLR_FUZZ_HARNESS);
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return g_entry(data, size);
}
