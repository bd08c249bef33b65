// Runs the rig's update server (update_server.py) on a loopback address for a test or a
// benchmark: a certificate authority and a server certificate for that address made on the spot
// with the openssl command, the release folder it serves (gm-release writes it), the log of the
// requests it answered, its fault switches, and the environment that points the app at it.
//
// Threads: one driving thread. Blocking: the constructor runs openssl and waits up to 10 s for
// the server to listen; release() waits for gm-release; the fault switches write a small file
// the server reads on each request.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rig {

// One answered request, as the server logged it.
struct UpdateRequest {
  std::string method, path, query, user_agent;
  int status = 0;
};

class UpdateServer {
 public:
  struct Options {
    std::string script;              // update_server.py
    std::string python = "python3";  // found on PATH
    std::string ip;                  // required: a 127.x.y.z address
    std::string release_tool;        // gm-release
    std::string release_key;         // the Ed25519 private key (PEM) it signs with
  };

  // Makes a temporary folder with the authority, the certificate and an empty release folder,
  // starts the server on a free port and waits until it listens. Throws a runtime_error naming
  // the step that failed.
  explicit UpdateServer(Options options);
  // Restores the settings point_app_here changed, kills the server and deletes the folder.
  ~UpdateServer();
  UpdateServer(const UpdateServer&) = delete;
  UpdateServer& operator=(const UpdateServer&) = delete;

  const std::string& ip() const { return options_.ip; }
  int port() const { return port_; }
  std::string base_url() const;      // "https://<ip>:<port>"
  std::string files_url() const;     // base_url() + "/files", the release's --base-url
  std::string manifest_url() const;  // base_url() + "/v1/updates?product=gainmesh&platform=macos"
  std::string ca_file() const;       // the PEM certificate of the authority to trust
  std::string release_dir() const;   // manifest.json and files/ as gm-release writes them
  const std::string& dir() const { return dir_; }

  // "GAINMESH_TEST_UPDATE_URL=<base_url()>" and "GAINMESH_TEST_UPDATE_CA=<ca_file()>", for the
  // environment of an app started as a child process.
  std::vector<std::string> app_env() const;
  // Sets both in this process, for the core running in it; `ca` replaces the authority to trust
  // (empty: the setting is removed, so only the system's authorities count).
  void point_app_here() { point_app_here(ca_file()); }
  void point_app_here(const std::string& ca);

  // Runs gm-release --key <release_key> --base-url <files_url()> --out <release_dir()> followed
  // by `args`: its exit status (-1 when it did not end within 60 s), its error output in *err.
  int release(const std::vector<std::string>& args, std::string* err = nullptr) const;

  // A PEM certificate of another authority, which signed nothing this server holds.
  std::string make_other_ca(const std::string& name);

  // The requests answered so far, in order (failed TLS handshakes are not requests), and the
  // whole log including them.
  std::vector<UpdateRequest> requests() const;
  std::string log_text() const;

  // Until cleared, `path` (without its query: "/v1/updates", "/files/<name>") answers with the
  // status and no body, with a 302 to `location`, or with `bytes` in place of the real file.
  void fail_with(const std::string& path, int status);
  void redirect(const std::string& path, const std::string& location);
  void serve_instead(const std::string& path, const std::string& bytes);
  void clear_faults();

 private:
  void make_certificates();
  void set_fault(const std::string& path, const std::string& rule);

  Options options_;
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
  std::map<std::string, std::string> faults_;  // path -> the JSON object of its rule
  int bodies_ = 0;                             // files written for serve_instead
  std::map<std::string, std::optional<std::string>> saved_env_;  // before point_app_here
};

}  // namespace rig
