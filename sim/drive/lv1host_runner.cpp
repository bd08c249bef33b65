// Spawning the LV1 stand-in and speaking to its control socket.
#include "drive/lv1host_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace rig {
namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr int kAnswerTimeoutMs = 30000;  // "quit" waits for every module to stop

constexpr const char* kNoBroadcast = "GAINMESH_TEST_NO_BROADCAST=";

// The environment of this process, with LeakSanitizer switched off and broadcasts allowed when
// asked.
std::vector<std::string> child_env(bool leak_check, bool broadcast) {
  std::vector<std::string> env;
  std::string asan;
  for (char** e = environ; *e; ++e) {
    if (strncmp(*e, "ASAN_OPTIONS=", 13) == 0) {
      asan = *e + 13;
    } else if (!(broadcast && strncmp(*e, kNoBroadcast, strlen(kNoBroadcast)) == 0)) {
      env.emplace_back(*e);
    }
  }
  if (!leak_check) asan += (asan.empty() ? "" : ":") + std::string("detect_leaks=0");
  if (!asan.empty()) env.push_back("ASAN_OPTIONS=" + asan);
  return env;
}

std::string file_text(const std::string& path) {
  if (path.empty()) return "";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

Lv1Host::Strip parse_strip(const std::string& line) {
  std::map<std::string, std::string> f;
  std::istringstream in(line);
  for (std::string field; in >> field;) {
    const size_t eq = field.find('=');
    if (eq == std::string::npos) return Lv1Host::Strip{};
    f[field.substr(0, eq)] = field.substr(eq + 1);
  }
  if (!f.count("ch") || !f.count("redraws")) return Lv1Host::Strip{};
  Lv1Host::Strip s;
  s.ch = std::stoi(f["ch"]);
  s.gain = std::stod(f["gain"]);
  s.phantom = f["48v"] == "on";
  s.preamp = f["preamp"] == "1";
  s.min = std::stod(f["min"]);
  s.max = std::stod(f["max"]);
  s.step = std::stod(f["step"]);
  s.queries = std::stoull(f["queries"]);
  s.pushes = std::stoull(f["pushes"]);
  s.redraws = std::stoull(f["redraws"]);
  return s;
}

Lv1Host::Lv1Host(Options options)
    : RigProgram("lv1host", kAnswerTimeoutMs, false), options_(std::move(options)) {
  if (options_.executable.empty()) throw std::runtime_error("lv1host needs its executable");
  if (options_.broadcast && options_.netns.empty()) {
    throw std::runtime_error("lv1host may broadcast only inside a network namespace of the caller");
  }
  ChildSpec spec;
  spec.argv = {options_.executable, "--control", control_path()};
  if (!options_.stdin_pipe) spec.argv.push_back("--no-stdin");
  spec.argv.insert(spec.argv.end(), options_.args.begin(), options_.args.end());
  if (!options_.netns.empty()) {
    spec.argv.insert(spec.argv.begin(), {"ip", "netns", "exec", options_.netns});
    spec.search_path = true;
  }
  spec.env = child_env(options_.leak_check, options_.broadcast);
  spec.stdout_path = options_.stdout_path;
  spec.stderr_path = options_.stderr_path;
  int in_pipe[2] = {-1, -1};
  if (options_.stdin_pipe && pipe2(in_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("cannot make a pipe for lv1host");
  }
  spec.stdin_fd = in_pipe[0];
  stdin_fd_ = in_pipe[1];
  start(spec, "rack", kStartTimeoutMs, [&] { return stderr_text(); });
  if (in_pipe[0] >= 0) close(in_pipe[0]);
}

Lv1Host::~Lv1Host() {
  quit(10000);
  if (stdin_fd_ >= 0) close(stdin_fd_);
}

std::vector<Lv1Host::Strip> Lv1Host::strips(int type) {
  std::vector<Strip> out;
  for (const std::string& line : cmd("strips " + std::to_string(type))) {
    out.push_back(parse_strip(line));
  }
  return out;
}

Lv1Host::Strip Lv1Host::strip(int type, int ch) {
  const std::string c = std::to_string(ch);
  const std::vector<std::string> lines = cmd("strips " + std::to_string(type) + " " + c + " " + c);
  return lines.size() == 1 ? parse_strip(lines[0]) : Strip{};
}

int Lv1Host::exit_code(int status) const {
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Lv1Host::quit(int timeout_ms) {
  return exit_code(quit_and_wait(timeout_ms));
}

int Lv1Host::terminate(int timeout_ms) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  const int status = wait_child(pid_, timeout_ms);
  kill_hard();
  return exit_code(status);
}

void Lv1Host::send_stdin(const std::string& line) {
  const std::string text = line + "\n";
  if (stdin_fd_ >= 0) {
    [[maybe_unused]] ssize_t n = write(stdin_fd_, text.data(), text.size());
  }
}

std::string Lv1Host::stdout_text() const {
  return file_text(options_.stdout_path);
}
std::string Lv1Host::stderr_text() const {
  return file_text(options_.stderr_path);
}

}  // namespace rig
