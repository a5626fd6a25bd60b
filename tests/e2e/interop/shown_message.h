// The output of `qlrmsg show` taken apart: the "Name: value" fields, the
// kludge and trailing lines in order, and the body (LF line ends).
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace qlr::testing::interop {

struct ShownMessage {
  std::map<std::string, std::string> fields;
  std::vector<std::string> kludges;  // "^ACHRS: ..." as printed
  std::vector<std::string> trails;
  std::string text;
  bool complete = false;  // a "Text:" line was found

  // The value of `name`, or "<missing>" when the output had no such line.
  std::string operator[](const std::string& name) const {
    const auto it = fields.find(name);
    return it == fields.end() ? "<missing>" : it->second;
  }
};

inline ShownMessage ParseShow(const std::string& out) {
  ShownMessage m;
  std::size_t pos = 0;
  while (pos < out.size()) {
    const std::size_t end = out.find('\n', pos);
    const std::string line = out.substr(pos, end == std::string::npos ? end : end - pos);
    pos = end == std::string::npos ? out.size() : end + 1;
    if (line == "Text:") {
      m.text = out.substr(pos);
      m.complete = true;
      break;
    }
    const std::size_t colon = line.find(": ");
    // Every field line has ": ", also an empty one ("Tid: ").
    if (colon == std::string::npos) continue;
    const std::string name = line.substr(0, colon);
    const std::string value = line.substr(colon + 2);
    if (name == "Kludge") {
      m.kludges.push_back(value);
    } else if (name == "Trail") {
      m.trails.push_back(value);
    } else {
      m.fields[name] = value;
    }
  }
  return m;
}

}  // namespace qlr::testing::interop
