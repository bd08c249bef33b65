// The control-socket client and the rig program base.
#include "drive/control_client.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace rig {

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

// Collects answer lines up to and including the final "ok" / "err ..."; what arrives after it
// stays in pending. False when the connection fails or closes before it.
bool exchange(int fd, const std::string& line, std::string& pending,
              std::vector<std::string>& lines) {
  const std::string out = line + "\n";
  if (send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) {
    return false;
  }
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

ControlLink::ControlLink(std::string path, int timeout_ms, bool keep_open)
    : path_(std::move(path)), timeout_ms_(timeout_ms), keep_open_(keep_open) {}

ControlLink::~ControlLink() {
  disconnect();
}

void ControlLink::disconnect() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  pending_.clear();
}

ControlReply ControlLink::command(const std::string& line) {
  ControlReply r;
  if (fd_ < 0) fd_ = connect_control(path_, timeout_ms_);
  if (fd_ < 0) {
    r.error = "cannot reach the control socket " + path_;
    return r;
  }
  const bool answered = exchange(fd_, line, pending_, r.lines);
  if (!answered || !keep_open_) disconnect();
  if (!answered) {
    r.lines.clear();
    r.error = "no complete answer to '" + line + "' on " + path_;
    return r;
  }
  const std::string last = r.lines.back();
  r.lines.pop_back();
  r.ok = last == "ok";
  if (!r.ok) r.error = last.size() > 4 ? last.substr(4) : "err";
  return r;
}

ControlReply control_command(const std::string& path, const std::string& line, int timeout_ms) {
  return ControlLink(path, timeout_ms, false).command(line);
}

RigProgram::RigProgram(const std::string& program, int answer_timeout_ms, bool keep_open)
    : program_(program), link_(unique_control_path(program), answer_timeout_ms, keep_open) {}

RigProgram::~RigProgram() {
  kill_hard();
  unlink(control_path().c_str());
}

std::vector<std::string> RigProgram::cmd(const std::string& line) {
  ControlReply r = link_.command(line);
  ok_ = r.ok;
  error_ = r.error;
  return std::move(r.lines);
}

void RigProgram::start(const ChildSpec& spec, const std::string& ready_cmd, int timeout_ms,
                       const std::function<std::string()>& details) {
  pid_ = spawn_child(spec);
  wait_until_ready(
      pid_,
      [&] {
        cmd(ready_cmd);
        return ok_;
      },
      timeout_ms, program_ + " on " + control_path(), details);
}

int RigProgram::quit_and_wait(int timeout_ms) {
  if (pid_ <= 0) return -1;
  cmd("quit");
  const int status = wait_child(pid_, timeout_ms);
  kill_hard();
  return status;
}

}  // namespace rig
