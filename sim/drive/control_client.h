// The rig programs' control channel from the driving side: a Unix socket taking one command line
// and answering with data lines and a final "ok" or "err <text>" line. Also the base of a rig
// program run as a child process and driven through that channel.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "drive/child.h"

namespace rig {

// A fresh socket path under /tmp for a rig program started by this process.
std::string unique_control_path(const std::string& program);

struct ControlReply {
  std::vector<std::string> lines;  // the data lines, without the final "ok" / "err ..."
  bool ok = false;                 // the answer ended in "ok"
  std::string error;               // otherwise: the text after "err", or why none came
};

// A client of one control socket. With keep_open the connection stays up between commands (it
// is made again after a failure); otherwise every command has a connection of its own.
class ControlLink {
 public:
  ControlLink(std::string path, int timeout_ms, bool keep_open);
  ~ControlLink();
  ControlLink(const ControlLink&) = delete;
  ControlLink& operator=(const ControlLink&) = delete;

  // Sends one command line and waits at most timeout_ms for the whole answer.
  ControlReply command(const std::string& line);
  const std::string& path() const { return path_; }

 private:
  void disconnect();

  std::string path_;
  int timeout_ms_;
  bool keep_open_;
  int fd_ = -1;
  std::string pending_;
};

// One command on a connection of its own.
ControlReply control_command(const std::string& path, const std::string& line, int timeout_ms);

// A rig program run as a child of this process, spoken to through its control socket.
class RigProgram {
 public:
  RigProgram(const RigProgram&) = delete;
  RigProgram& operator=(const RigProgram&) = delete;

  // Sends one control command; returns the data lines of the answer. ok() is false when the
  // answer ended in "err ..." (text in error()) or did not come.
  std::vector<std::string> cmd(const std::string& line);
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  pid_t pid() const { return pid_; }
  const std::string& control_path() const { return link_.path(); }
  // SIGKILL, as the program crashing or losing power.
  void kill_hard() { kill_child(pid_); }

 protected:
  // program names the control socket; every answer is awaited at most answer_timeout_ms.
  RigProgram(const std::string& program, int answer_timeout_ms, bool keep_open);
  // Kills the program if it still runs and removes its control socket.
  ~RigProgram();

  // Starts the child and sends ready_cmd every 20 ms until it is answered "ok"; throws as
  // wait_until_ready does.
  void start(const ChildSpec& spec, const std::string& ready_cmd, int timeout_ms,
             const std::function<std::string()>& details = {});
  // Sends "quit" and waits up to timeout_ms: the wait status, or -1 when the program had gone
  // already or did not leave in time. It is killed in any case.
  int quit_and_wait(int timeout_ms);

  pid_t pid_ = -1;

 private:
  std::string program_;
  ControlLink link_;
  bool ok_ = false;
  std::string error_;
};

}  // namespace rig
