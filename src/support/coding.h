// Little-endian fixed-width fields for the binary records of the message
// bases and packets.
//
// Every stored record (JAM and Squish headers and indexes, *.MSG headers,
// packet headers) is a run of 8-, 16- and 32-bit little-endian integers and
// fixed-width 8-bit text fields. They are built and taken apart one field at
// a time with shifts, so the result does not depend on the host's byte
// order, alignment or struct padding, and hostile input can never make us
// read through a pointer of another type.
//
// Layers:
//   EncodeFixed*/DecodeFixed*  raw pointer helpers; the caller has already
//                              checked that the bytes are there.
//   PutFixed*                  append to a std::vector.
//   ByteReader                 checked cursor over untrusted bytes.
//   ByteWriter / SpanWriter    cursor that appends to a vector, or that
//                              overwrites fields inside an existing buffer.
//
// How a record type uses this: it lists its fields once, in the order they
// are stored, and the record helpers at the end of this file write and read
// it by that one list.
//
//   struct IndexEntry {
//     static constexpr std::size_t kEncodedSize = 8;
//     std::uint32_t offset = 0;
//     std::uint32_t hash = 0;
//
//     template <typename Self, typename Io>
//     static void Fields(Self& self, Io& io) { io.Fields(self.offset, self.hash); }
//     void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
//     void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
//     static std::optional<IndexEntry> DecodeFrom(std::span<const std::uint8_t> in) {
//       return DecodeRecord<IndexEntry>(in);
//     }
//   };
//
// A field is an integer of its own width, a std::array of such fields (a
// run of u16 or u32, or raw bytes), a fixed-width text (TextField) or
// a nested record with its own Fields.
//
// DecodeFrom returns std::nullopt when the input is shorter than the record,
// and otherwise the record; it reads the first kEncodedSize bytes and
// ignores any that follow. It returns an optional rather than a bool so
// that it cannot be confused with the message-base operations, whose bool
// results are true on failure.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qlr {

// ---- Raw helpers: dst/src must hold the field's full width. ----

inline void EncodeFixed8(std::uint8_t* dst, std::uint8_t value) { dst[0] = value; }

inline void EncodeFixed16(std::uint8_t* dst, std::uint16_t value) {
  dst[0] = static_cast<std::uint8_t>(value);
  dst[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void EncodeFixed32(std::uint8_t* dst, std::uint32_t value) {
  dst[0] = static_cast<std::uint8_t>(value);
  dst[1] = static_cast<std::uint8_t>(value >> 8);
  dst[2] = static_cast<std::uint8_t>(value >> 16);
  dst[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void EncodeFixed64(std::uint8_t* dst, std::uint64_t value) {
  EncodeFixed32(dst, static_cast<std::uint32_t>(value));
  EncodeFixed32(dst + 4, static_cast<std::uint32_t>(value >> 32));
}

// Signed fields are two's complement; the conversion to the unsigned type of
// the same width is exact modulo 2^N.
inline void EncodeFixedS8(std::uint8_t* dst, std::int8_t value) {
  EncodeFixed8(dst, static_cast<std::uint8_t>(value));
}
inline void EncodeFixedS16(std::uint8_t* dst, std::int16_t value) {
  EncodeFixed16(dst, static_cast<std::uint16_t>(value));
}
inline void EncodeFixedS32(std::uint8_t* dst, std::int32_t value) {
  EncodeFixed32(dst, static_cast<std::uint32_t>(value));
}

inline std::uint8_t DecodeFixed8(const std::uint8_t* src) { return src[0]; }

inline std::uint16_t DecodeFixed16(const std::uint8_t* src) {
  return static_cast<std::uint16_t>(static_cast<std::uint16_t>(src[0]) |
                                    static_cast<std::uint16_t>(src[1] << 8));
}

inline std::uint32_t DecodeFixed32(const std::uint8_t* src) {
  return static_cast<std::uint32_t>(src[0]) | (static_cast<std::uint32_t>(src[1]) << 8) |
         (static_cast<std::uint32_t>(src[2]) << 16) | (static_cast<std::uint32_t>(src[3]) << 24);
}

inline std::uint64_t DecodeFixed64(const std::uint8_t* src) {
  return static_cast<std::uint64_t>(DecodeFixed32(src)) |
         (static_cast<std::uint64_t>(DecodeFixed32(src + 4)) << 32);
}

inline std::int8_t DecodeFixedS8(const std::uint8_t* src) {
  return static_cast<std::int8_t>(DecodeFixed8(src));
}
inline std::int16_t DecodeFixedS16(const std::uint8_t* src) {
  return static_cast<std::int16_t>(DecodeFixed16(src));
}
inline std::int32_t DecodeFixedS32(const std::uint8_t* src) {
  return static_cast<std::int32_t>(DecodeFixed32(src));
}

// ---- Appending helpers. ----

void PutFixed8(std::vector<std::uint8_t>* dst, std::uint8_t value);
void PutFixed16(std::vector<std::uint8_t>* dst, std::uint16_t value);
void PutFixed32(std::vector<std::uint8_t>* dst, std::uint32_t value);
void PutFixed64(std::vector<std::uint8_t>* dst, std::uint64_t value);
void PutFixedS8(std::vector<std::uint8_t>* dst, std::int8_t value);
void PutFixedS16(std::vector<std::uint8_t>* dst, std::int16_t value);
void PutFixedS32(std::vector<std::uint8_t>* dst, std::int32_t value);

// ---- Fixed-width text fields. ----
//
// A text field of width W holds up to W 8-bit characters. Shorter texts end
// with a NUL; what follows that NUL is not part of the text and is often
// left-over bytes from an earlier value, which writers keep. A text of
// exactly W characters has no NUL. Characters are copied as they are, never
// re-encoded.

// The bytes of `field` up to the first NUL or `width`, whichever comes
// first. Never looks past the end of `field` when it is shorter than
// `width`.
std::string DecodeFixedText(std::span<const std::uint8_t> field, std::size_t width);

// Stores `text` in the `width` bytes at `field`: the first `width`
// characters, then a NUL if the text is shorter. The bytes after that NUL
// are left as they were, so rewriting a field inside an existing record
// keeps the record's trailing bytes.
void EncodeFixedText(std::uint8_t* field, std::size_t width, std::string_view text);

// Appends a `width`-byte text field; the bytes after the NUL are zeros.
void PutFixedText(std::vector<std::uint8_t>* dst, std::size_t width, std::string_view text);

// A fixed-width text field of a record's field list: `text` stored in
// `width` bytes (see EncodeFixedText and DecodeFixedText).
template <typename Text>
struct FixedTextField {
  Text& text;
  std::size_t width;
};
template <typename Text>
FixedTextField<Text> TextField(Text& text, std::size_t width) {
  return {text, width};
}

class ByteReader;

// A record type that lists its fields (see the top of this file).
template <typename Record>
concept ListsFields = requires(Record& record, ByteReader& reader) {
  Record::Fields(record, reader);
};

// ---- Checked reading of untrusted bytes. ----
//
// Getters return the value and advance. A getter that would read past the
// end reads nothing, returns 0 (an empty span or string), leaves position()
// where it was and latches failed(). Once failed, every later getter also
// returns 0 and remaining() reports 0, so a loop over "while remaining()"
// ends and no half-read value can pass for a good one. Decoders read all
// their fields and check failed() once.
//
// The reader does not own the bytes; they must outlive it.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

  [[nodiscard]] std::uint8_t U8();
  [[nodiscard]] std::uint16_t U16();
  [[nodiscard]] std::uint32_t U32();
  [[nodiscard]] std::uint64_t U64();
  [[nodiscard]] std::int8_t S8();
  [[nodiscard]] std::int16_t S16();
  [[nodiscard]] std::int32_t S32();

  // The next `n` bytes, a view into the reader's data.
  [[nodiscard]] std::span<const std::uint8_t> Bytes(std::size_t n);
  void Skip(std::size_t n) { (void)Take(n); }
  // A fixed-width text field; see DecodeFixedText.
  [[nodiscard]] std::string FixedText(std::size_t width);
  // Reads each field of a record's field list in turn.
  template <typename... Field>
  void Fields(Field&&... fields) {
    (Get(std::forward<Field>(fields)), ...);
  }

  // True once any read ran past the end.
  [[nodiscard]] bool failed() const { return failed_; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return failed_ ? 0 : data_.size() - pos_; }

 private:
  // Advances over `n` bytes and returns their start; on a short input
  // latches failed() instead (callers test failed_, as an empty span may
  // have no data pointer).
  const std::uint8_t* Take(std::size_t n);

  void Get(std::uint8_t& v) { v = U8(); }
  void Get(std::uint16_t& v) { v = U16(); }
  void Get(std::uint32_t& v) { v = U32(); }
  void Get(std::uint64_t& v) { v = U64(); }
  void Get(std::int8_t& v) { v = S8(); }
  void Get(std::int16_t& v) { v = S16(); }
  void Get(std::int32_t& v) { v = S32(); }
  template <typename T, std::size_t N>
  void Get(std::array<T, N>& run) {
    for (T& v : run) Get(v);
  }
  void Get(FixedTextField<std::string> field) { field.text = FixedText(field.width); }
  template <ListsFields Record>
  void Get(Record& record) {
    Record::Fields(record, *this);
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

// ---- Writing. ----

// Appends fields to a vector it does not own. Appending cannot fail.
class ByteWriter {
 public:
  explicit ByteWriter(std::vector<std::uint8_t>* out) : out_(out) {}

  void U8(std::uint8_t value) { PutFixed8(out_, value); }
  void U16(std::uint16_t value) { PutFixed16(out_, value); }
  void U32(std::uint32_t value) { PutFixed32(out_, value); }
  void U64(std::uint64_t value) { PutFixed64(out_, value); }
  void S8(std::int8_t value) { PutFixedS8(out_, value); }
  void S16(std::int16_t value) { PutFixedS16(out_, value); }
  void S32(std::int32_t value) { PutFixedS32(out_, value); }
  void Bytes(std::span<const std::uint8_t> bytes);
  // `n` zero bytes (reserved fields).
  void Zeros(std::size_t n);
  void FixedText(std::size_t width, std::string_view text) { PutFixedText(out_, width, text); }

 private:
  std::vector<std::uint8_t>* out_;
};

// Overwrites fields inside an existing buffer from a cursor. A field that
// would not fit writes nothing and latches failed(), like ByteReader; later
// writes do nothing. The caller checks failed() once at the end.
class SpanWriter {
 public:
  explicit SpanWriter(std::span<std::uint8_t> data, std::size_t offset = 0);

  void U8(std::uint8_t value);
  void U16(std::uint16_t value);
  void U32(std::uint32_t value);
  void U64(std::uint64_t value);
  void S8(std::int8_t value) { U8(static_cast<std::uint8_t>(value)); }
  void S16(std::int16_t value) { U16(static_cast<std::uint16_t>(value)); }
  void S32(std::int32_t value) { U32(static_cast<std::uint32_t>(value)); }
  void Bytes(std::span<const std::uint8_t> bytes);
  void Skip(std::size_t n) { (void)Take(n); }
  // Keeps the buffer's bytes after the NUL; see EncodeFixedText.
  void FixedText(std::size_t width, std::string_view text);
  // Writes each field of a record's field list in turn.
  template <typename... Field>
  void Fields(const Field&... fields) {
    (Put(fields), ...);
  }

  [[nodiscard]] bool failed() const { return failed_; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return failed_ ? 0 : data_.size() - pos_; }

 private:
  // As ByteReader::Take.
  std::uint8_t* Take(std::size_t n);

  void Put(std::uint8_t v) { U8(v); }
  void Put(std::uint16_t v) { U16(v); }
  void Put(std::uint32_t v) { U32(v); }
  void Put(std::uint64_t v) { U64(v); }
  void Put(std::int8_t v) { S8(v); }
  void Put(std::int16_t v) { S16(v); }
  void Put(std::int32_t v) { S32(v); }
  template <typename T, std::size_t N>
  void Put(const std::array<T, N>& run) {
    for (const T& v : run) Put(v);
  }
  void Put(const FixedTextField<const std::string>& field) { FixedText(field.width, field.text); }
  template <typename Record>
  requires ListsFields<Record>
  void Put(const Record& record) { Record::Fields(record, *this); }

  std::span<std::uint8_t> data_;
  std::size_t pos_;
  bool failed_;
};

// ---- Fixed-size records. ----

// Stops the program when an encoder did not fill exactly `size` bytes: a
// field list that disagrees with its record's kEncodedSize would write
// records other programs cannot read, and is a defect of this program, not
// of any data.
void CheckEncodedSize(const SpanWriter& writer, std::size_t size);

// Writes `record` into the kEncodedSize bytes at `dst` by its field list;
// the bytes after a text field's NUL are zeros.
template <typename Record>
void EncodeRecord(const Record& record, std::uint8_t* dst) {
  std::fill_n(dst, Record::kEncodedSize, std::uint8_t{0});
  SpanWriter writer(std::span<std::uint8_t>(dst, Record::kEncodedSize));
  Record::Fields(record, writer);
  CheckEncodedSize(writer, Record::kEncodedSize);
}

// Appends the kEncodedSize bytes of `record` to `out`.
template <typename Record>
void AppendRecord(const Record& record, std::vector<std::uint8_t>* out) {
  const std::size_t start = out->size();
  out->resize(start + Record::kEncodedSize);
  EncodeRecord(record, out->data() + start);
}

// Reads a record from the first kEncodedSize bytes of `in` by its field
// list (the same list that wrote it); nothing when `in` is shorter.
template <typename Record>
std::optional<Record> DecodeRecord(std::span<const std::uint8_t> in) {
  if (in.size() < Record::kEncodedSize) return std::nullopt;
  ByteReader reader(in.first(Record::kEncodedSize));
  Record record;
  Record::Fields(record, reader);
  if (reader.failed()) return std::nullopt;
  return record;
}

}  // namespace qlr
