// Starting and ending the rig programs (wingsim, lv1host) that a test or the benchmark runs as
// child processes.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace rig {

struct ChildSpec {
  std::vector<std::string> argv;  // argv[0] a path, or a program on PATH with search_path
  bool search_path = false;
  std::vector<std::string> env;          // empty: this process's environment
  int stdin_fd = -1;                     // -1: /dev/null
  std::string stdout_path, stderr_path;  // empty: this process's
};

// Forks and execs; the child is killed with SIGKILL if this process dies. Throws when the
// fork fails; a child that cannot exec ends with status 127.
pid_t spawn_child(const ChildSpec& spec);

// Polls ready() every 20 ms until it holds. Throws a runtime_error naming `what` (and
// details(), when given) when the child exits first or timeout_ms pass; the child is then
// killed and pid set to -1.
void wait_until_ready(pid_t& pid, const std::function<bool()>& ready, int timeout_ms,
                      const std::string& what, const std::function<std::string()>& details = {});

// Waits up to timeout_ms for the child to end: its wait status, and pid becomes -1. -1 when it
// is still running then.
int wait_child(pid_t& pid, int timeout_ms);

// SIGKILL and reap; pid becomes -1. Nothing when pid is not positive.
void kill_child(pid_t& pid);

}  // namespace rig
