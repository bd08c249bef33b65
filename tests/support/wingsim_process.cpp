// Spawning the virtual desk and speaking to its control socket.
#include "support/wingsim_process.h"

#include "support/control_socket.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace gmtest {
namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kQuitGraceMs = 3000;
constexpr int kAnswerTimeoutMs = 10000;

std::vector<std::string> argv_of(const WingSimProcess::Options& o, const std::string& control) {
  std::vector<std::string> args = {GM_BUILD_DIR "/sim/wingsim",
                                   "--ip",
                                   o.ip,
                                   "--name",
                                   o.name,
                                   "--model",
                                   o.model,
                                   "--serial",
                                   o.serial,
                                   "--firmware",
                                   o.firmware,
                                   "--control",
                                   control,
                                   "--no-stdin"};
  args.insert(args.end(), o.extra.begin(), o.extra.end());
  return args;
}

}  // namespace

WingSimProcess::WingSimProcess(Options options)
    : options_(std::move(options)), control_path_(unique_control_path("wingsim")) {
  if (options_.ip.empty()) throw std::runtime_error("WingSimProcess needs an address");
  const std::vector<std::string> args = argv_of(options_, control_path_);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("cannot fork wingsim");
  if (pid_ == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    execv(argv[0], argv.data());
    const char msg[] = "wingsim_process: cannot run " GM_BUILD_DIR "/sim/wingsim\n";
    (void)!write(STDERR_FILENO, msg, sizeof msg - 1);
    _exit(127);
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("wingsim exited at start (status " + std::to_string(status) + ")");
    }
    cmd("clients");
    if (ok_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill_hard();
  throw std::runtime_error("wingsim did not answer on " + control_path_);
}

WingSimProcess::~WingSimProcess() {
  if (pid_ <= 0) return;
  cmd("quit");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kQuitGraceMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      unlink(control_path_.c_str());
      // A sanitizer report in the desk ends it with a non-zero status.
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "wingsim ended with status " << status;
      }
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill_hard();
}

std::vector<std::string> WingSimProcess::cmd(const std::string& line) {
  ok_ = false;
  error_ = "cannot reach the wingsim control socket " + control_path_;
  std::vector<std::string> lines;
  const int fd = connect_control(control_path_, kAnswerTimeoutMs);
  if (fd < 0) return lines;
  const bool answered = exchange(fd, line, lines);
  close(fd);
  if (!answered) {
    error_ = "no complete answer from wingsim to '" + line + "'";
    return lines;
  }
  const std::string last = lines.back();
  lines.pop_back();
  ok_ = last == "ok";
  error_ = ok_ ? "" : (last.size() > 4 ? last.substr(4) : std::string("err"));
  return lines;
}

std::vector<std::string> WingSimProcess::sets() {
  return cmd("sets");
}

void WingSimProcess::kill_hard() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
  unlink(control_path_.c_str());
}

}  // namespace gmtest
