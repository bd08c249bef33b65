// Network namespaces for tests and benchmarks that broadcast: a scanner namespace holding one
// bridge per subnet, and one namespace per host joined to its subnet's bridge by a veth pair. The
// subnets are 10.231.x.0/24 and exist only inside the lab's namespaces: nothing the lab sends can
// leave it.
//
// Threads: one lab per driving thread. Blocking: building and removing run the ip command.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace rig {

class NetnsLab {
 public:
  // Builds the scanner namespace and `hosts` host namespaces (names unique to this process), all
  // on one subnet. When that is not possible ok() is false and why() says why (not root, no ip
  // command, the system refused); whatever was made is removed again.
  explicit NetnsLab(int hosts);
  // The same with host i on subnet host_subnets[i] (0, 1 or 2); the scanner namespace gets one
  // bridge (br0, br1, br2) for each subnet, holding the scanner's address there.
  explicit NetnsLab(const std::vector<int>& host_subnets);
  // Kills the processes started with spawn, then deletes every namespace of the lab.
  ~NetnsLab();
  NetnsLab(const NetnsLab&) = delete;
  NetnsLab& operator=(const NetnsLab&) = delete;

  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

  const std::string& scanner() const { return scanner_; }
  const std::string& host(int i) const { return hosts_.at(static_cast<size_t>(i)); }
  std::string scanner_addr(int subnet = 0) const { return prefix(subnet) + "1"; }
  std::string host_addr(int i) const;

  // Starts argv (argv[0] a path) inside namespace ns with `ip netns exec` (throws when it cannot
  // fork). The process gets SIGKILL if this process dies, and is killed with the lab.
  pid_t spawn(const std::string& ns, const std::vector<std::string>& argv);
  // Starts wingsim (its path in `program`) in host i's namespace, bound to the wildcard address
  // as a desk that hears broadcasts is, with its control channel at control_path and these
  // further options; waits up to 20 s until the control channel answers. Its pid, or -1 when it
  // did not start (it is stopped again).
  pid_t spawn_desk(int i, const std::string& program, const std::string& control_path,
                   const std::vector<std::string>& options);
  // SIGTERM, then SIGKILL after grace_ms; returns the wait status (-1 if unknown).
  int stop(pid_t pid, int grace_ms);
  // Plugs host i's cable in or pulls it (its eth0 up or down); the host keeps its address and
  // its processes. False with why() set when ip refused.
  bool set_link(int i, bool up);
  // Gives the scanner's address on `subnet` a /32 mask: the scanner then knows no neighbours
  // there, so its directed broadcast and its routes reach nobody on that subnet, and only a
  // socket tied to that bridge reaches the hosts. False with why() set when ip refused.
  bool narrow_scanner(int subnet);

 private:
  bool build(const std::vector<int>& host_subnets);
  std::string prefix(int subnet) const;  // 10.231.N. of that subnet
  bool ip(const std::vector<std::string>& args);
  void remove_namespaces();

  bool ok_ = false;
  std::string why_;
  int first_subnet_ = 0;  // N of subnet 0
  std::vector<int> host_subnets_;
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

}  // namespace rig
