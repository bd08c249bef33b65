// The built Gainmesh executable run as a user runs it: its exit, standard output and error.
#pragma once

#include <string>
#include <vector>

namespace gmtest {

inline constexpr const char* kGainmeshExe = GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh";

struct AppRun {
  int status = -1;  // the wait status; -1 when it had not ended within a minute (then killed)
  std::string out, err;
  bool exited(int code) const;  // ended normally with this exit code
};

// Runs `prefix` (a command line that runs the rest, found on PATH), then `exe`, then the
// space-separated `args`, in this process's environment with `env` ("NAME=value") put over it.
// Its output goes through files in the current GAINMESH_HOME. Blocks until it ends.
AppRun run_app(const std::string& args, const std::vector<std::string>& env = {},
               const std::vector<std::string>& prefix = {}, const std::string& exe = kGainmeshExe);

}  // namespace gmtest
