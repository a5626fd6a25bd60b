#include "msgbase/open_base.h"

#include <algorithm>
#include <optional>

#include "util/files.h"
#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

bool IsTypeCharacter(char c) { return FindFormatByType(c) != nullptr; }

ShortString DottedExtension(std::string_view path, PathStyle style) {
  // "." + the text after the last dot; empty when there is no extension.
  std::size_t dot = 0;
  if (!HasExtension(path, &dot, style)) return ShortString();
  return "." + JustExtension(path, style);
}

// The type character a spec without one is given: that of the format its
// extension belongs to, or of the directory format when it has none.
char InferredType(std::string_view spec, PathStyle style) {
  const ShortString extension = DottedExtension(spec, style);
  const FormatDescriptor* format =
      extension.empty() ? FindDirectoryFormat() : FindFormatByExtension(extension);
  if (format == nullptr || format->type_characters.empty()) return 0;
  return format->type_characters.front();
}

}  // namespace

namespace {

// NormalizeBaseSpec, or nothing when the result would not fit a short
// string. The extension is dropped before the type character is put in
// front, so that a spec of 255 characters with a known extension still
// fits once it has lost it.
std::optional<ShortString> NormalizeWhole(std::string_view spec, PathStyle style) {
  if (!FitsShortString(spec)) return std::nullopt;
  ShortString result(spec);
  if (result.empty()) return result;
  const char type = IsTypeCharacter(result[0]) ? 0 : InferredType(result, style);
  if (FindFormatByExtension(DottedExtension(result, style)) != nullptr) {
    const ShortString name = WholeFileName(result, style);
    result = AddBackslash(JustPathName(result, style), style) +
             ShortString(name.view().substr(0, name.view().find('.')));
  }
  if (type == 0) return result;
  return WholePath({std::string_view(&type, 1), result});
}

// The longest text a format appends to a base's location to name one of
// its files (an extension, or the mask of its message files).
std::size_t LongestSuffix(const FormatDescriptor& format) {
  std::size_t longest = std::max(format.message_mask.size(), format.lock_extension.size());
  for (std::string_view extension : format.extensions) {
    longest = std::max(longest, extension.size());
  }
  return longest;
}

// True when every file of the base at `path` can be named whole.
bool FileNamesFit(const FormatDescriptor& format, std::string_view path) {
  std::size_t location = path.size();
  if (format.layout == FileLayout::kDirectory && AddBackslash(path).size() == path.size() + 1) {
    ++location;  // the separator BaseLocation adds
  }
  return location + LongestSuffix(format) <= ShortString::kMax;
}

}  // namespace

ShortString NormalizeBaseSpec(std::string_view spec, PathStyle style) {
  return NormalizeWhole(spec, style).value_or(ShortString());
}

ParsedBaseSpec ParseBaseSpec(std::string_view spec) {
  ParsedBaseSpec parsed;
  const std::optional<ShortString> normal = NormalizeWhole(spec, kHostPathStyle);
  if (!normal) {
    parsed.too_long = true;
    return parsed;
  }
  if (normal->empty()) return parsed;
  parsed.format = FindFormatByType((*normal)[0]);
  parsed.path = normal->view().substr(1);
  if (parsed.format != nullptr && !FileNamesFit(*parsed.format, parsed.path)) {
    parsed.format = nullptr;
    parsed.too_long = true;
  }
  return parsed;
}

Status OpenBase(std::string_view spec, std::unique_ptr<MessageBase>* base) {
  base->reset();
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  // A base whose files cannot be named whole may well exist, full of
  // messages nobody can count from here.
  if (parsed.too_long) {
    return Status(StatusKind::kCorruption, "", "a file of the base passes 255 characters");
  }
  // A format without an opener cannot be opened by this build; its files
  // can still be copied.
  if (parsed.format == nullptr || parsed.format->open == nullptr) {
    return Status(StatusKind::kInvalidArgument, "", "");
  }
  return parsed.format->open(BaseLocation(*parsed.format, parsed.path), base);
}

std::unique_ptr<MessageBase> OpenBase(std::string_view spec) {
  std::unique_ptr<MessageBase> base;
  (void)OpenBase(spec, &base);
  return base;
}

ShortString BaseDirectoryOf(const FormatDescriptor& format, std::string_view path) {
  const ShortString location = BaseLocation(format, path);
  // The directory of a file set's files, or the directory of messages.
  return AddBackslash(JustPathName(format.layout == FileLayout::kDirectory
                                       ? location + ShortString(format.message_mask)
                                       : location));
}

OpenCourse ForeseeOpenBase(std::string_view spec) {
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  if (parsed.too_long) return OpenCourse::kUnreadable;
  if (parsed.format == nullptr || parsed.format->foresee == nullptr) {
    return OpenCourse::kNotOpened;
  }
  return parsed.format->foresee(BaseLocation(*parsed.format, parsed.path));
}

}  // namespace qlr
