// Line-command transport over stdin and a Unix socket.
#include "control.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "net.h"

namespace wingsim {

ControlChannel::ControlChannel(Reactor& reactor, Executor execute)
    : reactor_(reactor), execute_(std::move(execute)) {}

ControlChannel::~ControlChannel() {
  while (!conns_.empty()) close_conn(conns_.begin()->first);
  if (listen_fd_ >= 0) {
    reactor_.unwatch(listen_fd_);
    close_fd(listen_fd_);
    unlink(path_.c_str());
  }
}

bool ControlChannel::listen_unix(const std::string& path, std::string& err) {
  const int fd = rig::listen_unix_socket(path, err);
  if (fd < 0) return false;
  listen_fd_ = fd;
  path_ = path;
  reactor_.watch(fd, POLLIN, [this](short) { on_accept(); });
  return true;
}

void ControlChannel::use_stdin() {
  conns_[STDIN_FILENO] = Conn{STDIN_FILENO, STDOUT_FILENO, {}};
  reactor_.watch(STDIN_FILENO, POLLIN, [this](short) { on_readable(STDIN_FILENO); });
}

void ControlChannel::on_accept() {
  const int fd = rig::accept_control(listen_fd_);
  if (fd < 0) return;
  conns_[fd] = Conn{fd, fd, {}};
  reactor_.watch(fd, POLLIN, [this, fd](short) { on_readable(fd); });
}

void ControlChannel::on_readable(int fd) {
  auto it = conns_.find(fd);
  if (it == conns_.end()) return;
  char buf[4096];
  const ssize_t n = read(fd, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) return close_conn(fd);
  const bool in_lines = it->second.lines.append(buf, static_cast<size_t>(n));
  run_lines(it->second);
  if (!in_lines) close_conn(fd);
}

void ControlChannel::run_lines(Conn& c) {
  const int fd = c.in_fd;
  std::string line;
  while (c.lines.next(line)) {
    rig::write_all(c.out_fd, execute_(line));
    if (!conns_.count(fd)) return;
  }
}

void ControlChannel::close_conn(int fd) {
  auto it = conns_.find(fd);
  if (it == conns_.end()) return;
  reactor_.unwatch(fd);
  if (fd != STDIN_FILENO) close(fd);
  conns_.erase(it);
}

}  // namespace wingsim
