// The help's paragraph on base specs names whatever formats are installed.
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>

#include "msgbase/formats/all_formats.h"
#include "tools/qlrmsg/qlrmsg_commands.h"

namespace qlr::qlrmsg {
namespace {

TEST(QlrmsgHelp, SpecParagraphFollowsTheInstalledFormats) {
  FormatDescriptor ledger;
  ledger.name = "ledger";
  ledger.type_characters = "%L";
  FormatDescriptor lettered;
  lettered.name = "lettered";
  lettered.type_characters = "Q";
  std::array<const FormatDescriptor*, 6> more{};
  for (std::size_t i = 0; i < BuiltInFormats().size(); ++i) more[i] = BuiltInFormats()[i];
  more[4] = &lettered;
  more[5] = &ledger;
  const struct {
    std::span<const FormatDescriptor* const> formats;
    std::string text;
  } cases[] = {
      {BuiltInFormats(),
       "SPEC names a message base: a type character and a path (#PATH for a\n"
       "directory of *.msg files, $PATH Squish, !PATH JAM, PPATH packet), or a\n"
       "path whose extension or lack of one implies the type. A path that\n"
       "starts with F, J, P or S is read as typed by that letter: write #PATH.\n"},
      // Signs before letters; every letter warned about, in order.
      {more,
       "SPEC names a message base: a type character and a path (#PATH for a\n"
       "directory of *.msg files, $PATH Squish, !PATH JAM, %PATH ledger, PPATH\n"
       "packet, QPATH lettered), or a path whose extension or lack of one\n"
       "implies the type. A path that starts with F, J, L, P, Q or S is read\n"
       "as typed by that letter: write #PATH.\n"},
  };
  for (const auto& c : cases) {
    const std::string text = SpecHelp(c.formats);
    EXPECT_EQ(text, c.text);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 70u) << line;
  }
}

}  // namespace
}  // namespace qlr::qlrmsg
