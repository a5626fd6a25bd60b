#include "util/paths.h"

#include <gtest/gtest.h>

#include <string>

namespace qlr {
namespace {

constexpr PathStyle kDos = PathStyle::kDos;
constexpr PathStyle kPosix = PathStyle::kPosix;

struct PathCase {
  PathStyle style;
  std::string path;
  std::string expected;
};

std::string StyleName(PathStyle style) { return style == kDos ? "dos" : "posix"; }

TEST(PathsTest, AddBackslash) {
  const PathCase cases[] = {
      {kDos, "", ""},
      {kDos, "C:", "C:"},
      {kDos, "C:\\FIDO", "C:\\FIDO\\"},
      {kDos, "C:\\FIDO\\", "C:\\FIDO\\"},
      {kDos, "fido/", "fido/\\"},
      {kPosix, "", ""},
      {kPosix, "/", "/"},
      {kPosix, "/fido", "/fido/"},
      {kPosix, "a:", "a:/"},
      {kPosix, "fido\\", "fido\\/"},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(AddBackslash(c.path, c.style), c.expected) << StyleName(c.style) << " " << c.path;
  }
}

TEST(PathsTest, RemoveBackslash) {
  const PathCase cases[] = {
      {kDos, "C:\\", "C:"},
      {kDos, "C:\\FIDO\\", "C:\\FIDO"},
      {kDos, "C:\\FIDO\\\\", "C:\\FIDO\\"},
      {kDos, "C:", "C:"},
      {kDos, "", ""},
      {kPosix, "/fido/", "/fido"},
      {kPosix, "/fido", "/fido"},
      {kPosix, "/", "/"},
      {kPosix, "", ""},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(RemoveBackslash(c.path, c.style), c.expected) << StyleName(c.style) << " " << c.path;
  }
}

TEST(PathsTest, JustPathName) {
  const PathCase cases[] = {
      {kDos, "C:\\FIDO\\QLR.EXE", "C:\\FIDO"},
      {kDos, "C:\\FIDO", "C:\\"},
      {kDos, "C:\\", "C:\\"},
      {kDos, "\\FIDO", "\\"},
      {kDos, "C:QLR.EXE", "C:"},
      {kDos, "QLR.EXE", ""},
      {kDos, "", ""},
      {kDos, "A\\B\\", "A\\B"},
      {kDos, "/fido/qlr", ""},
      {kPosix, "/qlr", "/"},
      {kPosix, "/fido/qlr", "/fido"},
      {kPosix, "qlr", ""},
      {kPosix, "/fido/", "/fido"},
      {kPosix, "a//b", "a"},
      {kPosix, "//b", "/"},
      {kPosix, "c:qlr", ""},
      {kPosix, "c:\\fido\\qlr", ""},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(JustPathName(c.path, c.style), c.expected) << StyleName(c.style) << " " << c.path;
  }
}

TEST(PathsTest, JustFileNameAndJustName) {
  struct Case {
    PathStyle style;
    std::string path, file_name, name;
  } cases[] = {
      {kDos, "C:\\A\\ARC.OLD.PKT", "ARC.OLD.PKT", "ARC"},
      {kDos, "C:QLR.EXE", "QLR.EXE", "QLR"},
      {kDos, "QLR", "QLR", "QLR"},
      {kDos, "C:\\FIDO\\", "", ""},
      {kDos, "C:\\FIDO.DIR\\NAME", "NAME", "NAME"},
      {kPosix, "/a/arc.old.pkt", "arc.old.pkt", "arc"},
      {kPosix, "/a/b:c.d", "b:c.d", "b:c"},
      {kPosix, "/a.d/name", "name", "name"},
      {kPosix, "/fido/", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JustFileName(c.path, c.style), c.file_name) << StyleName(c.style) << " " << c.path;
    EXPECT_EQ(JustName(c.path, c.style), c.name) << StyleName(c.style) << " " << c.path;
  }
}

TEST(PathsTest, JustFileNameLengthLimitDependsOnStyle) {
  const std::string long_name(100, 'n');
  EXPECT_EQ(JustFileName("C:\\" + long_name, kDos), long_name.substr(0, 64));
  EXPECT_EQ(JustFileName(long_name, kDos), long_name.substr(0, 64));
  // The name given to the system is never cut.
  EXPECT_EQ(WholeFileName("C:\\" + long_name, kDos), long_name);
  EXPECT_EQ(WholeFileName("C:" + long_name, kDos), long_name);
  EXPECT_EQ(WholeFileName("/d/" + long_name, kPosix), long_name);
  // Two long names that differ only after 64 characters stay different.
  const std::string a = std::string(70, 'x') + "a";
  const std::string b = std::string(70, 'x') + "b";
  EXPECT_EQ(JustFileName("/d/" + a, kPosix), a);
  EXPECT_NE(JustFileName("/d/" + a, kPosix), JustFileName("/d/" + b, kPosix));
  const std::string longest(255, 'm');
  EXPECT_EQ(JustFileName(longest, kPosix), longest);
}

TEST(PathsTest, HasExtensionAndJustExtension) {
  struct Case {
    PathStyle style;
    std::string path;
    bool has;
    std::size_t dot;
    std::string extension;
  } cases[] = {
      {kDos, "C:\\A\\ARC.OLD.PKT", true, 13, "PKT"},
      {kDos, "C:\\FIDO.DIR\\00000000", false, 0, ""},
      {kDos, "C:\\A\\B.", true, 7, ""},
      {kDos, "C:\\A\\B", false, 0, ""},
      {kDos, "A.B/C", true, 2, "B/C"},
      {kPosix, "/fido.dir/00000000", false, 0, ""},
      {kPosix, "/a/base.sqd", true, 8, "sqd"},
      {kPosix, "a.b\\c", true, 2, "b\\c"},
      {kPosix, "", false, 0, ""},
  };
  for (const auto& c : cases) {
    std::size_t dot = 99;
    EXPECT_EQ(HasExtension(c.path, &dot, c.style), c.has) << StyleName(c.style) << " " << c.path;
    EXPECT_EQ(dot, c.dot) << StyleName(c.style) << " " << c.path;
    EXPECT_EQ(JustExtension(c.path, c.style), c.extension) << StyleName(c.style) << " " << c.path;
  }
  EXPECT_TRUE(HasExtension("x.y", nullptr, kPosix));
}

TEST(PathsTest, DosExtensionLooksOnly64CharactersPastTheDot) {
  // The DOS rule: a backslash further than 64 characters after the dot does
  // not stop the dot from starting an extension. POSIX looks at the rest.
  const std::string path = "C:\\D." + std::string(64, 'x') + "\\NAME";
  EXPECT_TRUE(HasExtension(path, nullptr, kDos));
  const std::string posix = "/d." + std::string(64, 'x') + "/name";
  EXPECT_FALSE(HasExtension(posix, nullptr, kPosix));
}

TEST(PathsTest, ForceExtension) {
  struct Case {
    PathStyle style;
    std::string path, extension, expected;
  } cases[] = {
      {kDos, "C:\\FIDO.DIR\\00000000", "zip", "C:\\FIDO.DIR\\00000000.zip"},
      {kDos, "C:\\A\\B.TXT", "zip", "C:\\A\\B.zip"},
      {kDos, "C:\\A\\B", "", "C:\\A\\B."},
      {kDos, "C:\\A\\B.", "zip", "C:\\A\\B.zip"},
      {kDos, "C:\\A\\ARC.OLD.PKT", "zip", "C:\\A\\ARC.OLD.zip"},
      {kDos, "", "zip", ""},
      {kPosix, "/fido.dir/00000000", "zip", "/fido.dir/00000000.zip"},
      {kPosix, "/a/b.txt", "rar", "/a/b.rar"},
      {kPosix, "b", "", "b."},
      {kPosix, "", "zip", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ForceExtension(c.path, c.extension, c.style), c.expected)
        << StyleName(c.style) << " " << c.path << " + " << c.extension;
  }
}

TEST(PathsTest, ForceExtensionKeepsALongPathWhole) {
  const std::string path(254, 'p');
  EXPECT_EQ(ForceExtension(path, "zip", kPosix), path + ".zip");
}

TEST(PathsTest, HostStyleIsTheDefault) {
  EXPECT_EQ(PathSeparator(), PathSeparator(kHostPathStyle));
  const std::string sep(1, PathSeparator());
  EXPECT_EQ(AddBackslash("dir"), "dir" + sep);
  EXPECT_EQ(JustPathName("dir" + sep + "file"), "dir");
}

}  // namespace
}  // namespace qlr
