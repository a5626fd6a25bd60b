// A Platform for tests that forwards to another one and fails chosen calls.
//
//   FaultInjectingPlatform faulty;            // over HostPlatform()
//   auto installed = faulty.Install();        // Os() is now `faulty`
//   faulty.FailCall(PlatformOp::kWrite, 3);   // 3rd write and later fail
//   ... run the code under test ...
//
// Calls are counted per operation from construction (or Reset), across all
// files opened through the wrapper. A failed call does nothing: it does not
// reach the wrapped platform. Files opened through the wrapper must not
// outlive it.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qlr::testing {

enum class PlatformOp {
  kOpenFile,  // OpenFile returns null
  kRead,      // FileHandle::Read returns false, nothing read
  kWrite,     // FileHandle::Write returns false, nothing written
  // Counted with kWrite (the Nth write call): writes only the first half of
  // the bytes and reports that count, returning true like a short write.
  kShortWrite,
  kSync,  // FileHandle::Sync
  kDeleteFile,
  kSetAttributes,
  kSetModifiedTime,
  kListDirectory,  // returns false with no entries
  kMakeDirectory,
  kRemoveDirectory,
  kSyncDirectory,
  kRunCommandInterpreter,  // returns a result with started == false
};

enum class FailMode {
  kFromThenOn,  // the Nth call and every later one fail
  kOnce,        // only the Nth call fails
};

class FaultInjectingPlatform final : public Platform {
 public:
  explicit FaultInjectingPlatform(Platform& inner = HostPlatform());

  // Fails the `nth` call of `op` from now on (1-based: nth = 1 is the very
  // next call; calls made before do not count). Several rules may be
  // active at once.
  void FailCall(PlatformOp op, int nth, FailMode mode = FailMode::kFromThenOn);
  // Forgets every rule and every count.
  void Reset();
  // Calls of `op` seen so far (kShortWrite counts as kWrite), failed or not.
  int Calls(PlatformOp op) const;
  // Calls that were made to fail, over all operations.
  int Failures() const { return failures_; }

  // Makes this the platform in use for the lifetime of the result.
  [[nodiscard]] ScopedPlatform Install() { return ScopedPlatform(*this); }

  // Counts a call of `op` and tells which failure, if any, it must show:
  // nothing, or the op of the rule that fires (kWrite or kShortWrite for
  // writes). Used by the wrapped files.
  std::optional<PlatformOp> NextCall(PlatformOp op);

  std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) override;
  bool DeleteFile(std::string_view path) override;
  std::optional<FileStatus> Stat(std::string_view path) override;
  bool SetAttributes(std::string_view path, std::uint8_t attributes) override;
  bool RestoreNativeMode(std::string_view path, std::uint32_t native_mode) override;
  bool SetModifiedTime(std::string_view path, FileTime time) override;
  bool SameFile(std::string_view a, std::string_view b) override;
  bool ListDirectory(std::string_view directory, std::string_view pattern,
                     std::vector<DirEntry>* entries) override;
  bool MakeDirectory(std::string_view path) override;
  bool RemoveDirectory(std::string_view path) override;
  bool SyncDirectory(std::string_view path) override;
  std::string ExecutablePath() override;
  std::optional<std::string> GetEnvironment(std::string_view name) override;
  ProcessResult RunCommandInterpreter(std::string_view tail) override;
  void Sleep(int milliseconds) override;
  LocalTime Now() override;

 private:
  static constexpr std::size_t kOpCount =
      static_cast<std::size_t>(PlatformOp::kRunCommandInterpreter) + 1;

  struct Rule {
    PlatformOp op;
    int target;  // the value of the op's counter at the call that fails
    FailMode mode;
  };

  bool Fails(PlatformOp op) { return NextCall(op).has_value(); }

  Platform& inner_;
  std::array<int, kOpCount> calls_{};
  std::vector<Rule> rules_;
  int failures_ = 0;
};

}  // namespace qlr::testing
