// The rig programs' control channel as tests use it: a Unix socket taking one command line and
// answering with data lines and a final "ok" or "err <text>" line.
#pragma once

#include <string>
#include <vector>

namespace gmtest {

// A fresh socket path under /tmp for a rig program started by this process.
std::string unique_control_path(const std::string& program);

// Connects to the control socket; -1 when nothing listens there. Receives wait at most
// answer_timeout_ms.
int connect_control(const std::string& path, int answer_timeout_ms);

// Sends one command line and collects the answer lines, the final "ok" / "err ..." included.
// False when the connection fails or closes before the final line.
bool exchange(int fd, const std::string& line, std::vector<std::string>& lines);

}  // namespace gmtest
