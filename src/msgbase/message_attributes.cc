// Message::SyncAttributes: moves status flags between the FLAGS kludge
// text and the attribute fields of a message.
#include "msgbase/message_attributes.h"

#include "msgbase/message.h"
#include "util/strings.h"

namespace qlr {
namespace {

// 0-based position of `name` in `text`, both compared upper-cased.
std::size_t FindName(std::string_view upper_text, std::string_view name) {
  return upper_text.find(UpperStr(name).view());
}

bool HasName(std::string_view upper_text, std::string_view name) {
  return FindName(upper_text, name) != std::string_view::npos;
}

// Reading: FLAGS words become attribute bits and ExtFlags; words that name
// nothing the library knows are kept in OtherFlags.
void FromFlagsText(Message& m) {
  // Every name ends with a blank; so must the last word of the text.
  m.Flags += ' ';
  ShortString upper = UpperStr(m.Flags);
  for (std::size_t i = 0; i < kNamedAttrCount; ++i) {
    // Only set: a bit the header already carries stays.
    if (HasName(upper, kFlagsNames[i])) m.SetAttr(true, kAttrMasks[i]);
  }
  for (std::size_t i = 0; i < kExtFlagCount; ++i) {
    m.ExtFlags[i] = HasName(upper, kFlagsNames[kFirstExtFlagName + i]);
  }
  for (std::string_view name : kFlagsNames) {
    for (std::size_t at = FindName(upper, name); at != std::string_view::npos;
         at = FindName(upper, name)) {
      const int index = static_cast<int>(at) + 1;
      DeleteChars(m.Flags, index, static_cast<int>(name.size()));
      DeleteChars(upper, index, static_cast<int>(name.size()));
    }
  }
  m.OtherFlags = TrimBlanks(m.Flags);
  m.Flags.clear();
  for (std::size_t i = 0; i < kAttrMasks.size(); ++i) m.AttrFlags[i] = m.TestAttr(kAttrMasks[i]);
}

// Writing: AttrFlags decides every named bit, and the FLAGS text carries
// the ExtFlags, then the words the library does not know (OtherFlags), so
// that a message read and written again keeps every FLAGS word.
void ToFlagsText(Message& m) {
  for (std::size_t i = 0; i < kAttrMasks.size(); ++i) m.SetAttr(m.AttrFlags[i], kAttrMasks[i]);
  m.Flags.clear();
  for (std::size_t i = 0; i < kExtFlagCount; ++i) {
    if (m.ExtFlags[i]) m.Flags += UpperStr(kFlagsNames[kFirstExtFlagName + i]);
  }
  // Drop the blank after the last word; an empty text means no FLAGS line.
  if (!m.Flags.empty()) m.Flags.truncate(m.Flags.size() - 1);
  const ShortString other = TrimBlanks(m.OtherFlags);
  if (!other.empty()) m.Flags = m.Flags.empty() ? other : m.Flags + " " + other;
}

}  // namespace

void Message::SyncAttributes(bool from_flags) {
  if (from_flags) {
    FromFlagsText(*this);
  } else {
    ToFlagsText(*this);
  }
}

}  // namespace qlr
