#include "support/coding.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qlr {

namespace {

// Grows `dst` by `n` zero bytes and returns the start of them.
std::uint8_t* Extend(std::vector<std::uint8_t>* dst, std::size_t n) {
  const std::size_t old_size = dst->size();
  dst->resize(old_size + n);
  return dst->data() + old_size;
}

}  // namespace

void PutFixed8(std::vector<std::uint8_t>* dst, std::uint8_t value) { dst->push_back(value); }

void PutFixed16(std::vector<std::uint8_t>* dst, std::uint16_t value) {
  EncodeFixed16(Extend(dst, 2), value);
}

void PutFixed32(std::vector<std::uint8_t>* dst, std::uint32_t value) {
  EncodeFixed32(Extend(dst, 4), value);
}

void PutFixed64(std::vector<std::uint8_t>* dst, std::uint64_t value) {
  EncodeFixed64(Extend(dst, 8), value);
}

void PutFixedS8(std::vector<std::uint8_t>* dst, std::int8_t value) {
  PutFixed8(dst, static_cast<std::uint8_t>(value));
}

void PutFixedS16(std::vector<std::uint8_t>* dst, std::int16_t value) {
  PutFixed16(dst, static_cast<std::uint16_t>(value));
}

void PutFixedS32(std::vector<std::uint8_t>* dst, std::int32_t value) {
  PutFixed32(dst, static_cast<std::uint32_t>(value));
}

std::string DecodeFixedText(std::span<const std::uint8_t> field, std::size_t width) {
  const auto limited = field.first(std::min(width, field.size()));
  const auto nul = std::find(limited.begin(), limited.end(), std::uint8_t{0});
  return std::string(limited.begin(), nul);
}

void EncodeFixedText(std::uint8_t* field, std::size_t width, std::string_view text) {
  const std::size_t n = std::min(width, text.size());
  if (n > 0) std::memcpy(field, text.data(), n);
  if (n < width) field[n] = 0;
}

void PutFixedText(std::vector<std::uint8_t>* dst, std::size_t width, std::string_view text) {
  EncodeFixedText(Extend(dst, width), width, text);
}

// ---- ByteReader ----

const std::uint8_t* ByteReader::Take(std::size_t n) {
  if (failed_ || n > data_.size() - pos_) {
    failed_ = true;
    return nullptr;
  }
  const std::uint8_t* p = data_.data() + pos_;
  pos_ += n;
  return p;
}

std::uint8_t ByteReader::U8() {
  const std::uint8_t* p = Take(1);
  return failed_ ? 0 : DecodeFixed8(p);
}

std::uint16_t ByteReader::U16() {
  const std::uint8_t* p = Take(2);
  return failed_ ? 0 : DecodeFixed16(p);
}

std::uint32_t ByteReader::U32() {
  const std::uint8_t* p = Take(4);
  return failed_ ? 0 : DecodeFixed32(p);
}

std::uint64_t ByteReader::U64() {
  const std::uint8_t* p = Take(8);
  return failed_ ? 0 : DecodeFixed64(p);
}

std::int8_t ByteReader::S8() { return static_cast<std::int8_t>(U8()); }
std::int16_t ByteReader::S16() { return static_cast<std::int16_t>(U16()); }
std::int32_t ByteReader::S32() { return static_cast<std::int32_t>(U32()); }

std::span<const std::uint8_t> ByteReader::Bytes(std::size_t n) {
  const std::uint8_t* p = Take(n);
  if (failed_) return {};
  return {p, n};
}

std::string ByteReader::FixedText(std::size_t width) {
  return DecodeFixedText(Bytes(width), width);
}

// ---- ByteWriter ----

void ByteWriter::Bytes(std::span<const std::uint8_t> bytes) {
  out_->insert(out_->end(), bytes.begin(), bytes.end());
}

void ByteWriter::Zeros(std::size_t n) { out_->resize(out_->size() + n); }

// ---- SpanWriter ----

SpanWriter::SpanWriter(std::span<std::uint8_t> data, std::size_t offset)
    : data_(data), pos_(std::min(offset, data.size())), failed_(offset > data.size()) {}

std::uint8_t* SpanWriter::Take(std::size_t n) {
  if (failed_ || n > data_.size() - pos_) {
    failed_ = true;
    return nullptr;
  }
  std::uint8_t* p = data_.data() + pos_;
  pos_ += n;
  return p;
}

void SpanWriter::U8(std::uint8_t value) {
  std::uint8_t* p = Take(1);
  if (!failed_) EncodeFixed8(p, value);
}

void SpanWriter::U16(std::uint16_t value) {
  std::uint8_t* p = Take(2);
  if (!failed_) EncodeFixed16(p, value);
}

void SpanWriter::U32(std::uint32_t value) {
  std::uint8_t* p = Take(4);
  if (!failed_) EncodeFixed32(p, value);
}

void SpanWriter::U64(std::uint64_t value) {
  std::uint8_t* p = Take(8);
  if (!failed_) EncodeFixed64(p, value);
}

void SpanWriter::Bytes(std::span<const std::uint8_t> bytes) {
  std::uint8_t* p = Take(bytes.size());
  if (!failed_ && !bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
}

void SpanWriter::FixedText(std::size_t width, std::string_view text) {
  std::uint8_t* p = Take(width);
  if (!failed_) EncodeFixedText(p, width, text);
}

// ---- Records ----

void CheckEncodedSize(const SpanWriter& writer, std::size_t size) {
  // Always on: the check costs two comparisons per record, and a record of
  // the wrong size must never reach a file.
  if (writer.failed() || writer.position() != size) std::abort();
}

}  // namespace qlr
