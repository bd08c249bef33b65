// Runs the LV1 stand-in (lv1host, or the executable inside an installed "eMotion LV1.app") as a
// child process, when asked inside a network namespace, and talks to its control socket as the
// person at LV1 would.
//
// Threads: one object is driven from one thread at a time. Starting, quitting and every command
// block until lv1host answers or the timeout passes; failures to start throw.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "drive/control_client.h"

namespace rig {

class Lv1Host : public RigProgram {
 public:
  struct Options {
    std::string executable;         // required: lv1host, or "<app>/Contents/MacOS/eMotion LV1"
    std::vector<std::string> args;  // more command-line options, e.g. "--card", "x32=in"
    bool stdin_pipe = false;        // keep a pipe to its stdin (send_stdin)
    // In a sanitizer build, LeakSanitizer's check at exit. A module that was unloaded with
    // dlclose leaves its static allocations unreachable, which the check counts as leaks.
    bool leak_check = true;
    // A network namespace (its name under /var/run/netns, e.g. NetnsLab::scanner()) to run in,
    // entered with `ip netns exec`, which execs lv1host, so pid() is still lv1host's. Empty: the
    // namespace of this process.
    std::string netns;
    // Lets the module inside broadcast: GAINMESH_TEST_NO_BROADCAST is left out of lv1host's
    // environment. Only together with netns (the constructor throws otherwise), so that sweeps
    // stay inside a namespace the caller built.
    bool broadcast = false;
    // Files for its standard output and error; empty: this process's.
    std::string stdout_path, stderr_path;
  };

  // One line of "strips".
  struct Strip {
    int ch = -1;
    double gain = 0, min = 0, max = 0, step = 0;
    bool phantom = false, preamp = false;
    uint64_t queries = 0, pushes = 0, redraws = 0;
  };

  // Starts lv1host in this process's environment (less what the options take out) and waits
  // up to 30 s until its control socket answers (throws a runtime_error on failure).
  explicit Lv1Host(Options options);
  // Quits it, then kills it if it does not go.
  ~Lv1Host();

  std::vector<Strip> strips(int type = 0);
  Strip strip(int type, int ch);

  // "quit" and wait: the exit status, or -1 when it was killed by a signal or did not exit
  // within timeout_ms (it is then killed).
  int quit(int timeout_ms = 30000);
  // SIGTERM and wait, the same way.
  int terminate(int timeout_ms = 30000);
  void send_stdin(const std::string& line);
  // What it wrote to the files named in the options; "" without them.
  std::string stdout_text() const;
  std::string stderr_text() const;

 private:
  int exit_code(int status) const;

  Options options_;
  int stdin_fd_ = -1;
};

// Parses a "strips" line; ch is -1 when the line is not one.
Lv1Host::Strip parse_strip(const std::string& line);

}  // namespace rig
