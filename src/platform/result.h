// A value or the Status that says why there is none: what a platform call
// returns when it yields a value that exists only on success (an open file,
// a file's status). It reads like the optional or the pointer it replaces
// (`if (!file)`, `file->Read(...)`, `status->size`), and status() says why
// it is empty.
#pragma once

#include <concepts>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>

#include "platform/status.h"

namespace qlr {

namespace result_detail {
// A failure must carry a reason: an ok Status without a value would read
// as an empty success.
inline Status Reason(Status status) {
  if (status.ok()) return Status(StatusKind::kIoError, "", "no result");
  return status;
}
}  // namespace result_detail

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Status status) : status_(result_detail::Reason(std::move(status))) {}

  bool ok() const { return value_.has_value(); }
  bool has_value() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // Ok on success.
  const Status& status() const { return status_; }

  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }

  // For a caller that needs only the value, or nothing.
  operator std::optional<T>() const& { return value_; }
  operator std::optional<T>() && { return std::move(value_); }

 private:
  std::optional<T> value_;
  Status status_;
};

// An owned object, or why there is none: it reads like the unique_ptr it
// holds, and hands it over to a caller that keeps only the object.
template <typename U>
class [[nodiscard]] Result<std::unique_ptr<U>> {
 public:
  template <typename V>
  requires std::convertible_to<V*, U*> Result(std::unique_ptr<V> value) : value_(std::move(value)) {
    if (!value_) status_ = result_detail::Reason(Status());
  }
  Result(Status status) : status_(result_detail::Reason(std::move(status))) {}

  bool ok() const { return value_ != nullptr; }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return status_; }

  U* operator->() const { return value_.get(); }
  U& operator*() const { return *value_; }
  U* get() const { return value_.get(); }
  void reset() { value_.reset(); }
  friend bool operator==(const Result& result, std::nullptr_t) { return !result.ok(); }

  operator std::unique_ptr<U>() && { return std::move(value_); }

 private:
  std::unique_ptr<U> value_;
  Status status_;
};

}  // namespace qlr
