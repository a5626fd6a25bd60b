#include "testing/corruption.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace qlr::testing {
namespace {

// Reads or replaces one byte in place: the file keeps its identity.
template <class Change>
bool ChangeByte(std::string_view path, std::uint64_t offset, Platform& platform, Change change) {
  const std::unique_ptr<FileHandle> file = platform.OpenFile(path, OpenMode::kReadWrite);
  std::uint64_t size = 0;
  if (!file || !file->Size(&size) || offset >= size) return false;
  char byte = 0;
  std::size_t count = 0;
  if (!file->Seek(offset) || !file->Read(&byte, 1, &count) || count != 1) return false;
  byte = static_cast<char>(change(static_cast<std::uint8_t>(byte)));
  return file->Seek(offset) && file->Write(&byte, 1, &count) && file->Close();
}

// Writes `bytes` over the start of the open file and cuts it there.
bool Rewrite(FileHandle& file, std::string_view bytes) {
  std::size_t written = 0;
  return file.Seek(0) && (bytes.empty() || file.Write(bytes.data(), bytes.size(), &written)) &&
         file.Truncate(bytes.size());
}

}  // namespace

std::optional<std::string> ReadWholeFile(std::string_view path, Platform& platform) {
  const std::unique_ptr<FileHandle> file = platform.OpenFile(path, OpenMode::kRead);
  std::uint64_t size = 0;
  if (!file || !file->Size(&size)) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  std::size_t got = 0;
  if (!bytes.empty() && (!file->Read(bytes.data(), bytes.size(), &got) || got != bytes.size())) {
    return std::nullopt;
  }
  return bytes;
}

bool WriteWholeFile(std::string_view path, std::string_view bytes, Platform& platform) {
  std::unique_ptr<FileHandle> file = platform.OpenFile(path, OpenMode::kReadWrite);
  if (!file) file = platform.OpenFile(path, OpenMode::kCreate);
  return file && Rewrite(*file, bytes) && file->Close();
}

bool ForEachTruncation(std::string_view path, const std::function<void(std::uint64_t)>& check,
                       Platform& platform) {
  const std::optional<std::string> original = ReadWholeFile(path, platform);
  if (!original) {
    ADD_FAILURE() << "cannot read '" << path << "'";
    return false;
  }
  for (std::size_t length = 0; length < original->size(); ++length) {
    if (!WriteWholeFile(path, std::string_view(*original).substr(0, length), platform)) {
      ADD_FAILURE() << "cannot cut '" << path << "' to " << length << " bytes";
      return false;
    }
    check(length);
  }
  if (!WriteWholeFile(path, *original, platform)) {
    ADD_FAILURE() << "cannot restore '" << path << "'";
    return false;
  }
  return true;
}

bool FlipByte(std::string_view path, std::uint64_t offset, std::uint8_t mask, Platform& platform) {
  return ChangeByte(path, offset, platform,
                    [mask](std::uint8_t byte) { return static_cast<std::uint8_t>(byte ^ mask); });
}

bool SetByte(std::string_view path, std::uint64_t offset, std::uint8_t value, Platform& platform) {
  return ChangeByte(path, offset, platform, [value](std::uint8_t) { return value; });
}

}  // namespace qlr::testing
