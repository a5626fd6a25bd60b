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

  std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) override;
  std::unique_ptr<FileHandle> OpenFileNoFollow(std::string_view path, OpenMode mode) override;
  bool DeleteFile(std::string_view path) override { return Pass(inner_.DeleteFile(path)); }
  bool Rename(std::string_view from, std::string_view to) override {
    return Pass(inner_.Rename(from, to));
  }
  bool RenameNoReplace(std::string_view from, std::string_view to) override {
    return Pass(inner_.RenameNoReplace(from, to));
  }
  bool Link(std::string_view from, std::string_view to) override {
    return Pass(inner_.Link(from, to));
  }
  std::optional<FileStatus> Stat(std::string_view path) override {
    return PassStatus(inner_.Stat(path));
  }
  std::optional<FileStatus> StatLink(std::string_view path) override {
    return PassStatus(inner_.StatLink(path));
  }
  bool SetAttributes(std::string_view path, std::uint8_t attributes) override {
    return Pass(inner_.SetAttributes(path, attributes));
  }
  bool RestoreNativeMode(std::string_view path, std::uint32_t native_mode) override {
    return Pass(inner_.RestoreNativeMode(path, native_mode));
  }
  bool SetModifiedTime(std::string_view path, FileTime time) override {
    return Pass(inner_.SetModifiedTime(path, time));
  }
  bool SameFile(std::string_view a, std::string_view b) override {
    return Pass(inner_.SameFile(a, b));
  }
  bool ListDirectory(std::string_view directory, std::string_view pattern,
                     std::vector<DirEntry>* entries) override {
    return Pass(inner_.ListDirectory(directory, pattern, entries));
  }
  bool MakeDirectory(std::string_view path) override { return Pass(inner_.MakeDirectory(path)); }
  bool RemoveDirectory(std::string_view path) override {
    return Pass(inner_.RemoveDirectory(path));
  }
  bool SyncDirectory(std::string_view path) override { return Pass(inner_.SyncDirectory(path)); }
  bool SyncFileSystem(std::string_view path) override { return Pass(inner_.SyncFileSystem(path)); }
  std::string ExecutablePath() override { return inner_.ExecutablePath(); }
  std::optional<std::string> GetEnvironment(std::string_view name) override {
    return inner_.GetEnvironment(name);
  }
  ProcessResult RunCommandInterpreter(std::string_view tail) override {
    return inner_.RunCommandInterpreter(tail);
  }
  void Sleep(int milliseconds) override { inner_.Sleep(milliseconds); }
  LocalTime Now() override { return inner_.Now(); }

 private:
  bool Pass(bool ok) {
    if (!ok) Fail(inner_.LastError());
    return ok;
  }
  std::optional<FileStatus> PassStatus(std::optional<FileStatus> status) {
    if (!status) Fail(inner_.LastError());
    return status;
  }
  // True when `path` names the locked file.
  bool IsLockedFile(std::string_view path);

  Platform& inner_;
  FileHandle& owner_;
  std::string path_;
  std::optional<FileStatus> identity_;
  ScopedPlatform installed_;
};

}  // namespace qlr
