// A *.MSG area on a MemoryPlatform for the tests of the erase: messages of
// equal size, their copy, and the list of every version of a message that
// must survive the erase in the base or in the copy. Plus a platform that
// lets a "writer" act between any two calls of the code under test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "msgbase/base_files.h"
#include "msgbase/copy_manifest.h"
#include "msgbase/msgdir/erase_aside.h"
#include "platform/host.h"
#include "testing/forwarding_platform.h"
#include "testing/memory_platform.h"
#include "util/files.h"
#include "util/paths.h"

namespace qlr::testing {

inline const std::string kAreaSep(1, PathSeparator());

// Message `number` in `version`: 300 bytes whatever the version, so that
// every rewrite keeps the size and only the bytes tell.
inline std::string MessageBytes(int number, int version) {
  std::string text = "message " + std::to_string(number) + " version " + std::to_string(version);
  text.resize(300, '.');
  return text;
}

class EraseArea {
 public:
  static constexpr std::int64_t kSecond = MemoryPlatform::kTicksPerSecond;

  // Messages 1..count; `coarse` makes the disk keep whole seconds. The
  // copy is made of links with `links`, else the disk refuses them and
  // every file is copied.
  explicit EraseArea(int count = 3, bool coarse = false, bool links = false) {
    disk_.SetBackslashIsSeparator(kHostIsWindows);
    if (!links) disk_.SetLinkRefusal([](std::string_view) { return true; });
    if (coarse) disk_.SetTimeGranularity(kSecond);
    disk_.MakeDirs(CopyDirectory());
    for (int n = 1; n <= count; ++n) {
      disk_.WriteFileBytes(File(n), MessageBytes(n, 1));
      first_.push_back(MessageBytes(n, 1));
    }
    disk_.WriteFileBytes(Directory() + "notes.txt", "no message");
    first_.push_back("no message");
  }

  MemoryPlatform& platform() { return disk_; }
  MemoryPlatform& disk() { return disk_; }
  CopyManifest& manifest() { return manifest_; }

  static std::string Directory() { return "/area" + kAreaSep; }
  static std::string CopyDirectory() { return "/old" + kAreaSep + "00000000" + kAreaSep; }
  static std::string Name(int n) { return std::to_string(n) + ".msg"; }
  static std::string File(int n) { return Directory() + Name(n); }
  static std::string Aside(int n) { return Directory() + std::to_string(n) + ".qlr"; }

  // Copies the area with the platform in use. True on failure.
  bool Copy() { return CopyBaseFiles("#/area", CopyDirectory(), &manifest_); }
  // Erases it with the platform in use against the copy.
  bool Erase() {
    erased_ = EraseBase("#/area", &manifest_) != nullptr;
    return erased_;
  }
  bool Erased() const { return erased_; }
  // True when the copy holds message `n` as a link to the base's file.
  bool Linked(int n) const {
    const CopiedFile* record = manifest_.Find(File(n));
    return record != nullptr && record->linked;
  }

  // A version that must survive, written by a writer.
  void Require(std::string bytes) { written_.push_back(std::move(bytes)); }
  // A writer replaced what message `n` held under its name: that version
  // was given up by the writer itself. (The first versions are in the
  // copy and stay required, when the copy took them.)
  // A rewrite `in_place` of a file the copy holds as a link rewrites the
  // copy's file too: its first version is given up as well.
  void Supersede(int n, bool in_place = false) {
    const auto old = disk_.ReadFileBytes(File(n));
    if (!old) return;
    const auto it = std::find(written_.begin(), written_.end(), *old);
    if (it != written_.end()) written_.erase(it);
    // A first version the copy passed over (it could not see the file) is
    // given up by the writer too: the rotation never took it.
    const CopiedFile* record = manifest_.Find(File(n));
    if (record == nullptr || (in_place && record->linked)) {
      const auto first = std::find(first_.begin(), first_.end(), *old);
      if (first != first_.end()) first_.erase(first);
    }
  }

  // --- writers, acting on the disk directly (never through the code
  // under test's platform), the way other programs would ---

  // Writes a new version elsewhere and renames it over the message.
  void RewriteByRename(int n, int version) {
    const std::string temp = Directory() + "writer.tmp";
    WriteThroughPlatform(temp, MessageBytes(n, version), OpenMode::kCreate);
    Supersede(n);
    ASSERT_TRUE(disk_.Rename(temp, File(n)));
    Require(MessageBytes(n, version));
  }
  // Truncates the message and writes it anew, if it is there by its name.
  void RewriteInPlace(int n, int version) {
    Supersede(n, true);
    if (WriteThroughPlatform(File(n), MessageBytes(n, version), OpenMode::kReadWrite)) {
      Require(MessageBytes(n, version));
    }
  }
  // Sets the "received" bit of the attribute word in place: same size,
  // and on a coarse clock the same second.
  void MarkReceived(int n) {
    const std::unique_ptr<FileHandle> file = disk_.OpenFile(File(n), OpenMode::kReadWrite);
    if (!file) return;
    Supersede(n, true);
    std::string bytes(300, '\0');
    std::size_t got = 0;
    ASSERT_TRUE(file->ReadAt(0, bytes.data(), bytes.size(), &got));
    bytes.resize(got);
    ASSERT_GT(bytes.size(), 187u);
    bytes[186] = static_cast<char>(bytes[186] ^ 0x04);
    std::size_t written = 0;
    ASSERT_TRUE(file->WriteAt(186, bytes.data() + 186, 1, &written));
    ASSERT_TRUE(file->Close());
    Require(bytes);
  }
  // A new message under a number of its own (or one that is free now).
  void CreateMessage(int n, int version) {
    if (disk_.Exists(File(n))) return;
    WriteThroughPlatform(File(n), MessageBytes(n, version), OpenMode::kCreate);
    Require(MessageBytes(n, version));
  }

  // --- checks ---

  // Every version that must survive is a file in the base or in the copy,
  // under whatever name.
  void ExpectNothingLost() const {
    std::vector<std::string> present;
    for (const std::string& path : disk_.ListTree()) {
      if (path.back() == '/') continue;
      if (auto bytes = disk_.ReadFileBytes(path)) present.push_back(*bytes);
    }
    std::vector<std::string> required = first_;
    required.insert(required.end(), written_.begin(), written_.end());
    for (const std::string& bytes : required) {
      EXPECT_NE(std::find(present.begin(), present.end(), bytes), present.end())
          << "lost: " << bytes.substr(0, 24) << "\n"
          << Tree();
    }
  }
  // Files of the base left under an aside name.
  std::vector<std::string> AsideFiles() const {
    std::vector<std::string> aside;
    for (const std::string& path : disk_.ListTree()) {
      if (path.rfind("/area/", 0) == 0 && path.size() > 4 &&
          path.compare(path.size() - 4, 4, ".qlr") == 0) {
        aside.push_back(path);
      }
    }
    return aside;
  }
  std::optional<std::string> Bytes(const std::string& path) const {
    return disk_.ReadFileBytes(path);
  }
  std::string Tree() const {
    std::string text = "files:";
    for (const std::string& path : disk_.ListTree()) text += "\n  " + path;
    return text;
  }

 private:
  // True when the file could be opened and written.
  bool WriteThroughPlatform(const std::string& path, const std::string& bytes, OpenMode mode) {
    const std::unique_ptr<FileHandle> file = disk_.OpenFile(path, mode);
    if (!file) return false;
    std::size_t written = 0;
    EXPECT_TRUE(file->Truncate(0) && file->Write(bytes.data(), bytes.size(), &written));
    EXPECT_TRUE(file->Close());
    return true;
  }

  MemoryPlatform disk_;
  CopyManifest manifest_;
  std::vector<std::string> first_;    // in the copy, once it is made
  std::vector<std::string> written_;  // by writers since
  bool erased_ = false;
};

// Passes every call on and runs an action just before the chosen one: the
// nth call of any kind (every file call counted too), or the nth call of
// one operation. The action runs once.
class WriterHookPlatform : public ForwardingPlatform {
 public:
  explicit WriterHookPlatform(Platform& inner) : ForwardingPlatform(inner) {}

  void BeforeStep(int nth, std::function<void()> action) {
    fire_step_ = nth;
    action_ = std::move(action);
  }
  void BeforeCall(PlatformOp op, int nth, std::function<void()> action) {
    fire_op_ = op;
    fire_op_nth_ = nth;
    action_ = std::move(action);
  }
  int Steps() const { return steps_; }
  bool Fired() const { return fired_; }

  void Step(std::optional<PlatformOp> op) {
    ++steps_;
    bool fire = steps_ == fire_step_;
    if (op && fire_op_ && *op == *fire_op_) fire = fire || ++op_calls_ == fire_op_nth_;
    if (fire && !fired_ && action_) {
      fired_ = true;
      action_();
    }
  }

  Result<std::unique_ptr<FileHandle>> OpenFile(std::string_view path, OpenMode mode) override;
  Status DeleteFile(std::string_view path) override {
    Step(PlatformOp::kDeleteFile);
    return ForwardingPlatform::DeleteFile(path);
  }
  Status Rename(std::string_view from, std::string_view to) override {
    Step(PlatformOp::kRename);
    return ForwardingPlatform::Rename(from, to);
  }
  Status RenameNoReplace(std::string_view from, std::string_view to) override {
    Step(PlatformOp::kRenameNoReplace);
    return ForwardingPlatform::RenameNoReplace(from, to);
  }
  Result<FileStatus> Stat(std::string_view path) override {
    Step(PlatformOp::kStat);
    return ForwardingPlatform::Stat(path);
  }
  Status ListDirectory(std::string_view directory, std::string_view pattern,
                       std::vector<DirEntry>* entries) override {
    Step(PlatformOp::kListDirectory);
    return ForwardingPlatform::ListDirectory(directory, pattern, entries);
  }
  Status SyncDirectory(std::string_view path) override {
    Step(PlatformOp::kSyncDirectory);
    return ForwardingPlatform::SyncDirectory(path);
  }
  bool SameFile(std::string_view a, std::string_view b) override {
    Step(PlatformOp::kSameFile);
    return ForwardingPlatform::SameFile(a, b);
  }

 private:
  int steps_ = 0;
  int fire_step_ = 0;
  std::optional<PlatformOp> fire_op_;
  int fire_op_nth_ = 0;
  int op_calls_ = 0;
  bool fired_ = false;
  std::function<void()> action_;
};

// A file whose every call is a step of its platform.
class WriterHookFile : public ForwardingFile {
 public:
  WriterHookFile(std::unique_ptr<FileHandle> inner, WriterHookPlatform& owner)
      : ForwardingFile(std::move(inner)), owner_(owner) {}
  Status Read(void* buffer, std::size_t n, std::size_t* got) override {
    owner_.Step(PlatformOp::kRead);
    return ForwardingFile::Read(buffer, n, got);
  }
  Status ReadAt(std::uint64_t offset, void* buffer, std::size_t n, std::size_t* got) override {
    owner_.Step(PlatformOp::kReadAt);
    return ForwardingFile::ReadAt(offset, buffer, n, got);
  }
  Status Close() override {
    owner_.Step(PlatformOp::kClose);
    return ForwardingFile::Close();
  }

 private:
  WriterHookPlatform& owner_;
};

inline Result<std::unique_ptr<FileHandle>> WriterHookPlatform::OpenFile(std::string_view path,
                                                                        OpenMode mode) {
  Step(PlatformOp::kOpenFile);
  auto file = ForwardingPlatform::OpenFile(path, mode);
  if (!file) return file;
  return std::make_unique<WriterHookFile>(std::move(file), *this);
}

}  // namespace qlr::testing
