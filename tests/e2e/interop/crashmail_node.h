// One installation of the peer tosser `crashmail` in a scratch directory:
// its configuration made from crashmail.prefs.in beside this file, its
// inbound, outbound and message areas, and the commands the tests use.
// The tosser is run only as a program, through its command line.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "testing/run_program.h"

namespace qlr::testing::interop {

// The tosser's executable found on PATH; empty when it is not installed.
inline std::string FindCrashmail() {
  namespace fs = std::filesystem;
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  const std::string dirs(path);
  std::size_t pos = 0;
  while (pos <= dirs.size()) {
    std::size_t end = dirs.find(':', pos);
    if (end == std::string::npos) end = dirs.size();
    const fs::path candidate = fs::path(dirs.substr(pos, end - pos)) / "crashmail";
    std::error_code ec;
    if (end > pos && fs::is_regular_file(candidate, ec)) {
      const fs::perms perms = fs::status(candidate, ec).permissions();
      if ((perms & fs::perms::owner_exec) != fs::perms::none) return candidate.string();
    }
    pos = end + 1;
  }
  return {};
}

class CrashmailNode {
 public:
  // `root` is an absolute directory of its own; `aka` the node's address,
  // `link` the node it exchanges mail with (both as "2:5020/1042.0").
  CrashmailNode(std::string program, std::string root, std::string aka, std::string link)
      : program_(std::move(program)),
        root_(std::move(root)),
        aka_(std::move(aka)),
        link_(std::move(link)) {}

  // Makes the directories and writes the configuration from `template_path`.
  // Records a test failure when that is not possible.
  void Install(const std::string& template_path) const {
    namespace fs = std::filesystem;
    std::ifstream in(template_path, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read the configuration template " << template_path;
    std::string prefs((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Replace(prefs, "@ROOT@", root_);
    Replace(prefs, "@AKA@", aka_);
    Replace(prefs, "@LINK@", link_);
    ASSERT_EQ(prefs.find('@'), std::string::npos) << "a placeholder was left:\n" << prefs;
    for (const char* dir :
         {"inbound", "outbound", "temp", "createpkt", "packets", "netmail", "bad", "echo", "jam"}) {
      std::error_code ec;
      fs::create_directories(fs::path(root_) / dir, ec);
      ASSERT_FALSE(ec) << dir << ": " << ec.message();
    }
    std::ofstream out(PrefsPath(), std::ios::binary);
    out << prefs;
    out.close();
    ASSERT_TRUE(out) << "cannot write " << PrefsPath();
  }

  // Tosses one packet file. NOSECURITY: the packets of the tests carry no
  // password, and quillor's leave the packet header's addresses at 0.
  ProgramResult Toss(const std::string& packet) const {
    return Run({"TOSSFILE", packet, "NOSECURITY"});
  }
  // Tosses every *.pkt file in the inbound (each is removed once tossed).
  ProgramResult TossInbound() const { return Run({"TOSS", "NOSECURITY"}); }
  // Exports what the node's areas hold that was not sent yet.
  ProgramResult Scan() const { return Run({"SCAN"}); }

  // The packets the node wrote for its link: netmail as *.out in the
  // outbound, echomail as *.pkt in the packet directory. Sorted by name.
  std::vector<std::string> OutgoingPackets() const {
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    for (const char* dir : {"outbound", "packets"}) {
      std::error_code ec;
      for (const auto& entry : fs::recursive_directory_iterator(fs::path(root_) / dir, ec)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".out" || ext == ".pkt")) {
          found.push_back(entry.path().string());
        }
      }
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  // The node's log so far, for failure messages.
  std::string Log() const {
    std::ifstream in(root_ + "/crashmail.log", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  std::string PrefsPath() const { return root_ + "/crashmail.prefs"; }

 private:
  ProgramResult Run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"SETTINGS", PrefsPath()});
    // Only the configuration given here may count.
    return RunProgram(program_, args, root_, {{"CMCONFIGFILE", ""}});
  }

  static void Replace(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size())) {
      text.replace(pos, from.size(), to);
    }
  }

  std::string program_;
  std::string root_;
  std::string aka_;
  std::string link_;
};

}  // namespace qlr::testing::interop
