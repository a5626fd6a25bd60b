#include "support/coding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qlr {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromText(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A copy of `bytes` in a heap block of exactly that size, so that a read
// one byte past the end is caught by AddressSanitizer.
struct ExactBuffer {
  explicit ExactBuffer(std::span<const std::uint8_t> bytes)
      : size(bytes.size()), data(std::make_unique<std::uint8_t[]>(bytes.size())) {
    std::copy(bytes.begin(), bytes.end(), data.get());
  }
  std::span<const std::uint8_t> span() const { return {data.get(), size}; }
  std::size_t size;
  std::unique_ptr<std::uint8_t[]> data;
};

// A made-up record in the shape the format readers follow.
struct SampleRecord {
  static constexpr std::size_t kNameWidth = 8;
  static constexpr std::size_t kEncodedSize = 2 + 2 + 4 + kNameWidth + 4 + 1;

  std::uint16_t kind = 0;
  std::int16_t zone = 0;
  std::uint32_t length = 0;
  std::string name;
  std::int32_t offset = 0;
  std::uint8_t flags = 0;

  // Overwrites a record in place: the bytes after the name's NUL stay.
  void EncodeTo(std::uint8_t* dst) const {
    EncodeFixed16(dst, kind);
    EncodeFixedS16(dst + 2, zone);
    EncodeFixed32(dst + 4, length);
    EncodeFixedText(dst + 8, kNameWidth, name);
    EncodeFixedS32(dst + 16, offset);
    EncodeFixed8(dst + 20, flags);
  }

  void AppendTo(Bytes* out) const {
    ByteWriter w(out);
    w.U16(kind);
    w.S16(zone);
    w.U32(length);
    w.FixedText(kNameWidth, name);
    w.S32(offset);
    w.U8(flags);
  }

  static std::optional<SampleRecord> DecodeFrom(std::span<const std::uint8_t> in) {
    ByteReader r(in);
    SampleRecord rec;
    rec.kind = r.U16();
    rec.zone = r.S16();
    rec.length = r.U32();
    rec.name = r.FixedText(kNameWidth);
    rec.offset = r.S32();
    rec.flags = r.U8();
    if (r.failed()) return std::nullopt;
    return rec;
  }
};

SampleRecord MakeSample() {
  SampleRecord rec;
  rec.kind = 0x0102;
  rec.zone = -2;
  rec.length = 0x89ABCDEF;
  rec.name = "abc";
  rec.offset = -0x12345678;
  rec.flags = 0x80;
  return rec;
}

const Bytes kSampleGolden = {
    0x02, 0x01,                                      // kind
    0xFE, 0xFF,                                      // zone -2
    0xEF, 0xCD, 0xAB, 0x89,                          // length
    0x61, 0x62, 0x63, 0x00, 0x00, 0x00, 0x00, 0x00,  // name "abc"
    0x88, 0xA9, 0xCB, 0xED,                          // offset -0x12345678
    0x80,                                            // flags
};

// ---- Integers ----

template <typename T>
struct IntCase {
  T value;
  Bytes bytes;
};

// Checks every way of writing and reading a field of type T against the
// golden bytes of each case.
template <typename T>
void CheckGolden(const std::vector<IntCase<T>>& cases, void (*encode)(std::uint8_t*, T),
                 T (*decode)(const std::uint8_t*), void (*put)(Bytes*, T),
                 T (ByteReader::*read)()) {
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "value " << +c.value);
    Bytes raw(c.bytes.size() + 1, 0xCC);
    encode(raw.data(), c.value);
    EXPECT_EQ(Bytes(raw.begin(), raw.end() - 1), c.bytes);
    EXPECT_EQ(raw.back(), 0xCC) << "wrote past the field";

    Bytes appended = {0x55};
    put(&appended, c.value);
    EXPECT_EQ(Bytes(appended.begin() + 1, appended.end()), c.bytes);

    ExactBuffer exact(c.bytes);
    EXPECT_EQ(decode(exact.data.get()), c.value);
    ByteReader reader(exact.span());
    EXPECT_EQ((reader.*read)(), c.value);
    EXPECT_FALSE(reader.failed());
    EXPECT_EQ(reader.position(), c.bytes.size());
    EXPECT_EQ(reader.remaining(), 0u);
  }
}

TEST(CodingTest, UnsignedGoldenBytes) {
  CheckGolden<std::uint8_t>({{0x00, {0x00}}, {0x7F, {0x7F}}, {0xFF, {0xFF}}}, EncodeFixed8,
                            DecodeFixed8, PutFixed8, &ByteReader::U8);
  CheckGolden<std::uint16_t>({{0x0000, {0x00, 0x00}},
                              {0x1234, {0x34, 0x12}},
                              {0x8000, {0x00, 0x80}},
                              {0xFFFF, {0xFF, 0xFF}}},
                             EncodeFixed16, DecodeFixed16, PutFixed16, &ByteReader::U16);
  CheckGolden<std::uint32_t>({{0, {0x00, 0x00, 0x00, 0x00}},
                              {0x89ABCDEF, {0xEF, 0xCD, 0xAB, 0x89}},
                              {0x00000080, {0x80, 0x00, 0x00, 0x00}},
                              {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}}},
                             EncodeFixed32, DecodeFixed32, PutFixed32, &ByteReader::U32);
  CheckGolden<std::uint64_t>(
      {{0x0123456789ABCDEF, {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}},
       {0xFFFFFFFF00000000, {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
       {std::numeric_limits<std::uint64_t>::max(), Bytes(8, 0xFF)}},
      EncodeFixed64, DecodeFixed64, PutFixed64, &ByteReader::U64);
}

TEST(CodingTest, SignedGoldenBytes) {
  CheckGolden<std::int8_t>({{0, {0x00}}, {-1, {0xFF}}, {-128, {0x80}}, {127, {0x7F}}},
                           EncodeFixedS8, DecodeFixedS8, PutFixedS8, &ByteReader::S8);
  CheckGolden<std::int16_t>({{-2, {0xFE, 0xFF}},
                             {1, {0x01, 0x00}},
                             {std::numeric_limits<std::int16_t>::min(), {0x00, 0x80}},
                             {std::numeric_limits<std::int16_t>::max(), {0xFF, 0x7F}}},
                            EncodeFixedS16, DecodeFixedS16, PutFixedS16, &ByteReader::S16);
  CheckGolden<std::int32_t>({{-2, {0xFE, 0xFF, 0xFF, 0xFF}},
                             {-0x12345678, {0x88, 0xA9, 0xCB, 0xED}},
                             {std::numeric_limits<std::int32_t>::min(), {0x00, 0x00, 0x00, 0x80}},
                             {std::numeric_limits<std::int32_t>::max(), {0xFF, 0xFF, 0xFF, 0x7F}}},
                            EncodeFixedS32, DecodeFixedS32, PutFixedS32, &ByteReader::S32);
}

TEST(CodingTest, MixedFieldsRoundTripThroughWriterAndReader) {
  Bytes out;
  ByteWriter w(&out);
  w.U8(0xFF);
  w.S8(std::numeric_limits<std::int8_t>::min());
  w.U16(0xFFFF);
  w.S16(std::numeric_limits<std::int16_t>::min());
  w.U32(0xFFFFFFFF);
  w.S32(std::numeric_limits<std::int32_t>::min());
  w.U64(0);
  w.Zeros(3);
  w.Bytes(FromText("xyz"));
  w.S32(-1);
  ASSERT_EQ(out.size(), 1u + 1 + 2 + 2 + 4 + 4 + 8 + 3 + 3 + 4);

  ExactBuffer exact(out);
  ByteReader r(exact.span());
  EXPECT_EQ(r.U8(), 0xFF);
  EXPECT_EQ(r.S8(), std::numeric_limits<std::int8_t>::min());
  EXPECT_EQ(r.U16(), 0xFFFF);
  EXPECT_EQ(r.S16(), std::numeric_limits<std::int16_t>::min());
  EXPECT_EQ(r.U32(), 0xFFFFFFFFu);
  EXPECT_EQ(r.S32(), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(r.U64(), 0u);
  EXPECT_EQ(r.position(), 22u);
  r.Skip(3);
  const auto xyz = r.Bytes(3);
  EXPECT_EQ(Bytes(xyz.begin(), xyz.end()), FromText("xyz"));
  EXPECT_EQ(r.S32(), -1);
  EXPECT_FALSE(r.failed());
  EXPECT_EQ(r.remaining(), 0u);
}

// ---- Truncation ----

TEST(CodingTest, EveryGetterFailsOnShortInput) {
  struct GetterCase {
    const char* name;
    std::size_t width;
    bool (*read_is_empty)(ByteReader&);
  };
  const GetterCase cases[] = {
      {"U8", 1, [](ByteReader& r) { return r.U8() == 0; }},
      {"S8", 1, [](ByteReader& r) { return r.S8() == 0; }},
      {"U16", 2, [](ByteReader& r) { return r.U16() == 0; }},
      {"S16", 2, [](ByteReader& r) { return r.S16() == 0; }},
      {"U32", 4, [](ByteReader& r) { return r.U32() == 0; }},
      {"S32", 4, [](ByteReader& r) { return r.S32() == 0; }},
      {"U64", 8, [](ByteReader& r) { return r.U64() == 0; }},
      {"Bytes", 5, [](ByteReader& r) { return r.Bytes(5).empty(); }},
      {"FixedText", 5, [](ByteReader& r) { return r.FixedText(5).empty(); }},
      {"Skip", 5,
       [](ByteReader& r) {
         r.Skip(5);
         return true;
       }},
  };
  const Bytes ones(8, 0x11);  // no zero byte, so a leaked read shows
  for (const auto& c : cases) {
    for (std::size_t size = 0; size < c.width; ++size) {
      SCOPED_TRACE(testing::Message() << c.name << " on " << size << " bytes");
      ExactBuffer exact{std::span(ones).first(size)};
      ByteReader r(exact.span());
      EXPECT_TRUE(c.read_is_empty(r));
      EXPECT_TRUE(r.failed());
      EXPECT_EQ(r.position(), 0u);
      EXPECT_EQ(r.remaining(), 0u);
      // Latched: a read that would fit now still yields nothing.
      EXPECT_EQ(r.U8(), 0);
      EXPECT_EQ(r.position(), 0u);
    }
  }
}

TEST(CodingTest, HugeLengthsFailWithoutOverflow) {
  const Bytes data(16, 0x11);
  ByteReader r(data);
  EXPECT_EQ(r.U32(), 0x11111111u);
  r.Skip(std::numeric_limits<std::size_t>::max());
  EXPECT_TRUE(r.failed());
  EXPECT_EQ(r.position(), 4u);
  ByteReader r2(data);
  (void)r2.U8();
  EXPECT_TRUE(r2.Bytes(std::numeric_limits<std::size_t>::max() - 1).empty());
  EXPECT_TRUE(r2.failed());
}

TEST(CodingTest, SampleRecordTruncatedAtEveryLength) {
  ASSERT_EQ(kSampleGolden.size(), SampleRecord::kEncodedSize);
  const SampleRecord want = MakeSample();
  const std::size_t ends[] = {2, 4, 8, 16, 20, 21};  // where each field ends

  for (std::size_t size = 0; size < SampleRecord::kEncodedSize; ++size) {
    SCOPED_TRACE(testing::Message() << "prefix of " << size << " bytes");
    ExactBuffer exact{std::span(kSampleGolden).first(size)};
    EXPECT_FALSE(SampleRecord::DecodeFrom(exact.span()).has_value());

    // Fields wholly inside the prefix decode; the first one that does not
    // fit fails, and every later one is empty even if it would fit.
    std::size_t complete = 0;
    while (ends[complete] <= size) ++complete;
    ByteReader r(exact.span());
    const std::uint16_t kind = r.U16();
    const std::int16_t zone = r.S16();
    const std::uint32_t length = r.U32();
    const std::string name = r.FixedText(SampleRecord::kNameWidth);
    const std::int32_t offset = r.S32();
    const std::uint8_t flags = r.U8();
    EXPECT_TRUE(r.failed());
    EXPECT_EQ(r.position(), complete == 0 ? 0 : ends[complete - 1]);
    EXPECT_EQ(kind, complete > 0 ? want.kind : 0);
    EXPECT_EQ(zone, complete > 1 ? want.zone : 0);
    EXPECT_EQ(length, complete > 2 ? want.length : 0u);
    EXPECT_EQ(name, complete > 3 ? want.name : "");
    EXPECT_EQ(offset, complete > 4 ? want.offset : 0);
    EXPECT_EQ(flags, 0);
  }
}

// ---- The sample record ----

TEST(CodingTest, SampleRecordGoldenBytes) {
  const SampleRecord rec = MakeSample();
  Bytes appended;
  rec.AppendTo(&appended);
  EXPECT_EQ(appended, kSampleGolden);

  Bytes in_place(SampleRecord::kEncodedSize + 1, 0xCC);
  rec.EncodeTo(in_place.data());
  Bytes want = kSampleGolden;
  std::fill(want.begin() + 12, want.begin() + 16, 0xCC);  // after the name's NUL
  want.push_back(0xCC);
  EXPECT_EQ(in_place, want);

  // Longer input: only the record's own bytes are read.
  Bytes longer = kSampleGolden;
  longer.push_back(0x99);
  for (const Bytes& input : {kSampleGolden, longer, want}) {
    const auto decoded = SampleRecord::DecodeFrom(input);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->kind, rec.kind);
    EXPECT_EQ(decoded->zone, rec.zone);
    EXPECT_EQ(decoded->length, rec.length);
    EXPECT_EQ(decoded->name, rec.name);
    EXPECT_EQ(decoded->offset, rec.offset);
    EXPECT_EQ(decoded->flags, rec.flags);
  }
}

// ---- Fixed-width text ----

TEST(CodingTest, DecodeFixedTextStopsAtNulOrWidth) {
  struct Case {
    std::string field;
    std::size_t width;
    std::string want;
  };
  const Case cases[] = {
      {std::string("ab\0cd", 5), 5, "ab"},
      {"abcde", 5, "abcde"},                          // exact width, no NUL
      {"abcdefg", 5, "abcde"},                        // bytes beyond the width ignored
      {std::string("\0bc", 3), 3, ""},                // empty text, stale bytes after
      {"abc", 8, "abc"},                              // field shorter than width
      {"abc", 0, ""},                                 // zero-width field
      {"\xE9t\xE9\x8E\xFF", 5, "\xE9t\xE9\x8E\xFF"},  // 8-bit, not re-encoded
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "field '" << c.field << "' width " << c.width);
    ExactBuffer exact(FromText(c.field));
    EXPECT_EQ(DecodeFixedText(exact.span(), c.width), c.want);
  }
}

TEST(CodingTest, EncodeFixedTextKeepsBytesAfterTheNul) {
  struct Case {
    std::string text;
    std::size_t width;
    Bytes want;  // the field plus one guard byte
  };
  const Case cases[] = {
      {"ab", 5, {'a', 'b', 0x00, 0xCC, 0xCC, 0xCC}},
      {"abcd", 5, {'a', 'b', 'c', 'd', 0x00, 0xCC}},
      {"abcde", 5, {'a', 'b', 'c', 'd', 'e', 0xCC}},    // exact width: no NUL
      {"abcdefg", 5, {'a', 'b', 'c', 'd', 'e', 0xCC}},  // cut to the width
      {"", 3, {0x00, 0xCC, 0xCC, 0xCC}},
      {"x", 0, {0xCC}},
      {"\xE9\x80", 4, {0xE9, 0x80, 0x00, 0xCC, 0xCC}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "text '" << c.text << "' width " << c.width);
    Bytes field(c.width + 1, 0xCC);
    EncodeFixedText(field.data(), c.width, c.text);
    EXPECT_EQ(field, c.want);
    EXPECT_EQ(DecodeFixedText(field, c.width), c.text.substr(0, c.width));

    // Appending starts from zeros instead of the caller's bytes.
    Bytes appended;
    PutFixedText(&appended, c.width, c.text);
    Bytes want_appended(c.want.begin(), c.want.end() - 1);
    std::replace(want_appended.begin(), want_appended.end(), std::uint8_t{0xCC},
                 std::uint8_t{0x00});
    EXPECT_EQ(appended, want_appended);
  }
}

// ---- Writing inside a buffer ----

TEST(CodingTest, SpanWriterOverwritesFieldsInPlace) {
  Bytes record = {0x11, 0x11, 'o', 'l', 'd', 'n', 'a', 'm', 'e', 0x22};
  SpanWriter w(record, 1);
  w.U8(0x7F);
  w.FixedText(7, "new");
  w.S8(-1);
  EXPECT_FALSE(w.failed());
  EXPECT_EQ(w.remaining(), 0u);
  EXPECT_EQ(record, (Bytes{0x11, 0x7F, 'n', 'e', 'w', 0x00, 'a', 'm', 'e', 0xFF}));
}

TEST(CodingTest, SpanWriterRefusesFieldsThatDoNotFit) {
  const Bytes original = {1, 2, 3, 4, 5};
  Bytes buffer = original;
  SpanWriter w(buffer, 3);
  w.U32(0xAABBCCDD);  // needs 4, only 2 left
  EXPECT_TRUE(w.failed());
  EXPECT_EQ(w.position(), 3u);
  w.U8(0xEE);  // would fit, but the writer has failed
  w.FixedText(1, "z");
  EXPECT_EQ(buffer, original);

  SpanWriter past_end(buffer, 6);
  EXPECT_TRUE(past_end.failed());
  past_end.Bytes(Bytes{9});
  EXPECT_EQ(buffer, original);

  SpanWriter at_end(buffer, 5);
  at_end.Bytes({});
  EXPECT_FALSE(at_end.failed());
}

// ---- Records by their field list ----

struct Point {
  std::uint16_t x = 0;
  std::int16_t y = 0;
  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.x, s.y);
  }
};

// A nested record, a u32 run and a text field; `Size` is what it claims.
template <std::size_t Size>
struct ListedRecord {
  static constexpr std::size_t kEncodedSize = Size;
  Point at;
  std::array<std::uint32_t, 2> run{};
  std::string name;
  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.at, s.run, TextField(s.name, 4));
  }
};

TEST(CodingTest, OneFieldListWritesAndReadsARecord) {
  using Record = ListedRecord<16>;
  const Bytes golden = {0x01, 0x02, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01,
                        0x08, 0x07, 0x06, 0x05, 0x61, 0x62, 0x00, 0x00};
  Record rec;
  rec.at = {0x0201, -1};
  rec.run = {0x01020304, 0x05060708};
  rec.name = "ab";
  Bytes appended = {0x55};
  AppendRecord(rec, &appended);
  EXPECT_EQ(Bytes(appended.begin() + 1, appended.end()), golden);
  // The encoder zeroes what it does not write: no stale byte after a NUL.
  Bytes in_place(Record::kEncodedSize, 0xCC);
  EncodeRecord(rec, in_place.data());
  EXPECT_EQ(in_place, golden);

  const std::optional<Record> back = DecodeRecord<Record>(golden);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->at.x, rec.at.x);
  EXPECT_EQ(back->at.y, rec.at.y);
  EXPECT_EQ(back->run, rec.run);
  EXPECT_EQ(back->name, rec.name);
  EXPECT_FALSE(DecodeRecord<Record>(std::span(golden).first(15)).has_value());
}

TEST(CodingDeathTest, AnEncoderThatMissesItsSizeStopsTheProgram) {
  std::vector<std::uint8_t> buffer(32);
  EXPECT_DEATH(EncodeRecord(ListedRecord<17>(), buffer.data()), "");  // one byte left out
  EXPECT_DEATH(EncodeRecord(ListedRecord<15>(), buffer.data()), "");  // one byte too many
}

}  // namespace
}  // namespace qlr
