// Links planted in an area or a target by whoever can write there. A
// rotation run as root must never follow a symbolic link (it could name
// any file root can read, and the copy would disclose it, the erase
// truncate it) nor delete one; it leaves it and says so. A regular file
// with several links is a file like any other.
#include <gtest/gtest.h>

// Symbolic links and owners as POSIX has them; the Windows suite has none
// of these cases.
#ifndef _WIN32
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/qlr_fixture.h"
#include "testing/raw_bases.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

// What is planted, and where.
enum class Plant {
  kAbsoluteSymlink,  // base file -> the secret, by its absolute path
  kRelativeSymlink,  // base file -> ../secret
  kHardLink,         // base file and the secret are one file
  kPartialSymlink,   // old/qlr-partial.00000000 -> a directory of the victim
  kNumberedSymlink,  // old/00000000 -> a directory of the victim
};

struct LinkCase {
  const char* name;
  char type;
  const char* file;  // the base file replaced by a link (relative to m/)
  Plant plant;
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

// A *.MSG area is rotated without its links; a JAM, Squish or packet base
// with a linked file is not touched at all (its files are rewritten in
// place, which through a link would write the file it names).
const LinkCase kCases[] = {
    {"MsgAbsolute", '#', "2.msg", Plant::kAbsoluteSymlink},
    {"MsgRelative", '#', "2.msg", Plant::kRelativeSymlink},
    {"MsgHardLink", '#', "2.msg", Plant::kHardLink},
    {"JamData", '!', "area.jdt", Plant::kAbsoluteSymlink},
    {"JamHeader", '!', "area.jhr", Plant::kRelativeSymlink},
    {"SquishData", '$', "area.sqd", Plant::kAbsoluteSymlink},
    {"SquishIndex", '$', "area.sqi", Plant::kRelativeSymlink},
    {"Packet", 'P', "area.pkt", Plant::kAbsoluteSymlink},
    {"PlantedPartial", '#', nullptr, Plant::kPartialSymlink},
    {"PlantedNumber", '#', nullptr, Plant::kNumberedSymlink},
};

class LinkRotationTest : public QlrFixture, public ::testing::WithParamInterface<LinkCase> {
 protected:
  // As root, the planted entries belong to another user, as they would in
  // an area that users write.
  void GiveAway(const std::string& relative) {
    if (::geteuid() == 0) {
      ASSERT_EQ(::lchown(Path(relative).c_str(), 65534, 65534), 0);
    }
  }
};

TEST_P(LinkRotationTest, LinksAreNeitherFollowedNorDeleted) {
  const LinkCase& c = GetParam();
  const std::string base = c.type == '#' ? "m" : "m/area";
  if (c.type == '#') {
    MakeMsgArea("m", 3);
  } else {
    MakeRawBase(c.type, Path(base), 3);
  }
  // The secret holds what the base file held, so that a base read through
  // the link would be a valid one: only the link rule keeps it safe.
  const std::string file = c.file != nullptr ? std::string("m/") + c.file : "";
  const std::string secret = file.empty() ? std::string("secret") : dir_.ReadFile(file);
  dir_.WriteFile("secret", secret);
  fs::permissions(Path("secret"), fs::perms::owner_read | fs::perms::owner_write);
  dir_.WriteFile("victim/keep", "victim");
  switch (c.plant) {
    case Plant::kAbsoluteSymlink:
    case Plant::kRelativeSymlink:
      fs::remove(Path(file));
      // Every planted file lies in m/, beside which the secret is.
      fs::create_symlink(c.plant == Plant::kAbsoluteSymlink ? Path("secret") : "../secret",
                         Path(file));
      GiveAway(file);
      break;
    case Plant::kHardLink:
      fs::remove(Path(file));
      fs::create_hard_link(Path("secret"), Path(file));
      break;
    case Plant::kPartialSymlink:
    case Plant::kNumberedSymlink:
      fs::create_directories(Path("old"));
      fs::create_directory_symlink(
          Path("victim"),
          Path(c.plant == Plant::kPartialSymlink ? "old/qlr-partial.00000000" : "old/00000000"));
      break;
  }
  const std::string spec = std::string(1, c.type) + base;
  WriteControlFile({"MaxMessages 1", "Base " + spec + " old"});

  const ProgramResult r = Run({"/c"});
  const bool symlink = c.plant == Plant::kAbsoluteSymlink || c.plant == Plant::kRelativeSymlink;
  const std::string copied = c.plant == Plant::kNumberedSymlink ? "00000001" : "00000000";
  const std::string out =
      c.type == '#' ? "3 messages. copied to [old/" + copied + "]" : std::string("cannot open!");
  EXPECT_EQ(r.out, std::string(kBanner) + "processing base [" + spec + "]... " + out + "\r\n");
  EXPECT_EQ(r.exit_code, c.type == '#' ? 0 : 1) << r.err;
  const std::string what =
      c.type == '#' ? "neither copied nor removed" : "the base is left as it was";
  EXPECT_EQ(r.err, symlink ? "qlr: [" + file + "] is a symbolic link: " + what + "\r\n" : "");
  // Nothing outside the base was read into the copy, changed or removed.
  EXPECT_EQ(dir_.ReadFile("secret"), secret);
  EXPECT_EQ(dir_.ReadFile("victim/keep"), "victim");
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("victim")), fs::directory_iterator()), 1);
  switch (c.plant) {
    case Plant::kAbsoluteSymlink:
    case Plant::kRelativeSymlink:
      EXPECT_TRUE(fs::is_symlink(Path(file)));
      EXPECT_FALSE(Exists("old/00000000/" + std::string(c.file)));
      break;
    case Plant::kHardLink:
      // Copied as the file it is, and its name removed from the base.
      EXPECT_EQ(dir_.ReadFile("old/00000000/2.msg"), secret);
      EXPECT_FALSE(Exists(file));
      break;
    case Plant::kPartialSymlink:
    case Plant::kNumberedSymlink:
      EXPECT_EQ(FileCount("old/" + copied), 3);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkRotationTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

// A link planted beside a base, under a name that the run makes itself (the
// empty packet's temporary) or counts (a number far above the messages),
// pointing at the secret or at a file that does not exist yet. The run
// neither writes through it, nor creates what it names, nor counts it.
struct BesideCase {
  const char* name;
  char type;
  const char* link;  // relative to m/
  bool dangling;     // the link names a file that does not exist
  int limit;
  const char* out;
  int exit_code;
  const char* err;
};

constexpr const char* kTemporaryInTheWay =
    "qlr: cannot erase [Pm/area]: m/area.pkt.qlr-empty: exists\r\n";

const BesideCase kBeside[] = {
    {"EmptyPacketTemporary", 'P', "area.pkt.qlr-empty", false, 1,
     "3 messages. cannot erase! copy kept in [old/00000000]", 1, kTemporaryInTheWay},
    {"EmptyPacketTemporaryDangling", 'P', "area.pkt.qlr-empty", true, 1,
     "3 messages. cannot erase! copy kept in [old/00000000]", 1, kTemporaryInTheWay},
    {"MessageFarAbove", '#', "999.msg", false, 10, "only 3 messages. let it live.", 0, ""},
};

class BesideLinkTest : public QlrFixture {};

TEST_F(BesideLinkTest, LinksBesideABaseAreNeitherWrittenNorCounted) {
  for (const BesideCase& c : kBeside) {
    SCOPED_TRACE(c.name);
    const std::string base = c.type == '#' ? "m" : "m/area";
    fs::remove_all(Path("m"));
    fs::remove_all(Path("old"));
    if (c.type == '#') {
      MakeMsgArea("m", 3);
    } else {
      MakeRawBase(c.type, Path(base), 3);
    }
    dir_.WriteFile("secret", "secret bytes");
    fs::permissions(Path("secret"), fs::perms::owner_read | fs::perms::owner_write);
    fs::remove(Path("made"));
    fs::create_symlink(Path(c.dangling ? "made" : "secret"), Path(std::string("m/") + c.link));
    if (::geteuid() == 0) {
      ASSERT_EQ(::lchown(Path(std::string("m/") + c.link).c_str(), 65534, 65534), 0);
    }
    const std::string spec = std::string(1, c.type) + base;
    WriteControlFile({"MaxMessages " + std::to_string(c.limit), "Base " + spec + " old"});
    const ProgramResult r = Run({"/c"});
    EXPECT_EQ(r.out, std::string(kBanner) + "processing base [" + spec + "]... " + c.out + "\r\n");
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(dir_.ReadFile("secret"), "secret bytes");
    EXPECT_EQ(fs::status(Path("secret")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(fs::exists(Path("made")));
    EXPECT_TRUE(fs::is_symlink(Path(std::string("m/") + c.link)));
  }
}

}  // namespace
}  // namespace qlr::testing
#endif  // _WIN32
