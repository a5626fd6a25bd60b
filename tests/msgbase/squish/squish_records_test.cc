#include "msgbase/squish/squish_records.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace qlr {
namespace {

using Bytes = std::vector<std::uint8_t>;

// "53 44 AE AF" -> the four bytes.
Bytes Hex(std::string_view text) {
  Bytes out;
  unsigned value = 0;
  int digits = 0;
  for (const char c : text) {
    if (c == ' ') continue;
    value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    if (++digits == 2) {
      out.push_back(static_cast<std::uint8_t>(value));
      value = 0;
      digits = 0;
    }
  }
  return out;
}

// Writes hex bytes or text at an offset of an expected record.
void PutHex(Bytes& record, std::size_t offset, std::string_view hex) {
  const Bytes bytes = Hex(hex);
  std::copy(bytes.begin(), bytes.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
}
void PutText(Bytes& record, std::size_t offset, std::string_view text) {
  std::copy(text.begin(), text.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
}

template <typename Record>
Bytes Encoded(const Record& record) {
  Bytes out;
  record.AppendTo(&out);
  return out;
}

SquishBaseHeader SampleBaseHeader() {
  SquishBaseHeader h;
  h.len = 0x0100;
  h.reserved = 0xBEEF;
  h.num_msg = 0x04030201;
  h.high_msg = 0x14131211;
  h.skip_msg = 0x24232221;
  h.high_water = 0x34333231;
  h.uid = 0x44434241;
  h.base_name[0] = 'A';
  h.base_name[79] = 'Z';
  h.begin_frame = 0x54535251;
  h.last_frame = 0x64636261;
  h.free_frame = 0x74737271;
  h.last_free_frame = 0x84838281;
  h.end_frame = 0x94939291;
  h.max_msg = 0xA4A3A2A1;
  h.keep_days = 0xB2B1;
  h.sz_frame_header = 0x001C;
  h.reserved_tail[0] = 0xC1;
  h.reserved_tail[123] = 0xCF;
  return h;
}

Bytes SampleBaseHeaderBytes() {
  Bytes b(256, 0);
  PutHex(b, 0, "00 01 EF BE 01 02 03 04 11 12 13 14 21 22 23 24 31 32 33 34 41 42 43 44");
  b[24] = 'A';
  b[103] = 'Z';
  PutHex(b, 104, "51 52 53 54 61 62 63 64 71 72 73 74 81 82 83 84 91 92 93 94");
  PutHex(b, 124, "A1 A2 A3 A4 B1 B2 1C 00");
  b[132] = 0xC1;
  b[255] = 0xCF;
  return b;
}

SquishFrameHeader SampleFrameHeader() {
  SquishFrameHeader h;
  h.frame_id = kSquishFrameId;
  h.next_frame = 0x00001234;
  h.prev_frame = 0x00000100;
  h.frame_length = 0x0000012C;
  h.msg_length = 0x0000012B;
  h.ctrl_length = 0x00000021;
  h.frame_type = kSquishFreeFrame;
  h.reserved = 0x0302;
  return h;
}

Bytes SampleFrameHeaderBytes() {
  return Hex(
      "53 44 AE AF 34 12 00 00 00 01 00 00 2C 01 00 00 2B 01 00 00 21 00 00 00 "
      "01 00 02 03");
}

SquishMsgHeader SampleMsgHeader() {
  SquishMsgHeader h;
  h.attr = 0x00080102;
  h.from = std::string(36, 'F');  // full width: no NUL
  h.to = "Sysop";
  h.subj = "Hello";
  h.orig = {2, 5020, 1042, 7};
  h.dest = {0xFFFF, 1, 2, 0};
  h.date_written = 0x60005A21;
  h.date_arrived = 0x61015A22;
  h.utc_ofs = -60;
  h.reply_to = 3;
  for (std::size_t i = 0; i < h.replies.size(); ++i) {
    h.replies[i] = static_cast<std::uint32_t>(0x10 + i);
  }
  h.umsg_id = 0x0A0B0C0D;
  h.ftsc_date = "01 Jan 24  12:00:00";  // 19 characters and a NUL
  return h;
}

Bytes SampleMsgHeaderBytes() {
  Bytes b(238, 0);
  PutHex(b, 0, "02 01 08 00");
  PutText(b, 4, std::string(36, 'F'));
  PutText(b, 40, "Sysop");
  PutText(b, 76, "Hello");
  PutHex(b, 148, "02 00 9C 13 12 04 07 00");
  PutHex(b, 156, "FF FF 01 00 02 00 00 00");
  PutHex(b, 164, "21 5A 00 60 22 5A 01 61");
  PutHex(b, 172, "C4 FF 03 00 00 00");
  PutHex(b, 178,
         "10 00 00 00 11 00 00 00 12 00 00 00 13 00 00 00 14 00 00 00 15 00 00 00 "
         "16 00 00 00 17 00 00 00 18 00 00 00");
  PutHex(b, 214, "0D 0C 0B 0A");
  PutText(b, 218, "01 Jan 24  12:00:00");
  return b;
}

SquishIndexRecord SampleIndexRecord() { return {0x00000100, 0x00000002, 0x00006783}; }

Bytes SampleIndexRecordBytes() { return Hex("00 01 00 00 02 00 00 00 83 67 00 00"); }

// ---- Golden bytes, both ways, and decoding at every length. ----

template <typename Record>
struct Sample;
template <>
struct Sample<SquishBaseHeader> {
  static SquishBaseHeader Value() { return SampleBaseHeader(); }
  static Bytes Golden() { return SampleBaseHeaderBytes(); }
};
template <>
struct Sample<SquishFrameHeader> {
  static SquishFrameHeader Value() { return SampleFrameHeader(); }
  static Bytes Golden() { return SampleFrameHeaderBytes(); }
};
template <>
struct Sample<SquishMsgHeader> {
  static SquishMsgHeader Value() { return SampleMsgHeader(); }
  static Bytes Golden() { return SampleMsgHeaderBytes(); }
};
template <>
struct Sample<SquishIndexRecord> {
  static SquishIndexRecord Value() { return SampleIndexRecord(); }
  static Bytes Golden() { return SampleIndexRecordBytes(); }
};

template <typename Record>
class SquishRecordTest : public ::testing::Test {};

using RecordTypes =
    ::testing::Types<SquishBaseHeader, SquishFrameHeader, SquishMsgHeader, SquishIndexRecord>;
TYPED_TEST_SUITE(SquishRecordTest, RecordTypes);

TYPED_TEST(SquishRecordTest, EncodesTheGoldenBytes) {
  const Bytes golden = Sample<TypeParam>::Golden();
  ASSERT_EQ(golden.size(), TypeParam::kEncodedSize);
  EXPECT_EQ(Encoded(Sample<TypeParam>::Value()), golden);

  // EncodeTo overwrites every byte of its destination.
  Bytes direct(TypeParam::kEncodedSize, 0xEE);
  Sample<TypeParam>::Value().EncodeTo(direct.data());
  EXPECT_EQ(direct, golden);

  // AppendTo appends after what the vector holds.
  Bytes appended = {0x99};
  Sample<TypeParam>::Value().AppendTo(&appended);
  ASSERT_EQ(appended.size(), TypeParam::kEncodedSize + 1);
  EXPECT_EQ(Bytes(appended.begin() + 1, appended.end()), golden);
}

TYPED_TEST(SquishRecordTest, DecodesTheGoldenBytes) {
  Bytes bytes = Sample<TypeParam>::Golden();
  const std::optional<TypeParam> decoded = TypeParam::DecodeFrom(bytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_TRUE(*decoded == Sample<TypeParam>::Value());

  // Bytes after the record are not part of it.
  bytes.push_back(0x5A);
  const std::optional<TypeParam> longer = TypeParam::DecodeFrom(bytes);
  ASSERT_TRUE(longer.has_value());
  EXPECT_TRUE(*longer == Sample<TypeParam>::Value());
}

TYPED_TEST(SquishRecordTest, RejectsEveryTruncatedLength) {
  const Bytes golden = Sample<TypeParam>::Golden();
  for (std::size_t length = 0; length < TypeParam::kEncodedSize; ++length) {
    EXPECT_FALSE(TypeParam::DecodeFrom(std::span(golden.data(), length)).has_value()) << length;
  }
}

// ---- Text fields. ----

TEST(SquishMsgHeaderTest, TextStopsAtTheFirstNulAndIgnoresWhatFollows) {
  Bytes b(238, 0);
  PutText(b, 4, std::string("Bob\0stale name", 14));
  PutText(b, 40, std::string(36, 'T'));  // full width, runs into Subj
  PutText(b, 76, "Re: x");
  PutText(b, 218, std::string(20, 'D'));  // full width, at the very end
  const std::optional<SquishMsgHeader> h = SquishMsgHeader::DecodeFrom(b);
  ASSERT_TRUE(h.has_value());
  EXPECT_EQ(h->from, "Bob");
  EXPECT_EQ(h->to, std::string(36, 'T'));
  EXPECT_EQ(h->subj, "Re: x");
  EXPECT_EQ(h->ftsc_date, std::string(20, 'D'));
}

TEST(SquishMsgHeaderTest, LongTextIsCutToTheFieldAndZerosFollowAShortOne) {
  SquishMsgHeader h;
  h.from = std::string(40, 'x');  // longer than the field
  h.to = "ab";
  const Bytes b = Encoded(h);
  EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 40), std::string(36, 'x'));
  EXPECT_EQ(std::string(b.begin() + 40, b.begin() + 76), std::string("ab") + std::string(34, '\0'));
}

}  // namespace
}  // namespace qlr
