// Why an operation failed: a small value that the platform builds from the
// operating system's error code and returns from every call that can fail,
// and that streams and bases keep beside their true-on-failure results as
// their last error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qlr {

enum class StatusKind : std::uint8_t {
  kOk,
  kNotFound,         // no such file or directory
  kCorruption,       // the bytes of a file break its format
  kIoError,          // any other failure of the operating system
  kNoSpace,          // the disk or a quota is full
  kBusy,             // a lock is held by another program
  kInvalidArgument,  // a request the call cannot carry out as asked
  kNotSupported,     // the system or file system lacks the feature itself
};

class Status {
 public:
  Status() = default;  // success
  Status(StatusKind kind, std::string_view path, std::string_view detail)
      : kind_(kind), path_(path), detail_(detail) {}

  static Status Ok() { return Status(); }
  // `where` says where in the file the damage was detected.
  static Status Corruption(std::string_view path, std::string_view where) {
    return Status(StatusKind::kCorruption, path, where);
  }
  static Status Invalid(std::string_view path, std::string_view detail) {
    return Status(StatusKind::kInvalidArgument, path, detail);
  }
  // A path the system cannot take (a component or the whole is longer than
  // its limit): refused, and nothing was touched.
  static Status PathTooLong(std::string_view path) { return Invalid(path, "path too long"); }
  bool IsPathTooLong() const {
    return kind_ == StatusKind::kInvalidArgument && detail_ == "path too long";
  }
  // Only for a feature the platform really lacks (callers then take
  // another way), never for a failed attempt.
  static Status NotSupported(std::string_view path, std::string_view what) {
    return Status(StatusKind::kNotSupported, path, std::string(what) + " not supported");
  }

  bool ok() const { return kind_ == StatusKind::kOk; }
  // `if (!Os().Rename(a, b))` reads as "if the rename failed".
  explicit operator bool() const { return ok(); }
  StatusKind kind() const { return kind_; }
  // The file or directory the failure concerns (may be empty).
  const std::string& path() const { return path_; }
  // The operating system's error text, or for corruption where it was
  // detected.
  const std::string& detail() const { return detail_; }

  // "PATH: DETAIL" (or the part that is known); "ok" on success.
  std::string ToString() const;

 private:
  StatusKind kind_ = StatusKind::kOk;
  std::string path_;
  std::string detail_;
};

}  // namespace qlr
