#include "msgbase/copy_manifest.h"

#include <array>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/platform.h"
#include "util/files.h"

namespace qlr {
namespace {

// *.msg files are a few kilobytes: one block mostly reads a whole file.
constexpr std::size_t kCompareBlock = 16384;

// Reads the next block of both files and compares it. Sets *done at the
// end of either file.
CopyMatch CompareBlock(FileHandle& a, FileHandle& b, std::uint64_t* total, bool* done) {
  std::array<char, kCompareBlock> block_a;
  std::array<char, kCompareBlock> block_b;
  std::size_t got_a = 0;
  std::size_t got_b = 0;
  if (!a.Read(block_a.data(), block_a.size(), &got_a)) return CopyMatch::kUnknown;
  if (!b.Read(block_b.data(), block_b.size(), &got_b)) return CopyMatch::kUnknown;
  *total += got_a;
  *done = got_a < block_a.size() || got_b < block_b.size();
  if (got_a != got_b || std::memcmp(block_a.data(), block_b.data(), got_a) != 0) {
    return CopyMatch::kDiffers;
  }
  return CopyMatch::kSame;
}

CopyMatch CompareBytes(std::string_view path, std::string_view copy, std::uint64_t size) {
  const std::unique_ptr<FileHandle> file = Os().OpenFileNoFollow(path, OpenMode::kRead);
  if (!file) return CopyMatch::kUnknown;
  const std::unique_ptr<FileHandle> copied = Os().OpenFile(copy, OpenMode::kRead);
  if (!copied) return CopyMatch::kUnknown;
  std::uint64_t total = 0;
  bool done = false;
  while (!done) {
    const CopyMatch block = CompareBlock(*file, *copied, &total, &done);
    if (block != CopyMatch::kSame) return block;
  }
  // Both ended at the same place; it must be where the file ended when it
  // was copied.
  return total == size ? CopyMatch::kSame : CopyMatch::kDiffers;
}

}  // namespace

CopyManifest::CopyManifest() = default;
CopyManifest::~CopyManifest() = default;
CopyManifest::CopyManifest(CopyManifest&&) noexcept = default;
CopyManifest& CopyManifest::operator=(CopyManifest&&) noexcept = default;

const CopiedFile* CopyManifest::Find(std::string_view source) const {
  if (indexed_ != files_.size()) {
    index_.clear();
    index_.reserve(files_.size());
    // The first record of a source wins, as a walk over the list would.
    for (std::size_t i = 0; i < files_.size(); ++i) index_.emplace(files_[i].source, i);
    indexed_ = files_.size();
  }
  const auto found = index_.find(std::string(source));
  return found == index_.end() ? nullptr : &files_[found->second];
}

void CopyManifest::RelocateCopy(std::string_view from_directory, std::string_view to_directory) {
  for (CopiedFile& file : files_) {
    if (std::string_view(file.dest).substr(0, from_directory.size()) != from_directory) continue;
    file.dest.replace(0, from_directory.size(), to_directory);
  }
}

bool CopyManifest::Unchanged(std::string_view path) const {
  const CopiedFile* file = Find(path);
  if (file == nullptr) return false;
  // A link put in place of the file is never the file (StatLink).
  const std::optional<FileStatus> now = Os().StatLink(path);
  return now && SameStatusAsCopied(*file, *now);
}

bool SameStatusAsCopied(const CopiedFile& file, const FileStatus& now) {
  const FileStatus& then = file.status;
  const bool same_file = now.is_regular && !now.is_link && now.volume == then.volume &&
                         now.file_index == then.file_index;
  // A linked copy is the file itself: a write in place lands in the copy
  // too, so size and time may change and it is still all in the copy.
  if (file.linked) return same_file;
  // A file replaced under its name (written elsewhere and renamed over
  // it) has another identity even when its size and time are the same.
  return now.is_regular && now.size == then.size && now.modified == then.modified &&
         now.volume == then.volume && now.file_index == then.file_index;
}

CopyMatch MatchCopy(const CopiedFile& file, std::string_view path) {
  const std::optional<FileStatus> now = Os().StatLink(path);
  if (!now) return CopyMatch::kUnknown;
  if (!SameStatusAsCopied(file, *now)) return CopyMatch::kDiffers;
  if (file.linked) return CopyMatch::kSame;  // the copy's own file: nothing to compare
  return CompareBytes(path, file.dest, file.status.size);
}

}  // namespace qlr
