#include "testing/fault_injecting_platform.h"

#include <utility>

namespace qlr::testing {
namespace {

// A short write shares the write counter: it is a way for a write to fail.
PlatformOp CounterOf(PlatformOp op) {
  return op == PlatformOp::kShortWrite ? PlatformOp::kWrite : op;
}

std::size_t Index(PlatformOp op) { return static_cast<std::size_t>(CounterOf(op)); }

class FaultInjectingFile final : public FileHandle {
 public:
  FaultInjectingFile(std::unique_ptr<FileHandle> inner, FaultInjectingPlatform& owner)
      : inner_(std::move(inner)), owner_(owner) {}

  bool Read(void* buffer, std::size_t n, std::size_t* got) override {
    if (owner_.NextCall(PlatformOp::kRead)) {
      *got = 0;
      return false;
    }
    return inner_->Read(buffer, n, got);
  }

  bool Write(const void* buffer, std::size_t n, std::size_t* written) override {
    const auto failure = owner_.NextCall(PlatformOp::kWrite);
    if (!failure) return inner_->Write(buffer, n, written);
    if (*failure == PlatformOp::kShortWrite) {
      // Half the bytes really reach the file, as when the disk fills up.
      return inner_->Write(buffer, n / 2, written);
    }
    *written = 0;
    return false;
  }

  bool Seek(std::uint64_t position) override { return inner_->Seek(position); }
  bool Size(std::uint64_t* size) override { return inner_->Size(size); }
  bool Truncate(std::uint64_t size) override { return inner_->Truncate(size); }

  bool Sync() override {
    if (owner_.NextCall(PlatformOp::kSync)) return false;
    return inner_->Sync();
  }

 private:
  std::unique_ptr<FileHandle> inner_;
  FaultInjectingPlatform& owner_;
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

std::unique_ptr<FileHandle> FaultInjectingPlatform::OpenFile(std::string_view path, OpenMode mode) {
  if (Fails(PlatformOp::kOpenFile)) return nullptr;
  auto file = inner_.OpenFile(path, mode);
  if (!file) return nullptr;
  return std::make_unique<FaultInjectingFile>(std::move(file), *this);
}

bool FaultInjectingPlatform::DeleteFile(std::string_view path) {
  return !Fails(PlatformOp::kDeleteFile) && inner_.DeleteFile(path);
}

std::optional<FileStatus> FaultInjectingPlatform::Stat(std::string_view path) {
  return inner_.Stat(path);
}

bool FaultInjectingPlatform::SetAttributes(std::string_view path, std::uint8_t attributes) {
  return !Fails(PlatformOp::kSetAttributes) && inner_.SetAttributes(path, attributes);
}

bool FaultInjectingPlatform::RestoreNativeMode(std::string_view path, std::uint32_t native_mode) {
  return inner_.RestoreNativeMode(path, native_mode);
}

bool FaultInjectingPlatform::SetModifiedTime(std::string_view path, FileTime time) {
  return !Fails(PlatformOp::kSetModifiedTime) && inner_.SetModifiedTime(path, time);
}

bool FaultInjectingPlatform::SameFile(std::string_view a, std::string_view b) {
  return inner_.SameFile(a, b);
}

bool FaultInjectingPlatform::ListDirectory(std::string_view directory, std::string_view pattern,
                                           std::vector<DirEntry>* entries) {
  if (Fails(PlatformOp::kListDirectory)) {
    entries->clear();
    return false;
  }
  return inner_.ListDirectory(directory, pattern, entries);
}

bool FaultInjectingPlatform::MakeDirectory(std::string_view path) {
  return !Fails(PlatformOp::kMakeDirectory) && inner_.MakeDirectory(path);
}

bool FaultInjectingPlatform::RemoveDirectory(std::string_view path) {
  return !Fails(PlatformOp::kRemoveDirectory) && inner_.RemoveDirectory(path);
}

bool FaultInjectingPlatform::SyncDirectory(std::string_view path) {
  return !Fails(PlatformOp::kSyncDirectory) && inner_.SyncDirectory(path);
}

std::string FaultInjectingPlatform::ExecutablePath() { return inner_.ExecutablePath(); }

std::optional<std::string> FaultInjectingPlatform::GetEnvironment(std::string_view name) {
  return inner_.GetEnvironment(name);
}

ProcessResult FaultInjectingPlatform::RunCommandInterpreter(std::string_view tail) {
  if (Fails(PlatformOp::kRunCommandInterpreter)) return ProcessResult{};
  return inner_.RunCommandInterpreter(tail);
}

void FaultInjectingPlatform::Sleep(int milliseconds) { inner_.Sleep(milliseconds); }

LocalTime FaultInjectingPlatform::Now() { return inner_.Now(); }

}  // namespace qlr::testing
