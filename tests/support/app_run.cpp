// Running the built executable for a test.
#include "support/app_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "drive/child.h"
#include "support/temp_home.h"

namespace gmtest {

bool AppRun::exited(int code) const {
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

AppRun run_app(const std::string& args, const std::vector<std::string>& env,
               const std::vector<std::string>& prefix, const std::string& exe) {
  rig::ChildSpec spec;
  spec.search_path = true;
  spec.argv = prefix;
  spec.argv.push_back(exe);
  std::istringstream words(args);
  for (std::string w; words >> w;) spec.argv.push_back(w);
  spec.env = env;  // first: a program reads the first of two same names
  for (char** e = environ; *e; ++e) spec.env.emplace_back(*e);
  const char* home = std::getenv("GAINMESH_HOME");
  spec.stdout_path = std::string(home ? home : "/tmp") + "/app.out";
  spec.stderr_path = std::string(home ? home : "/tmp") + "/app.err";
  pid_t pid = rig::spawn_child(spec);
  AppRun r;
  r.status = rig::wait_child(pid, 60000);
  rig::kill_child(pid);
  r.out = read_file(spec.stdout_path);
  r.err = read_file(spec.stderr_path);
  return r;
}

}  // namespace gmtest
