#include "msgbase/open_base.h"

#include <array>

#include "msgbase/msgdir/msgdir_base.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

// The type of a base by the extension of one of its files.
char TypeOfExtension(std::string_view upper_extension) {
  static constexpr std::array<std::pair<std::string_view, char>, 6> kKnown = {{
      {".JHR", '!'},
      {".JDT", '!'},
      {".JDX", '!'},
      {".SQD", '$'},
      {".SQI", '$'},
      {".PKT", 'P'},
  }};
  for (const auto& [extension, type] : kKnown) {
    if (upper_extension == extension) return type;
  }
  return 0;
}

bool IsTypeCharacter(char c) {
  const char upper = UpCaseChar(c);
  return upper == 'F' || upper == 'J' || upper == 'P' || upper == 'S' || upper == '#' ||
         upper == '$' || upper == '!';
}

ShortString DottedExtension(std::string_view path, PathStyle style) {
  // "." + the text after the last dot; empty when there is no extension.
  std::size_t dot = 0;
  if (!HasExtension(path, &dot, style)) return ShortString();
  return UpperStr("." + JustExtension(path, style));
}

BaseFormat FormatOfType(char type) {
  switch (UpCaseChar(type)) {
    case '#':
    case 'F':
      return BaseFormat::kMsgDir;
    case 'P':
      return BaseFormat::kPacket;
    case '$':
    case 'S':
      return BaseFormat::kSquish;
    case '!':
    case 'J':
      return BaseFormat::kJam;
    default:
      return BaseFormat::kNone;
  }
}

}  // namespace

ShortString NormalizeBaseSpec(std::string_view spec, PathStyle style) {
  ShortString result(spec);
  if (result.empty()) return result;
  if (!IsTypeCharacter(result[0])) {
    const ShortString extension = DottedExtension(result, style);
    if (extension.empty()) {
      result = "#" + result;
    } else if (const char type = TypeOfExtension(extension); type != 0) {
      result = ShortString(std::string_view(&type, 1)) + result;
    }
  }
  if (TypeOfExtension(DottedExtension(result, style)) != 0) {
    // The type character stays in front: it is part of the first component.
    result = AddBackslash(JustPathName(result, style), style) + JustName(result, style);
  }
  return result;
}

ParsedBaseSpec ParseBaseSpec(std::string_view spec) {
  ParsedBaseSpec parsed;
  const ShortString normal = NormalizeBaseSpec(spec);
  if (normal.empty()) return parsed;
  parsed.format = FormatOfType(normal[0]);
  parsed.path = normal.view().substr(1);
  return parsed;
}

ShortString BaseFilePath(std::string_view path) {
  return AddBackslash(JustPathName(path)) + JustFileName(path);
}

std::unique_ptr<MessageBase> OpenBase(std::string_view spec) {
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  std::unique_ptr<MessageBase> base;
  bool failed = true;
  switch (parsed.format) {
    case BaseFormat::kMsgDir:
      base = std::make_unique<MsgDirBase>();
      failed = base->Open(AddBackslash(parsed.path) + "*.msg");
      break;
    case BaseFormat::kPacket:
    case BaseFormat::kSquish:
    case BaseFormat::kJam:
      // These formats cannot be opened by this build yet; their files can
      // still be copied.
    case BaseFormat::kNone:
      return nullptr;
  }
  // A format may report success although its directory could not be made;
  // such a base would count 0 messages for a base that does not exist.
  if (failed || base->State() == BaseState::kClosed) return nullptr;
  return base;
}

}  // namespace qlr
