#include <gtest/gtest.h>

#include "platform/platform.h"

namespace qlr {
namespace {

TEST(MatchesPatternTest, WildcardsAndCase) {
  struct Case {
    const char* name;
    const char* pattern;
    bool ignore_case;
    bool matches;
  } cases[] = {
      // "*.*" is every name, with or without a dot.
      {"noext", "*.*", false, true},
      {"a.b.c", "*.*", false, true},
      {".lock", "*.*", false, true},
      {"noext", "*", false, true},
      {"", "*", false, true},
      // A dot in any other pattern must be there.
      {"noext", "*.msg", false, false},
      {"1.msg", "*.msg", false, true},
      {"1.msg.bak", "*.msg", false, false},
      {"x.msg.msg", "*.msg", false, true},  // needs backtracking to the last ".msg"
      {"1.MSG", "*.msg", false, false},
      {"1.MSG", "*.msg", true, true},
      {"ABC.JHR", "abc.jhr", true, true},
      {"ABC.JHR", "abc.jhr", false, false},
      // "?" is exactly one character.
      {"a1.pkt", "a?.pkt", false, true},
      {"a.pkt", "a?.pkt", false, false},
      {"a12.pkt", "a?.pkt", false, false},
      {"0000000f", "????????", false, true},
      {"0000000", "????????", false, false},
      // Stars on both sides and in the middle.
      {"base.sqd", "*q*", false, true},
      {"base.jdt", "*q*", false, false},
      {"abcabd", "a*b?", false, true},
      {"abcabe", "a*bd", false, false},
      {"name", "", false, false},
      {"", "", false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesPattern(c.name, c.pattern, c.ignore_case), c.matches)
        << '"' << c.name << "\" vs \"" << c.pattern << "\" ignore_case=" << c.ignore_case;
  }
}

}  // namespace
}  // namespace qlr
