// Runs the LV1 stand-in (build/<preset>/sim/lv1host) for a test, in the current TempHome's
// environment and, when asked, inside a network namespace of the test; talks to its control
// socket as the person at LV1 would (rig::Lv1Host), with its output in files of the home.
#pragma once

#include <sys/types.h>

#include <string>

#include "drive/lv1host_runner.h"
#include "support/eventually.h"
#include "support/temp_home.h"

namespace gmtest {

class Lv1HostProcess : public rig::Lv1Host {
 public:
  // rig::Lv1Host's options, the build's lv1host by default; the output files are the home's.
  struct Options : rig::Lv1Host::Options {
    Options() { executable = GM_BUILD_DIR "/sim/lv1host"; }
  };

  // Starts lv1host with its standard output and error in files of the home, and waits until
  // its control socket answers (throws on failure).
  Lv1HostProcess(const TempHome& home, Options options);
  explicit Lv1HostProcess(const TempHome& home) : Lv1HostProcess(home, Options{}) {}
};

// What the system knows of a process: whether it holds a file open (a link in /proc/<pid>/fd),
// whether a file of that name is mapped into it.
bool holds_open(pid_t pid, const std::string& path);
bool maps_file(pid_t pid, const std::string& file_name);

}  // namespace gmtest
