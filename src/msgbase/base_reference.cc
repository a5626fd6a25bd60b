#include "msgbase/base_reference.h"

#include "msgbase/format_registry.h"

namespace qlr {
namespace {

bool IsTypeCharacter(char c) { return FindFormatByType(c) != nullptr; }

std::string DottedExtension(std::string_view path, PathStyle style) {
  // "." + the text after the last dot; empty when there is no extension.
  std::size_t dot = 0;
  if (!HasExtension(path, &dot, style)) return std::string();
  return "." + JustExtension(path, style);
}

// The type character a spec without one is given: that of the format its
// extension belongs to, or of the directory format when it has none.
char InferredType(std::string_view spec, PathStyle style) {
  const std::string extension = DottedExtension(spec, style);
  const FormatDescriptor* format =
      extension.empty() ? FindDirectoryFormat() : FindFormatByExtension(extension);
  if (format == nullptr || format->type_characters.empty()) return 0;
  return format->type_characters.front();
}

}  // namespace

std::string NormalizeBaseSpec(std::string_view spec, PathStyle style) {
  std::string result(spec);
  if (result.empty()) return result;
  const char type = IsTypeCharacter(result[0]) ? 0 : InferredType(result, style);
  if (FindFormatByExtension(DottedExtension(result, style)) != nullptr) {
    const std::string name = WholeFileName(result, style);
    result = AddBackslash(JustPathName(result, style), style) + name.substr(0, name.find('.'));
  }
  if (type == 0) return result;
  return type + result;
}

BaseReference ParseBaseReference(std::string_view spec) {
  BaseReference reference;
  reference.spec = NormalizeBaseSpec(spec, kHostPathStyle);
  if (reference.spec.empty()) return reference;
  reference.format = FindFormatByType(reference.spec[0]);
  if (reference.format == nullptr) return reference;
  reference.path = reference.spec.substr(1);
  reference.location = BaseLocation(*reference.format, reference.path);
  return reference;
}

}  // namespace qlr
