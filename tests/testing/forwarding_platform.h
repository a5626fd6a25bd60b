// A Platform for tests that passes every call on to another one; a test
// derives from it and overrides only the calls it wants to change or
// watch. A failed call of the inner platform fails here with its reason.
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

  bool Read(void* buffer, std::size_t n, std::size_t* got) override {
    return Pass(inner_->Read(buffer, n, got));
  }
  bool Write(const void* buffer, std::size_t n, std::size_t* written) override {
    return Pass(inner_->Write(buffer, n, written));
  }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    return Pass(inner_->ReadAt(offset, buffer, n, got));
  }
  bool WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
               std::size_t* written) override {
    return Pass(inner_->WriteAt(offset, buffer, n, written));
  }
  bool Seek(std::uint64_t position) override { return Pass(inner_->Seek(position)); }
  bool Size(std::uint64_t* size) override { return Pass(inner_->Size(size)); }
  bool Truncate(std::uint64_t size) override { return Pass(inner_->Truncate(size)); }
  bool Sync() override { return Pass(inner_->Sync()); }
  bool TryLock(std::uint64_t offset, std::uint64_t length) override {
    return Pass(inner_->TryLock(offset, length));
  }
  bool Unlock(std::uint64_t offset, std::uint64_t length) override {
    return Pass(inner_->Unlock(offset, length));
  }
  bool Close() override { return Pass(inner_->Close()); }
  // Through this handle's own Read and Write (and the source's), not the
  // inner file's copy: a test that watches or changes them sees every
  // byte of a copy as well.
  bool CopyFrom(FileHandle& source, std::uint64_t n, std::uint64_t* copied) override {
    return FileHandle::CopyFrom(source, n, copied);
  }

 protected:
  bool Pass(bool ok) { return ok || Fail(inner_->LastError()); }

  std::unique_ptr<FileHandle> inner_;
};

class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner = HostPlatform()) : inner_(inner) {}

  std::unique_ptr<FileHandle> OpenFile(std::string_view path, OpenMode mode) override {
    auto file = inner_.OpenFile(path, mode);
    if (!file) Fail(inner_.LastError());
    return file;
  }
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
  std::optional<FileStatus> Stat(std::string_view path) override { return inner_.Stat(path); }
  std::optional<FileStatus> StatLink(std::string_view path) override {
    return inner_.StatLink(path);
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
  bool SameFile(std::string_view a, std::string_view b) override { return inner_.SameFile(a, b); }
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
  std::uint32_t SetCreationMask(std::uint32_t mask) override {
    return inner_.SetCreationMask(mask);
  }
  LocalTime Now() override { return inner_.Now(); }
  std::uint32_t ProcessId() override { return inner_.ProcessId(); }

 protected:
  bool Pass(bool ok) { return ok || Fail(inner_.LastError()); }
  // For overrides that fail a call themselves.
  bool FailWith(Status status) { return Fail(std::move(status)); }

  Platform& inner_;
};

}  // namespace qlr::testing
