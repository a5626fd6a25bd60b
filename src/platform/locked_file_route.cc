#include "platform/locked_file_route.h"

namespace qlr {
namespace {

// A handle of its own over the locking handle: its own position, and every
// access through the positional calls of the handle that holds the lock.
class LockedFileView final : public FileHandle {
 public:
  LockedFileView(FileHandle& owner, bool writable) : owner_(owner), writable_(writable) {}

  Status Read(void* buffer, std::size_t n, std::size_t* got) override {
    Status ok = ReadAt(position_, buffer, n, got);
    position_ += *got;
    return ok;
  }
  Status Write(const void* buffer, std::size_t n, std::size_t* written) override {
    Status ok = WriteAt(position_, buffer, n, written);
    position_ += *written;
    return ok;
  }
  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    if (closed_) return Closed(got);
    return owner_.ReadAt(offset, buffer, n, got);
  }
  Status WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* written) override {
    if (closed_) return Closed(written);
    if (!writable_) {
      *written = 0;
      return Status::Invalid("", "file opened for reading only");
    }
    return owner_.WriteAt(offset, buffer, n, written);
  }
  Status Seek(std::uint64_t position) override {
    if (closed_) return Closed(nullptr);
    position_ = position;
    return Status::Ok();
  }
  Status Size(std::uint64_t* size) override {
    if (closed_) return Closed(nullptr);
    return owner_.Size(size);
  }
  Status Truncate(std::uint64_t size) override {
    if (closed_) return Closed(nullptr);
    if (!writable_) return Status::Invalid("", "file opened for reading only");
    return owner_.Truncate(size);
  }
  Status Sync() override {
    if (closed_) return Closed(nullptr);
    return owner_.Sync();
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
  Status TryLock(std::uint64_t offset, std::uint64_t length) override {
    if (closed_) return Closed(nullptr);
    if (offset == 0 && length == 1) {
      return Status(StatusKind::kBusy, "", "locked by this process");
    }
    return owner_.TryLock(offset, length);
  }
  Status Unlock(std::uint64_t offset, std::uint64_t length) override {
    if (closed_) return Closed(nullptr);
    if (offset == 0 && length == 1) return Status::Ok();  // the owner's to release
    return owner_.Unlock(offset, length);
  }
  // The open file stays with its owner, whose own close reports what only
  // closing reveals; what was written through the view is flushed by Sync.
  Status Close() override {
    if (closed_) return Closed(nullptr);
    closed_ = true;
    return Status::Ok();
  }

 private:
  Status Closed(std::size_t* count) {
    if (count != nullptr) *count = 0;
    return Status::Invalid("", "file already closed");
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

Result<std::unique_ptr<FileHandle>> LockedFileRoute::OpenFile(std::string_view path,
                                                              OpenMode mode) {
  if (!IsLockedFile(path)) return inner_.OpenFile(path, mode);
  // The locked file exists: no new file can be made under its name.
  if (mode == OpenMode::kCreateNew) return Status(StatusKind::kBusy, path, "exists");
  auto view = std::make_unique<LockedFileView>(owner_, mode != OpenMode::kRead);
  // A new, empty file, as an open that creates leaves it.
  if (mode == OpenMode::kCreate) {
    if (Status emptied = view->Truncate(0); !emptied) return emptied;
  }
  return view;
}

Result<std::unique_ptr<FileHandle>> LockedFileRoute::OpenFileNoFollow(std::string_view path,
                                                                      OpenMode mode) {
  // Another name may be a link to the locked file: that one stays refused.
  if (IsLockedFile(path)) {
    const std::optional<FileStatus> status = inner_.StatLink(path);
    if (status && !status->is_link) return OpenFile(path, mode);
  }
  return inner_.OpenFileNoFollow(path, mode);
}

}  // namespace qlr
