// Fixed-capacity 8-bit strings.
//
// Every text of the tool is a short string of at most 255 bytes, and message
// fields have smaller maxima (36, 40, 72, 20). Assigning or appending a longer
// text keeps the leading characters and silently drops the rest, so the
// truncation rules of the stored formats hold wherever a value is assigned,
// instead of being repeated at every call site.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace qlr {

template <std::size_t Max>
class BoundedString {
  static_assert(Max > 0 && Max <= 255, "short strings hold at most 255 bytes");

 public:
  static constexpr std::size_t kMax = Max;

  BoundedString() = default;
  BoundedString(std::string_view s) { assign(s); }  // NOLINT: implicit by design
  BoundedString(const char* s) : BoundedString(std::string_view(s)) {}         // NOLINT
  BoundedString(const std::string& s) : BoundedString(std::string_view(s)) {}  // NOLINT
  template <std::size_t M>
  BoundedString(const BoundedString<M>& other)  // NOLINT: implicit by design
      : BoundedString(other.view()) {}

  BoundedString& operator=(std::string_view s) {
    assign(s);
    return *this;
  }
  BoundedString& operator=(const char* s) { return *this = std::string_view(s); }
  template <std::size_t M>
  BoundedString& operator=(const BoundedString<M>& other) {
    return *this = other.view();
  }
  BoundedString& operator=(const std::string& s) { return *this = std::string_view(s); }

  // g++ 12 reports a false out-of-bounds access when a temporary
  // std::string in its small-buffer form is inlined into this copy.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overread"
#endif
  void assign(std::string_view s) {
    // memmove: s may point into this very string.
    size_ = static_cast<unsigned char>(std::min(s.size(), Max));
    if (size_ > 0) std::memmove(data_, s.data(), size_);
  }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

  // Appends as much of s as still fits.
  BoundedString& append(std::string_view s) {
    const std::size_t room = Max - size_;
    const std::size_t n = std::min(room, s.size());
    if (n > 0) std::memmove(data_ + size_, s.data(), n);
    size_ = static_cast<unsigned char>(size_ + n);
    return *this;
  }
  BoundedString& operator+=(std::string_view s) { return append(s); }
  BoundedString& operator+=(char c) {
    push_back(c);
    return *this;
  }
  void push_back(char c) {
    if (size_ < Max) data_[size_++] = c;
  }

  void clear() { size_ = 0; }
  // Shortens to n characters; never lengthens.
  void truncate(std::size_t n) {
    if (n < size_) size_ = static_cast<unsigned char>(n);
  }

  std::size_t size() const { return size_; }
  std::size_t length() const { return size_; }
  bool empty() const { return size_ == 0; }
  const char* data() const { return data_; }
  char* data() { return data_; }
  char operator[](std::size_t i) const { return data_[i]; }
  char& operator[](std::size_t i) { return data_[i]; }
  char back() const { return data_[size_ - 1]; }

  std::string_view view() const { return std::string_view(data_, size_); }
  operator std::string_view() const { return view(); }  // NOLINT
  std::string str() const { return std::string(data_, size_); }

  friend bool operator==(const BoundedString& a, const BoundedString& b) {
    return a.view() == b.view();
  }
  friend bool operator==(const BoundedString& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const BoundedString& a, const std::string& b) { return a.view() == b; }
  friend bool operator==(const BoundedString& a, const char* b) {
    return a.view() == std::string_view(b);
  }

  friend BoundedString operator+(const BoundedString& a, std::string_view b) {
    BoundedString r(a);
    r.append(b);
    return r;
  }
  friend BoundedString operator+(const BoundedString& a, const BoundedString& b) {
    return a + b.view();
  }
  friend BoundedString operator+(const BoundedString& a, const char* b) {
    return a + std::string_view(b);
  }
  friend BoundedString operator+(const BoundedString& a, const std::string& b) {
    return a + std::string_view(b);
  }
  friend BoundedString operator+(const BoundedString& a, char c) {
    BoundedString r(a);
    r.push_back(c);
    return r;
  }
  friend BoundedString operator+(std::string_view a, const BoundedString& b) {
    BoundedString r(a);
    r.append(b.view());
    return r;
  }
  friend BoundedString operator+(const std::string& a, const BoundedString& b) {
    return std::string_view(a) + b;
  }
  friend BoundedString operator+(const char* a, const BoundedString& b) {
    return std::string_view(a) + b;
  }

 private:
  unsigned char size_ = 0;
  char data_[Max] = {};
};

using ShortString = BoundedString<255>;

}  // namespace qlr
