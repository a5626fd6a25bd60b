#include "msgbase/jam/jam_attributes.h"

#include <array>
#include <cstddef>
#include <string_view>

#include "msgbase/jam/jam_records.h"
#include "msgbase/message_attributes.h"
#include "util/strings.h"

namespace qlr {
namespace {

struct AttrBit {
  std::uint32_t message;  // bit of Message::Attr
  std::uint32_t jam;
};

// Used in both directions. RRc (is a return receipt) has no JAM bit:
// 0x00020000 asks for a confirmation receipt, the Cfm word below.
constexpr std::array<AttrBit, 13> kAttrBits = {{
    {kAttrPrivate, kJamAttrPrivate},
    {kAttrCrash, kJamAttrCrash},
    {kAttrReceived, kJamAttrRead},
    {kAttrSent, kJamAttrSent},
    {kAttrFileAttached, kJamAttrFileAttach},
    {kAttrInTransit, kJamAttrInTransit},
    {kAttrOrphan, kJamAttrOrphan},
    {kAttrKillSent, kJamAttrKillSent},
    {kAttrLocal, kJamAttrLocal},
    {kAttrHold, kJamAttrHold},
    {kAttrFileRequest, kJamAttrFileRequest},
    {kAttrReceiptRequest, kJamAttrReceiptReq},
    {kAttrDeleted, kJamAttrDeleted},
}};

struct ExtBit {
  ExtFlag flag;
  std::uint32_t jam;
  std::string_view word;  // appended to Flags when reading
};

// In the order their words are appended when reading.
constexpr std::array<ExtBit, 7> kExtBits = {{
    {kExtArchiveSent, kJamAttrArchiveSent, "A/s "},
    {kExtDirect, kJamAttrDirect, "Dir "},
    {kExtImmediate, kJamAttrImmediate, "Imm "},
    {kExtKillFileSent, kJamAttrKillFile, "Kfs "},
    {kExtLock, kJamAttrLocked, "Lok "},
    {kExtTruncFileSent, kJamAttrTruncFile, "Tfs "},
    {kExtConfirmRequest, kJamAttrConfirmReq, "Cfm "},
}};

}  // namespace

std::uint32_t JamAttributeOf(const Message& message) {
  std::uint32_t attribute = 0;
  for (const AttrBit& bit : kAttrBits) {
    if (message.TestAttr(bit.message)) attribute |= bit.jam;
  }
  for (const ExtBit& bit : kExtBits) {
    if (message.ExtFlags[bit.flag]) attribute |= bit.jam;
  }
  // The local message type is never claimed: a message this library
  // writes is either echomail or netmail.
  attribute |= message.Area.empty() ? kJamAttrTypeNet : kJamAttrTypeEcho;
  return attribute;
}

void ApplyJamAttribute(std::uint32_t attribute, Message& message) {
  message.Attr = 0;
  for (const AttrBit& bit : kAttrBits) {
    if ((attribute & bit.jam) != 0) message.SetAttr(true, bit.message);
  }
  ShortString flags = message.Flags + " ";
  for (const ExtBit& bit : kExtBits) {
    if ((attribute & bit.jam) != 0) flags += bit.word;
  }
  message.Flags = TrimSet(flags, kBlanks);
}

}  // namespace qlr
