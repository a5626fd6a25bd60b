// The fuzz harnesses: one entry per reader of outside bytes.
//
// Each entry takes arbitrary bytes, feeds them to one reader and returns
// 0. A harness never judges the result: the reader must only never crash,
// leak or run into undefined behaviour, whatever the bytes. The same
// entries run under libFuzzer (fuzzer_main.cc) and, over the saved inputs,
// in the normal test suite (tests/fuzz_regressions/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qlr::fuzz {

using HarnessEntry = int (*)(const std::uint8_t* data, std::size_t size);

struct Harness {
  std::string_view name;  // also the corpus and regression directory name
  HarnessEntry entry;
};

// Every harness, in the order of their names. Harness NAME lives in
// NAME_harness.cc as the entry FuzzName (its words capitalised): the build
// writes this table from the file names (fuzz/CMakeLists.txt) and makes
// one libFuzzer program per such file, which finds its entry here by name.
std::span<const Harness> AllHarnesses();

}  // namespace qlr::fuzz
