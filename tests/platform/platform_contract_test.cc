// The written contracts of FileHandle and Platform, checked against the
// host's own implementation: the same suite runs on POSIX and on Windows.
#include <gtest/gtest.h>

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

using testing::ScratchDir;

// Whether two handles of this process conflict over a byte range. POSIX
// systems without open-file-description locks have only per-process locks.
#if defined(_WIN32) || defined(F_OFD_SETLK)
constexpr bool kLocksConflictWithinProcess = true;
#else
constexpr bool kLocksConflictWithinProcess = false;
#endif

std::unique_ptr<FileHandle> Open(const std::string& path, OpenMode mode) {
  auto file = HostPlatform().OpenFile(path, mode);
  EXPECT_NE(file, nullptr) << path << ": " << file.status().ToString();
  return file;
}

bool MakeHardLink(const std::string& existing, const std::string& link) {
#if defined(_WIN32)
  return ::CreateHardLinkA(link.c_str(), existing.c_str(), nullptr) != 0;
#else
  return ::link(existing.c_str(), link.c_str()) == 0;
#endif
}

// A buffer prefilled with a marker, so that zero-filling shows.
std::vector<char> Dirty(std::size_t n) { return std::vector<char>(n, '#'); }

TEST(PlatformContractTest, ShortReadsZeroFillAndSucceedAtTheEnd) {
  ScratchDir dir;
  dir.WriteFile("f", "abcde");
  auto file = Open(dir.Path("f"), OpenMode::kRead);
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

TEST(PlatformContractTest, PositionalCallsNeitherUseNorMoveThePosition) {
  ScratchDir dir;
  auto file = Open(dir.Path("f"), OpenMode::kCreate);
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
  EXPECT_EQ(dir.ReadFile("f"), std::string("0123ab67XY\0\0!", 13));
}

TEST(PlatformContractTest, PositionalIoBeyondFourGibibytes) {
  ScratchDir dir;
  auto file = Open(dir.Path("sparse"), OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  constexpr std::uint64_t kHigh = (std::uint64_t{1} << 32) + 5;  // 5 once cut to 32 bits
  std::size_t written = 0;
  const auto why2 = file->WriteAt(5, "low", 3, &written);
  ASSERT_TRUE(why2);
  if (!file->WriteAt(kHigh, "high", 4, &written)) {
    GTEST_SKIP() << "no large sparse files here: " << why2.ToString();
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
TEST(PlatformContractTest, CopyFromGoesFromPositionToPosition) {
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
    ScratchDir dir;
    dir.WriteFile("src", source);
    dir.WriteFile("dst", c.dest);
    auto owner = Open(dir.Path("src"), OpenMode::kReadWrite);
    ASSERT_TRUE(owner->TryLock(0, 1) && owner->Seek(3));
    std::optional<LockedFileRoute> route;
    if (c.view) route.emplace(dir.Path("src"), *owner);
    std::unique_ptr<FileHandle> in =
        c.view ? std::unique_ptr<FileHandle>(Os().OpenFile(dir.Path("src"), OpenMode::kRead))
               : Open(dir.Path("src"), OpenMode::kRead);
    auto out = Open(dir.Path("dst"), OpenMode::kReadWrite);
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(in->Seek(c.from));
    ASSERT_TRUE(out->Seek(c.dest.size()));
    std::uint64_t copied = 99;
    [[maybe_unused]] const long reads = ReadCalls();
    {
      const auto why3 = out->CopyFrom(*in, c.n, &copied);
      ASSERT_TRUE(why3) << why3.ToString();
    }
    EXPECT_EQ(copied, c.expected);
#if defined(__linux__)
    EXPECT_LE(ReadCalls() - reads, 2) << "blocks of 65535 bytes take 4 or 5 reads";
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
    EXPECT_EQ(dir.ReadFile("dst"), c.dest +
                                       source.substr(static_cast<std::size_t>(c.from),
                                                     static_cast<std::size_t>(c.expected)) +
                                       "!");
  }
}

TEST(PlatformContractTest, CopyFromAClosedFileFailsAndSaysWhy) {
  ScratchDir dir;
  dir.WriteFile("src", "abc");
  auto in = Open(dir.Path("src"), OpenMode::kRead);
  auto out = Open(dir.Path("dst"), OpenMode::kCreate);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  ASSERT_TRUE(in->Close());
  std::uint64_t copied = 99;
  const auto why4 = out->CopyFrom(*in, 3, &copied);
  EXPECT_FALSE(why4);
  EXPECT_EQ(copied, 0u);
  EXPECT_FALSE(why4.ok());
  ASSERT_TRUE(out->Close());
  EXPECT_EQ(dir.ReadFile("dst"), "");
}

TEST(PlatformContractTest, RenameReplacesTheTarget) {
  ScratchDir dir;
  dir.WriteFile("target", "old content");
  dir.WriteFile("new", "new content");
  ASSERT_TRUE(HostPlatform().Rename(dir.Path("new"), dir.Path("target")));
  EXPECT_EQ(dir.ReadFile("target"), "new content");
  const auto why5 = HostPlatform().Stat(dir.Path("new"));
  EXPECT_FALSE(why5);
  EXPECT_EQ(why5.status().kind(), StatusKind::kNotFound);

  // Onto a free name it is a plain rename.
  ASSERT_TRUE(HostPlatform().Rename(dir.Path("target"), dir.Path("moved")));
  EXPECT_EQ(dir.ReadFile("moved"), "new content");
}

TEST(PlatformContractTest, RenameNoReplaceNeverOverwrites) {
  ScratchDir dir;
  dir.WriteFile("target", "kept");
  dir.WriteFile("source", "moving");
  const auto why6 = HostPlatform().RenameNoReplace(dir.Path("source"), dir.Path("target"));
  EXPECT_FALSE(why6);
  EXPECT_EQ(why6.kind(), StatusKind::kBusy) << why6.ToString();
  EXPECT_EQ(dir.ReadFile("target"), "kept");
  EXPECT_EQ(dir.ReadFile("source"), "moving");

  ASSERT_TRUE(HostPlatform().RenameNoReplace(dir.Path("source"), dir.Path("free")));
  EXPECT_EQ(dir.ReadFile("free"), "moving");
  EXPECT_FALSE(HostPlatform().Stat(dir.Path("source")).has_value());
}

TEST(PlatformContractTest, FailedCallsSayWhy) {
  ScratchDir dir;
  const std::string missing = dir.Path("missing");
  const std::string in_missing_dir = dir.Path("nodir/file");
  Platform& os = HostPlatform();
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
      {"rename", [&] { return os.Rename(missing, dir.Path("to")); }, StatusKind::kNotFound,
       missing},
      {"rename without replacing", [&] { return os.RenameNoReplace(missing, dir.Path("to")); },
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

TEST(PlatformContractTest, RenameNoReplaceNamesTheExistingTarget) {
  ScratchDir dir;
  dir.WriteFile("a", "1");
  dir.WriteFile("b", "2");
  const auto why8 = HostPlatform().RenameNoReplace(dir.Path("a"), dir.Path("b"));
  ASSERT_FALSE(why8);
  EXPECT_EQ(why8.kind(), StatusKind::kBusy);
  EXPECT_EQ(why8.path(), dir.Path("b"));
}

TEST(PlatformContractTest, CloseReportsAndEndsTheHandle) {
  ScratchDir dir;
  auto file = Open(dir.Path("f"), OpenMode::kCreate);
  ASSERT_NE(file, nullptr);
  std::size_t written = 0;
  ASSERT_TRUE(file->Write("data", 4, &written));
  {
    const auto why9 = file->Close();
    ASSERT_TRUE(why9) << why9.ToString();
  }
  EXPECT_EQ(dir.ReadFile("f"), "data");

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
  EXPECT_EQ(why11.path(), dir.Path("f"));
}

TEST(PlatformContractTest, LockConflictsBetweenHandlesUntilReleased) {
  if (!kLocksConflictWithinProcess) GTEST_SKIP() << "only per-process locks here";
  ScratchDir dir;
  dir.WriteFile("base.jhr", std::string_view("JAM\0header", 10));
  const std::string path = dir.Path("base.jhr");
  enum class Release { kUnlock, kClose, kDestroy };
  for (Release release : {Release::kUnlock, Release::kClose, Release::kDestroy}) {
    SCOPED_TRACE(static_cast<int>(release));
    auto holder = Open(path, OpenMode::kReadWrite);
    auto other = Open(path, OpenMode::kReadWrite);
    ASSERT_TRUE(holder && other);
    {
      const auto why12 = holder->TryLock(0, 1);
      ASSERT_TRUE(why12) << why12.ToString();
    }
    const auto why13 = other->TryLock(0, 1);
    EXPECT_FALSE(why13);
    EXPECT_EQ(why13.kind(), StatusKind::kBusy) << why13.ToString();
    EXPECT_EQ(why13.path(), path);
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

TEST(PlatformContractTest, ReadOnlyHandlesTakeSharedLocks) {
  if (!kLocksConflictWithinProcess) GTEST_SKIP() << "only per-process locks here";
  ScratchDir dir;
  dir.WriteFile("base.sqd", "squish data");
  const std::string path = dir.Path("base.sqd");
  auto reader = Open(path, OpenMode::kRead);
  auto second_reader = Open(path, OpenMode::kRead);
  auto writer = Open(path, OpenMode::kReadWrite);
  ASSERT_TRUE(reader && second_reader && writer);

  {
    const auto why16 = reader->TryLock(0, 1);
    ASSERT_TRUE(why16) << why16.ToString();
  }
  EXPECT_TRUE(second_reader->TryLock(0, 1));
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

TEST(PlatformContractTest, EmptyLockRangeIsRefused) {
  ScratchDir dir;
  dir.WriteFile("f", "x");
  auto file = Open(dir.Path("f"), OpenMode::kReadWrite);
  ASSERT_NE(file, nullptr);
  const auto why19 = file->TryLock(0, 0);
  EXPECT_FALSE(why19);
  EXPECT_EQ(why19.kind(), StatusKind::kInvalidArgument);
}

TEST(PlatformContractTest, SyncFileSystem) {
  ScratchDir dir;
  dir.WriteFile("f", "x");
#if defined(__linux__)
  {
    const auto why20 = HostPlatform().SyncFileSystem(dir.root());
    EXPECT_TRUE(why20) << why20.ToString();
  }
  EXPECT_TRUE(HostPlatform().SyncFileSystem(dir.Path("f")));
  const auto why21 = HostPlatform().SyncFileSystem(dir.Path("missing"));
  EXPECT_FALSE(why21);
  EXPECT_EQ(why21.kind(), StatusKind::kNotFound);
#else
  // Not available: callers are told so, and sync file by file.
  const auto why22 = HostPlatform().SyncFileSystem(dir.root());
  EXPECT_FALSE(why22);
  EXPECT_EQ(why22.kind(), StatusKind::kNotSupported);
#endif
}

TEST(PlatformContractTest, StatIdentityFollowsTheFileNotTheName) {
  ScratchDir dir;
  dir.WriteFile("a", "first");
  dir.WriteFile("other", "unrelated");
  ASSERT_TRUE(MakeHardLink(dir.Path("a"), dir.Path("b")));
  const auto a = HostPlatform().Stat(dir.Path("a"));
  const auto b = HostPlatform().Stat(dir.Path("b"));
  const auto other = HostPlatform().Stat(dir.Path("other"));
  ASSERT_TRUE(a && b && other);
  EXPECT_NE(a->file_index, 0u);
  EXPECT_EQ(a->volume, b->volume);
  EXPECT_EQ(a->file_index, b->file_index);
  EXPECT_EQ(a->volume, other->volume);
  EXPECT_NE(a->file_index, other->file_index);

  // Replaced under the same name: another file.
  dir.WriteFile("replacement", "second");
  ASSERT_TRUE(HostPlatform().Rename(dir.Path("replacement"), dir.Path("a")));
  const auto replaced = HostPlatform().Stat(dir.Path("a"));
  ASSERT_TRUE(replaced);
  EXPECT_NE(replaced->file_index, a->file_index);
  // The other name still holds the old file.
  EXPECT_EQ(HostPlatform().Stat(dir.Path("b"))->file_index, a->file_index);
  EXPECT_EQ(dir.ReadFile("b"), "first");
}

}  // namespace
}  // namespace qlr
