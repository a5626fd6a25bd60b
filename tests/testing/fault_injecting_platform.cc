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

class FaultInjectingFile final : public FileHandle {
 public:
  FaultInjectingFile(std::unique_ptr<FileHandle> inner, FaultInjectingPlatform& owner,
                     std::string_view path)
      : inner_(std::move(inner)), owner_(owner), path_(path) {}

  bool Read(void* buffer, std::size_t n, std::size_t* got) override {
    return DoRead(PlatformOp::kRead, buffer, n, got,
                  [&](std::size_t count) { return inner_->Read(buffer, count, got); });
  }

  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    return DoRead(PlatformOp::kReadAt, buffer, n, got,
                  [&](std::size_t count) { return inner_->ReadAt(offset, buffer, count, got); });
  }

  bool Write(const void* buffer, std::size_t n, std::size_t* written) override {
    return DoWrite(PlatformOp::kWrite, n, written,
                   [&](std::size_t count) { return inner_->Write(buffer, count, written); });
  }

  bool WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
               std::size_t* written) override {
    return DoWrite(PlatformOp::kWriteAt, n, written, [&](std::size_t count) {
      return inner_->WriteAt(offset, buffer, count, written);
    });
  }

  bool Seek(std::uint64_t position) override {
    if (Fails(PlatformOp::kSeek)) return false;
    return Forward(inner_->Seek(position));
  }

  bool Size(std::uint64_t* size) override {
    if (Fails(PlatformOp::kSize)) return false;
    return Forward(inner_->Size(size));
  }

  bool Truncate(std::uint64_t size) override {
    if (Fails(PlatformOp::kTruncate)) return false;
    return Forward(inner_->Truncate(size));
  }

  bool Sync() override {
    if (Fails(PlatformOp::kSync)) return false;
    return Forward(inner_->Sync());
  }

  bool TryLock(std::uint64_t offset, std::uint64_t length) override {
    if (Fails(PlatformOp::kTryLock, StatusKind::kBusy)) return false;
    return Forward(inner_->TryLock(offset, length));
  }

  bool Unlock(std::uint64_t offset, std::uint64_t length) override {
    if (Fails(PlatformOp::kUnlock)) return false;
    return Forward(inner_->Unlock(offset, length));
  }

  bool Close() override {
    if (Fails(PlatformOp::kClose)) {
      (void)inner_->Close();
      return false;
    }
    return Forward(inner_->Close());
  }

  // Copies through this file's Read and Write and the source's Read (the
  // source is a file of the injector too), so every block of a copy can
  // fail as well as the copy as a whole.
  bool CopyFrom(FileHandle& source, std::uint64_t n, std::uint64_t* copied) override {
    *copied = 0;
    if (Fails(PlatformOp::kCopyFrom)) return false;
    return FileHandle::CopyFrom(source, n, copied);
  }

 private:
  bool Fails(PlatformOp op, StatusKind kind = StatusKind::kIoError) {
    if (!owner_.NextCall(op)) return false;
    Fail(Injected(kind, path_));
    return true;
  }

  bool Forward(bool ok) {
    if (!ok) last_error_ = inner_->LastError();
    return ok;
  }

  // `read(count)` reads `count` bytes from the wrapped file.
  template <class ReadFn>
  bool DoRead(PlatformOp op, void* buffer, std::size_t n, std::size_t* got, ReadFn read) {
    const auto failure = owner_.NextCall(op);
    if (!failure) return Forward(read(n));
    if (IsShortVariant(*failure)) {
      // The file seems to end halfway, as when it was cut meanwhile.
      const bool ok = Forward(read(n / 2));
      ZeroFill(buffer, *got, n);
      return ok;
    }
    *got = 0;
    ZeroFill(buffer, 0, n);
    return Fail(Injected(StatusKind::kIoError, path_));
  }

  template <class WriteFn>
  bool DoWrite(PlatformOp op, std::size_t n, std::size_t* written, WriteFn write) {
    const auto failure = owner_.NextCall(op);
    if (!failure) return Forward(write(n));
    if (IsShortVariant(*failure)) {
      // Half the bytes really reach the file, as when the disk fills up.
      if (!Forward(write(n / 2))) return false;
      return Fail(Injected(StatusKind::kNoSpace, path_));
    }
    *written = 0;
    return Fail(Injected(StatusKind::kIoError, path_));
  }

  std::unique_ptr<FileHandle> inner_;
  FaultInjectingPlatform& owner_;
  std::string path_;
};

}  // namespace

FaultInjectingPlatform::FaultInjectingPlatform(Platform& inner) : inner_(inner) {}

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

bool FaultInjectingPlatform::Fails(PlatformOp op, std::string_view path) {
  if (!NextCall(op)) return false;
  Fail(Injected(StatusKind::kIoError, path));
  return true;
}

bool FaultInjectingPlatform::Forward(bool ok) {
  if (!ok) last_error_ = inner_.LastError();
  return ok;
}

std::unique_ptr<FileHandle> FaultInjectingPlatform::OpenFile(std::string_view path, OpenMode mode) {
  if (Fails(PlatformOp::kOpenFile, path)) return nullptr;
  auto file = inner_.OpenFile(path, mode);
  if (!file) {
    last_error_ = inner_.LastError();
    return nullptr;
  }
  return std::make_unique<FaultInjectingFile>(std::move(file), *this, path);
}

bool FaultInjectingPlatform::DeleteFile(std::string_view path) {
  return !Fails(PlatformOp::kDeleteFile, path) && Forward(inner_.DeleteFile(path));
}

bool FaultInjectingPlatform::Rename(std::string_view from, std::string_view to) {
  return !Fails(PlatformOp::kRename, from) && Forward(inner_.Rename(from, to));
}

bool FaultInjectingPlatform::RenameNoReplace(std::string_view from, std::string_view to) {
  return !Fails(PlatformOp::kRenameNoReplace, from) && Forward(inner_.RenameNoReplace(from, to));
}

bool FaultInjectingPlatform::Link(std::string_view from, std::string_view to) {
  return !Fails(PlatformOp::kLink, from) && Forward(inner_.Link(from, to));
}

std::optional<FileStatus> FaultInjectingPlatform::Stat(std::string_view path) {
  if (Fails(PlatformOp::kStat, path)) return std::nullopt;
  auto status = inner_.Stat(path);
  if (!status) last_error_ = inner_.LastError();
  return status;
}

std::optional<FileStatus> FaultInjectingPlatform::StatLink(std::string_view path) {
  if (Fails(PlatformOp::kStat, path)) return std::nullopt;
  auto status = inner_.StatLink(path);
  if (!status) last_error_ = inner_.LastError();
  return status;
}

bool FaultInjectingPlatform::SetAttributes(std::string_view path, std::uint8_t attributes) {
  return !Fails(PlatformOp::kSetAttributes, path) &&
         Forward(inner_.SetAttributes(path, attributes));
}

bool FaultInjectingPlatform::RestoreNativeMode(std::string_view path, std::uint32_t native_mode) {
  return !Fails(PlatformOp::kRestoreNativeMode, path) &&
         Forward(inner_.RestoreNativeMode(path, native_mode));
}

bool FaultInjectingPlatform::SetModifiedTime(std::string_view path, FileTime time) {
  return !Fails(PlatformOp::kSetModifiedTime, path) && Forward(inner_.SetModifiedTime(path, time));
}

bool FaultInjectingPlatform::SameFile(std::string_view a, std::string_view b) {
  return !Fails(PlatformOp::kSameFile, a) && inner_.SameFile(a, b);
}

bool FaultInjectingPlatform::ListDirectory(std::string_view directory, std::string_view pattern,
                                           std::vector<DirEntry>* entries) {
  if (Fails(PlatformOp::kListDirectory, directory)) {
    entries->clear();
    return false;
  }
  return Forward(inner_.ListDirectory(directory, pattern, entries));
}

bool FaultInjectingPlatform::MakeDirectory(std::string_view path) {
  return !Fails(PlatformOp::kMakeDirectory, path) && Forward(inner_.MakeDirectory(path));
}

bool FaultInjectingPlatform::RemoveDirectory(std::string_view path) {
  return !Fails(PlatformOp::kRemoveDirectory, path) && Forward(inner_.RemoveDirectory(path));
}

bool FaultInjectingPlatform::SyncDirectory(std::string_view path) {
  return !Fails(PlatformOp::kSyncDirectory, path) && Forward(inner_.SyncDirectory(path));
}

bool FaultInjectingPlatform::SyncFileSystem(std::string_view path) {
  return !Fails(PlatformOp::kSyncFileSystem, path) && Forward(inner_.SyncFileSystem(path));
}

std::string FaultInjectingPlatform::ExecutablePath() {
  if (Fails(PlatformOp::kExecutablePath, "")) return std::string();
  return inner_.ExecutablePath();
}

std::optional<std::string> FaultInjectingPlatform::GetEnvironment(std::string_view name) {
  if (Fails(PlatformOp::kGetEnvironment, name)) return std::nullopt;
  return inner_.GetEnvironment(name);
}

ProcessResult FaultInjectingPlatform::RunCommandInterpreter(std::string_view tail) {
  if (Fails(PlatformOp::kRunCommandInterpreter, "")) return ProcessResult{};
  return inner_.RunCommandInterpreter(tail);
}

void FaultInjectingPlatform::Sleep(int milliseconds) { inner_.Sleep(milliseconds); }

std::uint32_t FaultInjectingPlatform::SetCreationMask(std::uint32_t mask) {
  return inner_.SetCreationMask(mask);
}

LocalTime FaultInjectingPlatform::Now() { return inner_.Now(); }

std::uint32_t FaultInjectingPlatform::ProcessId() { return inner_.ProcessId(); }

}  // namespace qlr::testing
