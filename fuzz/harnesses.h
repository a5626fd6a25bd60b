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

int FuzzControlFile(const std::uint8_t* data, std::size_t size);
int FuzzTemplateExpander(const std::uint8_t* data, std::size_t size);
int FuzzFtnDate(const std::uint8_t* data, std::size_t size);
int FuzzFtnAddress(const std::uint8_t* data, std::size_t size);
int FuzzReadText(const std::uint8_t* data, std::size_t size);
int FuzzMsgDirBase(const std::uint8_t* data, std::size_t size);
int FuzzJamBase(const std::uint8_t* data, std::size_t size);
int FuzzSquishBase(const std::uint8_t* data, std::size_t size);
int FuzzPacketBase(const std::uint8_t* data, std::size_t size);

// Every harness, in a fixed order. Harness NAME lives in NAME_harness.cc:
// the build makes one libFuzzer program per such file and finds the entry
// here by that name.
std::span<const Harness> AllHarnesses();

}  // namespace qlr::fuzz
