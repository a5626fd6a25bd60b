// The template expander: lines "=NAME VALUE" define macros, every other
// line is expanded; each line also goes to the three text functions.
#include <cctype>

#include "harnesses.h"
#include "util/template_expander.h"

namespace qlr::fuzz {

int FuzzTemplateExpander(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty()) return 0;
  const auto options = static_cast<std::uint8_t>(bytes.front());
  bytes.remove_prefix(1);
  TemplateExpander expander;
  expander.process_functions = (options & 1) != 0;
  const bool case_sensitive = (options & 2) != 0;
  // A function of the caller's own, so that calls nest through more than
  // the built-in ones.
  expander.RegisterFunction("@UP", [](std::string_view arguments) {
    ShortString out(arguments);
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
    }
    return out;
  });
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    const std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    (void)PadFunction(line);
    (void)NumFunction(line);
    (void)SizeFunction(line);
    if (!line.empty() && line.front() == '=') {
      const std::string_view definition = line.substr(1);
      const std::size_t blank = definition.find(' ');
      const std::string_view name = definition.substr(0, blank);
      const std::string_view value =
          blank == std::string_view::npos ? std::string_view() : definition.substr(blank + 1);
      expander.Define(name, value, case_sensitive);
      continue;
    }
    ShortString text(line);
    expander.Expand(text);
  }
  for (std::int32_t i = 0; i < expander.MacroCount(); ++i) (void)expander.MacroAt(i);
  return 0;
}

}  // namespace qlr::fuzz
