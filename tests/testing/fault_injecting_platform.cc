#include "testing/fault_injecting_platform.h"

#include <cstring>
#include <utility>

namespace qlr::testing {
namespace {

std::size_t Index(PlatformOp op) { return static_cast<std::size_t>(CounterOf(op)); }

Status Injected(StatusKind kind, std::string_view path) {
  return Status(kind, path, "injected fault");
}

void ZeroFill(void* buffer, std::size_t from, std::size_t n) {
  if (from < n) std::memset(static_cast<char*>(buffer) + from, 0, n - from);
}

class FaultInjectingFile final : public ForwardingFile {
 public:
  FaultInjectingFile(std::unique_ptr<FileHandle> inner, FaultInjectingPlatform& owner,
                     std::string_view path)
      : ForwardingFile(std::move(inner)), owner_(owner), path_(path) {}

  Status Read(void* buffer, std::size_t n, std::size_t* got) override {
    return DoRead(PlatformOp::kRead, buffer, n, got,
                  [&](std::size_t count) { return inner_->Read(buffer, count, got); });
  }

  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    return DoRead(PlatformOp::kReadAt, buffer, n, got,
                  [&](std::size_t count) { return inner_->ReadAt(offset, buffer, count, got); });
  }

  Status Write(const void* buffer, std::size_t n, std::size_t* written) override {
    return DoWrite(PlatformOp::kWrite, n, written,
                   [&](std::size_t count) { return inner_->Write(buffer, count, written); });
  }

  Status WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* written) override {
    return DoWrite(PlatformOp::kWriteAt, n, written, [&](std::size_t count) {
      return inner_->WriteAt(offset, buffer, count, written);
    });
  }

  Status Seek(std::uint64_t position) override {
    if (Status injected = Injects(PlatformOp::kSeek); !injected) return injected;
    return inner_->Seek(position);
  }

  Status Size(std::uint64_t* size) override {
    if (Status injected = Injects(PlatformOp::kSize); !injected) return injected;
    return inner_->Size(size);
  }

  Status Truncate(std::uint64_t size) override {
    if (Status injected = Injects(PlatformOp::kTruncate); !injected) return injected;
    return inner_->Truncate(size);
  }

  Status Sync() override {
    if (Status injected = Injects(PlatformOp::kSync); !injected) return injected;
    return inner_->Sync();
  }

  Status TryLock(std::uint64_t offset, std::uint64_t length) override {
    if (Status injected = Injects(PlatformOp::kTryLock, StatusKind::kBusy); !injected) {
      return injected;
    }
    return inner_->TryLock(offset, length);
  }

  Status Unlock(std::uint64_t offset, std::uint64_t length) override {
    if (Status injected = Injects(PlatformOp::kUnlock); !injected) return injected;
    return inner_->Unlock(offset, length);
  }

  Status Close() override {
    if (Status injected = Injects(PlatformOp::kClose); !injected) {
      (void)inner_->Close();
      return injected;
    }
    return inner_->Close();
  }

  // Copies through this file's Read and Write and the source's Read (the
  // source is a file of the injector too), so every block of a copy can
  // fail as well as the copy as a whole.
  Status CopyFrom(FileHandle& source, std::uint64_t n, std::uint64_t* copied) override {
    *copied = 0;
    if (Status injected = Injects(PlatformOp::kCopyFrom); !injected) return injected;
    return FileHandle::CopyFrom(source, n, copied);
  }

 private:
  // The injected failure when a rule fires for this call, else ok.
  Status Injects(PlatformOp op, StatusKind kind = StatusKind::kIoError) {
    if (!owner_.NextCall(op)) return Status::Ok();
    return Injected(kind, path_);
  }

  // `read(count)` reads `count` bytes from the wrapped file.
  template <class ReadFn>
  Status DoRead(PlatformOp op, void* buffer, std::size_t n, std::size_t* got, ReadFn read) {
    const auto failure = owner_.NextCall(op);
    if (!failure) return read(n);
    if (IsShortVariant(*failure)) {
      // The file seems to end halfway, as when it was cut meanwhile.
      Status ok = read(n / 2);
      ZeroFill(buffer, *got, n);
      return ok;
    }
    *got = 0;
    ZeroFill(buffer, 0, n);
    return Injected(StatusKind::kIoError, path_);
  }

  template <class WriteFn>
  Status DoWrite(PlatformOp op, std::size_t n, std::size_t* written, WriteFn write) {
    const auto failure = owner_.NextCall(op);
    if (!failure) return write(n);
    if (IsShortVariant(*failure)) {
      // Half the bytes really reach the file, as when the disk fills up.
      if (Status half = write(n / 2); !half) return half;
      return Injected(StatusKind::kNoSpace, path_);
    }
    *written = 0;
    return Injected(StatusKind::kIoError, path_);
  }

  FaultInjectingPlatform& owner_;
  std::string path_;
};

}  // namespace

FaultInjectingPlatform::FaultInjectingPlatform(Platform& inner) : ForwardingPlatform(inner) {}

void FaultInjectingPlatform::FailCall(PlatformOp op, int nth, FailMode mode) {
  rules_.push_back(Rule{op, calls_[Index(op)] + nth, mode});
}

void FaultInjectingPlatform::Reset() {
  calls_.fill(0);
  rules_.clear();
  failures_ = 0;
}

int FaultInjectingPlatform::Calls(PlatformOp op) const { return calls_[Index(op)]; }

std::optional<PlatformOp> FaultInjectingPlatform::NextCall(PlatformOp op) {
  const int count = ++calls_[Index(op)];
  for (const Rule& rule : rules_) {
    if (CounterOf(rule.op) != CounterOf(op)) continue;
    const bool fires = rule.mode == FailMode::kOnce ? count == rule.target : count >= rule.target;
    if (fires) {
      ++failures_;
      return rule.op;
    }
  }
  return std::nullopt;
}

bool FaultInjectingPlatform::Fails(PlatformOp op) { return NextCall(op).has_value(); }

Result<std::unique_ptr<FileHandle>> FaultInjectingPlatform::OpenFile(std::string_view path,
                                                                     OpenMode mode) {
  if (Fails(PlatformOp::kOpenFile)) return Injected(StatusKind::kIoError, path);
  auto file = inner_.OpenFile(path, mode);
  if (!file) return file;
  return std::make_unique<FaultInjectingFile>(std::move(file), *this, path);
}

Status FaultInjectingPlatform::DeleteFile(std::string_view path) {
  if (Fails(PlatformOp::kDeleteFile)) return Injected(StatusKind::kIoError, path);
  return inner_.DeleteFile(path);
}

Status FaultInjectingPlatform::Rename(std::string_view from, std::string_view to) {
  if (Fails(PlatformOp::kRename)) return Injected(StatusKind::kIoError, from);
  return inner_.Rename(from, to);
}

Status FaultInjectingPlatform::RenameNoReplace(std::string_view from, std::string_view to) {
  if (Fails(PlatformOp::kRenameNoReplace)) return Injected(StatusKind::kIoError, from);
  return inner_.RenameNoReplace(from, to);
}

Status FaultInjectingPlatform::Link(std::string_view from, std::string_view to) {
  if (Fails(PlatformOp::kLink)) return Injected(StatusKind::kIoError, from);
  return inner_.Link(from, to);
}

Result<FileStatus> FaultInjectingPlatform::Stat(std::string_view path) {
  if (Fails(PlatformOp::kStat)) return Injected(StatusKind::kIoError, path);
  return inner_.Stat(path);
}

Result<FileStatus> FaultInjectingPlatform::StatLink(std::string_view path) {
  if (Fails(PlatformOp::kStat)) return Injected(StatusKind::kIoError, path);
  return inner_.StatLink(path);
}

Status FaultInjectingPlatform::SetAttributes(std::string_view path, std::uint8_t attributes) {
  if (Fails(PlatformOp::kSetAttributes)) return Injected(StatusKind::kIoError, path);
  return inner_.SetAttributes(path, attributes);
}

Status FaultInjectingPlatform::RestoreNativeMode(std::string_view path, std::uint32_t native_mode) {
  if (Fails(PlatformOp::kRestoreNativeMode)) return Injected(StatusKind::kIoError, path);
  return inner_.RestoreNativeMode(path, native_mode);
}

Status FaultInjectingPlatform::SetModifiedTime(std::string_view path, FileTime time) {
  if (Fails(PlatformOp::kSetModifiedTime)) return Injected(StatusKind::kIoError, path);
  return inner_.SetModifiedTime(path, time);
}

bool FaultInjectingPlatform::SameFile(std::string_view a, std::string_view b) {
  return !Fails(PlatformOp::kSameFile) && inner_.SameFile(a, b);
}

Status FaultInjectingPlatform::ListDirectory(std::string_view directory, std::string_view pattern,
                                             std::vector<DirEntry>* entries) {
  if (Fails(PlatformOp::kListDirectory)) {
    entries->clear();
    return Injected(StatusKind::kIoError, directory);
  }
  return inner_.ListDirectory(directory, pattern, entries);
}

Status FaultInjectingPlatform::MakeDirectory(std::string_view path) {
  if (Fails(PlatformOp::kMakeDirectory)) return Injected(StatusKind::kIoError, path);
  return inner_.MakeDirectory(path);
}

Status FaultInjectingPlatform::RemoveDirectory(std::string_view path) {
  if (Fails(PlatformOp::kRemoveDirectory)) return Injected(StatusKind::kIoError, path);
  return inner_.RemoveDirectory(path);
}

Status FaultInjectingPlatform::SyncDirectory(std::string_view path) {
  if (Fails(PlatformOp::kSyncDirectory)) return Injected(StatusKind::kIoError, path);
  return inner_.SyncDirectory(path);
}

Status FaultInjectingPlatform::SyncFileSystem(std::string_view path) {
  if (Fails(PlatformOp::kSyncFileSystem)) return Injected(StatusKind::kIoError, path);
  return inner_.SyncFileSystem(path);
}

std::string FaultInjectingPlatform::ExecutablePath() {
  if (Fails(PlatformOp::kExecutablePath)) return std::string();
  return inner_.ExecutablePath();
}

std::optional<std::string> FaultInjectingPlatform::GetEnvironment(std::string_view name) {
  if (Fails(PlatformOp::kGetEnvironment)) return std::nullopt;
  return inner_.GetEnvironment(name);
}

ProcessResult FaultInjectingPlatform::RunCommandInterpreter(std::string_view tail) {
  if (Fails(PlatformOp::kRunCommandInterpreter)) return ProcessResult{};
  return inner_.RunCommandInterpreter(tail);
}

}  // namespace qlr::testing
