// Text templates: named macros and the built-in text functions.
//
// An expander rewrites a short string in place in two passes. First every
// macro is replaced by its value; then, when `process_functions` is set,
// calls such as @PAD{LEFT|0|8|1f} are evaluated, innermost first.
//
// Writing "@" directly before a macro name or a function call escapes it:
// the "@" is removed and the name (or call) stays literal text.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "support/collection.h"
#include "support/short_string.h"

namespace qlr {

// A text function: receives the argument text between the braces and
// returns the text that replaces the whole call.
using TextFunction = std::function<ShortString(std::string_view arguments)>;

// The built-in functions. Arguments are fields separated by "|" (a run of
// bars is one separator, so there are no empty fields).
//
// ALIGN|FILL|WIDTH|TEXT: TEXT padded with FILL, or cut, to WIDTH (0..255);
// ALIGN names the side that receives the fill or loses characters (LEFT,
// RIGHT, anything else centres).
ShortString PadFunction(std::string_view arguments);
// SEP|DIGITS: digit groups of three separated by the first character of
// SEP; DIGITS unchanged when it is not all decimal digits.
ShortString NumFunction(std::string_view arguments);
// WIDTH|NUMBER: NUMBER scaled down by 1024 through Kb, Mb and Gb until its
// text is within one character of WIDTH (or the number reaches 0).
ShortString SizeFunction(std::string_view arguments);

struct FunctionEntry {
  ShortString name;
  TextFunction routine;
};

// The registered text functions, in registration order. On equal positions
// a function registered earlier takes precedence.
class FunctionTable {
 public:
  FunctionTable() = default;
  virtual ~FunctionTable() = default;

  // Replaces the routine of an existing entry (names compared ignoring
  // case), or appends a new entry.
  void RegisterFunction(std::string_view name, TextFunction routine);

  std::int32_t Count() const { return entries_.ItemCount(); }
  // 0-based.
  const FunctionEntry& At(std::int32_t index) const { return entries_.ItemAt(index); }

 private:
  Collection<FunctionEntry> entries_{16, 16};
};

struct MacroEntry {
  ShortString name;  // as first defined
  ShortString upper_name;
  ShortString value;
  bool case_sensitive = false;
};

// Descending order of the upper-cased names: a name comes before every
// name that is a prefix of it, so @ArcNameX is replaced before @ArcName.
struct MacroOrder {
  int operator()(const MacroEntry& a, const MacroEntry& b) const;
};

class TemplateExpander {
 public:
  // Registers "@PAD", "@NUM" and "@SIZE", in that order.
  TemplateExpander();
  virtual ~TemplateExpander();
  TemplateExpander(const TemplateExpander&) = delete;
  TemplateExpander& operator=(const TemplateExpander&) = delete;

  // Defines a macro, or replaces the value and case rule of the macro with
  // the same name (compared ignoring case).
  void Define(std::string_view name, std::string_view value, bool case_sensitive);
  // Replaces the macros, then (when enabled) evaluates the function calls.
  void Expand(ShortString& s) const;

  void RegisterFunction(std::string_view name, TextFunction routine) {
    functions_.RegisterFunction(name, std::move(routine));
  }
  const FunctionTable& Functions() const { return functions_; }

  std::int32_t MacroCount() const { return macros_.ItemCount(); }
  // 0-based, in list (replacement) order.
  const MacroEntry& MacroAt(std::int32_t index) const { return macros_.ItemAt(index); }

  // Evaluate function calls after the macros.
  bool process_functions = true;

 private:
  void ReplaceMacro(const MacroEntry& macro, ShortString& s) const;
  void EvaluateCalls(ShortString& s) const;

  SortedCollection<MacroEntry, MacroOrder> macros_{16, 16};
  FunctionTable functions_;
};

}  // namespace qlr
