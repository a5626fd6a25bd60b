#include "testing/platform_op.h"

#include <array>

namespace qlr::testing {
namespace {

constexpr std::array<std::string_view, kPlatformOpCount> kNames = {
    "kOpenFile",
    "kRead",
    "kShortRead",
    "kReadAt",
    "kShortReadAt",
    "kWrite",
    "kShortWrite",
    "kWriteAt",
    "kShortWriteAt",
    "kSeek",
    "kSize",
    "kTruncate",
    "kSync",
    "kTryLock",
    "kUnlock",
    "kClose",
    "kCopyFrom",
    "kDeleteFile",
    "kRename",
    "kRenameNoReplace",
    "kLink",
    "kStat",
    "kSetAttributes",
    "kRestoreNativeMode",
    "kSetModifiedTime",
    "kSameFile",
    "kListDirectory",
    "kMakeDirectory",
    "kRemoveDirectory",
    "kSyncDirectory",
    "kSyncFileSystem",
    "kExecutablePath",
    "kGetEnvironment",
    "kRunCommandInterpreter",
};

}  // namespace

PlatformOp CounterOf(PlatformOp op) {
  switch (op) {
    case PlatformOp::kShortRead:
      return PlatformOp::kRead;
    case PlatformOp::kShortReadAt:
      return PlatformOp::kReadAt;
    case PlatformOp::kShortWrite:
      return PlatformOp::kWrite;
    case PlatformOp::kShortWriteAt:
      return PlatformOp::kWriteAt;
    default:
      return op;
  }
}

bool IsShortVariant(PlatformOp op) { return CounterOf(op) != op; }

const std::vector<PlatformOp>& AllPlatformOps() {
  static const std::vector<PlatformOp> ops = [] {
    std::vector<PlatformOp> all;
    for (int i = 0; i < kPlatformOpCount; ++i) all.push_back(static_cast<PlatformOp>(i));
    return all;
  }();
  return ops;
}

const std::vector<PlatformOp>& SyncOps() {
  static const std::vector<PlatformOp> ops = {PlatformOp::kSync, PlatformOp::kSyncDirectory,
                                              PlatformOp::kSyncFileSystem};
  return ops;
}

std::string_view OpName(PlatformOp op) { return kNames[static_cast<std::size_t>(op)]; }

std::string_view ModeName(FailMode mode) {
  return mode == FailMode::kOnce ? "once" : "from then on";
}

}  // namespace qlr::testing
