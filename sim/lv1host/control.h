// The command thread's loop: line commands from stdin and from a local Unix socket, answered on
// the same channel, and SIGTERM / SIGINT, which quit as the "quit" command does.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "commands.h"
#include "common/control_socket.h"

namespace lv1host {

// From now on SIGTERM and SIGINT are held for the loop, which quits on them. Call early, so that
// a signal that arrives while the IO module loads still unloads it.
void catch_quit_signals();

class ControlLoop {
 public:
  // Runs one command line and returns its answer.
  using Executor = std::function<Answer(const std::string& line)>;
  // Called once when a signal asks LV1 to quit.
  using OnSignal = std::function<void()>;

  ControlLoop(Executor execute, OnSignal on_signal);
  ~ControlLoop();
  ControlLoop(const ControlLoop&) = delete;
  ControlLoop& operator=(const ControlLoop&) = delete;

  // Accepts connections on a Unix socket at path (an old socket file there is replaced; the
  // file is removed again on destruction). False with a sentence in err.
  bool listen_unix(const std::string& path, std::string& err);
  // Reads commands from stdin and answers on stdout. The end of stdin is not a quit: LV1 runs
  // on until "quit" or a signal.
  void use_stdin();
  // Serves until a command answers with quit or a signal arrives.
  void run();

 private:
  struct Conn {
    int out_fd;
    rig::LineBuffer lines;
  };
  bool poll_once();
  void on_accept();
  bool on_readable(int fd);  // false once a command asked to quit
  void close_conn(int fd);

  Executor execute_;
  OnSignal on_signal_;
  std::string path_;
  int listen_fd_ = -1;
  std::map<int, Conn> conns_;  // by input fd
};

}  // namespace lv1host
