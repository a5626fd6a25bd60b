// Replays, through each fuzz harness, every input that once broke a reader
// (tests/fuzz_regressions/<harness>/) and the harness's seed corpus
// (fuzz/corpus/<harness>/). A regression shows as a crash or a sanitizer
// report of this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harnesses.h"

namespace qlr::fuzz {
namespace {

namespace fs = std::filesystem;

// QLR_FUZZ_INPUTS names a directory holding both trees (corpus/ and
// fuzz_regressions/), for test binaries run away from the source tree.
fs::path Root(const char* variable_part, const char* built_in) {
  if (const char* base = std::getenv("QLR_FUZZ_INPUTS"); base != nullptr) {
    return fs::path(base) / variable_part;
  }
  return fs::path(built_in);
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code error;
  if (!fs::is_directory(dir, error)) return files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
    if (entry.is_regular_file(error) && entry.path().filename().string().front() != '.') {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

int Replay(const Harness& harness, const fs::path& file) {
  const std::vector<std::uint8_t> bytes = ReadBytes(file);
  return harness.entry(bytes.data(), bytes.size());
}

class FuzzReplayTest : public ::testing::TestWithParam<Harness> {};

TEST_P(FuzzReplayTest, RegressionInputsRunClean) {
  const Harness& harness = GetParam();
  const fs::path dir =
      Root("fuzz_regressions", QLR_FUZZ_REGRESSIONS_DIR) / std::string(harness.name);
  // Most harnesses never found anything: an absent directory is no fault.
  for (const fs::path& file : FilesIn(dir)) {
    SCOPED_TRACE(file.string());
    EXPECT_EQ(Replay(harness, file), 0);
  }
}

TEST_P(FuzzReplayTest, SeedCorpusRunsClean) {
  const Harness& harness = GetParam();
  const fs::path root = Root("corpus", QLR_FUZZ_CORPUS_DIR);
  // The Windows suite runs the programs away from the source tree, where
  // the build's absolute path may not name anything.
  std::error_code error;
  if (!fs::is_directory(root, error))
    GTEST_SKIP() << "source tree not reachable: " << root.string();
  const fs::path dir = root / std::string(harness.name);
  const std::vector<fs::path> files = FilesIn(dir);
  // Every harness is seeded; an empty corpus means the seeds went missing.
  ASSERT_FALSE(files.empty()) << "no seeds in " << dir.string();
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    EXPECT_EQ(Replay(harness, file), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Harnesses, FuzzReplayTest,
                         ::testing::ValuesIn(AllHarnesses().begin(), AllHarnesses().end()),
                         [](const ::testing::TestParamInfo<Harness>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
}  // namespace qlr::fuzz
