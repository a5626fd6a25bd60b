// A fresh directory for one test, removed with everything in it at the end.
#pragma once

#include <string>
#include <string_view>

namespace qlr::testing {

class ScratchDir {
 public:
  // Creates a new, empty directory under the system's temporary directory.
  ScratchDir();
  // Removes the directory and its contents, read-only entries included.
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory itself, without a trailing separator.
  const std::string& root() const { return root_; }
  // The directory joined with a relative name ("a/b.msg"), in host syntax.
  std::string Path(std::string_view name) const;
  // Writes `bytes` to a file, creating its missing parent directories.
  // Records a test failure when that is not possible.
  void WriteFile(std::string_view relpath, std::string_view bytes) const;
  // The whole content of a file; records a test failure when it is missing.
  std::string ReadFile(std::string_view relpath) const;

 private:
  std::string root_;
};

}  // namespace qlr::testing
