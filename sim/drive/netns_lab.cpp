// Building and tearing down the namespace lab with iproute2, and running code inside it.
#include "drive/netns_lab.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "drive/child.h"
#include "drive/control_client.h"

namespace rig {
namespace {

constexpr int kToolMissing = 127;
constexpr const char* kLabNet = "10.231.";  // each lab takes up to three /24 below it
constexpr int kMaxSubnets = 3;
constexpr int kDeskStartMs = 20000;

std::vector<char*> c_args(const std::vector<std::string>& args) {
  std::vector<char*> out;
  for (const std::string& a : args) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

std::string read_all(int fd) {
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return text;
    text.append(buf, static_cast<size_t>(n));
  }
}

void write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// fork(), with the child killed when this process dies.
pid_t fork_child() {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(kToolMissing);
  }
  return pid;
}

// Runs a program found on PATH with stdout and stderr collected; its exit code, or 127 when it
// cannot run.
int run_tool(const std::vector<std::string>& args, std::string* output) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return kToolMissing;
  const pid_t pid = fork_child();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return kToolMissing;
  }
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    std::vector<char*> argv = c_args(args);
    execvp(argv[0], argv.data());
    _exit(kToolMissing);
  }
  close(fds[1]);
  *output = read_all(fds[0]);
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : kToolMissing;
}

bool netns_exists(const std::string& name) {
  return access(("/var/run/netns/" + name).c_str(), F_OK) == 0;
}

}  // namespace

NetnsLab::NetnsLab(int hosts) : NetnsLab(std::vector<int>(static_cast<size_t>(hosts), 0)) {}

NetnsLab::NetnsLab(const std::vector<int>& host_subnets) {
  ok_ = build(host_subnets);
  if (!ok_) remove_namespaces();
}

std::string NetnsLab::prefix(int subnet) const {
  return kLabNet + std::to_string(first_subnet_ + subnet) + ".";
}

std::string NetnsLab::host_addr(int i) const {
  return prefix(host_subnets_.at(static_cast<size_t>(i))) + std::to_string(10 + i);
}

NetnsLab::~NetnsLab() {
  for (pid_t pid : pids_) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  remove_namespaces();
}

bool NetnsLab::ip(const std::vector<std::string>& args) {
  std::vector<std::string> full = {"ip"};
  full.insert(full.end(), args.begin(), args.end());
  std::string output;
  const int rc = run_tool(full, &output);
  if (rc == 0) return true;
  std::string line;
  for (const std::string& a : full) line += (line.empty() ? "" : " ") + a;
  why_ = rc == kToolMissing ? "the ip command (iproute2) cannot be run"
                            : "'" + line + "' failed: " + output;
  return false;
}

bool NetnsLab::build(const std::vector<int>& host_subnets) {
  if (geteuid() != 0) {
    why_ =
        "creating network namespaces needs root (running as uid " + std::to_string(geteuid()) + ")";
    return false;
  }
  int subnets = 1;
  for (int k : host_subnets) {
    if (k < 0 || k >= kMaxSubnets) {
      why_ = "a lab has subnets 0 to " + std::to_string(kMaxSubnets - 1);
      return false;
    }
    subnets = std::max(subnets, k + 1);
  }
  host_subnets_ = host_subnets;
  const std::string base = "gm" + std::to_string(getpid());
  first_subnet_ = static_cast<int>(getpid() % (250 / kMaxSubnets)) * kMaxSubnets;
  scanner_ = base + "s";
  for (size_t i = 0; i < host_subnets.size(); ++i)
    hosts_.push_back(base + static_cast<char>('a' + i));
  std::vector<std::string> all = hosts_;
  all.insert(all.begin(), scanner_);
  for (const std::string& ns : all) {
    if (netns_exists(ns)) ip({"netns", "del", ns});  // left by a crashed run with this pid
    if (!ip({"netns", "add", ns})) return false;
    made_.push_back(ns);
    if (!ip({"-n", ns, "link", "set", "lo", "up"})) return false;
  }
  const std::string& s = scanner_;
  for (int k = 0; k < subnets; ++k) {
    const std::string br = "br" + std::to_string(k);
    if (!ip({"-n", s, "link", "add", br, "type", "bridge", "forward_delay", "0"}) ||
        !ip({"-n", s, "addr", "add", scanner_addr(k) + "/24", "dev", br}) ||
        !ip({"-n", s, "link", "set", br, "up"})) {
      return false;
    }
  }
  for (size_t i = 0; i < hosts_.size(); ++i) {
    const std::string port = "v" + std::to_string(i);
    const std::string br = "br" + std::to_string(host_subnets[i]);
    const std::string& h = hosts_[i];
    if (!ip({"-n", s, "link", "add", port, "type", "veth", "peer", "name", "eth0", "netns", h}) ||
        !ip({"-n", s, "link", "set", port, "master", br, "up"}) ||
        !ip({"-n", h, "addr", "add", host_addr(static_cast<int>(i)) + "/24", "dev", "eth0"}) ||
        !ip({"-n", h, "link", "set", "eth0", "up"})) {
      return false;
    }
  }
  return true;
}

bool NetnsLab::narrow_scanner(int subnet) {
  const std::string br = "br" + std::to_string(subnet);
  return ip({"-n", scanner_, "addr", "del", scanner_addr(subnet) + "/24", "dev", br}) &&
         ip({"-n", scanner_, "addr", "add", scanner_addr(subnet) + "/32", "dev", br});
}

void NetnsLab::remove_namespaces() {
  const std::string kept = why_;
  for (const std::string& ns : made_) ip({"netns", "del", ns});
  made_.clear();
  why_ = kept;
}

pid_t NetnsLab::spawn(const std::string& ns, const std::vector<std::string>& argv) {
  rig::ChildSpec spec;
  spec.argv = {"ip", "netns", "exec", ns};
  spec.argv.insert(spec.argv.end(), argv.begin(), argv.end());
  spec.search_path = true;
  const pid_t pid = rig::spawn_child(spec);
  pids_.push_back(pid);
  return pid;
}

pid_t NetnsLab::spawn_desk(int i, const std::string& program, const std::string& control_path,
                           const std::vector<std::string>& options) {
  unlink(control_path.c_str());
  std::vector<std::string> argv = {program,      "--ip",       "0.0.0.0", "--control",
                                   control_path, "--no-stdin", "--quiet"};
  argv.insert(argv.end(), options.begin(), options.end());
  const pid_t pid = spawn(host(i), argv);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDeskStartMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (control_command(control_path, "clients", 1000).ok) return pid;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stop(pid, 0);
  return -1;
}

int NetnsLab::stop(pid_t pid, int grace_ms) {
  std::erase(pids_, pid);
  kill(pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(grace_ms);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  return waitpid(pid, &status, 0) == pid ? status : -1;
}

bool NetnsLab::set_link(int i, bool up) {
  return ip({"-n", host(i), "link", "set", "eth0", up ? "up" : "down"});
}

bool lab_address(const std::string& ip) {
  in_addr a{};
  return inet_pton(AF_INET, ip.c_str(), &a) == 1 && ip.rfind(kLabNet, 0) == 0;
}

bool run_in_netns(const std::string& ns, const std::function<std::string()>& fn, std::string* out,
                  std::string* err) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *err = "no pipe";
    return false;
  }
  const pid_t pid = fork_child();
  if (pid == 0) {
    close(fds[0]);
    const int nsfd = open(("/var/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (nsfd < 0 || setns(nsfd, CLONE_NEWNET) != 0) {
      write_all(fds[1], "cannot join namespace " + ns + ": " + strerror(errno));
      _exit(3);
    }
    write_all(fds[1], fn());
    _exit(0);
  }
  close(fds[1]);
  const std::string text = pid > 0 ? read_all(fds[0]) : "cannot fork";
  close(fds[0]);
  int status = -1;
  if (pid > 0) waitpid(pid, &status, 0);
  if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    *out = text;
    return true;
  }
  *err = text + " (child status " + std::to_string(status) + ")";
  return false;
}

}  // namespace rig
