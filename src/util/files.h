// File and directory helpers over the platform layer.
//
// They absorb operating-system errors and report only through their
// results. Paths are in the host's style.
#pragma once

#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "support/short_string.h"

namespace qlr {

// True for an existing regular file (a directory, FIFO or device is not).
bool FileExists(std::string_view path);
// True when the path names an existing directory. One trailing separator
// is ignored; the empty path is the current directory.
bool DirExists(std::string_view path);
void DeleteFileIfExists(std::string_view path);
// Creates every missing directory of the path's directory part (the text
// after the last separator is a file name). True on success.
bool MakePath(std::string_view path);

// A file a copy has read completely, with the source's status as it was
// read just before its bytes were.
struct CopiedFile {
  ShortString source;
  ShortString dest;
  FileStatus status;
};

// Who makes a copy durable.
enum class CopyDurability {
  // Every copied file and its directory entry are flushed to stable
  // storage before the copy reports success.
  kSyncEachFile,
  // Nothing is flushed: the caller makes the whole copy durable at once
  // (one file-system sync instead of one per file).
  kCallerSyncs,
};

struct CopyOptions {
  CopyDurability durability = CopyDurability::kSyncEachFile;
  // When set, every file copied completely is appended to it.
  std::vector<CopiedFile>* copied = nullptr;
};

// Copies one regular file in blocks of 65535 bytes, to the end of `dest`
// when `append` is set and `dest` exists, else into a new or truncated
// `dest`; keeps the source's modification time (full precision) and
// permissions on the copy, and (unless the options leave it to the caller)
// flushes it to stable storage. True on FAILURE; false when the whole
// source was copied, or when there was nothing to do (no source file, or
// source and destination are the same file).
[[nodiscard]] bool CopyFileTo(std::string_view source, std::string_view dest, bool append,
                              const CopyOptions& options = {});
// Copies the files of a directory (and with `recurse` its subdirectories).
// True on FAILURE: source not a directory, destination not creatable, the
// same directory, or any single file copy failed.
[[nodiscard]] bool CopyTree(std::string_view source, std::string_view dest, bool recurse,
                            const CopyOptions& options = {});
// Deletes the files of `dir` (read-only ones too; with `recurse` also its
// subdirectories), then the directory itself unless `dir` ends in a
// separator. A directory that is not empty by then stays. The empty path
// and the root are refused. Reports nothing.
void RemoveTree(std::string_view dir, bool recurse);

}  // namespace qlr
