// Runs the virtual WING (build/<preset>/sim/wingsim) for a test, on its own loopback address,
// and talks to its control channel (a Unix socket) as the person at the desk would.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace gmtest {

class WingSimProcess {
 public:
  struct Options {
    std::string ip;                // required: the desk's address (see unique_loopback)
    std::string name = "FOH";
    std::string model = "wing-rack";
    std::string serial = "S0001";
    std::string firmware = "3.1-0-g9f314617";
    std::vector<std::string> extra;  // more command-line options
  };

  // Starts wingsim and waits until its control channel answers (throws on failure).
  explicit WingSimProcess(Options options);
  // Asks it to quit, then kills it if it does not.
  ~WingSimProcess();
  WingSimProcess(const WingSimProcess&) = delete;
  WingSimProcess& operator=(const WingSimProcess&) = delete;

  // Sends one control command; returns the data lines of the answer. ok() is false when the
  // answer ended in "err ...", whose text error() then holds.
  std::vector<std::string> cmd(const std::string& line);
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  // The sets the desk received from clients, one "path value" line each.
  std::vector<std::string> sets();

  const std::string& ip() const { return options_.ip; }
  pid_t pid() const { return pid_; }
  // SIGKILL, as a desk that loses power.
  void kill_hard();

 private:
  Options options_;
  std::string control_path_;
  pid_t pid_ = -1;
  bool ok_ = false;
  std::string error_;
};

}  // namespace gmtest
