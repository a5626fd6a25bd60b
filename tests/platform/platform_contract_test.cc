// The written contracts of FileHandle and Platform. Every case runs on the
// host's own implementation in a scratch directory and on the memory
// platform, with advisory locks and with mandatory ones (as on Windows), so
// that the double the other suites run on keeps the host's contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/locked_file_route.h"
#include "platform/platform.h"
#include "testing/memory_platform.h"
#include "testing/scratch_dir.h"

#if defined(_WIN32)
#include "platform/win32/windows_api.h"
// Not the ANSI/Unicode macros: the Platform members of these names.
#undef DeleteFile
#undef RemoveDirectory
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace qlr {
namespace {

using testing::MemoryPlatform;
using testing::ScratchDir;

enum class Subject { kHost, kMemory, kMemoryMandatoryLocks };

// Whether two handles of this process conflict over a byte range. POSIX
// systems without open-file-description locks have only per-process locks.
#if defined(_WIN32) || defined(F_OFD_SETLK)
constexpr bool kHostLocksConflictWithinProcess = true;
#else
constexpr bool kHostLocksConflictWithinProcess = false;
#endif

#if defined(_WIN32)
constexpr bool kHostIsWindows = true;
#else
constexpr bool kHostIsWindows = false;
#endif

// A fresh directory on the platform under test, with the few ways in which
// the platforms may differ and still keep the contract.
class PlatformContractTest : public ::testing::TestWithParam<Subject> {
 protected:
  PlatformContractTest() {
    if (Host()) {
      scratch_.emplace();
      os_ = &HostPlatform();
      return;
    }
    memory_ = std::make_unique<MemoryPlatform>();
    memory_->SetMandatoryLocks(GetParam() == Subject::kMemoryMandatoryLocks);
    memory_->MakeDirs(kMemoryRoot);
    os_ = memory_.get();
    installed_.emplace(*memory_);  // for the code that goes through Os()
  }

  bool Host() const { return GetParam() == Subject::kHost; }
  bool WindowsHost() const { return Host() && kHostIsWindows; }
  // Reads and writes of a range another handle locks fail. Windows bars
  // them, but an emulation of it may not, so the host's bar goes unchecked.
  std::optional<bool> MandatoryLocks() const {
    if (WindowsHost()) return std::nullopt;
    return GetParam() == Subject::kMemoryMandatoryLocks;
  }
  bool LocksConflictWithinProcess() const { return !Host() || kHostLocksConflictWithinProcess; }
  // Names keep their case, a dot name is hidden, modes are POSIX modes.
  // (Windows hides by attribute; whether a dot name is hidden there is the
  // file system's choice, so it is left out of the comparison.)
  bool PosixNames() const { return !Host() || !kHostIsWindows; }
  // Write permission is checked (not for a POSIX superuser, nor where a
  // Windows emulation may run as one).
  bool PermissionsEnforced() const {
#if defined(_WIN32)
    return !Host();
#else
    return !Host() || ::geteuid() != 0;
#endif
  }
  std::uint8_t Comparable(std::uint8_t attributes) const {
    return PosixNames() ? attributes : static_cast<std::uint8_t>(attributes & ~kAttrHidden);
  }
  bool DirectoryPermissionsEnforced() const { return PosixNames() && PermissionsEnforced(); }
  bool FileSystemSync() const {
#if defined(__linux__)
    return true;
#else
    return !Host();
#endif
  }

  Platform& os() { return *os_; }
  std::string root() const { return Host() ? scratch_->root() : std::string(kMemoryRoot); }
  std::string Path(std::string_view name) const {
    return Host() ? scratch_->Path(name) : std::string(kMemoryRoot) + "/" + std::string(name);
  }
  void WriteFile(std::string_view name, std::string_view bytes) {
    if (Host()) {
      scratch_->WriteFile(name, bytes);
    } else {
      memory_->WriteFileBytes(Path(name), bytes);
    }
  }
  std::string ReadFile(std::string_view name) const {
    if (Host()) return scratch_->ReadFile(name);
    const auto bytes = memory_->ReadFileBytes(Path(name));
    EXPECT_TRUE(bytes) << name << " is missing";
    return bytes.value_or("");
  }
  bool Exists(std::string_view name) { return os().Stat(Path(name)).ok(); }
  std::unique_ptr<FileHandle> Open(std::string_view name, OpenMode mode) {
    auto file = os().OpenFile(Path(name), mode);
    EXPECT_NE(file, nullptr) << name << ": " << file.status().ToString();
    return file;
  }
  std::vector<std::string> Names(std::string_view directory, std::string_view pattern,
                                 std::vector<DirEntry>* entries) {
    const auto listed = os().ListDirectory(directory, pattern, entries);
    EXPECT_TRUE(listed) << listed.ToString();
    std::vector<std::string> names;
    for (const DirEntry& entry : *entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  static constexpr const char* kMemoryRoot = "/scratch";
  Platform* os_ = nullptr;
  std::optional<ScratchDir> scratch_;
  std::unique_ptr<MemoryPlatform> memory_;
  std::optional<ScopedPlatform> installed_;
};

std::uint8_t AttributesOf(const std::vector<DirEntry>& entries, const std::string& name) {
  for (const auto& e : entries) {
    if (e.name == name) return e.attributes;
  }
  ADD_FAILURE() << name << " not listed";
  return 0;
}

// A buffer prefilled with a marker, so that zero-filling shows.
std::vector<char> Dirty(std::size_t n) { return std::vector<char>(n, '#'); }

TEST_P(PlatformContractTest, ShortReadsZeroFillAndSucceedAtTheEnd) {
  WriteFile("f", "abcde");
  auto file = Open("f", OpenMode::kRead);
  ASSERT_NE(file, nullptr);

  using ReadCall = std::function<Status(char*, std::size_t, std::size_t*)>;
  struct Case {
    const char* name;
    ReadCall read;
    std::string expected;  // the bytes read; the rest must be zeros
  } cases[] = {
      {"Read from 3",
       [&](char* b, std::size_t n, std::size_t* got) {
         if (Status sought = file->Seek(3); !sought) return sought;
         return file->Read(b, n, got);
       },
       "de"},
      {"Read at the end",
       [&](char* b, std::size_t n, std::size_t* got) {
         if (Status sought = file->Seek(5); !sought) return sought;
         return file->Read(b, n, got);
       },
       ""},
      {"Read past the end",
       [&](char* b, std::size_t n, std::size_t* got) {
         if (Status sought = file->Seek(50); !sought) return sought;
         return file->Read(b, n, got);
       },
       ""},
      {"ReadAt 1",
       [&](char* b, std::size_t n, std::size_t* got) { return file->ReadAt(1, b, n, got); },
       "bcde"},
      {"ReadAt the end",
       [&](char* b, std::size_t n, std::size_t* got) { return file->ReadAt(5, b, n, got); }, ""},
      {"ReadAt past the end",
       [&](char* b, std::size_t n, std::size_t* got) { return file->ReadAt(1000, b, n, got); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char> buffer = Dirty(8);
    std::size_t got = 99;
    {
      const auto why1 = c.read(buffer.data(), buffer.size(), &got);
      ASSERT_TRUE(why1) << why1.ToString();
    }
    ASSERT_EQ(got, c.expected.size());
    EXPECT_EQ(std::string(buffer.data(), got), c.expected);
    EXPECT_EQ(std::string(buffer.data() + got, buffer.size() - got),
              std::string(buffer.size() - got, '\0'));
  }
}

TEST_P(PlatformContractTest, WriteSeekReadSizeTruncateRoundTrip) {
  auto file = Open("data.bin", OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("hello world", 11, &written));
  EXPECT_EQ(written, 11u);

  char buffer[16] = {};
  std::size_t got = 0;
  ASSERT_TRUE(file->Seek(6));
  ASSERT_TRUE(file->Read(buffer, 5, &got));
  EXPECT_EQ(std::string(buffer, got), "world");
  // Sequential reads go on from where the last one stopped.
  ASSERT_TRUE(file->Read(buffer, 4, &got));
  EXPECT_EQ(got, 0u);

  std::uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, 11u);
  ASSERT_TRUE(file->Truncate(5));
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, 5u);
  // Extending fills with zero bytes.
  ASSERT_TRUE(file->Truncate(7));
  ASSERT_TRUE(file->Seek(0));
  ASSERT_TRUE(file->Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), std::string("hello\0\0", 7));
  // Writing past the end after a seek fills the gap with zeros.
  ASSERT_TRUE(file->Seek(9));
  ASSERT_TRUE(file->Write("!", 1, &written));
  EXPECT_TRUE(file->Sync());
  file.reset();
  EXPECT_EQ(ReadFile("data.bin"), std::string("hello\0\0\0\0!", 10));
}

TEST_P(PlatformContractTest, PositionalCallsNeitherUseNorMoveThePosition) {
  auto file = Open("f", OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("0123456789", 10, &written));
  ASSERT_TRUE(file->Seek(2));

  char buffer[4] = {};
  std::size_t got = 0;
  ASSERT_TRUE(file->ReadAt(6, buffer, 3, &got));
  EXPECT_EQ(std::string(buffer, got), "678");
  ASSERT_TRUE(file->WriteAt(8, "XY", 2, &written));
  EXPECT_EQ(written, 2u);
  // Still at 2, where the sequential calls go on.
  ASSERT_TRUE(file->Read(buffer, 2, &got));
  EXPECT_EQ(std::string(buffer, got), "23");
  ASSERT_TRUE(file->Write("ab", 2, &written));
  // Writing past the end extends the file with zeros.
  ASSERT_TRUE(file->WriteAt(12, "!", 1, &written));
  ASSERT_TRUE(file->Close());
  EXPECT_EQ(ReadFile("f"), std::string("0123ab67XY\0\0!", 13));
}

TEST_P(PlatformContractTest, PositionalIoBeyondFourGibibytes) {
  auto file = Open("sparse", OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  constexpr std::uint64_t kHigh = (std::uint64_t{1} << 32) + 5;  // 5 once cut to 32 bits
  std::size_t written = 0;
  ASSERT_TRUE(file->WriteAt(5, "low", 3, &written));
  if (const Status high = file->WriteAt(kHigh, "high", 4, &written); !high) {
    GTEST_SKIP() << "no large sparse files here: " << high.ToString();
  }
  EXPECT_EQ(written, 4u);
  std::uint64_t size = 0;
  ASSERT_TRUE(file->Size(&size));
  EXPECT_EQ(size, kHigh + 4);

  char buffer[8] = {};
  std::size_t got = 0;
  ASSERT_TRUE(file->ReadAt(5, buffer, 3, &got));
  EXPECT_EQ(std::string(buffer, got), "low");
  // Across the end: the rest of the buffer is zeros.
  std::vector<char> tail = Dirty(8);
  ASSERT_TRUE(file->ReadAt(kHigh - 2, tail.data(), tail.size(), &got));
  EXPECT_EQ(std::string(tail.data(), tail.size()), std::string("\0\0high\0\0", 8));
  EXPECT_EQ(got, 6u);
  // The hole reads as zeros.
  ASSERT_TRUE(file->ReadAt(kHigh - 100, buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), std::string(8, '\0'));
  ASSERT_TRUE(file->Truncate(0));
}

// Read calls of this process so far (a kernel copy is one); 0 where the
// system does not count them.
long ReadCalls() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long value = 0;
  while (io >> key >> value && key != "syscr:") {
  }
  return key == "syscr:" ? value : 0;
}

// CopyFrom starts at both current positions, stops at `n` or the end of
// the source, and leaves both positions after what it copied: the next
// Read and Write go on from there. The same from the view of a locked file
// (a rotation copies a JAM .jhr so), which leaves the locking handle's
// position alone and, on Linux, copies in the kernel, not block by block.
TEST_P(PlatformContractTest, CopyFromGoesFromPositionToPosition) {
  std::string source(200001, '\0');  // several blocks of any copy loop
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>('a' + i % 26);
  struct Case {
    const char* name;
    std::uint64_t from;  // the source's position
    std::string dest;    // the destination's content; it is written at its end
    std::uint64_t n;
    std::uint64_t expected;  // bytes copied
    bool view = false;       // from a view of the locked file
  } cases[] = {
      {"whole file", 0, "", UINT64_MAX, source.size()},
      {"from the middle onto an end", 70000, "head", UINT64_MAX, source.size() - 70000},
      {"at most n", 5, "", 131073, 131073},
      {"nothing left", source.size(), "xy", 10, 0},
      {"n of 0", 0, "", 0, 0},
      {"whole file from a view", 0, "head", UINT64_MAX, source.size(), true},
      {"at most n from a view", 5, "", 196606, 196606, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile("src", source);
    WriteFile("dst", c.dest);
    auto owner = Open("src", OpenMode::kReadWrite);
    ASSERT_TRUE(owner->Seek(3));
    std::optional<LockedFileRoute> route;
    if (c.view) {
      ASSERT_TRUE(owner->TryLock(0, 1));
      route.emplace(Path("src"), *owner);
    }
    std::unique_ptr<FileHandle> in =
        c.view ? std::unique_ptr<FileHandle>(Os().OpenFile(Path("src"), OpenMode::kRead))
               : Open("src", OpenMode::kRead);
    auto out = Open("dst", OpenMode::kReadWrite);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(in->Seek(c.from));
    ASSERT_TRUE(out->Seek(c.dest.size()));
    std::uint64_t copied = 99;
    const long reads = ReadCalls();
    {
      const auto why3 = out->CopyFrom(*in, c.n, &copied);
      ASSERT_TRUE(why3) << why3.ToString();
    }
    EXPECT_EQ(copied, c.expected);
#if defined(__linux__)
    if (Host()) {
      EXPECT_LE(ReadCalls() - reads, 2) << "blocks of 65535 bytes take 4 or 5 reads";
    }
#else
    (void)reads;
#endif
    char next[2] = {};
    std::size_t got = 0;
    ASSERT_TRUE(owner->Read(next, 1, &got));
    EXPECT_EQ(next[0], source[3]);
    ASSERT_TRUE(in->Read(next, 1, &got));
    const std::uint64_t after = c.from + c.expected;
    EXPECT_EQ(got, after < source.size() ? 1u : 0u);
    if (got == 1) {
      EXPECT_EQ(next[0], source[after]);
    }
    std::size_t written = 0;
    ASSERT_TRUE(out->Write("!", 1, &written));
    ASSERT_TRUE(out->Close());
    EXPECT_EQ(ReadFile("dst"), c.dest +
                                   source.substr(static_cast<std::size_t>(c.from),
                                                 static_cast<std::size_t>(c.expected)) +
                                   "!");
  }
}

TEST_P(PlatformContractTest, CopyFromAClosedFileFailsAndSaysWhy) {
  WriteFile("src", "abc");
  auto in = Open("src", OpenMode::kRead);
  auto out = Open("dst", OpenMode::kCreate);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(in->Close());
  std::uint64_t copied = 99;
  const auto why4 = out->CopyFrom(*in, 3, &copied);
  EXPECT_FALSE(why4.ok());
  EXPECT_EQ(copied, 0u);
  ASSERT_TRUE(out->Close());
  EXPECT_EQ(ReadFile("dst"), "");
}

TEST_P(PlatformContractTest, OpenModes) {
  WriteFile("old.txt", "previous content");
  // Read-only handles refuse writes.
  auto reader = Open("old.txt", OpenMode::kRead);
  ASSERT_NE(reader, nullptr);
  std::size_t written = 99;
  const auto refused = reader->Write("x", 1, &written);
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.kind(), StatusKind::kIoError) << refused.ToString();
  EXPECT_EQ(written, 0u);
  reader.reset();

  // Read-write keeps the content; create truncates the same file.
  const auto before = os().Stat(Path("old.txt"));
  ASSERT_TRUE(before);
  auto updater = Open("old.txt", OpenMode::kReadWrite);
  ASSERT_NE(updater, nullptr);
  ASSERT_TRUE(updater->Write("P", 1, &written));
  updater.reset();
  EXPECT_EQ(ReadFile("old.txt"), "Previous content");
  ASSERT_NE(Open("old.txt", OpenMode::kCreate), nullptr);
  EXPECT_EQ(ReadFile("old.txt"), "");
  EXPECT_EQ(os().Stat(Path("old.txt"))->file_index, before->file_index);

  // A new file only: an existing name is refused and left alone.
  const auto taken = os().OpenFile(Path("old.txt"), OpenMode::kCreateNew);
  EXPECT_EQ(taken, nullptr);
  EXPECT_EQ(taken.status().kind(), StatusKind::kBusy);
  WriteFile("plain", "kept");
  EXPECT_EQ(os().OpenFile(Path("plain"), OpenMode::kCreateNew), nullptr);
  EXPECT_EQ(ReadFile("plain"), "kept");
  EXPECT_NE(Open("new", OpenMode::kCreateNew), nullptr);
  EXPECT_TRUE(Exists("new"));

  // A directory is not a file to open.
  EXPECT_EQ(os().OpenFile(root(), OpenMode::kRead), nullptr);
}

TEST_P(PlatformContractTest, RenameReplacesTheTargetAndKeepsTheFile) {
  WriteFile("target", "old content");
  WriteFile("new", "new content");
  const std::uint64_t identity = os().Stat(Path("new"))->file_index;
  ASSERT_TRUE(os().Rename(Path("new"), Path("target")));
  EXPECT_EQ(ReadFile("target"), "new content");
  EXPECT_EQ(os().Stat(Path("target"))->file_index, identity);
  const auto why5 = os().Stat(Path("new"));
  EXPECT_FALSE(why5);
  EXPECT_EQ(why5.status().kind(), StatusKind::kNotFound);

  // Onto a free name it is a plain rename.
  ASSERT_TRUE(os().Rename(Path("target"), Path("moved")));
  EXPECT_EQ(ReadFile("moved"), "new content");

  // A directory moves with what it holds.
  WriteFile("dir/sub/f", "inside");
  ASSERT_TRUE(os().Rename(Path("dir"), Path("renamed")));
  EXPECT_EQ(ReadFile("renamed/sub/f"), "inside");
  EXPECT_FALSE(Exists("dir"));
}

TEST_P(PlatformContractTest, RenameRefusalsLeaveEverythingInPlace) {
  WriteFile("file", "kept");
  WriteFile("dir/sub/f", "inside");
  struct Case {
    const char* name;
    std::string from, to;
  } cases[] = {
      {"a file onto a directory", "file", "dir"},
      {"a directory into itself", "dir", "dir/sub/x"},
      {"into a missing directory", "file", "nodir/file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(os().Rename(Path(c.from), Path(c.to)));
    EXPECT_FALSE(os().RenameNoReplace(Path(c.from), Path(c.to)));
  }
  EXPECT_EQ(ReadFile("file"), "kept");
  EXPECT_EQ(ReadFile("dir/sub/f"), "inside");
}

TEST_P(PlatformContractTest, RenameNoReplaceNeverOverwrites) {
  WriteFile("target", "kept");
  WriteFile("source", "moving");
  const auto why6 = os().RenameNoReplace(Path("source"), Path("target"));
  EXPECT_FALSE(why6);
  EXPECT_EQ(why6.kind(), StatusKind::kBusy) << why6.ToString();
  EXPECT_EQ(why6.path(), Path("target"));
  EXPECT_EQ(ReadFile("target"), "kept");
  EXPECT_EQ(ReadFile("source"), "moving");

  ASSERT_TRUE(os().RenameNoReplace(Path("source"), Path("free")));
  EXPECT_EQ(ReadFile("free"), "moving");
  EXPECT_FALSE(Exists("source"));
}

TEST_P(PlatformContractTest, FailedCallsSayWhy) {
  const std::string missing = Path("missing");
  const std::string in_missing_dir = Path("nodir/file");
  Platform& os = this->os();
  struct Case {
    const char* name;
    std::function<Status()> call;
    StatusKind kind;
    std::string path;
  } cases[] = {
      {"open to read", [&] { return os.OpenFile(missing, OpenMode::kRead).status(); },
       StatusKind::kNotFound, missing},
      {"open to update", [&] { return os.OpenFile(missing, OpenMode::kReadWrite).status(); },
       StatusKind::kNotFound, missing},
      {"create in a missing directory",
       [&] { return os.OpenFile(in_missing_dir, OpenMode::kCreate).status(); },
       StatusKind::kNotFound, in_missing_dir},
      {"stat", [&] { return os.Stat(missing).status(); }, StatusKind::kNotFound, missing},
      {"delete", [&] { return os.DeleteFile(missing); }, StatusKind::kNotFound, missing},
      {"rename", [&] { return os.Rename(missing, Path("to")); }, StatusKind::kNotFound, missing},
      {"rename without replacing", [&] { return os.RenameNoReplace(missing, Path("to")); },
       StatusKind::kNotFound, missing},
      {"remove a directory", [&] { return os.RemoveDirectory(missing); }, StatusKind::kNotFound,
       missing},
      {"list a directory",
       [&] {
         std::vector<DirEntry> entries;
         return os.ListDirectory(missing, "*", &entries);
       },
       StatusKind::kNotFound, missing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Status error = c.call();
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.kind(), c.kind) << error.ToString();
    EXPECT_EQ(error.path(), c.path);
    EXPECT_FALSE(error.detail().empty());
    EXPECT_NE(error.ToString().find(c.path), std::string::npos) << error.ToString();
  }
}

TEST_P(PlatformContractTest, CloseReportsAndEndsTheHandle) {
  auto file = Open("f", OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("data", 4, &written));
  {
    const auto why9 = file->Close();
    ASSERT_TRUE(why9) << why9.ToString();
  }
  EXPECT_EQ(ReadFile("f"), "data");

  // Every later call fails, and says so.
  char buffer[4];
  std::size_t got = 0;
  std::uint64_t size = 0;
  EXPECT_FALSE(file->Write("x", 1, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(file->Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(file->ReadAt(0, buffer, sizeof buffer, &got));
  EXPECT_FALSE(file->Size(&size));
  const auto why11 = file->TryLock(0, 1);
  EXPECT_FALSE(why11);
  const auto why10 = file->Close();
  EXPECT_FALSE(why10);
  EXPECT_EQ(why10.kind(), StatusKind::kInvalidArgument);
  EXPECT_EQ(why11.path(), Path("f"));
}

TEST_P(PlatformContractTest, LockConflictsBetweenHandlesUntilReleased) {
  if (!LocksConflictWithinProcess()) GTEST_SKIP() << "only per-process locks here";
  WriteFile("base.jhr", std::string_view("JAM\0header", 10));
  const std::string path = Path("base.jhr");
  enum class Release { kUnlock, kClose, kDestroy };
  for (Release release : {Release::kUnlock, Release::kClose, Release::kDestroy}) {
    SCOPED_TRACE(static_cast<int>(release));
    auto holder = Open("base.jhr", OpenMode::kReadWrite);
    auto other = Open("base.jhr", OpenMode::kReadWrite);
    ASSERT_TRUE(holder && other);
    {
      const auto why12 = holder->TryLock(0, 1);
      ASSERT_TRUE(why12) << why12.ToString();
    }
    const auto why13 = other->TryLock(0, 1);
    EXPECT_FALSE(why13);
    EXPECT_EQ(why13.kind(), StatusKind::kBusy) << why13.ToString();
    EXPECT_EQ(why13.path(), path);
    EXPECT_FALSE(other->TryLock(0, 10));  // a range that overlaps it
    // Unlocking what another handle holds leaves it held.
    (void)other->Unlock(0, 1);
    EXPECT_FALSE(other->TryLock(0, 1));
    // Another byte is free.
    ASSERT_TRUE(other->TryLock(1, 1));
    ASSERT_TRUE(other->Unlock(1, 1));

    switch (release) {
      case Release::kUnlock:
        ASSERT_TRUE(holder->Unlock(0, 1));
        break;
      case Release::kClose:
        ASSERT_TRUE(holder->Close());
        break;
      case Release::kDestroy:
        holder.reset();
        break;
    }
    {
      const auto why15 = other->TryLock(0, 1);
      EXPECT_TRUE(why15) << why15.ToString();
    }
  }
}

TEST_P(PlatformContractTest, ReadOnlyHandlesTakeSharedLocks) {
  if (!LocksConflictWithinProcess()) GTEST_SKIP() << "only per-process locks here";
  WriteFile("base.sqd", "squish data");
  auto reader = Open("base.sqd", OpenMode::kRead);
  auto second_reader = Open("base.sqd", OpenMode::kRead);
  auto writer = Open("base.sqd", OpenMode::kReadWrite);
  ASSERT_TRUE(reader && second_reader && writer);

  {
    const auto why16 = reader->TryLock(0, 1);
    ASSERT_TRUE(why16) << why16.ToString();
  }
  {
    const auto why16 = second_reader->TryLock(0, 1);
    EXPECT_TRUE(why16) << why16.ToString();
  }
  const auto why17 = writer->TryLock(0, 1);
  EXPECT_FALSE(why17);
  EXPECT_EQ(why17.kind(), StatusKind::kBusy);
  ASSERT_TRUE(reader->Unlock(0, 1));
  ASSERT_TRUE(second_reader->Unlock(0, 1));

  // And the other way round: a writer's lock keeps readers out.
  ASSERT_TRUE(writer->TryLock(0, 1));
  const auto why18 = reader->TryLock(0, 1);
  EXPECT_FALSE(why18);
  EXPECT_EQ(why18.kind(), StatusKind::kBusy);
}

// Where locks are mandatory, another handle may neither read nor write nor
// cut a locked range; where they are advisory, it may.
TEST_P(PlatformContractTest, LockedRangesBarOtherHandlesOnlyWhereLocksAreMandatory) {
  if (!LocksConflictWithinProcess()) GTEST_SKIP() << "only per-process locks here";
  WriteFile("base.sqd", "SQUISH");
  auto holder = Open("base.sqd", OpenMode::kReadWrite);
  auto other = Open("base.sqd", OpenMode::kReadWrite);
  ASSERT_TRUE(holder && other);
  ASSERT_TRUE(holder->TryLock(0, 1));
  char byte[2] = {};
  std::size_t n = 0;
  const auto read = other->ReadAt(0, byte, 2, &n);
  const auto wrote = other->WriteAt(0, "x", 1, &n);
  if (!MandatoryLocks()) {
    // Not known here.
  } else if (*MandatoryLocks()) {
    EXPECT_FALSE(read);
    EXPECT_EQ(read.kind(), StatusKind::kBusy);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(wrote.kind(), StatusKind::kBusy);
    EXPECT_FALSE(other->Truncate(0));
  } else {
    EXPECT_TRUE(read) << read.ToString();
    EXPECT_TRUE(wrote) << wrote.ToString();
  }
  EXPECT_TRUE(other->ReadAt(1, byte, 2, &n));  // outside the range
  EXPECT_TRUE(other->WriteAt(1, "q", 1, &n));
  EXPECT_TRUE(holder->ReadAt(0, byte, 2, &n));  // the holder itself may
  EXPECT_TRUE(holder->WriteAt(0, "s", 1, &n));
  ASSERT_TRUE(holder->Close());
  EXPECT_TRUE(other->Truncate(0));
  other.reset();
  EXPECT_EQ(ReadFile("base.sqd"), "");
}

TEST_P(PlatformContractTest, EmptyLockRangeIsRefused) {
  WriteFile("f", "x");
  auto file = Open("f", OpenMode::kReadWrite);
  ASSERT_NE(file, nullptr);
  const auto why19 = file->TryLock(0, 0);
  EXPECT_FALSE(why19);
  EXPECT_EQ(why19.kind(), StatusKind::kInvalidArgument);
}

TEST_P(PlatformContractTest, SyncFileSystem) {
  WriteFile("f", "x");
  if (FileSystemSync()) {
    {
      const auto why20 = os().SyncFileSystem(root());
      EXPECT_TRUE(why20) << why20.ToString();
    }
    EXPECT_TRUE(os().SyncFileSystem(Path("f")));
    const auto why21 = os().SyncFileSystem(Path("missing"));
    EXPECT_FALSE(why21);
    EXPECT_EQ(why21.kind(), StatusKind::kNotFound);
  } else {
    // Not available: callers are told so, and sync file by file.
    const auto why22 = os().SyncFileSystem(root());
    EXPECT_FALSE(why22);
    EXPECT_EQ(why22.kind(), StatusKind::kNotSupported);
  }
}

TEST_P(PlatformContractTest, StatIdentityFollowsTheFileNotTheName) {
  WriteFile("a", "first");
  WriteFile("other", "unrelated");
  ASSERT_TRUE(os().Link(Path("a"), Path("b")));
  const auto a = os().Stat(Path("a"));
  const auto b = os().Stat(Path("b"));
  const auto other = os().Stat(Path("other"));
  ASSERT_TRUE(a && b && other);
  EXPECT_NE(a->file_index, 0u);
  EXPECT_EQ(a->volume, b->volume);
  EXPECT_EQ(a->file_index, b->file_index);
  EXPECT_EQ(a->link_count, 2u);
  EXPECT_EQ(a->volume, other->volume);
  EXPECT_NE(a->file_index, other->file_index);
  EXPECT_EQ(other->link_count, 1u);

  // Replaced under the same name: another file.
  WriteFile("replacement", "second");
  ASSERT_TRUE(os().Rename(Path("replacement"), Path("a")));
  const auto replaced = os().Stat(Path("a"));
  ASSERT_TRUE(replaced);
  EXPECT_NE(replaced->file_index, a->file_index);
  // The other name still holds the old file.
  EXPECT_EQ(os().Stat(Path("b"))->file_index, a->file_index);
  EXPECT_EQ(ReadFile("b"), "first");
}

TEST_P(PlatformContractTest, SameFileIsFileIdentity) {
  WriteFile("X", "upper");
  WriteFile("d/f", "in d");
  WriteFile("Y", "other");
  ASSERT_TRUE(os().Link(Path("X"), Path("hard")));
  struct Case {
    std::string a, b;
    bool same;
  } cases[] = {
      {"X", "X", true},  {"hard", "X", true},     {"X", "d/../X", true},
      {"X", "Y", false}, {"X", "missing", false}, {"missing", "missing", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(os().SameFile(Path(c.a), Path(c.b)), c.same) << c.a << " vs " << c.b;
  }
  if (PosixNames()) {
    WriteFile("x", "lower");
    EXPECT_FALSE(os().SameFile(Path("X"), Path("x")));  // names differing in case only
  }
}

TEST_P(PlatformContractTest, StatDescribesFilesAndDirectories) {
  WriteFile("plain.txt", "12345");
  WriteFile(".lock", "");
  WriteFile(".cfg/inside", "");
  ASSERT_TRUE(os().MakeDirectory(Path("sub")));
  struct Case {
    std::string name;
    std::uint8_t attributes;
    bool is_regular;
  } cases[] = {
      {"plain.txt", kAttrArchive, true},
      {".lock", kAttrHidden | kAttrArchive, true},
      {".cfg", kAttrHidden | kAttrDirectory, false},
      {".cfg/inside", kAttrArchive, true},  // only the last name counts
      {"sub", kAttrDirectory, false},
      {"sub/", kAttrDirectory, false},
      {"sub/.", kAttrDirectory, false},
      {"sub/..", kAttrDirectory, false},
  };
  for (const auto& c : cases) {
    const auto status = os().Stat(Path(c.name));
    ASSERT_TRUE(status.has_value()) << c.name;
    EXPECT_EQ(Comparable(status->attributes), Comparable(c.attributes)) << c.name;
    EXPECT_EQ(status->is_regular, c.is_regular) << c.name;
  }
  EXPECT_EQ(os().Stat(Path("plain.txt"))->size, 5u);
  EXPECT_FALSE(os().Stat(Path("plain.txt/")));  // a file is no directory
}

TEST_P(PlatformContractTest, ModifiedTimeKeepsItsPrecision) {
  WriteFile("f", "x");
  // Odd nanoseconds where the system keeps them, and a time before 1970.
  // Windows keeps FILETIME ticks (100 ns since 1601).
  std::vector<std::int64_t> times = {INT64_C(1234567890123456700), INT64_C(-1500000000)};
  if (WindowsHost()) times = {INT64_C(130000000000000001), INT64_C(116444736000000000)};
  if (PosixNames()) times.insert(times.end(), {INT64_C(1234567890123456789), INT64_C(-1500000001)});
  for (std::int64_t ticks : times) {
    ASSERT_TRUE(os().SetModifiedTime(Path("f"), FileTime{ticks})) << ticks;
    EXPECT_EQ(os().Stat(Path("f"))->modified.ticks, ticks);
  }
  EXPECT_FALSE(os().SetModifiedTime(Path("missing"), FileTime{0}));
}

TEST_P(PlatformContractTest, SetAttributesAndRestoreNativeMode) {
  if (!PosixNames()) GTEST_SKIP() << "no POSIX modes here";
  WriteFile("f", "x");
  const std::string path = Path("f");
  const auto mode = [&] { return os().Stat(path)->native_mode; };
  ASSERT_TRUE(os().RestoreNativeMode(path, 0664));

  // Read-only removes every write permission, not only the owner's.
  ASSERT_TRUE(os().SetAttributes(path, kAttrReadOnly | kAttrArchive));
  EXPECT_EQ(mode(), 0444u);
  EXPECT_EQ(os().Stat(path)->attributes, kAttrReadOnly | kAttrArchive);
  // Archive alone gives the owner write permission back, nothing more.
  ASSERT_TRUE(os().SetAttributes(path, kAttrArchive));
  EXPECT_EQ(mode(), 0644u);

  for (std::uint32_t restored : {0751u, 0400u, 0606u}) {
    ASSERT_TRUE(os().RestoreNativeMode(path, restored));
    EXPECT_EQ(mode(), restored);
  }
  EXPECT_FALSE(os().SetAttributes(Path("missing"), kAttrArchive));
  EXPECT_FALSE(os().RestoreNativeMode(Path("missing"), 0644));
}

TEST_P(PlatformContractTest, ReadOnlyFilesAndDirectories) {
  WriteFile("dir/f", "x");
  ASSERT_TRUE(os().SetAttributes(Path("dir/f"), kAttrReadOnly | kAttrArchive));
  EXPECT_EQ(os().Stat(Path("dir/f"))->attributes, kAttrReadOnly | kAttrArchive);
  EXPECT_NE(os().OpenFile(Path("dir/f"), OpenMode::kRead), nullptr);
  if (PermissionsEnforced()) {
    EXPECT_EQ(os().OpenFile(Path("dir/f"), OpenMode::kReadWrite), nullptr);
    EXPECT_EQ(os().OpenFile(Path("dir/f"), OpenMode::kCreate), nullptr);
  }
  ASSERT_TRUE(os().SetAttributes(Path("dir/f"), kAttrArchive));
  EXPECT_NE(os().OpenFile(Path("dir/f"), OpenMode::kReadWrite), nullptr);
  if (!DirectoryPermissionsEnforced()) return;
  // A directory without write permission keeps its entries as they are.
  ASSERT_TRUE(os().SetAttributes(Path("dir"), kAttrReadOnly));
  EXPECT_EQ(os().OpenFile(Path("dir/g"), OpenMode::kCreate), nullptr);
  EXPECT_FALSE(os().DeleteFile(Path("dir/f")));
  EXPECT_FALSE(os().Rename(Path("dir/f"), Path("f")));
  ASSERT_TRUE(os().SetAttributes(Path("dir"), kAttrArchive));  // so that it can go
  EXPECT_EQ(ReadFile("dir/f"), "x");
}

TEST_P(PlatformContractTest, ListDirectoryMatchesNames) {
  WriteFile("one.msg", "");
  WriteFile("TWO.MSG", "");
  WriteFile("noext", "");
  WriteFile(".lock", "");
  ASSERT_TRUE(os().MakeDirectory(Path("sub")));
  ASSERT_TRUE(os().MakeDirectory(Path("5.msg")));

  std::vector<DirEntry> entries;
  EXPECT_EQ(Names(root(), "*.*", &entries),
            (std::vector<std::string>{".lock", "5.msg", "TWO.MSG", "noext", "one.msg", "sub"}));
  EXPECT_EQ(AttributesOf(entries, "sub"), kAttrDirectory);
  EXPECT_EQ(Comparable(AttributesOf(entries, ".lock")), Comparable(kAttrHidden | kAttrArchive));
  EXPECT_EQ(AttributesOf(entries, "noext"), kAttrArchive);
  EXPECT_EQ(AttributesOf(entries, "5.msg"), kAttrDirectory);

  // A trailing separator changes nothing; the list is replaced, not extended.
  if (PosixNames()) {
    EXPECT_EQ(Names(root() + "/", "*.msg", &entries),
              (std::vector<std::string>{"5.msg", "one.msg"}));
    EXPECT_EQ(Names(root(), "*.MSG", &entries), std::vector<std::string>{"TWO.MSG"});
  } else {
    EXPECT_EQ(Names(root() + "/", "*.msg", &entries),
              (std::vector<std::string>{"5.msg", "TWO.MSG", "one.msg"}));
  }

  EXPECT_FALSE(os().ListDirectory(Path("missing"), "*.*", &entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(os().ListDirectory(Path("noext"), "*.*", &entries));
}

TEST_P(PlatformContractTest, MakeRemoveDeleteAndSync) {
  const std::string sub = Path("sub");
  ASSERT_TRUE(os().MakeDirectory(sub));
  EXPECT_FALSE(os().MakeDirectory(sub));  // exists already
  EXPECT_FALSE(os().MakeDirectory(Path("no/such/parent")));
  EXPECT_TRUE(os().SyncDirectory(sub));
  if (!WindowsHost()) {  // there directories are not synced, and nothing is checked
    EXPECT_FALSE(os().SyncDirectory(Path("missing")));
  }

  // DeleteFile never removes a directory, even an empty one.
  EXPECT_FALSE(os().DeleteFile(sub));
  EXPECT_TRUE(Exists("sub"));

  WriteFile("sub/f", "x");
  EXPECT_FALSE(os().MakeDirectory(Path("sub/f")));  // a file is in the way
  EXPECT_FALSE(os().RemoveDirectory(Path("sub/f")));
  EXPECT_FALSE(os().RemoveDirectory(sub));  // not empty
  EXPECT_TRUE(os().DeleteFile(Path("sub/f")));
  EXPECT_FALSE(os().DeleteFile(Path("sub/f")));
  EXPECT_TRUE(os().RemoveDirectory(sub));
  EXPECT_FALSE(Exists("sub"));
}

std::string SubjectName(const ::testing::TestParamInfo<Subject>& info) {
  switch (info.param) {
    case Subject::kHost:
      return "Host";
    case Subject::kMemory:
      return "Memory";
    case Subject::kMemoryMandatoryLocks:
      return "MemoryMandatoryLocks";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(Platforms, PlatformContractTest,
                         ::testing::Values(Subject::kHost, Subject::kMemory,
                                           Subject::kMemoryMandatoryLocks),
                         SubjectName);

}  // namespace
}  // namespace qlr
