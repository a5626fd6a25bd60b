// Macro replacement and function-call evaluation over short strings.
#include "util/template_expander.h"

#include <memory>
#include <string>
#include <vector>

#include "util/strings.h"

namespace qlr {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The built-in functions never return a "}", so every evaluation consumes
// one "}" of a text of at most 255 characters. A routine registered from
// elsewhere could keep producing calls; this bound stops that.
constexpr int kMaxEvaluations = 255;

// Deletes `count` characters at the 0-based `pos` and inserts `with` there;
// the result is cut at 255 characters.
void ReplaceAt(ShortString& s, std::size_t pos, std::size_t count, std::string_view with) {
  DeleteChars(s, static_cast<int>(pos) + 1, static_cast<int>(count));
  // InsertChars with an empty source would be a no-op anyway; skipping it
  // keeps positions past the end well defined.
  if (!with.empty()) InsertChars(with, s, static_cast<int>(pos) + 1);
}

// The text under evaluation with one mark per character: a marked position
// starts a call that stays literal (escaped, or without its closing brace).
class CallText {
 public:
  explicit CallText(ShortString& s) : text_(s), literal_(s.size(), false) {}

  ShortString& text() { return text_; }
  bool IsLiteral(std::size_t pos) const { return pos < literal_.size() && literal_[pos]; }
  void MarkLiteral(std::size_t pos) {
    if (pos < literal_.size()) literal_[pos] = true;
  }

  void Replace(std::size_t pos, std::size_t count, std::string_view with) {
    ReplaceAt(text_, pos, count, with);
    literal_.erase(literal_.begin() + static_cast<std::ptrdiff_t>(pos),
                   literal_.begin() + static_cast<std::ptrdiff_t>(pos + count));
    literal_.insert(literal_.begin() + static_cast<std::ptrdiff_t>(pos), with.size(), false);
    literal_.resize(text_.size());
  }

 private:
  ShortString& text_;
  std::vector<bool> literal_;
};

struct CallSite {
  std::int32_t function = -1;  // index in the function table
  std::size_t name_pos = kNone;
  std::size_t brace_pos = kNone;
};

// The call whose "{" stands furthest to the right, skipping literal ones;
// on equal positions the function registered first wins.
CallSite FindRightmostCall(const FunctionTable& functions, const CallText& text,
                           std::string_view upper) {
  CallSite best;
  for (std::int32_t i = 0; i < functions.Count(); ++i) {
    const ShortString name = UpperStr(functions.At(i).name);
    if (name.empty()) continue;  // an empty name would match every "{"
    std::string key(name.view());
    key += '{';
    std::size_t pos = upper.rfind(key);
    while (pos != kNone && text.IsLiteral(pos)) {
      pos = pos == 0 ? kNone : upper.rfind(key, pos - 1);
    }
    if (pos == kNone) continue;
    const std::size_t brace = pos + name.size();
    if (best.brace_pos == kNone || brace > best.brace_pos) {
      best = CallSite{i, pos, brace};
    }
  }
  return best;
}

}  // namespace

int MacroOrder::operator()(const MacroEntry& a, const MacroEntry& b) const {
  // char_traits<char> compares bytes as unsigned values.
  const int c = a.upper_name.view().compare(b.upper_name.view());
  if (c == 0) return 0;
  return c < 0 ? 1 : -1;  // descending
}

void FunctionTable::RegisterFunction(std::string_view name, TextFunction routine) {
  const ShortString upper = UpperStr(name);
  for (const auto& entry : entries_) {
    if (UpperStr(entry->name) == upper) {
      entry->routine = std::move(routine);
      return;
    }
  }
  auto entry = std::make_unique<FunctionEntry>();
  entry->name = name;
  entry->routine = std::move(routine);
  entries_.Insert(std::move(entry));
}

TemplateExpander::TemplateExpander() {
  RegisterFunction("@PAD", PadFunction);
  RegisterFunction("@NUM", NumFunction);
  RegisterFunction("@SIZE", SizeFunction);
}

TemplateExpander::~TemplateExpander() = default;

void TemplateExpander::Define(std::string_view name, std::string_view value, bool case_sensitive) {
  auto entry = std::make_unique<MacroEntry>();
  entry->name = name;
  entry->upper_name = UpperStr(entry->name);
  entry->value = value;
  entry->case_sensitive = case_sensitive;
  std::int32_t index = 0;
  if (macros_.FindKey(*entry, &index)) {
    MacroEntry& existing = macros_.ItemAt(index);
    existing.value = entry->value;
    existing.case_sensitive = case_sensitive;
    return;
  }
  macros_.Insert(std::move(entry));
}

void TemplateExpander::Expand(ShortString& s) const {
  for (const auto& macro : macros_) ReplaceMacro(*macro, s);
  if (process_functions) EvaluateCalls(s);
}

// W is the text searched: S itself, or S upper-cased for a macro that
// ignores case. Both are edited in step so positions stay the same.
//
// The search only moves forward. Text before the cursor is final: an
// escaped occurrence is skipped for good while later occurrences of the
// same name are still replaced, and a value that contains its own name is
// not searched again (which would never end).
void TemplateExpander::ReplaceMacro(const MacroEntry& macro, ShortString& s) const {
  if (macro.name.empty()) return;
  const std::string_view name = macro.case_sensitive ? macro.name.view() : macro.upper_name.view();
  ShortString w = macro.case_sensitive ? s : UpperStr(s);
  std::size_t from = 0;
  // End of the last non-empty value inserted: an "@" just before that
  // point was put there by the replacement and does not escape.
  std::size_t inserted_end = kNone;
  for (;;) {
    const std::size_t p = w.view().find(name, from);
    if (p == kNone) return;
    if (p > 0 && s[p - 1] == '@' && p != inserted_end) {
      ReplaceAt(s, p - 1, 1, {});
      ReplaceAt(w, p - 1, 1, {});
      from = p - 1 + name.size();
      inserted_end = kNone;
      continue;
    }
    ReplaceAt(s, p, name.size(), macro.value.view());
    ReplaceAt(w, p, name.size(), macro.value.view());
    from = p + macro.value.size();
    inserted_end = macro.value.empty() ? kNone : from;
    if (from >= s.size()) return;
  }
}

void TemplateExpander::EvaluateCalls(ShortString& s) const {
  CallText text(s);
  int evaluations = 0;
  while (evaluations < kMaxEvaluations) {
    const ShortString upper = UpperStr(text.text());
    const CallSite call = FindRightmostCall(functions_, text, upper.view());
    if (call.function < 0) return;
    if (call.name_pos > 0 && text.text()[call.name_pos - 1] == '@') {
      // Escaped: drop one "@"; the call itself stays as written.
      text.Replace(call.name_pos - 1, 1, {});
      text.MarkLiteral(call.name_pos - 1);
      continue;
    }
    const std::size_t close = text.text().view().find('}', call.brace_pos + 1);
    if (close == kNone) {
      // Without its closing brace a call has no argument text: it stays
      // literal and the rest of the text is still evaluated.
      text.MarkLiteral(call.name_pos);
      continue;
    }
    const std::string arguments(
        text.text().view().substr(call.brace_pos + 1, close - call.brace_pos - 1));
    const ShortString result = functions_.At(call.function).routine(arguments);
    text.Replace(call.name_pos, close + 1 - call.name_pos, result.view());
    ++evaluations;
  }
}

}  // namespace qlr
