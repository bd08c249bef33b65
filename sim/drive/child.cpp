// Child processes of the rig.
#include "drive/child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace rig {
namespace {

using Clock = std::chrono::steady_clock;

void redirect(int target, const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags, 0644);
  if (fd >= 0 && fd != target) {
    dup2(fd, target);
    close(fd);
  }
}

std::vector<char*> pointers(const std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (const std::string& t : texts) out.push_back(const_cast<char*>(t.c_str()));
  out.push_back(nullptr);
  return out;
}

}  // namespace

pid_t spawn_child(const ChildSpec& spec) {
  const std::vector<char*> argv = pointers(spec.argv);
  const std::vector<char*> envp = pointers(spec.env);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot fork " + spec.argv.at(0));
  if (pid > 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  if (spec.stdin_fd >= 0) {
    dup2(spec.stdin_fd, STDIN_FILENO);
  } else {
    redirect(STDIN_FILENO, "/dev/null", O_RDONLY);
  }
  if (!spec.stdout_path.empty())
    redirect(STDOUT_FILENO, spec.stdout_path, O_WRONLY | O_CREAT | O_TRUNC);
  if (!spec.stderr_path.empty())
    redirect(STDERR_FILENO, spec.stderr_path, O_WRONLY | O_CREAT | O_TRUNC);
  char* const* env = spec.env.empty() ? environ : envp.data();
  if (spec.search_path) {
    execvpe(argv[0], argv.data(), env);
  } else {
    execve(argv[0], argv.data(), env);
  }
  const std::string msg = "cannot run " + spec.argv[0] + "\n";
  (void)!write(STDERR_FILENO, msg.data(), msg.size());
  _exit(127);
}

void wait_until_ready(pid_t& pid, const std::function<bool()>& ready, int timeout_ms,
                      const std::string& what, const std::function<std::string()>& details) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      throw std::runtime_error(what + " exited at start (status " + std::to_string(status) + ")" +
                               (details ? ": " + details() : ""));
    }
    if (ready()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill_child(pid);
  throw std::runtime_error(what + " did not get ready in time" + (details ? ": " + details() : ""));
}

int wait_child(pid_t& pid, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (pid > 0) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return status;
    }
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

void kill_child(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

}  // namespace rig
