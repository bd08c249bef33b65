// Broadcast discovery on a small network of namespaces that the test builds: two virtual desks
// on one subnet, found by a scan that runs in a namespace of its own, with their names, models,
// identities and SoundGrid cards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "desk_wing.h"
#include "support/control_socket.h"
#include "support/netns.h"

namespace {

using gmtest::NetnsLab;

std::string row(const std::string& ip, const std::string& name, const std::string& model,
                const std::string& id, int card) {
  return ip + " | " + name + " | " + model + " | " + id + " | " + std::to_string(card);
}

// Runs in the scanner namespace: one broadcast scan, one line per desk.
std::string scan_report() {
  gm::DeskFound found[8];
  const int n = gm::wing_scan(nullptr, found, 8, 1200);
  std::string out;
  for (const gm::DeskFound& d : std::span(found, n > 0 ? n : 0)) {
    out += row(d.ip, d.name, d.model, d.id, d.card) + "\n";
  }
  return out;
}

TEST(DeskScanNetns, BroadcastFindsEveryDeskOnTheSubnetWithItsCard) {
  struct Sockets {  // the desks' control sockets, removed once the lab has killed the desks
    std::vector<std::string> paths;
    ~Sockets() {
      for (const std::string& p : paths) unlink(p.c_str());
    }
  } sockets;
  NetnsLab lab(2);
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  // Each desk binds the wildcard address, as a desk that hears broadcasts does.
  const auto desk = [&](int i, std::vector<std::string> options) {
    sockets.paths.push_back(gmtest::unique_control_path("wingsim"));
    return lab.spawn_desk(i, GM_BUILD_DIR "/sim/wingsim", sockets.paths.back(), options) > 0;
  };
  ASSERT_TRUE(desk(0, {"--name", "Stage, Left, FOH", "--model", "wing-rack", "--serial", "SA-100",
                       "--mod-card", "WSG", "--crd-card", "NONE"}));
  ASSERT_TRUE(desk(1, {"--name", "Monitors", "--model", "wing-compact", "--serial", "",
                       "--mod-card", "NONE", "--crd-card", "NONE"}));

  std::string report, err;
  ASSERT_TRUE(gmtest::run_in_netns(lab.scanner(), scan_report, &report, &err)) << err;
  const std::string a = lab.host_addr(0), b = lab.host_addr(1);
  std::set<std::string> seen;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) seen.insert(line);
  EXPECT_EQ(seen, (std::set<std::string>{row(a, "Stage, Left, FOH", "wing-rack", "SA-100", 1),
                                         // No serial: known by its address.
                                         row(b, "Monitors", "wing-compact", b, 0)}))
      << report;
}

}  // namespace
