// A Platform for tests that forwards to another one and fails chosen calls.
//
//   FaultInjectingPlatform faulty;            // over HostPlatform()
//   auto installed = faulty.Install();        // Os() is now `faulty`
//   faulty.FailCall(PlatformOp::kWrite, 3);   // 3rd write and later fail
//   ... run the code under test ...
//
// Calls are counted per operation from construction (or Reset), across all
// files opened through the wrapper. A failed call does nothing: it does not
// reach the wrapped platform (except Close, which closes the file anyway,
// as a close that reports a late error does). A failure looks like one of
// the real implementations: a Status (or an empty Result, an empty string)
// that says why: kBusy for locks, kNoSpace for short writes,
// kIoError for everything else (a write that fails outright is an I/O
// error). Short reads and writes have the real shapes: a
// short read succeeds with fewer bytes and a zero-filled rest, exactly as
// at the end of the file; a short write fails with kNoSpace after half the
// bytes reached the file. Files opened through the wrapper must not
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
#include "testing/forwarding_platform.h"
#include "testing/platform_op.h"

namespace qlr::testing {

class FaultInjectingPlatform final : public ForwardingPlatform {
 public:
  explicit FaultInjectingPlatform(Platform& inner = HostPlatform());

  // Fails the `nth` call of `op` from now on (1-based: nth = 1 is the very
  // next call; calls made before do not count). Several rules may be
  // active at once.
  void FailCall(PlatformOp op, int nth, FailMode mode = FailMode::kFromThenOn);
  // Forgets every rule and every count.
  void Reset();
  // Calls of `op` seen so far (a short variant counts as its operation),
  // failed or not.
  int Calls(PlatformOp op) const;
  // Calls that were made to fail, over all operations.
  int Failures() const { return failures_; }

  // Makes this the platform in use for the lifetime of the result.
  [[nodiscard]] ScopedPlatform Install() { return ScopedPlatform(*this); }

  // Counts a call of `op` and tells which failure, if any, it must show:
  // nothing, or the op of the rule that fires (kWrite or kShortWrite for
  // a write). Used by the wrapped files.
  std::optional<PlatformOp> NextCall(PlatformOp op);

  // The calls that can fail; every other call is passed on unchanged.
  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override;
  Status DeleteFile(std::string_view path) override;
  Status Rename(std::string_view from, std::string_view to) override;
  Status RenameNoReplace(std::string_view from, std::string_view to) override;
  Status Link(std::string_view from, std::string_view to) override;
  Result<FileStatus> Stat(std::string_view path) override;
  // Counted and failed as a Stat.
  Result<FileStatus> StatLink(std::string_view path) override;
  Status SetAttributes(std::string_view path, std::uint8_t attributes) override;
  Status RestoreNativeMode(std::string_view path, std::uint32_t native_mode) override;
  Status SetModifiedTime(std::string_view path, FileTime time) override;
  bool SameFile(std::string_view a, std::string_view b) override;
  Status ListDirectory(std::string_view directory, std::string_view pattern,
                       std::vector<DirEntry>* entries) override;
  Status MakeDirectory(std::string_view path) override;
  Status RemoveDirectory(std::string_view path) override;
  Status SyncDirectory(std::string_view path) override;
  Status SyncFileSystem(std::string_view path) override;
  std::string ExecutablePath() override;
  std::optional<std::string> GetEnvironment(std::string_view name) override;
  ProcessResult RunCommandInterpreter(std::string_view tail) override;

 private:
  struct Rule {
    PlatformOp op;
    int target;  // the value of the op's counter at the call that fails
    FailMode mode;
  };

  // Counts the call and tells whether a rule fires for it.
  bool Fails(PlatformOp op);

  std::array<int, kPlatformOpCount> calls_{};
  std::vector<Rule> rules_;
  int failures_ = 0;
};

}  // namespace qlr::testing
