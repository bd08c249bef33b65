// Running wingsim for the benchmark and speaking to its control channel.
#include "desk_sim.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace gmbench {
namespace {

constexpr int kStartTimeoutMs = 20000;
constexpr int kQuitGraceMs = 3000;
constexpr int kAnswerTimeoutS = 10;

void sleep_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Runs wingsim in a child that dies with this process.
pid_t spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  execv(argv[0], argv.data());
  _exit(127);
}

}  // namespace

DeskSim::~DeskSim() {
  stop();
}

bool DeskSim::start(const std::string& program, const std::string& ip,
                    const std::vector<std::string>& extra, std::string& err) {
  ip_ = ip;
  control_path_ = "/tmp/gm-bench-wingsim-" + std::to_string(getpid()) + ".sock";
  unlink(control_path_.c_str());
  std::vector<std::string> args = {program,       "--ip",       ip,       "--control",
                                   control_path_, "--no-stdin", "--quiet"};
  args.insert(args.end(), extra.begin(), extra.end());
  pid_ = spawn(args);
  if (pid_ < 0) {
    err = "The virtual desk could not be started (fork failed).";
    return false;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      err = "The virtual desk " + program + " exited at start (status " + std::to_string(status) +
            "); is " + ip + " port 2222 already in use?";
      return false;
    }
    if (connect_control() && cmd("clients")) return true;
    sleep_ms(20);
  }
  err = "The virtual desk did not answer on its control channel " + control_path_ + ".";
  stop();
  return false;
}

bool DeskSim::connect_control() {
  if (fd_ >= 0) return true;
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (control_path_.size() >= sizeof a.sun_path) return false;
  std::memcpy(a.sun_path, control_path_.c_str(), control_path_.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const timeval tv{kAnswerTimeoutS, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  pending_.clear();
  return true;
}

bool DeskSim::cmd(const std::string& line, std::vector<std::string>* out, std::string* err) {
  const std::string why = "no answer from the virtual desk to '" + line + "'";
  const std::string text = line + "\n";
  if (fd_ < 0 ||
      send(fd_, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (err) *err = why;
    return false;
  }
  char buf[4096];
  while (true) {
    for (size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
      const std::string l = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      if (l == "ok") return true;
      if (l.rfind("err", 0) == 0) {
        if (err) *err = l.size() > 4 ? l.substr(4) : l;
        return false;
      }
      if (out) out->push_back(l);
    }
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      close(fd_);
      fd_ = -1;
      if (err) *err = why;
      return false;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

double DeskSim::get_number(const std::string& path) {
  std::vector<std::string> lines;
  if (!cmd("get " + path, &lines) || lines.empty()) return std::nan("");
  const std::string& l = lines.front();
  const size_t sp = l.find_last_of(' ');
  return std::strtod(l.c_str() + (sp == std::string::npos ? 0 : sp + 1), nullptr);
}

void DeskSim::stop() {
  if (pid_ > 0 && fd_ >= 0) cmd("quit");
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (pid_ > 0) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kQuitGraceMs);
    while (waitpid(pid_, nullptr, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      sleep_ms(10);
    }
    pid_ = -1;
  }
  if (!control_path_.empty()) unlink(control_path_.c_str());
}

}  // namespace gmbench
