// The text of the fault report, built without allocation or stdio so that
// a signal handler or an exception filter can call it.
#include <cstddef>
#include <cstdint>

#include "platform/fault.h"

namespace qlr {
namespace {

// Appends to a fixed buffer and silently stops at its end.
class ReportWriter {
 public:
  ReportWriter(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

  void Text(const char* text) {
    if (text == nullptr) return;
    while (*text != '\0') Char(*text++);
  }

  void Decimal(std::uint64_t value) {
    char digits[20];
    std::size_t n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (n > 0) Char(digits[--n]);
  }

  void Hex8(std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4) Char(kDigits[(value >> shift) & 0xF]);
  }

  std::size_t size() const { return size_; }

 private:
  void Char(char c) {
    if (size_ < capacity_) out_[size_++] = c;
  }

  char* out_;
  std::size_t capacity_;
  std::size_t size_ = 0;
};

}  // namespace

std::size_t FormatFaultReport(char* out, std::size_t capacity, const char* contact,
                              int error_number, std::uint32_t address, bool has_exception,
                              std::uint32_t exception_code, std::uint64_t thread_id) {
  ReportWriter w(out, capacity);
  w.Text("\r\nWarning! Please report to ");
  w.Text(contact);
  w.Text("!!!\r\nFound bug number ");
  // Error numbers are positive; a negative one would only come from a
  // caller's mistake and is shown by its magnitude rather than wrapped.
  if (error_number < 0) {
    w.Text("-");
    w.Decimal(static_cast<std::uint64_t>(-static_cast<std::int64_t>(error_number)));
  } else {
    w.Decimal(static_cast<std::uint64_t>(error_number));
  }
  w.Text(" at ");
  w.Hex8(address);
  // No source position: release builds carry no line table read at run
  // time, and addr2line on the printed offset gives the position instead.
  if (has_exception) {
    w.Text(" (Exception ");
    w.Hex8(exception_code);
    w.Text(")");
  }
  w.Text(" TID=");
  w.Decimal(thread_id);
  w.Text(".\r\n");
  return w.size();
}

}  // namespace qlr
