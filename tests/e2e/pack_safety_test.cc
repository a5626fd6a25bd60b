// Pack mode run the way a node runs it, over a base another user writes:
// only a sound archive of the run's own counts as a pack, and nothing the
// run makes, copy or archive, is more open than the messages it holds.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/qlr_fixture.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

// The user who writes the base when the tests run as root.
constexpr uid_t kOtherUser = 65534;

class PackSafetyTest : public QlrFixture {
 protected:
  // A private area: a 0700 directory of 0600 messages, written by another
  // user when the test can arrange it.
  void MakePrivateArea(int count) {
    MakeMsgArea("a", count);
    for (int i = 1; i <= count; ++i) Restrict("a/" + std::to_string(i) + ".msg", 0600);
    Restrict("a", 0700);
  }
  void Restrict(const std::string& relative, mode_t mode) {
    ASSERT_EQ(::chmod(Path(relative).c_str(), mode), 0) << relative;
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(Path(relative).c_str(), kOtherUser, kOtherUser), 0);
    }
  }
  void Configure(const std::string& arc_add) {
    WriteControlFile({"MaxMessages 1", "Base #" + Path("a") + " " + Path("old"),
                      "Arc.Extension tar", "Arc.Add " + arc_add});
  }
  mode_t ModeOf(const std::string& relative) {
    struct stat st {};
    EXPECT_EQ(::lstat(Path(relative).c_str(), &st), 0) << relative;
    return st.st_mode & 0777;
  }
  bool LeftoverIn(const std::string& relative) {
    std::error_code ec;
    for (fs::directory_iterator it(Path(relative), ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().filename().string().starts_with("qlr-")) return true;
    }
    return false;
  }
  std::string Counted() {
    return std::string(kBanner) + "processing base [#" + Path("a") + "]... 2 messages. ";
  }
  std::string copy_ = Path("old") + "/00000000";
};

TEST_F(PackSafetyTest, OnlyASoundArchiveOfTheRunsOwnCountsAsAPack) {
  dir_.WriteFile("other", "somebody's private file");
  dir_.WriteFile("stale.tar", "an old archive");
  fs::last_write_time(Path("stale.tar"),
                      fs::last_write_time(Path("stale.tar")) - std::chrono::hours(48));
  struct Case {
    const char* what;
    std::string arc_add;
    const char* cause;  // null: packed
  };
  const Case cases[] = {
      {"a link to a file root can read", "ln -s /etc/passwd @ArcName.tar", "is a symbolic link"},
      {"a second name of another file", "ln " + Path("other") + " @ArcName.tar", "has 2 names"},
      {"an empty file", ": > @ArcName.tar", "is empty"},
      {"a file older than the archiver", "cp -p " + Path("stale.tar") + " @ArcName.tar",
       "older than the archiver's start"},
      {"junk under the final name, nothing under its own",
       "echo junk > " + Path("old") + "/00000000.tar", "made no archive"},
      {"a sound archive, made world-readable",
       "tar -cf @ArcName.tar -C @FileName . && chmod 666 @ArcName.tar", nullptr},
      {"a sound archive", "tar -cf @ArcName.tar -C @FileName .", nullptr},
  };
  for (const Case& c : cases) {
    fs::remove_all(Path("old"));
    fs::remove_all(Path("a"));
    MakePrivateArea(2);
    Configure(c.arc_add);
    const ProgramResult r = Run({"/p"});
    if (c.cause == nullptr) {
      EXPECT_EQ(r.out, Counted() + "packed to [" + copy_ + ".tar]\r\n") << c.what << r.err;
      EXPECT_EQ(r.exit_code, 0) << c.what;
      EXPECT_FALSE(Exists("old/00000000")) << c.what;
      EXPECT_EQ(ModeOf("old/00000000.tar"), 0600u) << c.what;
    } else {
      EXPECT_EQ(r.out, Counted() + "copied to [" + copy_ + "]\r\n") << c.what;
      EXPECT_EQ(r.exit_code, 1) << c.what;
      EXPECT_NE(r.err.find(c.cause), std::string::npos) << c.what << ": " << r.err;
      EXPECT_EQ(FileCount("old/00000000"), 2) << c.what;
      // Nothing the run did not confirm is under the final name.
      if (Exists("old/00000000.tar")) {
        EXPECT_EQ(dir_.ReadFile("old/00000000.tar"), "junk\n") << c.what;
      }
    }
    EXPECT_FALSE(LeftoverIn("old")) << c.what;
    EXPECT_EQ(dir_.ReadFile("other"), "somebody's private file") << c.what;
  }
}

// A pack run killed once its copy is published, by its own archiver or
// before the archiver starts: the next run says that the copy was never
// packed, and fails, and the copy stays whole.
TEST_F(PackSafetyTest, ACopyThatAKilledRunLeftUnpackedIsReported) {
  struct Case {
    const char* what;
    const char* arc_add;  // null: the state the kill leaves is made by hand
    const char* cause;
  };
  const Case cases[] = {
      {"killed by its archiver", "tar -cf @ArcName.tar -C @FileName . && kill -9 $PPID",
       "was stopped while packing"},
      {"killed before its archiver", nullptr, "was stopped before it packed"},
  };
  for (const Case& c : cases) {
    fs::remove_all(Path("old"));
    fs::remove_all(Path("a"));
    MakePrivateArea(2);
    if (c.arc_add != nullptr) {
      Configure(c.arc_add);
      (void)Run({"/p"});
    } else {
      // Published, erased, its partial lock not yet removed.
      fs::create_directories(Path("old/00000000"));
      for (const char* name : {"1.msg", "2.msg"}) {
        fs::rename(Path(std::string("a/") + name), Path(std::string("old/00000000/") + name));
      }
      dir_.WriteFile("old/00000000/.qlr-lock", "");
    }
    Configure("tar -cf @ArcName.tar -C @FileName .");
    const ProgramResult r = Run({"/p"});
    EXPECT_EQ(r.exit_code, 1) << c.what;
    EXPECT_NE(r.err.find(c.cause), std::string::npos) << c.what << ": " << r.err;
    EXPECT_EQ(FileCount("old/00000000"), 2) << c.what;
  }
}

TEST_F(PackSafetyTest, CopiesAndArchivesAreNoMoreOpenThanTheBase) {
  struct Case {
    mode_t umask;
    bool pack;
  };
  for (const Case c : {Case{022, false}, Case{000, false}, Case{022, true}, Case{000, true}}) {
    SCOPED_TRACE(std::string(c.pack ? "/p" : "/c") + " under umask 0" + std::to_string(c.umask));
    fs::remove_all(Path("old"));
    fs::remove_all(Path("a"));
    MakePrivateArea(2);
    Configure("tar -cf @ArcName.tar -C @FileName .");
    const mode_t previous = ::umask(c.umask);
    const ProgramResult r = Run({c.pack ? "/p" : "/c"});
    ::umask(previous);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(ModeOf("old") & 077, 0u);
    if (c.pack) {
      EXPECT_EQ(ModeOf("old/00000000.tar"), 0600u);
    } else {
      EXPECT_EQ(ModeOf("old/00000000") & 077, 0u);
      EXPECT_EQ(ModeOf("old/00000000/1.msg"), 0600u);
    }
  }
}

}  // namespace
}  // namespace qlr::testing

#endif  // _WIN32
