// Line commands over stdin and a Unix socket, and the quit signals.
#include "control.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <vector>

namespace lv1host {
namespace {

int g_signal_pipe[2] = {-1, -1};

void on_quit_signal(int) {
  const int saved = errno;
  const char c = 'q';
  [[maybe_unused]] ssize_t n = write(g_signal_pipe[1], &c, 1);
  errno = saved;
}

}  // namespace

void catch_quit_signals() {
  if (g_signal_pipe[0] >= 0) return;
  if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction sa {};
  sa.sa_handler = on_quit_signal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

ControlLoop::ControlLoop(Executor execute, OnSignal on_signal)
    : execute_(std::move(execute)), on_signal_(std::move(on_signal)) {
  catch_quit_signals();
}

ControlLoop::~ControlLoop() {
  while (!conns_.empty()) close_conn(conns_.begin()->first);
  if (listen_fd_ >= 0) {
    close(listen_fd_);
    unlink(path_.c_str());
  }
}

bool ControlLoop::listen_unix(const std::string& path, std::string& err) {
  const int fd = rig::listen_unix_socket(path, err);
  if (fd < 0) return false;
  listen_fd_ = fd;
  path_ = path;
  return true;
}

void ControlLoop::use_stdin() {
  conns_[STDIN_FILENO] = Conn{STDOUT_FILENO, {}};
}

void ControlLoop::run() {
  while (poll_once()) {
  }
}

bool ControlLoop::poll_once() {
  std::vector<pollfd> fds;
  fds.push_back({g_signal_pipe[0], POLLIN, 0});
  if (listen_fd_ >= 0) fds.push_back({listen_fd_, POLLIN, 0});
  for (const auto& [fd, conn] : conns_) fds.push_back({fd, POLLIN, 0});
  if (poll(fds.data(), fds.size(), -1) < 0) return errno == EINTR;
  for (const pollfd& p : fds) {
    if (!p.revents) continue;
    if (p.fd == g_signal_pipe[0]) {
      on_signal_();
      return false;
    }
    if (p.fd == listen_fd_) {
      on_accept();
    } else if (!on_readable(p.fd)) {
      return false;
    }
  }
  return true;
}

void ControlLoop::on_accept() {
  const int fd = rig::accept_control(listen_fd_);
  if (fd >= 0) conns_[fd] = Conn{fd, {}};
}

bool ControlLoop::on_readable(int fd) {
  auto it = conns_.find(fd);
  if (it == conns_.end()) return true;
  char buf[4096];
  const ssize_t n = read(fd, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) {
    close_conn(fd);
    return true;
  }
  Conn& c = it->second;
  const bool in_lines = c.lines.append(buf, static_cast<size_t>(n));
  std::string line;
  while (c.lines.next(line)) {
    const Answer answer = execute_(line);
    rig::write_all(c.out_fd, answer.text);
    if (answer.quit) return false;
  }
  if (!in_lines) close_conn(fd);
  return true;
}

void ControlLoop::close_conn(int fd) {
  if (fd != STDIN_FILENO) close(fd);
  conns_.erase(fd);
}

}  // namespace lv1host
