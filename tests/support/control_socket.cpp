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

namespace {

// -1 when nothing listens at path. Receives wait at most timeout_ms.
int connect_control(const std::string& path, int timeout_ms) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.size() >= sizeof a.sun_path) return -1;
  memcpy(a.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Collects answer lines up to and including the final "ok" / "err ..."; false when the
// connection fails or closes before it.
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

}  // namespace

ControlReply control_command(const std::string& path, const std::string& line, int timeout_ms) {
  ControlReply r;
  const int fd = connect_control(path, timeout_ms);
  if (fd < 0) {
    r.error = "cannot reach the control socket " + path;
    return r;
  }
  const bool answered = exchange(fd, line, r.lines);
  close(fd);
  if (!answered) {
    r.error = "no complete answer to '" + line + "' on " + path;
    return r;
  }
  const std::string last = r.lines.back();
  r.lines.pop_back();
  r.ok = last == "ok";
  if (!r.ok) r.error = last.size() > 4 ? last.substr(4) : "err";
  return r;
}

}  // namespace gmtest
