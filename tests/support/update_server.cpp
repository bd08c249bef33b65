// The update server for tests.
#include "support/update_server.h"

#include <sys/wait.h>

#include <cstdlib>

#include "drive/child.h"
#include "support/loopback.h"
#include "support/temp_home.h"

namespace gmtest {
namespace {

const char* const kVars[2] = {"GAINMESH_TEST_UPDATE_URL", "GAINMESH_TEST_UPDATE_CA"};

rig::UpdateServer::Options options() {
  rig::UpdateServer::Options o;
  o.script = GM_BUILD_DIR "/sim/update_server.py";
  o.ip = unique_loopback();
  return o;
}

}  // namespace

UpdateServerProcess::UpdateServerProcess() : rig::UpdateServer(options()) {
  for (int i = 0; i < 2; ++i) {
    if (const char* v = std::getenv(kVars[i])) saved_[i] = v;
  }
}

UpdateServerProcess::~UpdateServerProcess() {
  for (int i = 0; i < 2; ++i) {
    if (saved_[i])
      setenv(kVars[i], saved_[i]->c_str(), 1);
    else
      unsetenv(kVars[i]);
  }
}

std::vector<std::string> UpdateServerProcess::app_env() const {
  return {std::string(kVars[0]) + "=" + base_url(), std::string(kVars[1]) + "=" + ca_file()};
}

void UpdateServerProcess::point_app_here() {
  point_app_here(ca_file());
}

void UpdateServerProcess::point_app_here(const std::string& ca) {
  setenv(kVars[0], base_url().c_str(), 1);
  if (ca.empty())
    unsetenv(kVars[1]);
  else
    setenv(kVars[1], ca.c_str(), 1);
}

int UpdateServerProcess::release(const std::vector<std::string>& args, std::string* err) const {
  rig::ChildSpec spec;
  spec.argv = {GM_BUILD_DIR "/tools/gm-release",
               "--key",
               GM_SOURCE_DIR "/tests/keys/test-release.pem",
               "--base-url",
               files_url(),
               "--out",
               release_dir()};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  spec.stderr_path = dir() + "/gm-release.err";
  pid_t pid = rig::spawn_child(spec);
  const int status = rig::wait_child(pid, 60000);
  rig::kill_child(pid);
  if (err) *err = read_file(dir() + "/gm-release.err");
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace gmtest
