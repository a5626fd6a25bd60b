// A Platform for tests that passes every call on to another one; a test
// derives from it and overrides only the calls it wants to change or
// watch. A failed call of the inner platform fails here with its reason,
// and a call added to Platform later is passed on, not silently missing.
//
//   class Watching : public ForwardingPlatform { ... override Stat ... };
//   Watching platform;
//   ScopedPlatform installed(platform);
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace qlr::testing {

// A file handle that passes every call on to another one.
class ForwardingFile : public FileHandle {
 public:
  explicit ForwardingFile(std::unique_ptr<FileHandle> inner) : inner_(std::move(inner)) {}

  Status Read(void* buffer, std::size_t n, std::size_t* got) override {
    return inner_->Read(buffer, n, got);
  }
  Status Write(const void* buffer, std::size_t n, std::size_t* written) override {
    return inner_->Write(buffer, n, written);
  }
  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    return inner_->ReadAt(offset, buffer, n, got);
  }
  Status WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* written) override {
    return inner_->WriteAt(offset, buffer, n, written);
  }
  Status Seek(std::uint64_t position) override { return inner_->Seek(position); }
  Status Size(std::uint64_t* size) override { return inner_->Size(size); }
  Status Truncate(std::uint64_t size) override { return inner_->Truncate(size); }
  Status Sync() override { return inner_->Sync(); }
  Status TryLock(std::uint64_t offset, std::uint64_t length) override {
    return inner_->TryLock(offset, length);
  }
  Status Unlock(std::uint64_t offset, std::uint64_t length) override {
    return inner_->Unlock(offset, length);
  }
  Status Close() override { return inner_->Close(); }
  // Through this handle's own Read and Write (and the source's), not the
  // inner file's copy: a test that watches or changes them sees every
  // byte of a copy as well.
  Status CopyFrom(FileHandle& source, std::uint64_t n, std::uint64_t* copied) override {
    return FileHandle::CopyFrom(source, n, copied);
  }

 protected:
  std::unique_ptr<FileHandle> inner_;
};

class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner = HostPlatform()) : inner_(inner) {}

  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
    return inner_.OpenFile(path, mode);
  }
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

 protected:
  Platform& inner_;
};

}  // namespace qlr::testing
