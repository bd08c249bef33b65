// The rig programs' control channel as tests use it: a Unix socket taking one command line and
// answering with data lines and a final "ok" or "err <text>" line.
#pragma once

#include <string>
#include <vector>

namespace gmtest {

// A fresh socket path under /tmp for a rig program started by this process.
std::string unique_control_path(const std::string& program);

struct ControlReply {
  std::vector<std::string> lines;  // the data lines, without the final "ok" / "err ..."
  bool ok = false;                 // the answer ended in "ok"
  std::string error;               // otherwise: the text after "err", or why none came
};

// Sends one command line to the control socket at path and waits at most timeout_ms for the
// whole answer.
ControlReply control_command(const std::string& path, const std::string& line, int timeout_ms);

}  // namespace gmtest
