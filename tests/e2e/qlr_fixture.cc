#include "e2e/qlr_fixture.h"

#include <cstdlib>
#include <filesystem>

namespace qlr::testing {

namespace fs = std::filesystem;

std::string ProgramUnderTest(const char* variable, const char* built_path) {
  const char* chosen = std::getenv(variable);
  return chosen != nullptr && *chosen != '\0' ? chosen : built_path;
}

void QlrFixture::SetUp() {
  const std::string built = QlrBinary();
  bin_dir_ = dir_.Path("bin");
  fs::create_directories(bin_dir_);
  binary_ = (fs::path(bin_dir_) / fs::path(built).filename()).string();
  fs::copy_file(built, binary_);
}

void QlrFixture::WriteControlFile(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  dir_.WriteFile("bin/qlr.ctl", text);
}

ProgramResult QlrFixture::Run(const std::vector<std::string>& args, const std::string& directory,
                              const std::map<std::string, std::string>& environment) {
  return RunProgram(binary_, args, directory.empty() ? dir_.Path("") : directory, environment);
}

void QlrFixture::MakeMsgArea(const std::string& relative, int count) {
  fs::create_directories(Path(relative));
  for (int i = 1; i <= count; ++i) {
    dir_.WriteFile(relative + "/" + std::to_string(i) + ".msg", "message " + std::to_string(i));
  }
}

int QlrFixture::FileCount(const std::string& relative) {
  if (!fs::is_directory(Path(relative))) return 0;
  int n = 0;
  for (const auto& entry : fs::directory_iterator(Path(relative))) {
    if (entry.is_regular_file()) ++n;
  }
  return n;
}

bool QlrFixture::Exists(const std::string& relative) { return fs::exists(Path(relative)); }

bool QlrFixture::ArchiveBeingMade(const std::string& target, const std::string& archive) {
  std::error_code ec;
  for (fs::directory_iterator it(Path(target), ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().starts_with("qlr-packing.") &&
        fs::exists(it->path() / archive)) {
      return true;
    }
  }
  return false;
}

}  // namespace qlr::testing
