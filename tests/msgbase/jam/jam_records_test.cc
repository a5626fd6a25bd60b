#include "msgbase/jam/jam_records.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string_view>
#include <vector>

#include "msgbase/jam/jam_crc.h"

namespace qlr {
namespace {

// "4A414D00 0100" -> bytes; blanks are ignored.
std::vector<std::uint8_t> Hex(std::string_view text) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (const char c : text) {
    if (c == ' ') continue;
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10;
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  return out;
}

// One known record of each kind and its bytes, written out by hand from
// the layout so that an encoder and a decoder wrong in the same way fail.
JamBaseHeader KnownBaseHeader() {
  JamBaseHeader h;
  h.Signature = kJamSignature;
  h.DateCreated = 0x386D4380;  // 2000-01-01 00:00:00
  h.ModCounter = 0x102;
  h.ActiveMsgs = 3;
  h.PasswordCrc = kJamNoPassword;
  h.BaseMsgNum = 1;
  h.Reserved[0] = 0x55;  // reserved bytes survive a round trip
  h.Reserved[999] = 0xAA;
  return h;
}

std::vector<std::uint8_t> KnownBaseHeaderBytes() {
  std::vector<std::uint8_t> bytes = Hex("4A414D00 80436D38 02010000 03000000 FFFFFFFF 01000000");
  bytes.resize(1024, 0);
  bytes[24] = 0x55;
  bytes[1023] = 0xAA;
  return bytes;
}

JamMsgHeader KnownMsgHeader() {
  JamMsgHeader h;
  h.Signature = kJamSignature;
  h.Revision = 1;
  h.ReservedWord = 0x0203;
  h.SubfieldLen = 0x102;
  h.TimesRead = 3;
  h.MsgIdCrc = 0xDEADBEEF;
  h.ReplyCrc = 0x01234567;
  h.ReplyTo = 5;
  h.Reply1st = 6;
  h.ReplyNext = 7;
  h.DateWritten = 0x386D4380;
  h.DateReceived = 0x386D4381;
  h.DateProcessed = 0x386D4382;
  h.MessageNumber = 0x10;
  h.Attribute = kJamAttrLocal | kJamAttrTypeEcho;
  h.Attribute2 = 0x80000000;
  h.TxtOffset = 0x1000;
  h.TxtLen = 42;
  h.PasswordCrc = kJamNoPassword;
  h.Cost = 9;
  return h;
}

std::vector<std::uint8_t> KnownMsgHeaderBytes() {
  return Hex(
      "4A414D00 0100 0302 02010000 03000000 EFBEADDE 67452301 05000000 06000000 07000000"
      " 80436D38 81436D38 82436D38 10000000 01000001 00000080 00100000 2A000000 FFFFFFFF"
      " 09000000");
}

JamSubfieldHeader KnownSubfieldHeader() { return JamSubfieldHeader{0x00070002, 30}; }
// LoId 2, HiId 7, DatLen 30.
std::vector<std::uint8_t> KnownSubfieldHeaderBytes() { return Hex("0200 0700 1E000000"); }

JamIndexRecord KnownIndexRecord() { return JamIndexRecord{0xCADBBE3D, 0x400}; }
std::vector<std::uint8_t> KnownIndexRecordBytes() { return Hex("3DBEDBCA 00040000"); }

template <typename Record>
struct Known;
template <>
struct Known<JamBaseHeader> {
  static JamBaseHeader Record() { return KnownBaseHeader(); }
  static std::vector<std::uint8_t> Bytes() { return KnownBaseHeaderBytes(); }
};
template <>
struct Known<JamMsgHeader> {
  static JamMsgHeader Record() { return KnownMsgHeader(); }
  static std::vector<std::uint8_t> Bytes() { return KnownMsgHeaderBytes(); }
};
template <>
struct Known<JamSubfieldHeader> {
  static JamSubfieldHeader Record() { return KnownSubfieldHeader(); }
  static std::vector<std::uint8_t> Bytes() { return KnownSubfieldHeaderBytes(); }
};
template <>
struct Known<JamIndexRecord> {
  static JamIndexRecord Record() { return KnownIndexRecord(); }
  static std::vector<std::uint8_t> Bytes() { return KnownIndexRecordBytes(); }
};

template <typename Record>
class JamRecordTest : public ::testing::Test {};

using RecordTypes =
    ::testing::Types<JamBaseHeader, JamMsgHeader, JamSubfieldHeader, JamIndexRecord>;
TYPED_TEST_SUITE(JamRecordTest, RecordTypes);

TYPED_TEST(JamRecordTest, EncodesTheKnownBytes) {
  const std::vector<std::uint8_t> expected = Known<TypeParam>::Bytes();
  ASSERT_EQ(expected.size(), TypeParam::kEncodedSize);
  std::vector<std::uint8_t> encoded(TypeParam::kEncodedSize, 0xEE);
  Known<TypeParam>::Record().EncodeTo(encoded.data());
  EXPECT_EQ(encoded, expected);

  std::vector<std::uint8_t> appended = {0x77};
  Known<TypeParam>::Record().AppendTo(&appended);
  ASSERT_EQ(appended.size(), 1 + TypeParam::kEncodedSize);
  EXPECT_EQ(appended[0], 0x77);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), appended.begin() + 1));
}

TYPED_TEST(JamRecordTest, DecodesTheKnownBytesAndIgnoresWhatFollows) {
  std::vector<std::uint8_t> bytes = Known<TypeParam>::Bytes();
  bytes.push_back(0x99);
  const auto decoded = TypeParam::DecodeFrom(bytes);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_TRUE(*decoded == Known<TypeParam>::Record());
}

TYPED_TEST(JamRecordTest, RefusesEveryTruncatedLength) {
  const std::vector<std::uint8_t> bytes = Known<TypeParam>::Bytes();
  for (std::size_t length = 0; length < TypeParam::kEncodedSize; ++length) {
    EXPECT_FALSE(TypeParam::DecodeFrom(std::span(bytes.data(), length)).has_value()) << length;
  }
}

TEST(JamIndexRecordTest, AllOnesIsADeletedMessage) {
  std::vector<std::uint8_t> bytes;
  JamIndexRecord::Deleted().AppendTo(&bytes);
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(8, 0xFF));
  EXPECT_TRUE(JamIndexRecord::DecodeFrom(bytes)->IsDeleted());
  // Only both fields at 0xFFFFFFFF mark a deletion.
  EXPECT_FALSE((JamIndexRecord{0xFFFFFFFF, 0x400}).IsDeleted());
  EXPECT_FALSE((JamIndexRecord{0x1234, 0xFFFFFFFF}).IsDeleted());
}

TEST(JamSubfieldHeaderTest, NonZeroHiIdMatchesNoKnownId) {
  // LoId 2 (sender name) with HiId 1 is not the sender name.
  const auto decoded = JamSubfieldHeader::DecodeFrom(Hex("0200 0100 00000000"));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->Id, 0x00010002u);
  EXPECT_NE(decoded->Id, static_cast<std::uint32_t>(kJamSubSenderName));
}

TEST(JamCrcTest, KnownValues) {
  const struct {
    std::string_view text;
    std::uint32_t crc;
  } cases[] = {
      {"", 0xFFFFFFFF},
      {"abc", 0xCADBBE3D},
      {"ABC", 0xCADBBE3D},
      {"aBc", 0xCADBBE3D},
      // The CRC-32 check value 0xCBF43926, not inverted at the end.
      {"123456789", 0x340BC6D9},
  };
  for (const auto& c : cases) EXPECT_EQ(JamCrc(c.text), c.crc) << c.text;
}

TEST(JamCrcTest, OnlyAsciiLettersAreFolded) {
  // Bytes above 127 keep their case whatever the code page makes of them;
  // '@' and '[' sit just outside A-Z.
  EXPECT_NE(JamCrc("\x80"), JamCrc("\xA0"));
  EXPECT_NE(JamCrc("\xC0"), JamCrc("\xE0"));
  EXPECT_NE(JamCrc("@"), JamCrc("`"));
  EXPECT_NE(JamCrc("["), JamCrc("{"));
  EXPECT_EQ(JamCrc("Sysop Name"), JamCrc("SYSOP NAME"));
}

}  // namespace
}  // namespace qlr
