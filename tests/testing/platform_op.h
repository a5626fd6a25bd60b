// The operations of the platform seam, as test doubles count, fail and
// crash them.
#pragma once

#include <string_view>
#include <vector>

namespace qlr::testing {

// One value per call of Platform and FileHandle that can fail, plus the
// "short" variants, which are not operations of their own but another way
// for the read or write they name to fail: they share its counter, so
// FailCall(kShortWrite, 3) makes the third Write call short.
// Sleep and Now cannot fail and are not listed.
enum class PlatformOp {
  kOpenFile,      // null, kIoError
  kRead,          // false, nothing read, buffer zero-filled, kIoError
  kShortRead,     // Read: true with half the bytes, the rest zero-filled (as at the end)
  kReadAt,        // as kRead
  kShortReadAt,   // as kShortRead, for ReadAt
  kWrite,         // false, nothing written, kNoSpace
  kShortWrite,    // Write: half the bytes reach the file, false, kNoSpace
  kWriteAt,       // as kWrite
  kShortWriteAt,  // as kShortWrite, for WriteAt
  kSeek,
  kSize,
  kTruncate,
  kSync,     // FileHandle::Sync
  kTryLock,  // false, kBusy
  kUnlock,
  kClose,  // false, kIoError; the file is closed all the same
  // FileHandle::CopyFrom: false, nothing copied, kIoError. Without a fault
  // the test doubles copy through Read and Write, so those fail inside a
  // copy too.
  kCopyFrom,
  kDeleteFile,
  kRename,
  kRenameNoReplace,
  kLink,
  kStat,  // nothing
  kSetAttributes,
  kRestoreNativeMode,
  kSetModifiedTime,
  kSameFile,       // false
  kListDirectory,  // false with no entries
  kMakeDirectory,
  kRemoveDirectory,
  kSyncDirectory,
  kSyncFileSystem,
  kExecutablePath,         // the empty string
  kGetEnvironment,         // nothing, as if the variable were not set
  kRunCommandInterpreter,  // a result with started == false
};

inline constexpr int kPlatformOpCount = static_cast<int>(PlatformOp::kRunCommandInterpreter) + 1;

enum class FailMode {
  kFromThenOn,  // the Nth call and every later one fail
  kOnce,        // only the Nth call fails
};

// The operation whose calls `op` counts: Read for kShortRead and so on.
PlatformOp CounterOf(PlatformOp op);
// True for the short variants.
bool IsShortVariant(PlatformOp op);
// Every operation, short variants included, in declaration order.
const std::vector<PlatformOp>& AllPlatformOps();
// The operations that make data or directory entries durable.
const std::vector<PlatformOp>& SyncOps();
// "kWrite" and so on, for test messages.
std::string_view OpName(PlatformOp op);
std::string_view ModeName(FailMode mode);

}  // namespace qlr::testing
