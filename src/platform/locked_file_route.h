// Access to a locked file through the handle that holds its lock.
//
// Windows enforces byte-range locks: once a handle has locked a range, a
// read, write or truncate of that range through any other handle fails,
// in the same process too. A program that locks the first byte of a base
// file and then opens the file again to copy or rewrite it (as a rotation
// does with ".jhr" and ".sqd", and as the formats' code does, which knows
// nothing of the lock) would fail there. While a LockedFileRoute lives,
// every open of the locked file in this process, by whatever name,
// returns a view of the locking handle instead: its own position over the
// same open file, whose locks are already held. The same holds on every
// platform, so that the route is exercised where locks are advisory too.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qlr {

class LockedFileRoute final : public Platform {
 public:
  // Installs the route over the platform in use (Os()) for `path`, whose
  // open handle `owner` holds the lock. `owner` must outlive the route.
  LockedFileRoute(std::string_view path, FileHandle& owner);
  ~LockedFileRoute() override;
  LockedFileRoute(const LockedFileRoute&) = delete;
  LockedFileRoute& operator=(const LockedFileRoute&) = delete;

  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override;
  Result<std::unique_ptr<FileHandle>> OpenFileNoFollow(std::string_view path,
                                                       OpenMode mode) override;
  Status DeleteFile(std::string_view path) override { return inner_.DeleteFile(path); }
  Status Rename(std::string_view from, std::string_view to) override {
    return inner_.Rename(from, to);
  }
  Status RenameNoReplace(std::string_view from, std::string_view to) override {
    return inner_.RenameNoReplace(from, to);
  }
  Status Link(std::string_view from, std::string_view to) override { return inner_.Link(from, to); }
  Result<FileStatus> Stat(std::string_view path) override { return inner_.Stat(path); }
  Result<FileStatus> StatLink(std::string_view path) override { return inner_.StatLink(path); }
  Status SetAttributes(std::string_view path, std::uint8_t attributes) override {
    return inner_.SetAttributes(path, attributes);
  }
  Status RestoreNativeMode(std::string_view path, std::uint32_t native_mode) override {
    return inner_.RestoreNativeMode(path, native_mode);
  }
  Status SetModifiedTime(std::string_view path, FileTime time) override {
    return inner_.SetModifiedTime(path, time);
  }
  bool SameFile(std::string_view a, std::string_view b) override { return inner_.SameFile(a, b); }
  Status ListDirectory(std::string_view directory, std::string_view pattern,
                       std::vector<DirEntry>* entries) override {
    return inner_.ListDirectory(directory, pattern, entries);
  }
  Status MakeDirectory(std::string_view path) override { return inner_.MakeDirectory(path); }
  Status RemoveDirectory(std::string_view path) override { return inner_.RemoveDirectory(path); }
  Status SyncDirectory(std::string_view path) override { return inner_.SyncDirectory(path); }
  Status SyncFileSystem(std::string_view path) override { return inner_.SyncFileSystem(path); }
  std::string ExecutablePath() override { return inner_.ExecutablePath(); }
  std::optional<std::string> GetEnvironment(std::string_view name) override {
    return inner_.GetEnvironment(name);
  }
  ProcessResult RunCommandInterpreter(std::string_view tail) override {
    return inner_.RunCommandInterpreter(tail);
  }
  void Sleep(int milliseconds) override { inner_.Sleep(milliseconds); }
  std::uint32_t SetCreationMask(std::uint32_t mask) override {
    return inner_.SetCreationMask(mask);
  }
  LocalTime Now() override { return inner_.Now(); }
  std::uint32_t ProcessId() override { return inner_.ProcessId(); }

 private:
  // True when `path` names the locked file.
  bool IsLockedFile(std::string_view path);

  Platform& inner_;
  FileHandle& owner_;
  std::string path_;
  std::optional<FileStatus> identity_;
  ScopedPlatform installed_;
};

}  // namespace qlr
