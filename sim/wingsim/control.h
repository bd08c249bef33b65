// The control channel: the person at the desk (or a test) types line commands on stdin or on
// a Unix socket; every answer is zero or more data lines and a final "ok" or "err <text>".
#pragma once

#include <functional>
#include <map>
#include <string>

#include "common/control_socket.h"
#include "reactor.h"

namespace wingsim {

class ControlChannel {
 public:
  // Runs one command line and returns its whole answer, each line ending in '\n'. Called on
  // the event-loop thread; the answer is written before the next command is read.
  using Executor = std::function<std::string(const std::string& line)>;

  ControlChannel(Reactor& reactor, Executor execute);
  ~ControlChannel();
  ControlChannel(const ControlChannel&) = delete;
  ControlChannel& operator=(const ControlChannel&) = delete;

  // Accepts control connections on a Unix socket at path (an old socket file there is
  // replaced; the file is removed again on destruction). False with a reason in err.
  bool listen_unix(const std::string& path, std::string& err);
  // Reads commands from stdin and answers on stdout, until stdin ends.
  void use_stdin();

 private:
  struct Conn {
    int in_fd;
    int out_fd;
    rig::LineBuffer lines;
  };
  void on_accept();
  void on_readable(int fd);
  void run_lines(Conn& c);
  void close_conn(int fd);

  Reactor& reactor_;
  Executor execute_;
  std::string path_;
  int listen_fd_ = -1;
  std::map<int, Conn> conns_;  // by input fd
};

}  // namespace wingsim
