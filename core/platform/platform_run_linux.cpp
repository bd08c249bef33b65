// Running helper programs with a time-out, and opening applications and documents: posix_spawn
// for helpers, a detached double fork for applications, xdg-open for everything else.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform.h"

extern char** environ;

namespace gm {
namespace {

constexpr int kPollMs = 100;         // wait for output at most this long between exit checks
constexpr int kIdleSleepUs = 50000;  // between exit checks without output
constexpr size_t kReadChunk = 4096;
constexpr int kOpenTimeoutS = 120;
constexpr const char* kOpener = "/usr/bin/xdg-open";

std::vector<char*> c_argv(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  out.reserve(argv.size() + 1);
  for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

// Appends what the pipe holds now; false once it reached its end (or failed).
bool drain(int fd, std::string* output) {
  char buf[kReadChunk];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      output->append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

// Starts argv with its standard output and error in out_fd, or in /dev/null when out_fd < 0.
pid_t spawn(const std::vector<std::string>& argv, int out_fd) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  int rc = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0) {
    rc = rc ? rc : posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
    rc = rc ? rc : posix_spawn_file_actions_adddup2(&actions, out_fd, STDERR_FILENO);
  } else {
    rc = rc ? rc
            : posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    rc = rc ? rc : posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
  pid_t pid = -1;
  std::vector<char*> args = c_argv(argv);
  if (rc == 0 && posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
    pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for the child as the contract of run() says; its status, or -1.
int wait_child(pid_t pid, int out_fd, std::string* output, int timeout_seconds) {
  const time_t deadline = std::time(nullptr) + timeout_seconds;
  bool reading = out_fd >= 0;
  for (;;) {
    if (reading) {
      pollfd p{out_fd, POLLIN, 0};
      if (poll(&p, 1, kPollMs) > 0) reading = drain(out_fd, output);
    } else {
      usleep(kIdleSleepUs);
    }
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      // A grandchild may still hold the pipe: take what is there without waiting for its end.
      if (out_fd >= 0) drain(out_fd, output);
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (done < 0 && errno != EINTR) return -1;
    if (std::time(nullptr) > deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return -1;
    }
  }
}

// <app>/Contents/MacOS/<CFBundleExecutable>, or "".
std::string app_executable(const std::string& app) {
  std::map<std::string, std::string> info;
  if (!read_bundle_info(app, &info)) return "";
  const std::string name = info["CFBundleExecutable"];
  if (name.empty() || name.find('/') != std::string::npos) return "";
  return app + "/Contents/MacOS/" + name;
}

// Starts argv in a session of its own, as a grandchild that the intermediate child leaves to
// init. True once the program has been executed; a failed exec is reported through a pipe that
// closes on a successful one.
bool spawn_detached(const std::vector<std::string>& argv) {
  std::vector<char*> args = c_argv(argv);
  char** env = environ;
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    close(report[0]);
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, STDIN_FILENO);
      dup2(null_fd, STDOUT_FILENO);
      dup2(null_fd, STDERR_FILENO);
      if (null_fd > STDERR_FILENO) close(null_fd);
    }
    execve(args[0], args.data(), env);
    const int err = errno;
    ssize_t ignored = write(report[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  while ((n = read(report[0], &err, sizeof err)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

}  // namespace

int run(const std::vector<std::string>& argv, std::string* output, int timeout_seconds) {
  if (argv.empty() || argv[0].empty()) return -1;
  int pipe_fds[2] = {-1, -1};
  if (output) {
    // Only our end is non-blocking; the child's end stays as a program expects its output.
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) return -1;
    fcntl(pipe_fds[0], F_SETFL, fcntl(pipe_fds[0], F_GETFL) | O_NONBLOCK);
  }
  const pid_t pid = spawn(argv, pipe_fds[1]);
  if (pipe_fds[1] >= 0) close(pipe_fds[1]);
  int status = -1;
  if (pid > 0) status = wait_child(pid, pipe_fds[0], output, timeout_seconds);
  if (pipe_fds[0] >= 0) close(pipe_fds[0]);
  return status;
}

bool open_path(const std::string& path, const std::vector<std::string>& args, bool new_instance) {
  (void)new_instance;  // every start here is a new instance
  std::string app = path;
  while (app.size() > 1 && app.back() == '/') app.pop_back();
  if (app.ends_with(".app")) {
    const std::string exe = app_executable(app);
    if (exe.empty() || access(exe.c_str(), X_OK) != 0) return false;
    std::vector<std::string> argv = {exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn_detached(argv);
  }
  return run({kOpener, path}, nullptr, kOpenTimeoutS) == 0;
}

}  // namespace gm
