// The four binary records of a Squish base and the constants of the format.
//
// A Squish area is two files sharing one base path: ".sqd" holds a
// 256-byte base header followed by frames (a frame header, then for a
// message frame a message header, the control information and the text),
// ".sqi" holds one 12-byte index record per message in message-number
// order. Message frames form a doubly linked chain from BeginFrame to
// LastFrame; freed frames a second chain from FreeFrame to LastFreeFrame.
// All numbers are little-endian; file offsets are u32.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/coding.h"
namespace qlr {

inline constexpr std::uint32_t kSquishFrameId = 0xAFAE4453;  // bytes 53 44 AE AF

// FrameType values.
inline constexpr std::uint16_t kSquishMessageFrame = 0;
inline constexpr std::uint16_t kSquishFreeFrame = 1;

// The attribute bit that mirrors whether the message was read; the other
// bits are the common attribute set, stored unchanged.
inline constexpr std::uint32_t kSquishAttrRead = 0x00080000;

// What a new base starts with: the header's own size as its first frame
// offset and end, and ids that do not start at 0.
inline constexpr std::uint32_t kSquishFirstFrame = 256;
inline constexpr std::uint32_t kSquishFirstHighWater = 1;
inline constexpr std::uint32_t kSquishFirstUid = 2;

// Widths of the text fields of the message header.
inline constexpr std::size_t kSquishNameWidth = 36;
inline constexpr std::size_t kSquishSubjectWidth = 72;
inline constexpr std::size_t kSquishDateWidth = 20;
inline constexpr std::size_t kSquishReplyCount = 9;

// The base header at offset 0 of ".sqd" (256 bytes):
//   0: Len u16            2: reserved u16       4: NumMsg u32
//   8: HighMsg u32       12: SkipMsg u32       16: HighWater u32
//  20: Uid u32 (next unique id to hand out)    24: BaseName 80 bytes
// 104: BeginFrame        108: LastFrame        112: FreeFrame
// 116: LastFreeFrame     120: EndFrame (where the next frame is appended)
// 124: MaxMsg u32        128: KeepDays u16     130: SzFrameHeader u16
// 132: reserved 124 bytes
// BaseName, SkipMsg, MaxMsg, KeepDays and the reserved bytes are not
// interpreted; they are kept as read so that writing the header back
// preserves what other programs stored there.
struct SquishBaseHeader {
  static constexpr std::size_t kEncodedSize = 256;
  static constexpr std::size_t kBaseNameWidth = 80;
  static constexpr std::size_t kReservedTailWidth = 124;

  std::uint16_t len = 0;
  std::uint16_t reserved = 0;
  std::uint32_t num_msg = 0;
  std::uint32_t high_msg = 0;
  std::uint32_t skip_msg = 0;
  std::uint32_t high_water = 0;
  std::uint32_t uid = 0;
  std::array<std::uint8_t, kBaseNameWidth> base_name{};
  std::uint32_t begin_frame = 0;
  std::uint32_t last_frame = 0;
  std::uint32_t free_frame = 0;
  std::uint32_t last_free_frame = 0;
  std::uint32_t end_frame = 0;
  std::uint32_t max_msg = 0;
  std::uint16_t keep_days = 0;
  std::uint16_t sz_frame_header = 0;
  std::array<std::uint8_t, kReservedTailWidth> reserved_tail{};

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.len, s.reserved, s.num_msg, s.high_msg, s.skip_msg, s.high_water, s.uid,
              s.base_name, s.begin_frame, s.last_frame, s.free_frame, s.last_free_frame,
              s.end_frame, s.max_msg, s.keep_days, s.sz_frame_header, s.reserved_tail);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  static std::optional<SquishBaseHeader> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<SquishBaseHeader>(in);
  }
  friend bool operator==(const SquishBaseHeader&, const SquishBaseHeader&) = default;
};

// The header at the start of every frame (28 bytes):
//   0: FrameId u32 (kSquishFrameId)
//   4: NextFrame u32 (next frame of the same chain, 0 at the end)
//   8: PrevFrame u32 (previous frame of the same chain, 0 at the start)
//  12: FrameLength u32 (bytes of the frame after this header)
//  16: MsgLength u32 (bytes used: message header + control + text)
//  20: CtrlLength u32 (control information, its NUL included)
//  24: FrameType u16 (kSquishMessageFrame or kSquishFreeFrame)
//  26: reserved u16
struct SquishFrameHeader {
  static constexpr std::size_t kEncodedSize = 28;

  std::uint32_t frame_id = 0;
  std::uint32_t next_frame = 0;
  std::uint32_t prev_frame = 0;
  std::uint32_t frame_length = 0;
  std::uint32_t msg_length = 0;
  std::uint32_t ctrl_length = 0;
  std::uint16_t frame_type = 0;
  std::uint16_t reserved = 0;

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.frame_id, s.next_frame, s.prev_frame, s.frame_length, s.msg_length, s.ctrl_length,
              s.frame_type, s.reserved);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  static std::optional<SquishFrameHeader> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<SquishFrameHeader>(in);
  }
  friend bool operator==(const SquishFrameHeader&, const SquishFrameHeader&) = default;
};

// An FTN address as the message header stores it (8 bytes):
//   0: zone u16   2: net u16   4: node u16   6: point u16
struct SquishAddress {
  std::uint16_t zone = 0;
  std::uint16_t net = 0;
  std::uint16_t node = 0;
  std::uint16_t point = 0;

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.zone, s.net, s.node, s.point);
  }
  friend bool operator==(const SquishAddress&, const SquishAddress&) = default;
};

// The message header right after the frame header of a message frame
// (238 bytes):
//   0: Attr u32          4: From 36 chars     40: To 36 chars
//  76: Subj 72 chars   148: Orig address     156: Dest address
// 164: DateWritten u32 168: DateArrived u32  172: UtcOfs s16
// 174: ReplyTo u32     178: Replies 9 x u32  214: UMsgId u32
// 218: FtscDate 20 chars
// Text fields end with a NUL when shorter than their width; a text of the
// full width has none. Decoding keeps the characters before the first NUL;
// encoding writes zeros after it. The two dates are kept as stored: the
// DOS date word in the low half, the time word in the high half.
struct SquishMsgHeader {
  static constexpr std::size_t kEncodedSize = 238;

  std::uint32_t attr = 0;
  std::string from;
  std::string to;
  std::string subj;
  SquishAddress orig;
  SquishAddress dest;
  std::uint32_t date_written = 0;
  std::uint32_t date_arrived = 0;
  std::int16_t utc_ofs = 0;
  std::uint32_t reply_to = 0;
  std::array<std::uint32_t, kSquishReplyCount> replies{};
  std::uint32_t umsg_id = 0;
  std::string ftsc_date;

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.attr, TextField(s.from, kSquishNameWidth), TextField(s.to, kSquishNameWidth),
              TextField(s.subj, kSquishSubjectWidth), s.orig, s.dest, s.date_written,
              s.date_arrived, s.utc_ofs, s.reply_to, s.replies, s.umsg_id,
              TextField(s.ftsc_date, kSquishDateWidth));
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  static std::optional<SquishMsgHeader> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<SquishMsgHeader>(in);
  }
  friend bool operator==(const SquishMsgHeader&, const SquishMsgHeader&) = default;
};

// One record of ".sqi" (12 bytes); record N (from 1) is at (N - 1) * 12:
//   0: Offset u32 (the message's frame in ".sqd")
//   4: UMsgId u32
//   8: Hash u32 (SquishHash of the receiver name)
struct SquishIndexRecord {
  static constexpr std::size_t kEncodedSize = 12;

  std::uint32_t offset = 0;
  std::uint32_t umsg_id = 0;
  std::uint32_t hash = 0;

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.offset, s.umsg_id, s.hash);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  static std::optional<SquishIndexRecord> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<SquishIndexRecord>(in);
  }
  friend bool operator==(const SquishIndexRecord&, const SquishIndexRecord&) = default;
};

}  // namespace qlr
