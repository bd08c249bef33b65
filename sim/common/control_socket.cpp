// The control socket and line splitting of the rig programs.
#include "control_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace rig {
namespace {

constexpr size_t kMaxLine = 65536;

}  // namespace

int listen_unix_socket(const std::string& path, std::string& err) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof a.sun_path) {
    err = "The control socket path '" + path + "' is empty or too long.";
    return -1;
  }
  memcpy(a.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  unlink(path.c_str());
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0) {
    err = "Cannot listen on the control socket " + path + ": " + strerror(errno) + ".";
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

int accept_control(int listen_fd) {
  const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return -1;
  const timeval two_seconds{2, 0};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &two_seconds, sizeof two_seconds);
  return fd;
}

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

bool LineBuffer::append(const char* data, size_t n) {
  pending_.append(data, n);
  const size_t nl = pending_.rfind('\n');
  const size_t unfinished = nl == std::string::npos ? pending_.size() : pending_.size() - nl - 1;
  return unfinished <= kMaxLine;
}

bool LineBuffer::next(std::string& line) {
  const size_t nl = pending_.find('\n');
  if (nl == std::string::npos) return false;
  line.assign(pending_, 0, nl);
  pending_.erase(0, nl + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

}  // namespace rig
