// A Platform for tests that lets another writer in between two calls of
// the code under test: after the nth call (counted from Pause, over the
// platform and every file opened through it), it runs a chosen action
// once, with Os() set to the wrapped platform, and then lets the code go
// on. A single-threaded way to try every point at which a second program
// could act while the first one is in the middle of an operation.
//
//   InterleavingPlatform turns(disk);
//   ScopedPlatform installed(turns);
//   turns.Pause(k, [&] { other.AppendMessage(m); });
//   base.WriteMessage(n, m);   // `other` appends after the k-th call
//   bool reached = turns.Fired();
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "testing/forwarding_platform.h"

namespace qlr::testing {

class InterleavingPlatform : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;

  // Runs `between` after the nth call from now (1 = the next one).
  void Pause(int nth, std::function<void()> between) {
    calls_ = 0;
    target_ = nth;
    between_ = std::move(between);
    fired_ = false;
  }
  bool Fired() const { return fired_; }
  // Calls seen since the last Pause.
  int Calls() const { return calls_; }

  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override {
    auto file = ForwardingPlatform::OpenFile(path, mode);
    if (file) file = std::make_unique<File>(*this, std::move(file));
    return After(std::move(file));
  }
  Status DeleteFile(std::string_view p) override {
    return After(ForwardingPlatform::DeleteFile(p));
  }
  Status Rename(std::string_view from, std::string_view to) override {
    return After(ForwardingPlatform::Rename(from, to));
  }
  Status RenameNoReplace(std::string_view from, std::string_view to) override {
    return After(ForwardingPlatform::RenameNoReplace(from, to));
  }
  Status Link(std::string_view from, std::string_view to) override {
    return After(ForwardingPlatform::Link(from, to));
  }
  Result<FileStatus> Stat(std::string_view p) override {
    return After(ForwardingPlatform::Stat(p));
  }
  Status ListDirectory(std::string_view directory, std::string_view pattern,
                       std::vector<DirEntry>* entries) override {
    return After(ForwardingPlatform::ListDirectory(directory, pattern, entries));
  }
  Status MakeDirectory(std::string_view p) override {
    return After(ForwardingPlatform::MakeDirectory(p));
  }
  Status RemoveDirectory(std::string_view p) override {
    return After(ForwardingPlatform::RemoveDirectory(p));
  }
  Status SyncDirectory(std::string_view p) override {
    return After(ForwardingPlatform::SyncDirectory(p));
  }

 private:
  class File : public ForwardingFile {
   public:
    File(InterleavingPlatform& owner, std::unique_ptr<FileHandle> inner)
        : ForwardingFile(std::move(inner)), owner_(owner) {}
    Status Read(void* b, std::size_t n, std::size_t* got) override {
      return owner_.After(ForwardingFile::Read(b, n, got));
    }
    Status Write(const void* b, std::size_t n, std::size_t* written) override {
      return owner_.After(ForwardingFile::Write(b, n, written));
    }
    Status ReadAt(std::uint64_t at, void* b, std::size_t n, std::size_t* got) override {
      return owner_.After(ForwardingFile::ReadAt(at, b, n, got));
    }
    Status WriteAt(std::uint64_t at, const void* b, std::size_t n, std::size_t* written) override {
      return owner_.After(ForwardingFile::WriteAt(at, b, n, written));
    }
    Status Seek(std::uint64_t at) override { return owner_.After(ForwardingFile::Seek(at)); }
    Status Size(std::uint64_t* size) override { return owner_.After(ForwardingFile::Size(size)); }
    Status Truncate(std::uint64_t size) override {
      return owner_.After(ForwardingFile::Truncate(size));
    }
    Status Sync() override { return owner_.After(ForwardingFile::Sync()); }
    Status TryLock(std::uint64_t at, std::uint64_t n) override {
      return owner_.After(ForwardingFile::TryLock(at, n));
    }
    Status Unlock(std::uint64_t at, std::uint64_t n) override {
      return owner_.After(ForwardingFile::Unlock(at, n));
    }
    Status Close() override { return owner_.After(ForwardingFile::Close()); }

   private:
    InterleavingPlatform& owner_;
  };

  // The call has taken effect (and its result, with its reason, is held
  // here); the other writer acts through the wrapped platform, so that
  // neither its calls nor its errors reach the code that is paused.
  template <class T>
  T After(T result) {
    if (between_ && ++calls_ == target_) {
      fired_ = true;
      const auto between = std::exchange(between_, nullptr);
      ScopedPlatform other(inner_);
      between();
    }
    return result;
  }

  std::function<void()> between_;
  int calls_ = 0;
  int target_ = 0;
  bool fired_ = false;
};

}  // namespace qlr::testing
