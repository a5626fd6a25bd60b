// A rotation that erases a *.msg base while another program keeps writing
// to it: rewriting messages by rename and in place, and adding new ones.
// Whatever the writer last wrote must survive, in the base or in the copy.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/qlr_fixture.h"

namespace qlr::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kMessages = 2000;

// Every version of every message has the same size: only the bytes tell
// a rewrite from the original.
std::string Version(int number, int version) {
  std::string text = "message " + std::to_string(number) + " version " + std::to_string(version);
  text.resize(240, '.');
  return text;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class ConcurrentWriterTest : public QlrFixture {
 protected:
  fs::path Message(int n) { return fs::path(Path("area")) / (std::to_string(n) + ".msg"); }

  // One write of the writer; records what a message holds once it is done.
  // Message `n` when given, else a random one. With `keep_time` an
  // in-place rewrite gives the file its old time stamp back, as tools that
  // mark mail received do, and as a file system with coarse times shows a
  // rewrite within the same tick: then only the bytes tell.
  void WriteOnce(std::mt19937& random, int version, int n = 0, bool keep_time = false) {
    // Random writes go to the first quarter of the numbers only: most
    // messages stay untouched, and those the erase must remove.
    if (n == 0) n = std::uniform_int_distribution<int>(1, kMessages / 4)(random);
    const std::string bytes = Version(n, version);
    switch (version % 3) {
      case 0: {  // a new version written elsewhere and renamed over it
        const fs::path temp = fs::path(Path("area")) / "writer.tmp";
        {
          std::ofstream out(temp, std::ios::binary | std::ios::trunc);
          out << bytes;
        }
        std::error_code error;
        fs::rename(temp, Message(n), error);
        if (!error) last_[n] = bytes;
        break;
      }
      case 1: {  // rewritten in place, if it is there by its name
        std::error_code error;
        const auto time = fs::last_write_time(Message(n), error);
        std::FILE* file = std::fopen(Message(n).string().c_str(), "r+b");
        if (file == nullptr) break;
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        if (std::fclose(file) == 0 && written) last_[n] = bytes;
        if (keep_time && !error) fs::last_write_time(Message(n), time, error);
        break;
      }
      default: {  // a new message under a new number
        const int number = kMessages + version;
        std::ofstream out(Message(number), std::ios::binary);
        out << Version(number, 1);
        out.close();
        if (out) last_[number] = Version(number, 1);
        break;
      }
    }
  }

  // True when some copy under old/ already holds all bytes of the file
  // `name`. The copy may be made under a temporary name and renamed: any
  // directory.
  bool CopiedYet(const std::string& name) {
    std::error_code error;
    for (const auto& dir : fs::directory_iterator(Path("old"), error)) {
      if (fs::file_size(dir.path() / name, error) == Version(0, 0).size() && !error) return true;
    }
    return false;
  }

  std::map<int, std::string> last_;  // message -> what the writer left in it
};

TEST_F(ConcurrentWriterTest, EveryVersionTheWriterLeftSurvivesTheErase) {
  fs::create_directories(Path("area"));
  for (int n = 1; n <= kMessages; ++n)
    dir_.WriteFile("area/" + Message(n).filename().string(), Version(n, 0));
  WriteControlFile({"MaxMessages 10", "Base #" + Path("area") + " " + Path("old")});
  // The copy is made of links on one file system: the copy of a message
  // nobody touches is the base's own file.
  struct stat untouched {};
  ASSERT_EQ(::stat(Message(kMessages).string().c_str(), &untouched), 0);

  std::atomic<bool> done{false};
  int writes = 0;
  int chased = 0;
  std::thread writer([&] {
    std::mt19937 random(20240501);
    // The order in which the run will meet the files.
    std::vector<std::string> order;
    for (const auto& entry : fs::directory_iterator(Path("area"))) {
      order.push_back(entry.path().filename().string());
    }
    std::size_t next = 0;
    // Bounded, in case the run hangs: the test must end in seconds.
    for (int version = 1; !done.load() && version < 200000; ++version) {
      // Right after a message was copied, a rewrite of it: the moment
      // when a rewrite looks most like the copied file (same size, and
      // often the same time stamp). Random writes in between.
      // Every fourth file in the run's order is chased.
      while (next < order.size() && next % 4 != 0) ++next;
      if (next < order.size() && CopiedYet(order[next])) {
        WriteOnce(random, version - version % 3 + 1, std::stoi(order[next]), true);
        ++next;
        ++chased;
      } else {
        WriteOnce(random, version);
        // Leaves the run a core of its own on small machines.
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
      ++writes;
    }
  });
  const ProgramResult r = Run({"/c"});
  done = true;
  writer.join();
  RecordProperty("writes", writes);
  RecordProperty("rewrites_right_after_the_copy", chased);

  const bool copied = r.out.find("messages. copied to [") != std::string::npos;
  const bool kept = r.out.find("cannot erase! copy kept in [") != std::string::npos;
  EXPECT_TRUE(copied || kept) << r.out << r.err;

  std::set<std::string> present;
  for (const char* where : {"area", "old"}) {
    for (const auto& entry : fs::recursive_directory_iterator(Path(where))) {
      if (entry.is_regular_file()) present.insert(ReadAll(entry.path()));
    }
  }
  int lost = 0;
  for (int n = 1; n <= kMessages; ++n) {
    // Untouched messages must be in the copy; touched ones as last written.
    const auto last = last_.find(n);
    const std::string& expected = last == last_.end() ? Version(n, 0) : last->second;
    if (present.count(expected) == 0 && ++lost <= 5)
      ADD_FAILURE() << "lost " << expected.substr(0, 30);
  }
  for (const auto& [n, bytes] : last_) {
    if (n > kMessages && present.count(bytes) == 0 && ++lost <= 5) {
      ADD_FAILURE() << "lost new message " << n;
    }
  }
  EXPECT_EQ(lost, 0);
  struct stat in_copy {};
  if (copied) {
    ASSERT_EQ(
        ::stat((Path("old/00000000") + "/" + std::to_string(kMessages) + ".msg").c_str(), &in_copy),
        0);
    EXPECT_EQ(in_copy.st_ino, untouched.st_ino);
  }
  // The erase did happen: every message left in the base is one the
  // writer touched (or one left aside, reported as "cannot erase!").
  int untouched_left = 0;
  for (const auto& entry : fs::directory_iterator(Path("area"))) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".msg") {
      if (name != "writer.tmp") {
        EXPECT_TRUE(kept) << "left aside without a report: " << name;
      }
      continue;
    }
    if (last_.count(std::stoi(name)) == 0) ++untouched_left;
  }
  EXPECT_EQ(untouched_left, 0) << r.out;
}

}  // namespace
}  // namespace qlr::testing
