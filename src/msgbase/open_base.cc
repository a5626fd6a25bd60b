#include "msgbase/open_base.h"

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

std::unique_ptr<MessageBase> Fail(OpenFailure why, OpenFailure* failure) {
  if (failure != nullptr) *failure = why;
  return nullptr;
}

}  // namespace

ShortString NormalizeBaseSpec(std::string_view spec, PathStyle style) {
  ShortString result(spec);
  if (result.empty()) return result;
  if (!IsTypeCharacter(result[0])) {
    if (const char type = InferredType(result, style); type != 0) {
      result = ShortString(std::string_view(&type, 1)) + result;
    }
  }
  if (FindFormatByExtension(DottedExtension(result, style)) != nullptr) {
    // The type character stays in front: it is part of the first component.
    result = AddBackslash(JustPathName(result, style), style) + JustName(result, style);
  }
  return result;
}

ParsedBaseSpec ParseBaseSpec(std::string_view spec) {
  ParsedBaseSpec parsed;
  const ShortString normal = NormalizeBaseSpec(spec);
  if (normal.empty()) return parsed;
  parsed.format = FindFormatByType(normal[0]);
  parsed.path = normal.view().substr(1);
  return parsed;
}

std::unique_ptr<MessageBase> OpenBase(std::string_view spec, OpenFailure* failure) {
  if (failure != nullptr) *failure = OpenFailure::kNone;
  const ParsedBaseSpec parsed = ParseBaseSpec(spec);
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
        if (ExistingFilesOfSet(format, location) != 0) {
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
  if (failed && base->State() == BaseState::kOpenError) {
    return Fail(OpenFailure::kUnreadable, failure);
  }
  // A format may report success although its directory could not be made;
  // such a base would count 0 messages for a base that does not exist.
  if (failed || base->State() == BaseState::kClosed) return Fail(OpenFailure::kNotOpened, failure);
  return base;
}

}  // namespace qlr
