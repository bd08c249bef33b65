// Network namespaces for tests that broadcast: a scanner namespace holding a bridge, and one
// namespace per test host joined to that bridge by a veth pair, on a 10.231.x.0/24 subnet that
// exists only inside them. Nothing the lab sends can leave it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace gmtest {

class NetnsLab {
 public:
  // Builds the scanner namespace and `hosts` host namespaces (names unique to this process).
  // When that is not possible ok() is false and why() says why (not root, no ip command, the
  // system refused); whatever was made is removed again.
  explicit NetnsLab(int hosts);
  // Kills the processes started with spawn, then deletes every namespace of the lab.
  ~NetnsLab();
  NetnsLab(const NetnsLab&) = delete;
  NetnsLab& operator=(const NetnsLab&) = delete;

  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

  const std::string& scanner() const { return scanner_; }
  const std::string& host(int i) const { return hosts_.at(static_cast<size_t>(i)); }
  std::string scanner_addr() const { return subnet_ + "1"; }
  std::string host_addr(int i) const { return subnet_ + std::to_string(10 + i); }

  // Starts argv (argv[0] a path) inside namespace ns with `ip netns exec` (throws when it cannot
  // fork). The process gets SIGKILL if this process dies, and is killed with the lab.
  pid_t spawn(const std::string& ns, const std::vector<std::string>& argv);
  // SIGTERM, then SIGKILL after grace_ms; returns the wait status (-1 if unknown).
  int stop(pid_t pid, int grace_ms);
  // Plugs host i's cable in or pulls it (its eth0 up or down); the host keeps its address and
  // its processes. False with why() set when ip refused.
  bool set_link(int i, bool up);

 private:
  bool build(int hosts);
  bool ip(const std::vector<std::string>& args);
  void remove_namespaces();

  bool ok_ = false;
  std::string why_;
  std::string subnet_;  // "10.231.N."
  std::string scanner_;
  std::vector<std::string> hosts_;
  std::vector<std::string> made_;
  std::vector<pid_t> pids_;
};

// True for an address on a subnet that NetnsLab builds (10.231.0.0/16): it exists only inside
// the lab's namespaces.
bool lab_address(const std::string& ip);

// Runs fn in a forked child that has joined network namespace ns with setns(), and hands back
// what fn returned through a pipe. False with *err set when the child could not join the
// namespace or did not end normally.
bool run_in_netns(const std::string& ns, const std::function<std::string()>& fn, std::string* out,
                  std::string* err);

}  // namespace gmtest
