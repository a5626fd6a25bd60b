#include "msgbase/open_base.h"

#include <algorithm>
#include <optional>

#include "msgbase/file_set_check.h"
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

// The path the format's Open and Create take.
ShortString OpenPath(const FormatDescriptor& format, std::string_view location) {
  if (format.layout == FileLayout::kDirectory) return location + ShortString(format.message_mask);
  return location + ShortString(format.open_extension);
}

// Whether the first file of a file-set base exists.
bool FirstFileExists(const FormatDescriptor& format, std::string_view location) {
  return !format.extensions.empty() && FileExists(FileOfSet(location, format.extensions.front()));
}

// The base's key file is gone but others of its set are there (a .jdt
// full of texts beside a missing .jhr): creating it would truncate them.
bool KeyFileLost(const FormatDescriptor& format, std::string_view location) {
  return !FirstFileExists(format, location) && ExistingFilesOfSet(format, location) != 0;
}

std::unique_ptr<MessageBase> Fail(OpenFailure why, OpenFailure* failure) {
  if (failure != nullptr) *failure = why;
  return nullptr;
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
  std::size_t longest = std::max(
      {format.message_mask.size(), format.open_extension.size(), format.lock_extension.size()});
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

std::unique_ptr<MessageBase> OpenBase(std::string_view spec, OpenFailure* failure, Status* why) {
  if (failure != nullptr) *failure = OpenFailure::kNone;
  if (why != nullptr) *why = Status();
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  // A base whose files cannot be named whole may well exist, full of
  // messages nobody can count from here.
  if (parsed.too_long) return Fail(OpenFailure::kUnreadable, failure);
  // A format without a constructor cannot be opened by this build; its
  // files can still be copied.
  if (parsed.format == nullptr || parsed.format->construct == nullptr) {
    return Fail(OpenFailure::kNotOpened, failure);
  }
  const FormatDescriptor& format = *parsed.format;
  std::unique_ptr<MessageBase> base = format.construct();
  const ShortString location = BaseLocation(format, parsed.path);
  const ShortString path = OpenPath(format, location);
  bool failed = true;
  switch (format.open_rule) {
    case OpenRule::kOpen:
      failed = base->Open(path);
      break;
    case OpenRule::kOpenElseCreate:
      failed = FirstFileExists(format, location) ? base->Open(path) : base->Create(path);
      break;
    case OpenRule::kCreateThenOpen:
      if (!FirstFileExists(format, location)) {
        // Creating truncates every file of the set. With the key file gone
        // but others there (a .jdt full of texts beside a missing .jhr)
        // that would destroy messages before any copy of them exists: such
        // a base is left alone and reported.
        if (KeyFileLost(format, location)) {
          return Fail(OpenFailure::kUnreadable, failure);
        }
        // Only the last call decides: Open reports what Create left.
        (void)base->Create(path);
      }
      failed = base->Open(path);
      break;
  }
  // A base that is there but whose files the format refused cannot be
  // counted. (A packet reports success in state OpenError when it is
  // merely empty: that base is returned and counts 0.)
  if (failed && why != nullptr) *why = base->LastError();
  if (failed && base->State() == BaseState::kOpenError) {
    return Fail(OpenFailure::kUnreadable, failure);
  }
  // A format may report success although its directory could not be made;
  // such a base would count 0 messages for a base that does not exist.
  if (failed || base->State() == BaseState::kClosed) return Fail(OpenFailure::kNotOpened, failure);
  return base;
}

ShortString BaseDirectoryOf(const FormatDescriptor& format, std::string_view path) {
  return AddBackslash(JustPathName(OpenPath(format, BaseLocation(format, path))));
}

OpenCourse ForeseeOpenBase(std::string_view spec) {
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
  if (parsed.too_long) return OpenCourse::kUnreadable;
  if (parsed.format == nullptr || parsed.format->construct == nullptr) {
    return OpenCourse::kNotOpened;
  }
  const FormatDescriptor& format = *parsed.format;
  const ShortString location = BaseLocation(format, parsed.path);
  switch (format.open_rule) {
    case OpenRule::kOpen:
      // Open itself makes the directory that holds the base's files.
      return DirExists(BaseDirectoryOf(format, parsed.path)) ? OpenCourse::kOpen
                                                             : OpenCourse::kCreate;
    case OpenRule::kOpenElseCreate:
      return FirstFileExists(format, location) ? OpenCourse::kOpen : OpenCourse::kCreate;
    case OpenRule::kCreateThenOpen:
      if (FirstFileExists(format, location)) return OpenCourse::kOpen;
      return KeyFileLost(format, location) ? OpenCourse::kUnreadable : OpenCourse::kCreate;
  }
  return OpenCourse::kNotOpened;
}

}  // namespace qlr
