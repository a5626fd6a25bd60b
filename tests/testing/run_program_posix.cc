#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/run_program.h"

namespace qlr::testing {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory,
                         const std::map<std::string, std::string>& environment) {
  char out_name[] = "/tmp/qlr-out-XXXXXX";
  char err_name[] = "/tmp/qlr-err-XXXXXX";
  const int out_fd = mkstemp(out_name);
  const int err_fd = mkstemp(err_name);
  ProgramResult result;
  // Everything the child needs is made before the fork: between fork and
  // exec it may only make async-signal-safe calls, as another thread of
  // the test may hold the allocator's lock at the moment of the fork.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    if (environment.count(entry.substr(0, entry.find('='))) == 0) env_strings.push_back(entry);
  }
  for (const auto& [name, value] : environment) {
    if (!value.empty()) env_strings.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (std::string& entry : env_strings) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(directory.c_str()) != 0) _exit(127);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  }
  close(out_fd);
  close(err_fd);
  result.out = Slurp(out_name);
  result.err = Slurp(err_name);
  unlink(out_name);
  unlink(err_name);
  return result;
}

}  // namespace qlr::testing
