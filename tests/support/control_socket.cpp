// The control-socket client shared by the rig program helpers.
#include "support/control_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace gmtest {

std::string unique_control_path(const std::string& program) {
  static std::atomic<unsigned> counter{0};
  return "/tmp/" + program + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++) +
         ".sock";
}

int connect_control(const std::string& path, int answer_timeout_ms) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.size() >= sizeof a.sun_path) return -1;
  memcpy(a.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const timeval tv{answer_timeout_ms / 1000, (answer_timeout_ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool exchange(int fd, const std::string& line, std::vector<std::string>& lines) {
  const std::string out = line + "\n";
  if (send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) {
    return false;
  }
  std::string pending;
  char buf[4096];
  while (true) {
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
      lines.push_back(pending.substr(0, nl));
      pending.erase(0, nl + 1);
      const std::string& last = lines.back();
      if (last == "ok" || last.rfind("err", 0) == 0) return true;
    }
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    pending.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace gmtest
