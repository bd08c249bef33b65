// Runs the virtual WING (wingsim) on a loopback address of its own and talks to its control
// channel as the person at the desk would.
#pragma once

#include <string>
#include <vector>

#include "drive/control_client.h"

namespace rig {

class WingSim : public RigProgram {
 public:
  struct Options {
    std::string program;  // wingsim's path
    std::string ip;       // required: the desk's address
    std::string name = "FOH";
    std::string model = "wing-rack";
    std::string serial = "S0001";
    std::string firmware = "3.1-0-g9f314617";
    std::vector<std::string> extra;  // more command-line options
    bool keep_control_open = false;  // one control connection for every command
  };

  // Starts wingsim and waits up to 20 s until its control channel answers (throws a
  // runtime_error on failure).
  explicit WingSim(Options options);
  // Asks it to quit, then kills it if it has not left after 3 s.
  ~WingSim() { quit(); }

  // The sets the desk received from clients, one "path value" line each.
  std::vector<std::string> sets() { return cmd("sets"); }
  // The number that ends the first answer line of "get <path>"; NaN when there is none.
  double number(const std::string& path);

  const std::string& ip() const { return options_.ip; }

 protected:
  // Asks it to quit: its wait status, or -1 when it had gone or did not leave within 3 s.
  int quit() { return quit_and_wait(3000); }

 private:
  Options options_;
};

}  // namespace rig
