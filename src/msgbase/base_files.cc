#include "msgbase/base_files.h"

#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "msgbase/msgdir/msgdir_base.h"
#include "msgbase/open_base.h"
#include "platform/platform.h"
#include "util/files.h"
#include "util/paths.h"

namespace qlr {
namespace {

// The files of the single-file formats, in the order they are handled.
// The JAM last-read file is not part of a base's set.
std::vector<std::string_view> ExtensionsOf(BaseFormat format) {
  switch (format) {
    case BaseFormat::kPacket:
      return {".pkt"};
    case BaseFormat::kSquish:
      return {".sqd", ".sqi"};
    case BaseFormat::kJam:
      return {".jhr", ".jdt", ".jdx"};
    default:
      return {};
  }
}

// Copies base + extension for each extension; a missing file is skipped.
bool CopyFileSet(std::string_view base_path, BaseFormat format, std::string_view destination) {
  bool failed = false;
  const ShortString name = JustFileName(base_path);
  for (std::string_view extension : ExtensionsOf(format)) {
    if (CopyFileTo(ShortString(base_path) + extension, ShortString(destination) + name + extension,
                   false)) {
      failed = true;
    }
  }
  return failed;
}

// True when `copy` holds `file` as it is now: same size and the same
// modification time, which a copy keeps at full precision.
bool SameAsCopy(std::string_view file, std::string_view copy) {
  const std::optional<FileStatus> original = Os().Stat(file);
  const std::optional<FileStatus> copied = Os().Stat(copy);
  return original && copied && original->size == copied->size &&
         original->modified == copied->modified;
}

std::unique_ptr<MessageBase> EraseMsgDir(std::string_view path, std::string_view copied_to) {
  const ShortString directory = AddBackslash(path);
  const ShortString copy_directory = AddBackslash(copied_to);
  std::vector<DirEntry> entries;
  bool left_behind = false;
  if (DirExists(directory)) {
    if (!Os().ListDirectory(directory, "*.msg", &entries)) return nullptr;
    for (const DirEntry& entry : entries) {
      if ((entry.attributes & kAttrDirectory) != 0) continue;
      const ShortString file = directory + entry.name;
      // A message that arrived or changed after the copy was made is not
      // in the copy: it stays in the base for the next rotation.
      if (!copied_to.empty() && !SameAsCopy(file, copy_directory + entry.name)) continue;
      DeleteFileIfExists(file);
      // A copied message left behind would be copied again by every later
      // run, as if the base had been rotated.
      if (FileExists(file)) left_behind = true;
    }
  }
  auto base = std::make_unique<MsgDirBase>();
  (void)base->Create(directory + "*.msg");
  if (left_behind || base->State() != BaseState::kCreated) return nullptr;
  return base;
}

}  // namespace

bool CopyBaseFiles(std::string_view spec, std::string_view destination) {
  if (spec.empty()) return true;
  const ShortString target = AddBackslash(destination);
  if (!MakePath(target)) return true;
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  bool failed = false;
  switch (parsed.format) {
    case BaseFormat::kMsgDir:
      if (DirExists(RemoveBackslash(parsed.path))) {
        failed = CopyTree(AddBackslash(parsed.path), target, false);
      }
      break;
    case BaseFormat::kPacket:
    case BaseFormat::kSquish:
    case BaseFormat::kJam:
      failed = CopyFileSet(BaseFilePath(parsed.path), parsed.format, target);
      break;
    case BaseFormat::kNone:
      return true;
  }
  // The copy's directory entries must be durable before the base is
  // erased: the copy directory itself, and its entry in the parent.
  if (!Os().SyncDirectory(target)) failed = true;
  const ShortString parent = JustPathName(RemoveBackslash(target));
  if (!Os().SyncDirectory(parent.empty() ? ShortString(".") : parent)) failed = true;
  return failed;
}

std::unique_ptr<MessageBase> EraseBase(std::string_view spec, std::string_view copied_to) {
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  switch (parsed.format) {
    case BaseFormat::kMsgDir:
      return EraseMsgDir(parsed.path, copied_to);
    default:
      // Packets, Squish and JAM bases cannot be re-created by this build.
      return nullptr;
  }
}

}  // namespace qlr
