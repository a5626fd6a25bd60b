// Message status flags: the attribute bits of Message::Attr and the words
// of the FLAGS kludge.
//
// The low 16 bits of Attr are the FTS-0001 attribute word that *.MSG files
// and packets store; Squish and JAM carry more. Some attributes exist only
// as FLAGS words ("DIR", "IMM", ...) and live in Message::ExtFlags. Every
// FLAGS name is three letters and a blank, so a word matches wherever those
// four characters occur, also at the end of a longer word.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qlr {

// Attribute bits of Message::Attr.
inline constexpr std::uint32_t kAttrPrivate = 0x0001;
inline constexpr std::uint32_t kAttrCrash = 0x0002;
inline constexpr std::uint32_t kAttrReceived = 0x0004;
inline constexpr std::uint32_t kAttrSent = 0x0008;
inline constexpr std::uint32_t kAttrFileAttached = 0x0010;
inline constexpr std::uint32_t kAttrInTransit = 0x0020;
inline constexpr std::uint32_t kAttrOrphan = 0x0040;
inline constexpr std::uint32_t kAttrKillSent = 0x0080;
inline constexpr std::uint32_t kAttrLocal = 0x0100;
inline constexpr std::uint32_t kAttrHold = 0x0200;
// 0x0400 is unused by FTS-0001 and never touched by the synchronisation.
inline constexpr std::uint32_t kAttrFileRequest = 0x0800;
inline constexpr std::uint32_t kAttrReceiptRequest = 0x1000;
inline constexpr std::uint32_t kAttrIsReceipt = 0x2000;
inline constexpr std::uint32_t kAttrAuditRequest = 0x4000;
inline constexpr std::uint32_t kAttrUpdateRequest = 0x8000;
// Carried through Squish unchanged, without a FLAGS name.
inline constexpr std::uint32_t kAttrCarried16 = 0x00010000;
inline constexpr std::uint32_t kAttrCarried17 = 0x00020000;
inline constexpr std::uint32_t kAttrDeleted = 0x80000000;

// The bit of each Message::AttrFlags entry, in index order.
inline constexpr std::array<std::uint32_t, 18> kAttrMasks = {
    kAttrPrivate,     kAttrCrash,          kAttrReceived,  kAttrSent,         kAttrFileAttached,
    kAttrInTransit,   kAttrOrphan,         kAttrKillSent,  kAttrLocal,        kAttrHold,
    kAttrFileRequest, kAttrReceiptRequest, kAttrIsReceipt, kAttrAuditRequest, kAttrUpdateRequest,
    kAttrCarried16,   kAttrCarried17,      kAttrDeleted};

// Indices of Message::ExtFlags: attributes that exist only as FLAGS words.
enum ExtFlag : std::size_t {
  kExtArchiveSent = 0,     // A/s
  kExtDirect = 1,          // Dir
  kExtZoneGate = 2,        // Zon
  kExtHubRoute = 3,        // Hub
  kExtImmediate = 4,       // Imm
  kExtXmail = 5,           // Xma
  kExtKillFileSent = 6,    // Kfs
  kExtTruncFileSent = 7,   // Tfs
  kExtLock = 8,            // Lok
  kExtConfirmRequest = 9,  // Cfm
};

// The FLAGS names, each with its trailing blank: first the 15 attribute
// bits (the first 15 entries of kAttrMasks), then the 10 ExtFlags, then
// "Dum ", which is only ever removed from a FLAGS text.
inline constexpr std::array<std::string_view, 26> kFlagsNames = {
    "Pvt ", "Cra ", "Rcv ", "Snt ", "Att ", "Trs ", "Orp ", "K/s ", "Loc ",
    "Hld ", "FRq ", "RRq ", "RRc ", "ARq ", "URq ", "A/s ", "Dir ", "Zon ",
    "Hub ", "Imm ", "Xma ", "Kfs ", "Tfs ", "Lok ", "Cfm ", "Dum "};

inline constexpr std::size_t kNamedAttrCount = 15;
inline constexpr std::size_t kFirstExtFlagName = kNamedAttrCount;
inline constexpr std::size_t kExtFlagCount = 10;

}  // namespace qlr
