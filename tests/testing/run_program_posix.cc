#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

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
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(directory.c_str()) != 0) _exit(127);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    for (const auto& [name, value] : environment) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
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
