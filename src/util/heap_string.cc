// Heap strings: owned, exactly sized copies; the empty string is absent.
#include "util/strings.h"

#include <utility>

namespace qlr {

HeapString NewStr(std::string_view s) {
  HeapString p;
  // Cut at 255 characters like every short string.
  p.text_ = std::string(s.substr(0, ShortString::kMax));
  return p;
}

void DisposeStr(HeapString& p) { p = HeapString(); }

void SetStr(HeapString& p, std::string_view s) {
  // s may be p's own text: copy it before releasing p.
  HeapString fresh = NewStr(s);
  p = std::move(fresh);
}

ShortString StrValue(const HeapString& p) { return ShortString(p.view()); }

}  // namespace qlr
