// A program of the project started in a process group of its own and
// killed with SIGKILL, together with whatever it started (an archiver), at
// a moment the crash tests choose: after a delay, or as soon as they see a
// phase of its work under way.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qlr::testing {

using CrashClock = std::chrono::steady_clock;

// Starts `program` with `args` in `directory`, its output thrown away, as
// the leader of a new process group (so that its archiver dies with it).
// Returns its pid, which is also the group's id.
inline pid_t StartInOwnGroup(const std::string& program, const std::vector<std::string>& args,
                             const std::string& directory) {
  // The argument vector is built before the fork: the child only execs.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    if (::chdir(directory.c_str()) != 0) ::_exit(127);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also here: the kill may come before the child ran
  return pid;
}

// Kills the group and its leader, and reaps the leader; its wait status.
inline int KillGroup(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// True (with its wait status) when the process has ended; never blocks.
inline bool Finished(pid_t pid, int* status) { return ::waitpid(pid, status, WNOHANG) == pid; }

// Waits for the process to end; its wait status.
inline int WaitFor(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

inline bool ExitedCleanly(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// Polls `seen` until it holds, the process ends or `give_up` has passed,
// then kills the group unless the process ended by itself. True when it
// ended by itself (before `seen` was noticed).
inline bool KillWhenSeen(pid_t pid, const std::function<bool()>& seen,
                         CrashClock::duration give_up = std::chrono::seconds(20)) {
  const auto deadline = CrashClock::now() + give_up;
  int status = 0;
  bool ended = false;
  while (!(ended = Finished(pid, &status)) && !seen() && CrashClock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  if (!ended) KillGroup(pid);
  return ended;
}

// How many kills a crash test makes where it would make `usual`: scaled by
// the variable QLR_CRASH_KILLS (a factor, 1 when unset) for long soaks.
inline int CrashKills(int usual) {
  const char* factor = std::getenv("QLR_CRASH_KILLS");
  const int scale = factor != nullptr ? std::atoi(factor) : 1;
  return usual * (scale > 1 ? scale : 1);
}

}  // namespace qlr::testing

#endif  // _WIN32
