// The rig's update server as a child process, with its certificates and fault switches.
#include "drive/update_server.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "drive/child.h"

namespace rig {
namespace {

namespace fs = std::filesystem;

constexpr int kStartTimeoutMs = 10000;
constexpr const char* kUrlVar = "GAINMESH_TEST_UPDATE_URL";
constexpr const char* kCaVar = "GAINMESH_TEST_UPDATE_CA";

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Writes a file whole and atomically, so the server never reads half of it.
void put(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".tmp";
  std::ofstream(tmp, std::ios::binary | std::ios::trunc) << text;
  fs::rename(tmp, path);
}

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) out += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
  return out + "\"";
}

// Runs one openssl command; throws with its error output when it fails.
void openssl(const std::string& dir, std::vector<std::string> args) {
  ChildSpec spec;
  spec.argv = {"openssl"};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  spec.search_path = true;
  spec.stdout_path = spec.stderr_path = dir + "/openssl.out";
  pid_t pid = spawn_child(spec);
  const int status = wait_child(pid, 30000);
  kill_child(pid);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("openssl " + args.at(0) + " failed: " + slurp(dir + "/openssl.out"));
}

// An EC P-256 key and a self-signed authority certificate: dir/<name>.key and dir/<name>.pem.
void make_ca(const std::string& dir, const std::string& name) {
  const std::string base = dir + "/" + name;
  openssl(dir, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                "-nodes", "-keyout", base + ".key", "-out", base + ".pem", "-days", "2", "-subj",
                "/CN=Gainmesh rig " + name, "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
}

}  // namespace

UpdateServer::UpdateServer(Options options) : options_(std::move(options)) {
  if (options_.ip.rfind("127.", 0) != 0)
    throw std::runtime_error("the update server needs a 127.x.y.z address");
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/gmupdate.XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make the update server's folder");
  dir_ = pattern;
  fs::create_directories(release_dir() + "/files");
  make_certificates();
  ChildSpec spec;
  spec.argv = {options_.python, options_.script,
               "--addr",        ip(),
               "--port",        "0",
               "--cert",        dir_ + "/server.pem",
               "--key",         dir_ + "/server.key",
               "--root",        release_dir(),
               "--log",         dir_ + "/requests.log",
               "--faults",      dir_ + "/faults.json",
               "--ready",       dir_ + "/port"};
  spec.search_path = true;
  spec.stderr_path = dir_ + "/server.err";
  pid_ = spawn_child(spec);
  wait_until_ready(
      pid_, [this] { return fs::exists(dir_ + "/port"); }, kStartTimeoutMs, "the update server",
      [this] { return slurp(dir_ + "/server.err"); });
  port_ = std::stoi(slurp(dir_ + "/port"));
}

UpdateServer::~UpdateServer() {
  for (const auto& [name, value] : saved_env_) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
  kill_child(pid_);
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

// The server's key and a certificate for its address, signed by the authority "ca".
void UpdateServer::make_certificates() {
  make_ca(dir_, "ca");
  const std::string d = dir_ + "/";
  openssl(dir_, {"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                 "-keyout", d + "server.key", "-out", d + "server.csr", "-subj", "/CN=" + ip()});
  put(d + "server.ext",
      "subjectAltName=IP:" + ip() + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
  openssl(dir_, {"x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.pem", "-CAkey",
                 d + "ca.key", "-set_serial", "1", "-days", "2", "-extfile", d + "server.ext",
                 "-out", d + "server.pem"});
}

std::vector<std::string> UpdateServer::app_env() const {
  return {std::string(kUrlVar) + "=" + base_url(), std::string(kCaVar) + "=" + ca_file()};
}

void UpdateServer::point_app_here(const std::string& ca) {
  for (const char* name : {kUrlVar, kCaVar}) {
    const char* old = getenv(name);
    if (!saved_env_.count(name))
      saved_env_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  setenv(kUrlVar, base_url().c_str(), 1);
  if (ca.empty())
    unsetenv(kCaVar);
  else
    setenv(kCaVar, ca.c_str(), 1);
}

int UpdateServer::release(const std::vector<std::string>& args, std::string* err) const {
  ChildSpec spec;
  spec.argv = {options_.release_tool, "--key", options_.release_key, "--base-url",
               files_url(),           "--out", release_dir()};
  spec.argv.insert(spec.argv.end(), args.begin(), args.end());
  spec.stderr_path = dir_ + "/gm-release.err";
  pid_t pid = spawn_child(spec);
  const int status = wait_child(pid, 60000);
  kill_child(pid);
  if (err) *err = slurp(dir_ + "/gm-release.err");
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string UpdateServer::make_other_ca(const std::string& name) {
  make_ca(dir_, name);
  return dir_ + "/" + name + ".pem";
}

std::string UpdateServer::base_url() const {
  return "https://" + ip() + ":" + std::to_string(port_);
}
std::string UpdateServer::files_url() const {
  return base_url() + "/files";
}
std::string UpdateServer::manifest_url() const {
  return base_url() + "/v1/updates?product=gainmesh&platform=macos";
}
std::string UpdateServer::ca_file() const {
  return dir_ + "/ca.pem";
}
std::string UpdateServer::release_dir() const {
  return dir_ + "/release";
}
std::string UpdateServer::log_text() const {
  return slurp(dir_ + "/requests.log");
}

std::vector<UpdateRequest> UpdateServer::requests() const {
  std::vector<UpdateRequest> out;
  std::istringstream lines(log_text());
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string one; std::getline(fields, one, '\t');) f.push_back(one);
    if (f.size() != 4 || line[0] == '!') continue;
    const size_t q = f[1].find('?');
    out.push_back({f[0], f[1].substr(0, q), q == std::string::npos ? "" : f[1].substr(q + 1), f[2],
                   std::atoi(f[3].c_str())});
  }
  return out;
}

void UpdateServer::fail_with(const std::string& path, int status) {
  set_fault(path, "{\"status\":" + std::to_string(status) + "}");
}
void UpdateServer::redirect(const std::string& path, const std::string& location) {
  set_fault(path, "{\"redirect\":" + quoted(location) + "}");
}
void UpdateServer::serve_instead(const std::string& path, const std::string& bytes) {
  const std::string file = dir_ + "/instead." + std::to_string(++bodies_);
  put(file, bytes);
  set_fault(path, "{\"body\":" + quoted(file) + "}");
}
void UpdateServer::clear_faults() {
  faults_.clear();
  put(dir_ + "/faults.json", "{}");
}

void UpdateServer::set_fault(const std::string& path, const std::string& rule) {
  faults_[path] = rule;
  std::string json;
  for (const auto& [p, r] : faults_) json += (json.empty() ? "{" : ",") + quoted(p) + ":" + r;
  put(dir_ + "/faults.json", json + "}");
}

}  // namespace rig
