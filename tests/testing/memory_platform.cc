#include "testing/memory_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

namespace qlr::testing {
namespace {

constexpr std::uint32_t kFileMode = 0644;
constexpr std::uint32_t kDirectoryMode = 0755;
constexpr std::uint32_t kOwnerWrite = 0200;
constexpr std::uint32_t kAnyWrite = 0222;
// Larger files are refused rather than allocated.
constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 30;

Status Error(StatusKind kind, std::string_view path, std::string_view detail) {
  return Status(kind, path, detail);
}

Status NotFound(std::string_view path) {
  return Error(StatusKind::kNotFound, path, "no such file or directory");
}

void ZeroFill(void* buffer, std::size_t from, std::size_t n) {
  if (from < n) std::memset(static_cast<char*>(buffer) + from, 0, n - from);
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t days, int* year, int* month, int* day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

struct MemoryPlatform::Node {
  struct Lock {
    std::uint64_t handle;
    std::uint64_t epoch;
    std::uint64_t offset;
    std::uint64_t length;
    bool exclusive;  // a writer's lock; a read-only handle's is shared
  };

  bool is_directory = false;
  bool linked = false;  // ever given a second name: link_count is counted
  std::uint64_t index = 0;
  std::string data;
  std::int64_t modified = 0;
  std::uint32_t mode = 0;
  std::map<std::string, NodePtr> entries;

  std::string durable_data;
  std::int64_t durable_modified = 0;
  std::uint32_t durable_mode = 0;
  std::map<std::string, NodePtr> durable_entries;

  std::vector<Lock> locks;

  void MakeFileDurable() {
    durable_data = data;
    durable_modified = modified;
    durable_mode = mode;
  }
};

// Visits every node reachable through the chosen entries once.
template <class Fn>
void MemoryPlatform::Walk(const NodePtr& root, bool durable, Fn fn) {
  std::set<const Node*> seen;
  std::vector<NodePtr> stack = {root};
  while (!stack.empty()) {
    NodePtr node = std::move(stack.back());
    stack.pop_back();
    if (!seen.insert(node.get()).second) continue;
    fn(*node);
    for (const auto& [name, child] : durable ? node->durable_entries : node->entries) {
      stack.push_back(child);
    }
  }
}

// A handle on one file. It fails every call once the platform crashed
// after it was opened, or once it was closed.
class MemoryPlatform::File final : public FileHandle {
 public:
  File(MemoryPlatform& owner, NodePtr node, std::string_view path, bool writable)
      : owner_(owner),
        node_(std::move(node)),
        path_(path),
        writable_(writable),
        handle_(owner.next_handle_++),
        epoch_(owner.epoch_) {}
  ~File() override { ReleaseLocks(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  Status Read(void* buffer, std::size_t n, std::size_t* got) override {
    *got = 0;
    ZeroFill(buffer, 0, n);
    return Run(PlatformOp::kRead, [&] {
      if (!Accessible(position_, n, false)) return false;
      CopyOut(position_, buffer, n, got);
      position_ += *got;
      return true;
    });
  }

  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    *got = 0;
    ZeroFill(buffer, 0, n);
    return Run(PlatformOp::kReadAt, [&] {
      if (!Accessible(offset, n, false)) return false;
      CopyOut(offset, buffer, n, got);
      return true;
    });
  }

  Status Write(const void* buffer, std::size_t n, std::size_t* written) override {
    *written = 0;
    return Run(PlatformOp::kWrite, [&] {
      if (!Accessible(position_, n, true)) return false;
      const bool ok = CopyIn(position_, buffer, n, written);
      position_ += *written;
      return ok;
    });
  }

  Status WriteAt(std::uint64_t offset, const void* buffer, std::size_t n,
                 std::size_t* written) override {
    *written = 0;
    return Run(PlatformOp::kWriteAt,
               [&] { return Accessible(offset, n, true) && CopyIn(offset, buffer, n, written); });
  }

  Status Seek(std::uint64_t position) override {
    return Run(PlatformOp::kSeek, [&] {
      if (position > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return Fail(Status::Invalid(path_, "position out of range"));
      }
      position_ = position;
      return true;
    });
  }

  Status Size(std::uint64_t* size) override {
    return Run(PlatformOp::kSize, [&] {
      *size = node_->data.size();
      return true;
    });
  }

  Status Truncate(std::uint64_t size) override {
    return Run(PlatformOp::kTruncate, [&] {
      if (!writable_) return Fail(Error(StatusKind::kIoError, path_, "not open for writing"));
      if (size > kMaxFileSize) return Fail(Error(StatusKind::kNoSpace, path_, "file too large"));
      const std::uint64_t old_size = node_->data.size();
      const std::uint64_t low = std::min(size, old_size);
      if (!Accessible(low, std::max(size, old_size) - low, true)) return false;
      if (size > old_size && size - old_size > owner_.FreeBytes()) {
        return Fail(Error(StatusKind::kNoSpace, path_, "no space left on device"));
      }
      node_->data.resize(static_cast<std::size_t>(size));
      node_->modified = owner_.Stamp();
      return true;
    });
  }

  Status Sync() override {
    return Run(PlatformOp::kSync, [&] {
      node_->MakeFileDurable();
      return true;
    });
  }

  Status TryLock(std::uint64_t offset, std::uint64_t length) override {
    return Run(PlatformOp::kTryLock, [&] {
      if (length == 0) return Fail(Status::Invalid(path_, "empty lock range"));
      for (const Node::Lock& lock : node_->locks) {
        if (lock.handle == handle_ || lock.epoch != owner_.epoch_) continue;
        // Shared locks (of read-only handles) only conflict with exclusive ones.
        if ((writable_ || lock.exclusive) && Overlap(lock.offset, lock.length, offset, length)) {
          return Fail(Error(StatusKind::kBusy, path_, "range locked by another handle"));
        }
      }
      node_->locks.push_back(Node::Lock{handle_, epoch_, offset, length, writable_});
      return true;
    });
  }

  Status Unlock(std::uint64_t offset, std::uint64_t length) override {
    return Run(PlatformOp::kUnlock, [&] {
      auto& locks = node_->locks;
      const auto it = std::find_if(locks.begin(), locks.end(), [&](const Node::Lock& lock) {
        return lock.handle == handle_ && lock.offset == offset && lock.length == length;
      });
      if (it == locks.end()) return Fail(Status::Invalid(path_, "range not locked"));
      locks.erase(it);
      return true;
    });
  }

  Status Close() override {
    return Run(PlatformOp::kClose, [&] {
      ReleaseLocks();
      closed_ = true;
      return true;
    });
  }

  // A copy is block after block of counted reads and writes, as a copy
  // through memory is on a real disk: a crash or a halt may stop it after
  // any block, leaving the blocks before it unsynced.
  Status CopyFrom(FileHandle& source, std::uint64_t n, std::uint64_t* copied) override {
    return FileHandle::CopyFrom(source, n, copied);
  }

 private:
  static bool Overlap(std::uint64_t a, std::uint64_t a_length, std::uint64_t b,
                      std::uint64_t b_length) {
    if (a_length == 0 || b_length == 0) return false;
    const std::uint64_t a_end = a_length > UINT64_MAX - a ? UINT64_MAX : a + a_length;
    const std::uint64_t b_end = b_length > UINT64_MAX - b ? UINT64_MAX : b + b_length;
    return a < b_end && b < a_end;
  }

  // Under mandatory locks, whether this handle may touch [offset, offset +
  // n): not while another live handle locks any of it (any lock bars a
  // write, an exclusive one a read too).
  bool Accessible(std::uint64_t offset, std::uint64_t n, bool write) {
    if (!owner_.mandatory_locks_) return true;
    for (const Node::Lock& lock : node_->locks) {
      if (lock.handle == handle_ || lock.epoch != owner_.epoch_) continue;
      if ((write || lock.exclusive) && Overlap(lock.offset, lock.length, offset, n)) {
        return Fail(Error(StatusKind::kBusy, path_, "range locked by another handle"));
      }
    }
    return true;
  }

  void ReleaseLocks() {
    auto& locks = node_->locks;
    std::erase_if(locks, [&](const Node::Lock& lock) { return lock.handle == handle_; });
  }

  // The helpers below fail as `return Fail(...)` and leave the reason
  // here; Run hands it back as the call's Status.
  bool Fail(Status status) {
    failure_ = std::move(status);
    return false;
  }

  template <class Body>
  Status Run(PlatformOp op, Body body) {
    if (owner_.halted_) return owner_.HaltedStatus(path_);
    ++owner_.calls_[Index(op)];
    bool ok = false;
    if (closed_) {
      ok = Fail(Status::Invalid(path_, "file is closed"));
    } else if (epoch_ != owner_.epoch_) {
      ok = Fail(Error(StatusKind::kIoError, path_, "handle lost in a crash"));
    } else {
      ok = body();
    }
    owner_.Leave(op);
    if (ok) return Status::Ok();
    return failure_;
  }

  void CopyOut(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) const {
    const std::string& data = node_->data;
    if (offset >= data.size()) return;
    const std::size_t start = static_cast<std::size_t>(offset);
    *got = std::min(n, data.size() - start);
    std::memcpy(buffer, data.data() + start, *got);
  }

  bool CopyIn(std::uint64_t offset, const void* buffer, std::size_t n, std::size_t* written) {
    if (!writable_) return Fail(Error(StatusKind::kIoError, path_, "not open for writing"));
    if (offset > kMaxFileSize || n > kMaxFileSize - offset) {
      return Fail(Error(StatusKind::kNoSpace, path_, "file too large"));
    }
    std::string& data = node_->data;
    const std::uint64_t size = data.size();
    std::uint64_t allowed = n;
    if (offset + n > size) {
      // Only what fits reaches the file; a gap before `offset` takes space.
      const std::uint64_t room_end = size + owner_.FreeBytes();
      if (room_end < offset + n) allowed = room_end > offset ? room_end - offset : 0;
    }
    if (allowed > 0) {
      const std::size_t start = static_cast<std::size_t>(offset);
      const std::size_t count = static_cast<std::size_t>(allowed);
      if (start + count > data.size()) data.resize(start + count);
      std::memcpy(data.data() + start, buffer, count);
      node_->modified = owner_.Stamp();
    }
    *written = static_cast<std::size_t>(allowed);
    if (allowed < n) return Fail(Error(StatusKind::kNoSpace, path_, "no space left on device"));
    return true;
  }

  MemoryPlatform& owner_;
  NodePtr node_;
  std::string path_;
  bool writable_;
  std::uint64_t handle_;
  std::uint64_t epoch_;
  std::uint64_t position_ = 0;
  bool closed_ = false;
  Status failure_;
};

// The root is made in the body: NewNode needs the clock, declared after it.
MemoryPlatform::MemoryPlatform() { root_ = NewNode(true); }

MemoryPlatform::~MemoryPlatform() = default;

// --- configuration ---

std::uint64_t MemoryPlatform::UsedBytes() const {
  std::uint64_t used = 0;
  Walk(root_, false, [&](const Node& node) { used += node.data.size(); });
  return used;
}

std::uint64_t MemoryPlatform::FreeBytes() const {
  if (!capacity_) return kMaxFileSize;
  const std::uint64_t used = UsedBytes();
  return used >= *capacity_ ? 0 : *capacity_ - used;
}

void MemoryPlatform::SetEnvironment(const std::string& name, std::optional<std::string> value) {
  if (value) {
    environment_[name] = std::move(*value);
  } else {
    environment_.erase(name);
  }
}

// --- helpers for tests ---

void MemoryPlatform::MakeDirs(std::string_view path) {
  const auto parsed = Parse(path);
  if (!parsed) {
    ADD_FAILURE() << "bad memory path '" << path << "'";
    return;
  }
  NodePtr dir = root_;
  for (const std::string& name : parsed->names) {
    NodePtr& child = dir->entries[name];
    if (!child) {
      child = NewNode(true);
      dir->durable_entries[name] = child;
    } else if (!child->is_directory) {
      ADD_FAILURE() << "a file is in the way of directory '" << path << "'";
      return;
    }
    dir = child;
  }
}

void MemoryPlatform::WriteFileBytes(std::string_view path, std::string_view bytes) {
  auto parsed = Parse(path);
  if (!parsed || parsed->names.empty() || parsed->directory) {
    ADD_FAILURE() << "cannot write a file at '" << path << "'";
    return;
  }
  const std::string name = parsed->names.back();
  parsed->names.pop_back();
  std::string parent_path = "/";
  for (const std::string& part : parsed->names) parent_path += part + "/";
  MakeDirs(parent_path);
  const NodePtr parent = Resolve(*parsed);
  if (!parent || !parent->is_directory) return;  // MakeDirs reported it
  NodePtr& node = parent->entries[name];
  if (node && node->is_directory) {
    ADD_FAILURE() << "a directory is in the way of file '" << path << "'";
    return;
  }
  if (node) {
    node->modified = Stamp();
  } else {
    node = NewNode(false);
  }
  node->data = std::string(bytes);
  node->MakeFileDurable();
  parent->durable_entries[name] = node;
}

std::optional<std::string> MemoryPlatform::ReadFileBytes(std::string_view path) const {
  const auto parsed = Parse(path);
  if (!parsed) return std::nullopt;
  const NodePtr node = Resolve(*parsed);
  if (!node || node->is_directory) return std::nullopt;
  return node->data;
}

bool MemoryPlatform::Exists(std::string_view path) const {
  const auto parsed = Parse(path);
  return parsed && Resolve(*parsed) != nullptr;
}

std::vector<std::string> MemoryPlatform::ListTree() const {
  std::vector<std::string> paths;
  std::vector<std::pair<std::string, NodePtr>> stack = {{"/", root_}};
  std::set<const Node*> seen;
  while (!stack.empty()) {
    auto [prefix, dir] = std::move(stack.back());
    stack.pop_back();
    if (!seen.insert(dir.get()).second) continue;
    for (const auto& [name, child] : dir->entries) {
      if (child->is_directory) {
        paths.push_back(prefix + name + "/");
        stack.emplace_back(prefix + name + "/", child);
      } else {
        paths.push_back(prefix + name);
      }
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// --- durability and crashes ---

void MemoryPlatform::CrashAfter(PlatformOp op, int nth) {
  crash_armed_ = true;
  crash_op_ = CounterOf(op);
  crash_nth_ = nth;
  crash_target_ = calls_[Index(op)] + nth;
}

void MemoryPlatform::Crash(CrashKeeps keeps) {
  ++epoch_;
  halted_ = false;
  crash_armed_ = false;
  if (keeps == CrashKeeps::kDeletions) {
    std::set<const Node*> alive;
    Walk(root_, false, [&](Node& node) { alive.insert(&node); });
    Walk(root_, true, [&](Node& node) {
      std::erase_if(node.durable_entries, [&](const auto& entry) {
        return node.entries.count(entry.first) == 0 && alive.count(entry.second.get()) == 0;
      });
    });
  }
  // Entries first, over the durable tree, so that what a restart sees is
  // exactly what was durable.
  Walk(root_, true, [](Node& node) {
    node.entries = node.durable_entries;
    node.data = node.durable_data;
    node.modified = node.durable_modified;
    node.mode = node.durable_mode;
    node.locks.clear();
  });
}

void MemoryPlatform::MakeAllDurable() {
  Walk(root_, false, [](Node& node) {
    node.durable_entries = node.entries;
    node.MakeFileDurable();
  });
}

bool MemoryPlatform::Enter(PlatformOp op) {
  if (halted_) return false;
  ++calls_[Index(op)];
  return true;
}

void MemoryPlatform::Leave(PlatformOp op) {
  if (!crash_armed_ || CounterOf(op) != crash_op_ || calls_[Index(op)] != crash_target_) return;
  crash_armed_ = false;
  halted_ = true;
  throw SimulatedCrash{crash_op_, crash_nth_};
}

template <class T, class Body>
T MemoryPlatform::Call(PlatformOp op, T on_halt, Body body) {
  if (!Enter(op)) {
    Fail(HaltedStatus(""));
    return on_halt;
  }
  T result = body();
  Leave(op);
  return result;
}

template <class Body>
Status MemoryPlatform::CallStatus(PlatformOp op, Body body) {
  if (Call(op, false, body)) return Status::Ok();
  return failure_;
}

bool MemoryPlatform::Fail(Status status) {
  failure_ = std::move(status);
  return false;
}

Status MemoryPlatform::HaltedStatus(std::string_view path) const {
  return Error(StatusKind::kIoError, path, "the simulated machine crashed");
}

// --- paths ---

std::optional<MemoryPlatform::Parsed> MemoryPlatform::Parse(std::string_view path) const {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  Parsed parsed;
  std::string name;
  const auto is_separator = [&](char c) { return c == '/' || (backslash_separates_ && c == '\\'); };
  const auto finish = [&] {
    // Windows drops trailing dots of a name ("area." is "area"), and DOS
    // style code relies on it.
    if (backslash_separates_ && name != "." && name != "..") {
      while (!name.empty() && name.back() == '.') name.pop_back();
    }
    if (name == "..") {
      if (!parsed.names.empty()) parsed.names.pop_back();
    } else if (!name.empty() && name != ".") {
      parsed.names.push_back(name);
    }
    name.clear();
  };
  for (char c : path) {
    if (is_separator(c)) {
      finish();
    } else {
      name += c;
    }
  }
  parsed.directory = is_separator(path.back());
  finish();
  return parsed;
}

MemoryPlatform::NodePtr MemoryPlatform::Resolve(const Parsed& parsed) const {
  NodePtr node = root_;
  for (const std::string& name : parsed.names) {
    if (!node->is_directory) return nullptr;
    const auto it = node->entries.find(name);
    if (it == node->entries.end()) return nullptr;
    node = it->second;
  }
  if (parsed.directory && !node->is_directory) return nullptr;
  return node;
}

MemoryPlatform::NodePtr MemoryPlatform::Find(std::string_view path) {
  const auto parsed = Parse(path);
  NodePtr node = parsed ? Resolve(*parsed) : nullptr;
  if (!node) Fail(NotFound(path));
  return node;
}

std::optional<MemoryPlatform::Location> MemoryPlatform::Locate(std::string_view path) {
  auto parsed = Parse(path);
  if (!parsed) {
    Fail(NotFound(path));
    return std::nullopt;
  }
  if (parsed->names.empty()) {
    Fail(Status::Invalid(path, "the root has no parent"));
    return std::nullopt;
  }
  Location location;
  location.name = parsed->names.back();
  parsed->names.pop_back();
  const bool directory = parsed->directory;
  parsed->directory = true;
  location.parent = Resolve(*parsed);
  if (!location.parent) {
    Fail(NotFound(path));
    return std::nullopt;
  }
  const auto it = location.parent->entries.find(location.name);
  if (it != location.parent->entries.end() && (!directory || it->second->is_directory)) {
    location.node = it->second;
  }
  return location;
}

bool MemoryPlatform::Writable(const Node& directory, std::string_view path) {
  if ((directory.mode & kOwnerWrite) != 0) return true;
  return Fail(Error(StatusKind::kIoError, path, "permission denied"));
}

// --- nodes and times ---

std::int64_t MemoryPlatform::RoundDown(std::int64_t ticks) const {
  return FloorDiv(ticks, granularity_) * granularity_;
}

std::int64_t MemoryPlatform::Stamp() {
  const std::int64_t now = clock_;
  clock_ += clock_step_;
  return RoundDown(now);
}

MemoryPlatform::NodePtr MemoryPlatform::NewNode(bool directory) {
  auto node = std::make_shared<Node>();
  node->is_directory = directory;
  node->index = next_index_++;
  node->mode = (directory ? kDirectoryMode : kFileMode) & ~creation_mask_;
  node->modified = Stamp();
  node->durable_mode = node->mode;
  node->durable_modified = node->modified;
  return node;
}

FileStatus MemoryPlatform::StatusOf(const Node& node, std::string_view name) const {
  FileStatus status;
  if ((node.mode & kOwnerWrite) == 0) status.attributes |= kAttrReadOnly;
  status.attributes |= node.is_directory ? kAttrDirectory : kAttrArchive;
  if (!name.empty() && name.front() == '.') status.attributes |= kAttrHidden;
  status.size = node.is_directory ? 0 : node.data.size();
  status.modified.ticks = node.modified;
  status.native_mode = node.mode;
  status.is_regular = !node.is_directory;
  status.link_count = 1;
  if (node.linked) {
    status.link_count = 0;
    Walk(root_, false, [&](const Node& dir) {
      for (const auto& [entry_name, child] : dir.entries) {
        if (child.get() == &node) ++status.link_count;
      }
    });
  }
  status.volume = kVolume;
  status.file_index = node.index;
  return status;
}

// --- Platform: files ---

Result<std::unique_ptr<FileHandle>> MemoryPlatform::OpenFile(std::string_view path, OpenMode mode) {
  auto file = Call(
      PlatformOp::kOpenFile, std::unique_ptr<FileHandle>(), [&]() -> std::unique_ptr<FileHandle> {
        const auto location = Locate(path);
        if (!location) return nullptr;
        NodePtr node = location->node;
        if (node && node->is_directory) {
          Fail(Error(StatusKind::kIoError, path, "is a directory"));
          return nullptr;
        }
        const bool writable = mode != OpenMode::kRead;
        if (node && writable && (node->mode & kOwnerWrite) == 0) {
          Fail(Error(StatusKind::kIoError, path, "permission denied"));
          return nullptr;
        }
        if (node && mode == OpenMode::kCreateNew) {
          Fail(Error(StatusKind::kBusy, path, "exists"));
          return nullptr;
        }
        if (!node) {
          const bool creates = mode == OpenMode::kCreate || mode == OpenMode::kCreateNew;
          if (!creates || Parse(path)->directory) {
            Fail(NotFound(path));
            return nullptr;
          }
          if (!Writable(*location->parent, path)) return nullptr;
          node = NewNode(false);
          location->parent->entries[location->name] = node;
        } else if (mode == OpenMode::kCreate) {
          node->data.clear();
          node->modified = Stamp();
        }
        return std::make_unique<File>(*this, node, path, writable);
      });
  if (!file) return failure_;
  return file;
}

Status MemoryPlatform::DeleteFile(std::string_view path) {
  return CallStatus(PlatformOp::kDeleteFile, [&] {
    const auto location = Locate(path);
    if (!location) return false;
    if (!location->node) return Fail(NotFound(path));
    if (location->node->is_directory) {
      return Fail(Error(StatusKind::kIoError, path, "is a directory"));
    }
    if (!Writable(*location->parent, path)) return false;
    location->parent->entries.erase(location->name);
    return true;
  });
}

bool MemoryPlatform::DoRename(std::string_view from, std::string_view to, bool replace) {
  const auto source = Locate(from);
  if (!source) return false;
  if (!source->node) return Fail(NotFound(from));
  const auto target = Locate(to);
  if (!target) return false;
  if (target->node == source->node) return true;  // the same file: nothing to do
  if (target->node) {
    if (!replace) return Fail(Error(StatusKind::kBusy, to, "target exists"));
    if (source->node->is_directory) {
      if (!target->node->is_directory || !target->node->entries.empty()) {
        return Fail(Error(StatusKind::kIoError, to, "target is not an empty directory"));
      }
    } else if (target->node->is_directory) {
      return Fail(Error(StatusKind::kIoError, to, "target is a directory"));
    }
  } else if (target->parent->entries.count(target->name) != 0) {
    // The name exists as a file while `to` asked for a directory.
    return Fail(Error(StatusKind::kIoError, to, "not a directory"));
  }
  if (source->node->is_directory) {
    // A directory cannot move into itself.
    auto parsed = Parse(to);
    parsed->directory = true;
    while (!parsed->names.empty()) {
      parsed->names.pop_back();
      if (Resolve(*parsed) == source->node) {
        return Fail(Status::Invalid(to, "target inside the source"));
      }
    }
  }
  if (!Writable(*source->parent, from) || !Writable(*target->parent, to)) return false;
  const NodePtr node = source->node;
  source->parent->entries.erase(source->name);
  target->parent->entries[target->name] = node;
  return true;
}

Status MemoryPlatform::Rename(std::string_view from, std::string_view to) {
  return CallStatus(PlatformOp::kRename, [&] { return DoRename(from, to, true); });
}

Status MemoryPlatform::RenameNoReplace(std::string_view from, std::string_view to) {
  return CallStatus(PlatformOp::kRenameNoReplace, [&] { return DoRename(from, to, false); });
}

Status MemoryPlatform::Link(std::string_view from, std::string_view to) {
  return CallStatus(PlatformOp::kLink, [&] {
    if (link_refusal_ && link_refusal_(from)) {
      return Fail(Error(StatusKind::kIoError, from, "link refused"));
    }
    const auto source = Locate(from);
    if (!source) return false;
    if (!source->node) return Fail(NotFound(from));
    if (source->node->is_directory) {
      return Fail(Error(StatusKind::kIoError, from, "is a directory"));
    }
    const auto target = Locate(to);
    if (!target) return false;
    if (target->parent->entries.count(target->name) != 0) {
      return Fail(Error(StatusKind::kBusy, to, "target exists"));
    }
    if (Parse(to)->directory) return Fail(NotFound(to));
    if (!Writable(*target->parent, to)) return false;
    source->node->linked = true;
    target->parent->entries[target->name] = source->node;
    return true;
  });
}

Result<FileStatus> MemoryPlatform::Stat(std::string_view path) {
  auto status =
      Call(PlatformOp::kStat, std::optional<FileStatus>(), [&]() -> std::optional<FileStatus> {
        const NodePtr node = Find(path);
        if (!node) return std::nullopt;
        const auto parsed = Parse(path);
        return StatusOf(*node, parsed->names.empty() ? "" : parsed->names.back());
      });
  if (!status) return failure_;
  return *status;
}

Status MemoryPlatform::SetAttributes(std::string_view path, std::uint8_t attributes) {
  return CallStatus(PlatformOp::kSetAttributes, [&] {
    const NodePtr node = Find(path);
    if (!node) return false;
    if ((attributes & kAttrReadOnly) != 0) {
      node->mode &= ~kAnyWrite;
    } else {
      node->mode |= kOwnerWrite;
    }
    return true;
  });
}

Status MemoryPlatform::RestoreNativeMode(std::string_view path, std::uint32_t native_mode) {
  return CallStatus(PlatformOp::kRestoreNativeMode, [&] {
    const NodePtr node = Find(path);
    if (!node) return false;
    node->mode = native_mode & 07777;
    return true;
  });
}

Status MemoryPlatform::SetModifiedTime(std::string_view path, FileTime time) {
  return CallStatus(PlatformOp::kSetModifiedTime, [&] {
    const NodePtr node = Find(path);
    if (!node) return false;
    node->modified = RoundDown(time.ticks);
    return true;
  });
}

bool MemoryPlatform::SameFile(std::string_view a, std::string_view b) {
  return Call(PlatformOp::kSameFile, false, [&] {
    const NodePtr first = Find(a);
    const NodePtr second = Find(b);
    return first && second && first == second;
  });
}

// --- Platform: directories ---

Status MemoryPlatform::ListDirectory(std::string_view directory, std::string_view pattern,
                                     std::vector<DirEntry>* entries) {
  entries->clear();
  return CallStatus(PlatformOp::kListDirectory, [&] {
    const NodePtr node = Find(directory.empty() ? std::string_view(".") : directory);
    if (!node) return false;
    if (!node->is_directory) return Fail(Error(StatusKind::kIoError, directory, "not a directory"));
    for (const auto& [name, child] : node->entries) {
      if (!MatchesPattern(name, pattern, /*ignore_case=*/false)) continue;
      entries->push_back(DirEntry{name, StatusOf(*child, name).attributes});
    }
    return true;
  });
}

Status MemoryPlatform::MakeDirectory(std::string_view path) {
  return CallStatus(PlatformOp::kMakeDirectory, [&] {
    const auto location = Locate(path);
    if (!location) return false;
    if (location->parent->entries.count(location->name) != 0) {
      return Fail(Error(StatusKind::kIoError, path, "already exists"));
    }
    if (!Writable(*location->parent, path)) return false;
    location->parent->entries[location->name] = NewNode(true);
    return true;
  });
}

Status MemoryPlatform::RemoveDirectory(std::string_view path) {
  return CallStatus(PlatformOp::kRemoveDirectory, [&] {
    const auto location = Locate(path);
    if (!location) return false;
    if (!location->node) return Fail(NotFound(path));
    if (!location->node->is_directory) {
      return Fail(Error(StatusKind::kIoError, path, "not a directory"));
    }
    if (!location->node->entries.empty()) {
      return Fail(Error(StatusKind::kIoError, path, "directory not empty"));
    }
    if (!Writable(*location->parent, path)) return false;
    location->parent->entries.erase(location->name);
    return true;
  });
}

Status MemoryPlatform::SyncDirectory(std::string_view path) {
  return CallStatus(PlatformOp::kSyncDirectory, [&] {
    const NodePtr node = Find(path.empty() ? std::string_view(".") : path);
    if (!node) return false;
    if (!node->is_directory) return Fail(Error(StatusKind::kIoError, path, "not a directory"));
    node->durable_entries = node->entries;
    return true;
  });
}

Status MemoryPlatform::SyncFileSystem(std::string_view path) {
  return CallStatus(PlatformOp::kSyncFileSystem, [&] {
    if (!syncfs_supported_) return Fail(Status::NotSupported(path, "file-system sync"));
    if (!Find(path.empty() ? std::string_view(".") : path)) return false;
    MakeAllDurable();
    return true;
  });
}

// --- Platform: the running program ---

std::string MemoryPlatform::ExecutablePath() {
  return Call(PlatformOp::kExecutablePath, std::string(), [&] { return executable_path_; });
}

std::optional<std::string> MemoryPlatform::GetEnvironment(std::string_view name) {
  return Call(PlatformOp::kGetEnvironment, std::optional<std::string>(),
              [&]() -> std::optional<std::string> {
                const auto it = environment_.find(std::string(name));
                if (it == environment_.end()) return std::nullopt;
                return it->second;
              });
}

ProcessResult MemoryPlatform::RunCommandInterpreter(std::string_view tail) {
  return Call(PlatformOp::kRunCommandInterpreter, ProcessResult{},
              [&] { return interpreter_ ? interpreter_(tail) : ProcessResult{}; });
}

std::uint32_t MemoryPlatform::SetCreationMask(std::uint32_t mask) {
  const std::uint32_t previous = creation_mask_;
  creation_mask_ = mask & 0777;
  return previous;
}

void MemoryPlatform::Sleep(int milliseconds) {
  if (halted_ || milliseconds <= 0) return;
  clock_ += std::int64_t{milliseconds} * 1'000'000;
}

LocalTime MemoryPlatform::Now() {
  const std::int64_t now = clock_;
  if (!halted_) clock_ += clock_step_;
  const std::int64_t seconds = FloorDiv(now, kTicksPerSecond);
  const std::int64_t nanos = now - seconds * kTicksPerSecond;
  const std::int64_t days = FloorDiv(seconds, 86400);
  const std::int64_t second_of_day = seconds - days * 86400;
  LocalTime result;
  CivilFromDays(days, &result.year, &result.month, &result.day);
  result.hour = static_cast<int>(second_of_day / 3600);
  result.minute = static_cast<int>(second_of_day / 60 % 60);
  result.second = static_cast<int>(second_of_day % 60);
  result.hundredths = static_cast<int>(nanos / 10'000'000);
  return result;
}

}  // namespace qlr::testing
