// The binary records of a JAM base.
//
// A JAM base is three files sharing one base path:
//   .jhr  a JamBaseHeader at offset 0, then for each message a JamMsgHeader
//         immediately followed by its subfields (SubfieldLen bytes in all)
//   .jdt  the message texts, each at the TxtOffset of its header
//   .jdx  one JamIndexRecord per message number; record N (from 1) lies at
//         offset (N - 1) * 8
// Every number is little-endian and the records are packed without padding.
// Dates are u32 seconds since 1970-01-01 00:00:00 of the local clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "support/coding.h"
namespace qlr {

// "JAM" and NUL, at the start of the base header and of every message header.
inline constexpr std::array<std::uint8_t, 4> kJamSignature = {0x4A, 0x41, 0x4D, 0x00};
// The password CRC of a base or message without a password.
inline constexpr std::uint32_t kJamNoPassword = 0xFFFFFFFF;
// The revision written into message headers.
inline constexpr std::uint16_t kJamRevision = 1;

// JAM attribute bits (JamMsgHeader::Attribute).
inline constexpr std::uint32_t kJamAttrLocal = 0x00000001;
inline constexpr std::uint32_t kJamAttrInTransit = 0x00000002;
inline constexpr std::uint32_t kJamAttrPrivate = 0x00000004;
inline constexpr std::uint32_t kJamAttrRead = 0x00000008;  // read by addressee
inline constexpr std::uint32_t kJamAttrSent = 0x00000010;
inline constexpr std::uint32_t kJamAttrKillSent = 0x00000020;
inline constexpr std::uint32_t kJamAttrArchiveSent = 0x00000040;
inline constexpr std::uint32_t kJamAttrHold = 0x00000080;
inline constexpr std::uint32_t kJamAttrCrash = 0x00000100;
inline constexpr std::uint32_t kJamAttrImmediate = 0x00000200;
inline constexpr std::uint32_t kJamAttrDirect = 0x00000400;
inline constexpr std::uint32_t kJamAttrGate = 0x00000800;
inline constexpr std::uint32_t kJamAttrFileRequest = 0x00001000;
inline constexpr std::uint32_t kJamAttrFileAttach = 0x00002000;
inline constexpr std::uint32_t kJamAttrTruncFile = 0x00004000;  // truncate file when sent
inline constexpr std::uint32_t kJamAttrKillFile = 0x00008000;   // kill file when sent
inline constexpr std::uint32_t kJamAttrReceiptReq = 0x00010000;
inline constexpr std::uint32_t kJamAttrConfirmReq = 0x00020000;
inline constexpr std::uint32_t kJamAttrOrphan = 0x00040000;
inline constexpr std::uint32_t kJamAttrEncrypt = 0x00080000;
inline constexpr std::uint32_t kJamAttrCompress = 0x00100000;
inline constexpr std::uint32_t kJamAttrEscaped = 0x00200000;
inline constexpr std::uint32_t kJamAttrForcePickup = 0x00400000;
inline constexpr std::uint32_t kJamAttrTypeLocal = 0x00800000;
inline constexpr std::uint32_t kJamAttrTypeEcho = 0x01000000;
inline constexpr std::uint32_t kJamAttrTypeNet = 0x02000000;
inline constexpr std::uint32_t kJamAttrNoDisplay = 0x20000000;
inline constexpr std::uint32_t kJamAttrLocked = 0x40000000;
inline constexpr std::uint32_t kJamAttrDeleted = 0x80000000;

// The fixed header at offset 0 of ".jhr".
//   0: Signature     4 bytes "JAM" NUL
//   4: DateCreated   u32 seconds
//   8: ModCounter    u32, raised by every message write
//  12: ActiveMsgs    u32 messages not deleted
//  16: PasswordCrc   u32, kJamNoPassword
//  20: BaseMsgNum    u32 number of the first message (1)
//  24: Reserved      1000 bytes, zeros
struct JamBaseHeader {
  static constexpr std::size_t kEncodedSize = 1024;
  static constexpr std::size_t kReservedSize = 1000;

  std::array<std::uint8_t, 4> Signature{};
  std::uint32_t DateCreated = 0;
  std::uint32_t ModCounter = 0;
  std::uint32_t ActiveMsgs = 0;
  std::uint32_t PasswordCrc = 0;
  std::uint32_t BaseMsgNum = 0;
  std::array<std::uint8_t, kReservedSize> Reserved{};

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.Signature, s.DateCreated, s.ModCounter, s.ActiveMsgs, s.PasswordCrc, s.BaseMsgNum,
              s.Reserved);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  static std::optional<JamBaseHeader> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<JamBaseHeader>(in);
  }

  friend bool operator==(const JamBaseHeader&, const JamBaseHeader&) = default;
};

// The header of one message in ".jhr", followed by SubfieldLen bytes of
// subfields.
//   0: Signature      4 bytes "JAM" NUL
//   4: Revision       u16, 1
//   6: ReservedWord   u16, 0
//   8: SubfieldLen    u32 bytes of subfields after this header
//  12: TimesRead      u32
//  16: MsgIdCrc       u32 JamCrc of the MSGID value
//  20: ReplyCrc       u32 JamCrc of the REPLY value
//  24: ReplyTo        u32 number of the message answered
//  28: Reply1st       u32 number of the first reply
//  32: ReplyNext      u32 number of the next reply to the same message
//  36: DateWritten    u32 seconds
//  40: DateReceived   u32 seconds
//  44: DateProcessed  u32 seconds
//  48: MessageNumber  u32
//  52: Attribute      u32 kJamAttr* bits
//  56: Attribute2     u32, not interpreted
//  60: TxtOffset      u32 offset of the text in ".jdt"
//  64: TxtLen         u32 bytes of text
//  68: PasswordCrc    u32, kJamNoPassword
//  72: Cost           u32
struct JamMsgHeader {
  static constexpr std::size_t kEncodedSize = 76;

  std::array<std::uint8_t, 4> Signature{};
  std::uint16_t Revision = 0;
  std::uint16_t ReservedWord = 0;
  std::uint32_t SubfieldLen = 0;
  std::uint32_t TimesRead = 0;
  std::uint32_t MsgIdCrc = 0;
  std::uint32_t ReplyCrc = 0;
  std::uint32_t ReplyTo = 0;
  std::uint32_t Reply1st = 0;
  std::uint32_t ReplyNext = 0;
  std::uint32_t DateWritten = 0;
  std::uint32_t DateReceived = 0;
  std::uint32_t DateProcessed = 0;
  std::uint32_t MessageNumber = 0;
  std::uint32_t Attribute = 0;
  std::uint32_t Attribute2 = 0;
  std::uint32_t TxtOffset = 0;
  std::uint32_t TxtLen = 0;
  std::uint32_t PasswordCrc = 0;
  std::uint32_t Cost = 0;

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.Signature, s.Revision, s.ReservedWord, s.SubfieldLen, s.TimesRead, s.MsgIdCrc,
              s.ReplyCrc, s.ReplyTo, s.Reply1st, s.ReplyNext, s.DateWritten, s.DateReceived,
              s.DateProcessed, s.MessageNumber, s.Attribute, s.Attribute2, s.TxtOffset, s.TxtLen,
              s.PasswordCrc, s.Cost);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  static std::optional<JamMsgHeader> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<JamMsgHeader>(in);
  }

  friend bool operator==(const JamMsgHeader&, const JamMsgHeader&) = default;
};

// The subfield ids the library writes or interprets. The stored id is two
// u16 halves (LoId, HiId); they are taken together as one u32, so an id
// whose HiId is not 0 matches none of these.
enum JamSubfieldId : std::uint32_t {
  kJamSubOrigAddress = 0,
  kJamSubDestAddress = 1,
  kJamSubSenderName = 2,
  kJamSubReceiverName = 3,
  kJamSubMsgId = 4,
  kJamSubReplyId = 5,
  kJamSubSubject = 6,
  kJamSubPid = 7,
  kJamSubTrace = 8,  // read only
  kJamSubAttachedFile = 9,
  kJamSubAttachedFileAlias = 10,  // read only
  kJamSubRequestedFile = 11,
  kJamSubAttachedFileWildcard = 12,  // read only
  kJamSubIndirectAttachedFile = 13,  // read only
  kJamSubEmbeddedData = 1000,        // read only, handled as kJamSubKludge
  kJamSubKludge = 2000,              // a kludge line without its leading ^A
  kJamSubFlags = 2003,               // FLAGS value
};

// The head of one subfield; DatLen bytes of data follow it (the value's
// characters, no length byte, no terminator).
//   0: LoId    u16 \ together the u32 Id
//   2: HiId    u16 /
//   4: DatLen  u32 bytes of data
struct JamSubfieldHeader {
  static constexpr std::size_t kEncodedSize = 8;

  std::uint32_t Id = 0;
  std::uint32_t DatLen = 0;

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.Id, s.DatLen);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  static std::optional<JamSubfieldHeader> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<JamSubfieldHeader>(in);
  }

  friend bool operator==(const JamSubfieldHeader&, const JamSubfieldHeader&) = default;
};

// One record of ".jdx".
//   0: ToCrc      u32 JamCrc of the receiver name
//   4: HdrOffset  u32 offset of the message's JamMsgHeader in ".jhr"
// All eight bytes 0xFF mark a deleted message.
struct JamIndexRecord {
  static constexpr std::size_t kEncodedSize = 8;

  std::uint32_t ToCrc = 0;
  std::uint32_t HdrOffset = 0;

  // The record of a deleted message.
  static JamIndexRecord Deleted() { return JamIndexRecord{0xFFFFFFFF, 0xFFFFFFFF}; }
  bool IsDeleted() const { return ToCrc == 0xFFFFFFFF && HdrOffset == 0xFFFFFFFF; }

  template <typename Self, typename Io>
  static void Fields(Self& s, Io& io) {
    io.Fields(s.ToCrc, s.HdrOffset);
  }
  void EncodeTo(std::uint8_t* dst) const { EncodeRecord(*this, dst); }
  void AppendTo(std::vector<std::uint8_t>* out) const { AppendRecord(*this, out); }
  static std::optional<JamIndexRecord> DecodeFrom(std::span<const std::uint8_t> in) {
    return DecodeRecord<JamIndexRecord>(in);
  }

  friend bool operator==(const JamIndexRecord&, const JamIndexRecord&) = default;
};

}  // namespace qlr
