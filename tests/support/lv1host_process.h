// Runs the LV1 stand-in (build/<preset>/sim/lv1host) for a test, in the current TempHome's
// environment and, when asked, inside a network namespace of the test; talks to its control
// socket as the person at LV1 would.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "drive/control_client.h"
#include "support/eventually.h"
#include "support/temp_home.h"

namespace gmtest {

class Lv1HostProcess : public rig::RigProgram {
 public:
  struct Options {
    std::string executable = GM_BUILD_DIR "/sim/lv1host";
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
    // stay inside a namespace the test built.
    bool broadcast = false;
  };

  // One line of "strips".
  struct Strip {
    int ch = -1;
    double gain = 0, min = 0, max = 0, step = 0;
    bool phantom = false, preamp = false;
    uint64_t queries = 0, pushes = 0, redraws = 0;
  };

  // Starts lv1host with its standard output and error in files of the home, and waits until
  // its control socket answers (throws on failure).
  Lv1HostProcess(const TempHome& home, Options options);
  explicit Lv1HostProcess(const TempHome& home) : Lv1HostProcess(home, Options{}) {}
  // Quits it, then kills it if it does not go.
  ~Lv1HostProcess();
  Lv1HostProcess(const Lv1HostProcess&) = delete;
  Lv1HostProcess& operator=(const Lv1HostProcess&) = delete;

  std::vector<Strip> strips(int type = 0);
  Strip strip(int type, int ch);

  // "quit" and wait: the exit status, or -1 when it was killed by a signal or did not exit
  // within timeout_ms (it is then killed).
  int quit(int timeout_ms = 30000);
  // SIGTERM and wait, the same way.
  int terminate(int timeout_ms = 30000);
  void send_stdin(const std::string& line);
  std::string stdout_text() const;
  std::string stderr_text() const;

 private:
  int exit_code(int status) const;

  Options options_;
  std::string out_path_, err_path_;
  int stdin_fd_ = -1;
};

// Parses a "strips" line; ch is -1 when the line is not one.
Lv1HostProcess::Strip parse_strip(const std::string& line);

// What the system knows of a process: its short name (/proc/<pid>/comm), whether it holds a
// file open (a link in /proc/<pid>/fd), whether a file of that name is mapped into it.
std::string process_name(pid_t pid);
bool holds_open(pid_t pid, const std::string& path);
bool maps_file(pid_t pid, const std::string& file_name);

}  // namespace gmtest
