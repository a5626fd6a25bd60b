#include "msgbase/packet/packet_records.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <vector>

namespace qlr {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A header with a different value in every field, and its bytes written
// out by hand from the layout.
PacketHeader SampleHeader() {
  PacketHeader h;
  h.orig_node = 0x0102;
  h.dest_node = 0x0304;
  h.year = 2024;  // 0x07E8
  h.month = 11;
  h.day = 31;
  h.hour = 23;
  h.minute = 59;
  h.second = 58;
  h.baud = 0x0506;
  h.packet_version = 2;
  h.orig_net = 0x0708;
  h.dest_net = 0x090A;
  h.product_code_low = 0x0B;
  h.product_revision_major = 0x0C;
  h.password = {'s', 'e', 'c', 'r', 'e', 't', 0, 'x'};
  h.orig_zone_copy = 0x0D0E;
  h.dest_zone_copy = 0x0F10;
  h.aux_net = 0x1112;
  h.capability_validation = 0x1314;
  h.product_code_high = 0x15;
  h.product_revision_minor = 0x16;
  h.capability_word = 0x1718;
  h.orig_zone = 0x191A;
  h.dest_zone = 0x1B1C;
  h.orig_point = 0x1D1E;
  h.dest_point = 0x1F20;
  h.product_data = 0x21222324;
  return h;
}

const Bytes kSampleHeaderBytes = {
    0x02, 0x01, 0x04, 0x03, 0xE8, 0x07, 0x0B, 0x00, 0x1F, 0x00,  // nodes, year, month, day
    0x17, 0x00, 0x3B, 0x00, 0x3A, 0x00, 0x06, 0x05, 0x02, 0x00,  // time, baud, version
    0x08, 0x07, 0x0A, 0x09, 0x0B, 0x0C,                          // nets, product
    's',  'e',  'c',  'r',  'e',  't',  0x00, 'x',               // password at 26
    0x0E, 0x0D, 0x10, 0x0F, 0x12, 0x11, 0x14, 0x13,              // zone copies, aux, valid.
    0x15, 0x16, 0x18, 0x17,                                      // product, capability
    0x1A, 0x19, 0x1C, 0x1B, 0x1E, 0x1D, 0x20, 0x1F,              // zones, points at 46
    0x24, 0x23, 0x22, 0x21,                                      // product data at 54
};

PackedMsgHeader SampleMsgHeader() {
  PackedMsgHeader h;
  h.message_type = 2;
  h.orig_node = 0x0102;
  h.dest_node = 0x0304;
  h.orig_net = 0x0506;
  h.dest_net = 0x0708;
  h.attribute = 0x090A;
  h.cost = 0x0B0C;
  const char date[] = "05 Mar 99  23:04:10";  // 19 characters and the NUL
  for (std::size_t i = 0; i < h.date_time.size(); ++i) {
    h.date_time[i] = static_cast<std::uint8_t>(date[i]);
  }
  return h;
}

Bytes SampleMsgHeaderBytes() {
  Bytes b = {0x02, 0x00, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07, 0x0A, 0x09, 0x0C, 0x0B};
  const char date[] = "05 Mar 99  23:04:10";
  b.insert(b.end(), date, date + 20);
  return b;
}

TEST(PacketRecordsTest, HeaderGoldenBytes) {
  ASSERT_EQ(kSampleHeaderBytes.size(), PacketHeader::kEncodedSize);
  Bytes out;
  SampleHeader().AppendTo(&out);
  EXPECT_EQ(out, kSampleHeaderBytes);
  const auto decoded = PacketHeader::DecodeFrom(kSampleHeaderBytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(*decoded, SampleHeader());
}

TEST(PacketRecordsTest, HeaderEncodeWritesOnlyItsOwnBytes) {
  Bytes buffer(60, 0xEE);
  SampleHeader().EncodeTo(buffer.data());
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 58), kSampleHeaderBytes);
  EXPECT_EQ(buffer[58], 0xEE);
  EXPECT_EQ(buffer[59], 0xEE);
}

TEST(PacketRecordsTest, HeaderDecoderRefusesEveryTruncation) {
  for (std::size_t n = 0; n < PacketHeader::kEncodedSize; ++n) {
    EXPECT_FALSE(PacketHeader::DecodeFrom(std::span(kSampleHeaderBytes).first(n)).has_value()) << n;
  }
  // Longer input: the header is read from the front, the rest ignored.
  Bytes longer = kSampleHeaderBytes;
  longer.push_back(0x02);
  longer.push_back(0x00);
  ASSERT_TRUE(PacketHeader::DecodeFrom(longer).has_value());
  EXPECT_EQ(*PacketHeader::DecodeFrom(longer), SampleHeader());
}

TEST(PacketRecordsTest, HeaderOfAnotherVersionStillDecodes) {
  Bytes bytes = kSampleHeaderBytes;
  bytes[18] = 1;
  const auto decoded = PacketHeader::DecodeFrom(bytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->packet_version, 1);
}

TEST(PacketRecordsTest, PackedMsgHeaderGoldenBytesAndTruncation) {
  const Bytes golden = SampleMsgHeaderBytes();
  ASSERT_EQ(golden.size(), PackedMsgHeader::kEncodedSize);
  Bytes out;
  SampleMsgHeader().AppendTo(&out);
  EXPECT_EQ(out, golden);
  ASSERT_TRUE(PackedMsgHeader::DecodeFrom(golden).has_value());
  EXPECT_EQ(*PackedMsgHeader::DecodeFrom(golden), SampleMsgHeader());
  for (std::size_t n = 0; n < PackedMsgHeader::kEncodedSize; ++n) {
    EXPECT_FALSE(PackedMsgHeader::DecodeFrom(std::span(golden).first(n)).has_value()) << n;
  }
}

}  // namespace
}  // namespace qlr
