#include "testing/raw_bases.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "msgbase/jam/jam_base.h"
#include "msgbase/jam/jam_records.h"
#include "msgbase/packet/packet_base.h"
#include "msgbase/packet/packet_records.h"
#include "msgbase/squish/squish_base.h"
#include "msgbase/squish/squish_records.h"
#include "support/coding.h"

namespace qlr::testing {
namespace {

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

void MakeJam(const std::string& base, int count) {
  {
    JamBase jam;
    ASSERT_FALSE(jam.Create(base)) << base;
  }
  std::vector<std::uint8_t> headers = ReadBytes(base + ".jhr");
  std::vector<std::uint8_t> index;
  for (int n = 1; n <= count; ++n) {
    JamIndexRecord record;
    record.HdrOffset = static_cast<std::uint32_t>(headers.size());
    record.AppendTo(&index);
    JamMsgHeader header;
    header.Signature = {'J', 'A', 'M', 0};
    header.Revision = 1;
    header.MessageNumber = static_cast<std::uint32_t>(n);
    header.AppendTo(&headers);
  }
  WriteBytes(base + ".jhr", headers);
  WriteBytes(base + ".jdx", index);
}

void MakeSquish(const std::string& base, int count) {
  {
    SquishBase squish;
    ASSERT_FALSE(squish.Create(base)) << base;
  }
  std::vector<std::uint8_t> data = ReadBytes(base + ".sqd");
  auto header = SquishBaseHeader::DecodeFrom(data);
  ASSERT_TRUE(header.has_value());
  header->num_msg = static_cast<std::uint32_t>(count);
  header->EncodeTo(data.data());
  std::vector<std::uint8_t> index;
  for (int n = 1; n <= count; ++n) {
    SquishIndexRecord record;
    record.umsg_id = static_cast<std::uint32_t>(n);
    record.AppendTo(&index);
  }
  WriteBytes(base + ".sqd", data);
  WriteBytes(base + ".sqi", index);
}

void MakePacket(const std::string& base, int count) {
  const std::string path = base + ".pkt";
  {
    PacketBase packet;
    ASSERT_FALSE(packet.Create(path)) << path;
  }
  std::vector<std::uint8_t> bytes = ReadBytes(path);
  ASSERT_GE(bytes.size(), 60u);
  bytes.resize(PacketHeader::kEncodedSize);  // drop the terminator
  for (int n = 1; n <= count; ++n) {
    PackedMsgHeader header;
    header.message_type = 2;
    header.AppendTo(&bytes);
    const std::string strings = std::string("All") + '\0' + "Sysop" + '\0' + "message " +
                                std::to_string(n) + '\0' + "text\r" + '\0';
    bytes.insert(bytes.end(), strings.begin(), strings.end());
  }
  PutFixed16(&bytes, 0);  // terminator
  WriteBytes(path, bytes);
}

}  // namespace

void MakeRawBase(char type, const std::string& base_path, int count) {
  switch (type) {
    case '!':
      MakeJam(base_path, count);
      break;
    case '$':
      MakeSquish(base_path, count);
      break;
    case 'P':
      MakePacket(base_path, count);
      break;
    default:
      ADD_FAILURE() << "no raw base of type " << type;
  }
}

}  // namespace qlr::testing
