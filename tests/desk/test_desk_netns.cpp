// Broadcast discovery on a small network of namespaces that the test builds: two virtual desks
// on one subnet, found by a scan that runs in a namespace of its own, with their names, models,
// identities and SoundGrid cards.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "desk_wing.h"
#include "support/eventually.h"
#include "support/netns.h"

namespace {

using gmtest::NetnsLab;

constexpr int kStartMs = 20000;
constexpr int kQuitGraceMs = 3000;

bool can_connect(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.size() >= sizeof a.sun_path) return false;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

std::string row(const std::string& ip, const std::string& name, const std::string& model,
                const std::string& id, int card) {
  return ip + " | " + name + " | " + model + " | " + id + " | " + std::to_string(card) + "\n";
}

// A virtual desk inside host namespace `host`. It binds the wildcard address, as a desk that
// hears broadcasts does; its namespace holds only its own address.
class NamespacedDesk {
 public:
  NamespacedDesk(NetnsLab& lab, int host, const std::vector<std::string>& options)
      : lab_(lab),
        control_("/tmp/gm-netns-" + std::to_string(getpid()) + "-" + std::to_string(host) +
                 ".sock") {
    unlink(control_.c_str());
    std::vector<std::string> argv = {GM_BUILD_DIR "/sim/wingsim",
                                     "--ip",
                                     "0.0.0.0",
                                     "--control",
                                     control_,
                                     "--no-stdin",
                                     "--quiet"};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = lab_.spawn(lab_.host(host), argv);
    ready_ = pid_ > 0 && gmtest::eventually([this] { return can_connect(control_); },
                                            std::chrono::milliseconds(kStartMs));
  }
  ~NamespacedDesk() {
    if (ready_) {
      const int status = lab_.stop(pid_, kQuitGraceMs);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "wingsim ended with status " << status;
    }
    unlink(control_.c_str());
  }
  bool ready() const { return ready_; }

 private:
  NetnsLab& lab_;
  std::string control_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Runs in the scanner namespace: one broadcast scan, one line per desk.
std::string scan_report() {
  gm::DeskFound found[8];
  const int n = gm::wing_scan(nullptr, found, 8, 1200);
  std::string out;
  for (int i = 0; i < n; ++i) {
    const gm::DeskFound& d = found[i];
    out += row(d.ip, d.name, d.model, d.id, d.card);
  }
  return out;
}

TEST(DeskScanNetns, BroadcastFindsEveryDeskOnTheSubnetWithItsCard) {
  NetnsLab lab(2);
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  NamespacedDesk stage(lab, 0,
                       {"--name", "Stage, Left, FOH", "--model", "wing-rack", "--serial", "SA-100",
                        "--mod-card", "WSG", "--crd-card", "NONE"});
  NamespacedDesk monitors(lab, 1,
                          {"--name", "Monitors", "--model", "wing-compact", "--serial", "",
                           "--mod-card", "NONE", "--crd-card", "NONE"});
  ASSERT_TRUE(stage.ready() && monitors.ready()) << "a virtual desk did not start";

  std::string report, err;
  ASSERT_TRUE(gmtest::run_in_netns(lab.scanner(), scan_report, &report, &err)) << err;
  const std::string a = lab.host_addr(0), b = lab.host_addr(1);
  const std::set<std::string> expected = {
      row(a, "Stage, Left, FOH", "wing-rack", "SA-100", 1),
      row(b, "Monitors", "wing-compact", b, 0),  // no serial: known by its address
  };
  std::set<std::string> seen;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) seen.insert(line + "\n");
  EXPECT_EQ(seen, expected) << report;
}

}  // namespace
