#include "testing/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace qlr::testing {
namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  std::random_device random;
  // create_directory reports false for a name that exists: try another.
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("qlr-test-" + std::to_string(random()));
    if (fs::create_directory(candidate, ec)) {
      root_ = candidate.make_preferred().string();
      return;
    }
  }
  ADD_FAILURE() << "cannot create a scratch directory under " << base;
}

ScratchDir::~ScratchDir() {
  if (root_.empty()) return;
  std::error_code ec;
  // Tests leave read-only files and directories behind; make them
  // removable first (this matters when the tests do not run as root).
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(root_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code ignored;
    if (it->is_symlink(ignored)) continue;
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(root_, ec);
}

std::string ScratchDir::Path(std::string_view name) const {
  if (name.empty()) return root_;
  return (fs::path(root_) / fs::path(name)).make_preferred().string();
}

void ScratchDir::WriteFile(std::string_view relpath, std::string_view bytes) const {
  const fs::path path = Path(relpath);
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string ScratchDir::ReadFile(std::string_view relpath) const {
  const fs::path path = Path(relpath);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return std::string();
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace qlr::testing
