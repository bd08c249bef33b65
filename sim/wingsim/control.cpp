// Line-command transport over stdin and a Unix socket.
#include "control.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net.h"

namespace wingsim {
namespace {

constexpr size_t kMaxLine = 65536;

void write_all(int fd, const std::string& text) {
  size_t off = 0;
  while (off < text.size()) {
    const ssize_t n = fd == STDOUT_FILENO
                          ? write(fd, text.data() + off, text.size() - off)
                          : send(fd, text.data() + off, text.size() - off, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    off += static_cast<size_t>(n);
  }
}

}  // namespace

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
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof a.sun_path) {
    err = "The control socket path '" + path + "' is empty or too long.";
    return false;
  }
  memcpy(a.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  unlink(path.c_str());
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0) {
    err = "Cannot listen on the control socket " + path + ": " + strerror(errno) + ".";
    close_fd(fd);
    return false;
  }
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
  const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  const timeval two_seconds{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &two_seconds, sizeof two_seconds);
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
  it->second.pending.append(buf, static_cast<size_t>(n));
  run_lines(it->second);
  it = conns_.find(fd);
  if (it != conns_.end() && it->second.pending.size() > kMaxLine) close_conn(fd);
}

void ControlChannel::run_lines(Conn& c) {
  const int fd = c.in_fd;
  size_t nl;
  while ((nl = c.pending.find('\n')) != std::string::npos) {
    std::string line = c.pending.substr(0, nl);
    c.pending.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    write_all(c.out_fd, execute_(line));
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
