#include "msgbase/msgdir/stored_msg_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qlr {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
void Fill(std::array<std::uint8_t, N>& field, const std::string& bytes) {
  ASSERT_EQ(bytes.size(), N);
  for (std::size_t i = 0; i < N; ++i) field[i] = static_cast<std::uint8_t>(bytes[i]);
}

// The text fields hold left-over bytes after their NULs, which a codec
// that stops at the NUL would lose.
const std::string kFrom = std::string("Sysop") + '\0' + "left over" + std::string(21, 'x');
const std::string kTo = std::string(36, 'T');  // full width, no NUL
const std::string kSubject = std::string("Re: hello") + '\0' + std::string(62, 's');
const std::string kDate = std::string("05 Mar 21  10:20:30") + '\0';

StoredMsgHeader SampleHeader() {
  StoredMsgHeader h;
  Fill(h.from_user_name, kFrom);
  Fill(h.to_user_name, kTo);
  Fill(h.subject, kSubject);
  Fill(h.date_time, kDate);
  h.times_read = 0x0102;
  h.dest_node = 0x0304;
  h.orig_node = 0x0506;
  h.cost = 0x0708;
  h.orig_net = 0x090A;
  h.dest_net = 0x0B0C;
  h.date_written = 0x0D0E0F10;
  h.date_arrived = 0x11121314;
  h.reply_to = 0x1516;
  h.attribute = 0x1718;
  h.next_reply = 0x191A;
  return h;
}

// Written out by hand from the layout.
Bytes SampleBytes() {
  const std::string text = kFrom + kTo + kSubject + kDate;
  Bytes b(text.begin(), text.end());
  EXPECT_EQ(b.size(), 164u);
  const Bytes numbers = {
      0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x08, 0x07,  // times read, nodes, cost at 164
      0x0A, 0x09, 0x0C, 0x0B,                          // nets at 172
      0x10, 0x0F, 0x0E, 0x0D, 0x14, 0x13, 0x12, 0x11,  // dates at 176
      0x16, 0x15, 0x18, 0x17, 0x1A, 0x19,              // reply, attribute, next at 184
  };
  b.insert(b.end(), numbers.begin(), numbers.end());
  return b;
}

TEST(StoredMsgHeaderTest, EncodesEveryFieldAtItsOffset) {
  Bytes out(StoredMsgHeader::kEncodedSize, 0xEE);
  SampleHeader().EncodeTo(out.data());
  EXPECT_EQ(out, SampleBytes());
  Bytes appended = {0x55};
  SampleHeader().AppendTo(&appended);
  ASSERT_EQ(appended.size(), 1 + StoredMsgHeader::kEncodedSize);
  EXPECT_EQ(Bytes(appended.begin() + 1, appended.end()), SampleBytes());
}

TEST(StoredMsgHeaderTest, DecodesTheGoldenBytesAndIgnoresWhatFollows) {
  Bytes bytes = SampleBytes();
  bytes.push_back(0x42);  // the text that follows the header
  const std::optional<StoredMsgHeader> h = StoredMsgHeader::DecodeFrom(bytes);
  ASSERT_TRUE(h.has_value());
  EXPECT_EQ(*h, SampleHeader());
  // The bytes after the NUL come back too: a rewrite keeps them.
  Bytes again(StoredMsgHeader::kEncodedSize);
  h->EncodeTo(again.data());
  EXPECT_EQ(again, SampleBytes());
}

TEST(StoredMsgHeaderTest, RefusesEveryTruncatedHeader) {
  const Bytes bytes = SampleBytes();
  for (std::size_t n = 0; n < StoredMsgHeader::kEncodedSize; ++n) {
    EXPECT_FALSE(StoredMsgHeader::DecodeFrom(std::span(bytes.data(), n)).has_value()) << n;
  }
  EXPECT_TRUE(StoredMsgHeader::DecodeFrom(bytes).has_value());
}

}  // namespace
}  // namespace qlr
