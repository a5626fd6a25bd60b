// Runs a program with its output captured, on Windows: standard output and
// standard error go to temporary files, the environment is the inherited
// one with the test's changes applied.
#include "platform/win32/windows_api.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testing/run_program.h"

namespace qlr::testing {
namespace {

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TempFileName() {
  char directory[MAX_PATH + 1];
  const DWORD n = ::GetTempPathA(sizeof directory, directory);
  if (n == 0 || n > MAX_PATH) return std::string();
  char name[MAX_PATH + 1];
  if (::GetTempFileNameA(directory, "qlr", 0, name) == 0) return std::string();
  return name;
}

HANDLE OpenInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One argument quoted so that the C runtime's parser gives it back as it
// is: backslashes are literal except before a double quote.
std::string Quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');  // before the closing quote
  quoted += '"';
  return quoted;
}

// Environment names ignore case on Windows.
struct NameLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::toupper(static_cast<unsigned char>(x)) <
             std::toupper(static_cast<unsigned char>(y));
    });
  }
};

// The inherited environment with `changes` applied, as a block of
// "NAME=VALUE" strings each ending in NUL, closed by one more NUL.
std::string EnvironmentBlock(const std::map<std::string, std::string>& changes) {
  std::map<std::string, std::string, NameLess> variables;
  if (char* inherited = ::GetEnvironmentStringsA(); inherited != nullptr) {
    for (const char* entry = inherited; *entry != '\0'; entry += std::strlen(entry) + 1) {
      const std::string text(entry);
      // Names may start with "=" (the per-drive current directories).
      const std::size_t equals = text.find('=', 1);
      if (equals == std::string::npos) continue;
      variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    ::FreeEnvironmentStringsA(inherited);
  }
  for (const auto& [name, value] : changes) {
    if (value.empty()) {
      variables.erase(name);
    } else {
      variables[name] = value;
    }
  }
  std::string block;
  for (const auto& [name, value] : variables) {
    block += name;
    block += '=';
    block += value;
    block += '\0';
  }
  if (block.empty()) block += '\0';
  block += '\0';
  return block;
}

// The program as CreateProcess must see it. A relative path is taken from
// the child's working directory, as it is on POSIX (chdir, then exec).
std::string ProgramPath(const std::string& program, const std::string& directory) {
  const bool absolute = (program.size() >= 2 && program[1] == ':') ||
                        (!program.empty() && (program[0] == '\\' || program[0] == '/'));
  if (absolute || directory.empty()) return program;
  const char last = directory.back();
  return directory + (last == '\\' || last == '/' || last == ':' ? "" : "\\") + program;
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory,
                         const std::map<std::string, std::string>& environment) {
  ProgramResult result;
  const std::string out_name = TempFileName();
  const std::string err_name = TempFileName();
  if (out_name.empty() || err_name.empty()) return result;
  {
    Handle out(OpenInheritable(out_name, GENERIC_WRITE, CREATE_ALWAYS));
    Handle err(OpenInheritable(err_name, GENERIC_WRITE, CREATE_ALWAYS));
    Handle in(OpenInheritable("NUL", GENERIC_READ, OPEN_EXISTING));
    if (out.valid() && err.valid()) {
      std::string command_line = Quote(program);
      for (const auto& a : args) command_line += " " + Quote(a);
      std::string block = EnvironmentBlock(environment);

      STARTUPINFOA startup{};
      startup.cb = sizeof startup;
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = in.get();
      startup.hStdOutput = out.get();
      startup.hStdError = err.get();
      PROCESS_INFORMATION process{};
      std::fflush(nullptr);
      if (::CreateProcessA(ProgramPath(program, directory).c_str(), command_line.data(), nullptr,
                           nullptr, TRUE, 0, block.data(),
                           directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
        Handle process_handle(process.hProcess);
        Handle thread_handle(process.hThread);
        DWORD code = 0;
        if (::WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
            ::GetExitCodeProcess(process.hProcess, &code)) {
          result.exit_code = static_cast<int>(code);
        }
      }
    }
  }  // the files are closed before they are read
  result.out = Slurp(out_name);
  result.err = Slurp(err_name);
  ::DeleteFileA(out_name.c_str());
  ::DeleteFileA(err_name.c_str());
  return result;
}

}  // namespace qlr::testing
