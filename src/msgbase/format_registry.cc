#include "msgbase/format_registry.h"

#include "util/paths.h"
#include "util/strings.h"

namespace qlr {
namespace {

std::span<const FormatDescriptor* const> g_formats;

}  // namespace

void InstallFormats(std::span<const FormatDescriptor* const> formats) { g_formats = formats; }

std::span<const FormatDescriptor* const> AllFormats() { return g_formats; }

const FormatDescriptor* FindFormatByType(char type) {
  const char upper = UpCaseChar(type);
  for (const FormatDescriptor* format : g_formats) {
    if (format->type_characters.find(upper) != std::string_view::npos) return format;
  }
  return nullptr;
}

const FormatDescriptor* FindFormatByExtension(std::string_view extension) {
  if (extension.empty()) return nullptr;
  const ShortString upper = UpperStr(extension);
  for (const FormatDescriptor* format : g_formats) {
    for (std::string_view known : format->extensions) {
      if (UpperStr(known) == upper) return format;
    }
  }
  return nullptr;
}

const FormatDescriptor* FindDirectoryFormat() {
  for (const FormatDescriptor* format : g_formats) {
    if (format->layout == FileLayout::kDirectory) return format;
  }
  return nullptr;
}

std::string BaseFilePath(std::string_view path) {
  return AddBackslash(JustPathName(path)) + WholeFileName(path);
}

std::string BaseLocation(const FormatDescriptor& format, std::string_view path) {
  return format.layout == FileLayout::kDirectory ? AddBackslash(path) : BaseFilePath(path);
}

}  // namespace qlr
