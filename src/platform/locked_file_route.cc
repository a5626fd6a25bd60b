#include "platform/locked_file_route.h"

namespace qlr {
namespace {

// A handle of its own over the locking handle: its own position, and every
// access through the positional calls of the handle that holds the lock.
class LockedFileView final : public FileHandle {
 public:
  LockedFileView(FileHandle& owner, bool writable) : owner_(owner), writable_(writable) {}

  bool Read(void* buffer, std::size_t n, std::size_t* got) override {
    const bool ok = ReadAt(position_, buffer, n, got);
    position_ += *got;
    return ok;
  }
  bool Write(const void* buffer, std::size_t n, std::size_t* written) override {
    const bool ok = WriteAt(position_, buffer, n, written);
    position_ += *written;
    return ok;
  }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    if (closed_) return Closed(got);
    return Pass(owner_.ReadAt(offset, buffer, n, got));
  }
  bool WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
               std::size_t* written) override {
    if (closed_) return Closed(written);
    if (!writable_) {
      *written = 0;
      return Fail(Status::Invalid("", "file opened for reading only"));
    }
    return Pass(owner_.WriteAt(offset, buffer, n, written));
  }
  bool Seek(std::uint64_t position) override {
    if (closed_) return Closed(nullptr);
    position_ = position;
    return true;
  }
  bool Size(std::uint64_t* size) override {
    if (closed_) return Closed(nullptr);
    return Pass(owner_.Size(size));
  }
  bool Truncate(std::uint64_t size) override {
    if (closed_) return Closed(nullptr);
    if (!writable_) return Fail(Status::Invalid("", "file opened for reading only"));
    return Pass(owner_.Truncate(size));
  }
  bool Sync() override {
    if (closed_) return Closed(nullptr);
    return Pass(owner_.Sync());
  }
  // The owner holds the open file: a copy from this view is made from it,
  // at this view's position (the kernel copy, see FileHandle::CopyFrom).
  FileHandle* HolderOfFile(std::uint64_t* position) override {
    if (closed_) return nullptr;
    *position = position_;
    return &owner_;
  }
  // The range the owner holds stays its own: whoever else in this process
  // asks for it finds it busy, as another handle would.
  bool TryLock(std::uint64_t offset, std::uint64_t length) override {
    if (closed_) return Closed(nullptr);
    if (offset == 0 && length == 1) {
      return Fail(Status(StatusKind::kBusy, "", "locked by this process"));
    }
    return Pass(owner_.TryLock(offset, length));
  }
  bool Unlock(std::uint64_t offset, std::uint64_t length) override {
    if (closed_) return Closed(nullptr);
    if (offset == 0 && length == 1) return true;  // the owner's to release
    return Pass(owner_.Unlock(offset, length));
  }
  // The open file stays with its owner, whose own close reports what only
  // closing reveals; what was written through the view is flushed by Sync.
  bool Close() override {
    if (closed_) return Closed(nullptr);
    closed_ = true;
    return true;
  }

 private:
  bool Pass(bool ok) {
    if (!ok) Fail(owner_.LastError());
    return ok;
  }
  bool Closed(std::size_t* count) {
    if (count != nullptr) *count = 0;
    return Fail(Status::Invalid("", "file already closed"));
  }

  FileHandle& owner_;
  bool writable_;
  bool closed_ = false;
  std::uint64_t position_ = 0;
};

}  // namespace

LockedFileRoute::LockedFileRoute(std::string_view path, FileHandle& owner)
    : inner_(Os()), owner_(owner), path_(path), identity_(inner_.Stat(path)), installed_(*this) {}

LockedFileRoute::~LockedFileRoute() = default;

bool LockedFileRoute::IsLockedFile(std::string_view path) {
  if (path == path_) return true;
  if (!identity_ || (identity_->volume == 0 && identity_->file_index == 0)) return false;
  const std::optional<FileStatus> status = inner_.Stat(path);
  return status && status->volume == identity_->volume &&
         status->file_index == identity_->file_index;
}

std::unique_ptr<FileHandle> LockedFileRoute::OpenFile(std::string_view path, OpenMode mode) {
  if (!IsLockedFile(path)) {
    std::unique_ptr<FileHandle> file = inner_.OpenFile(path, mode);
    if (!file) Fail(inner_.LastError());
    return file;
  }
  // The locked file exists: no new file can be made under its name.
  if (mode == OpenMode::kCreateNew) {
    Fail(Status(StatusKind::kBusy, path, "exists"));
    return nullptr;
  }
  auto view = std::make_unique<LockedFileView>(owner_, mode != OpenMode::kRead);
  // A new, empty file, as an open that creates leaves it.
  if (mode == OpenMode::kCreate && !view->Truncate(0)) {
    Fail(view->LastError());
    return nullptr;
  }
  return view;
}

std::unique_ptr<FileHandle> LockedFileRoute::OpenFileNoFollow(std::string_view path,
                                                              OpenMode mode) {
  // Another name may be a link to the locked file: that one stays refused.
  if (IsLockedFile(path)) {
    const std::optional<FileStatus> status = inner_.StatLink(path);
    if (status && !status->is_link) return OpenFile(path, mode);
  }
  std::unique_ptr<FileHandle> file = inner_.OpenFileNoFollow(path, mode);
  if (!file) Fail(inner_.LastError());
  return file;
}

}  // namespace qlr
