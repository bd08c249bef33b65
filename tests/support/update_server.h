// The rig's update server as a test runs it (see drive/update_server.h): on its own loopback
// address, with the environment that points the app at it, and the build's gm-release signing
// with the repository's TEST-ONLY release key.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "drive/update_server.h"

namespace gmtest {

class UpdateServerProcess : public rig::UpdateServer {
 public:
  // Starts the build's update server (throws on failure).
  UpdateServerProcess();
  // Restores GAINMESH_TEST_UPDATE_URL and GAINMESH_TEST_UPDATE_CA, then stops the server.
  ~UpdateServerProcess();

  // "GAINMESH_TEST_UPDATE_URL=<base_url()>" and "GAINMESH_TEST_UPDATE_CA=<ca_file()>", for the
  // environment of an app started as a child process.
  std::vector<std::string> app_env() const;
  // Sets both in this process, for the core under test; `ca` replaces the trusted authority
  // (empty: leaves the setting out).
  void point_app_here();
  void point_app_here(const std::string& ca);

  // Runs gm-release --key <test key> --base-url <files_url()> --out <release_dir()> with `args`
  // after them: its exit status (-1 when it did not end within 60 s), its error output in *err.
  int release(const std::vector<std::string>& args, std::string* err = nullptr) const;

 private:
  std::optional<std::string> saved_[2];
};

}  // namespace gmtest
