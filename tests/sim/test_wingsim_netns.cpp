// The virtual desk's discovery answers on a small network of namespaces that the test builds:
// broadcasts from a scanner namespace reach desks bound to the wildcard or to one address, and
// every answer names the address the desk has on the network the question came from.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "support/control_socket.h"
#include "support/eventually.h"
#include "support/netns.h"

namespace {

const std::string kWing = "WING?", kXinfo("/xinfo\0\0,\0\0\0", 12), kAll = "255.255.255.255";
const std::string kTail = ",wing-rack,S0001,3.1-0-g9f314617";

// Sends msg to to:port and gathers every answer for 700 ms: "sender payload" lines, sorted. The
// namespaces have no default route, so 255.255.255.255 leaves by the scanner's bridge.
std::string ask_all(const std::string& to, int port, const std::string& msg) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), one = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  if (to == kAll) setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "br0", 4);
  sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(port)), {}, {}};
  inet_pton(AF_INET, to.c_str(), &a.sin_addr);
  sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  std::vector<std::string> got;
  char buf[2048], ip[INET_ADDRSTRLEN];
  for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 700) == 1;) {
    socklen_t len = sizeof a;
    const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&a), &len);
    inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
    got.push_back(std::string(ip) + " " + std::string(buf, n > 0 ? static_cast<size_t>(n) : 0));
  }
  close(fd);
  std::sort(got.begin(), got.end());
  std::string out;
  for (const std::string& g : got) out += g + "\n";
  return out;
}

std::string ask_in(const std::string& ns, const std::string& to, int port, const std::string& m) {
  std::string out, err;
  return gmtest::run_in_netns(
             ns, [&] { return ask_all(to, port, m); }, &out, &err)
             ? out
             : err;
}

TEST(WingSimNetns, DesksAnswerBroadcastsWithTheAddressTheQuestionReached) {
  gmtest::NetnsLab lab(3);
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  const std::string a = lab.host_addr(0), b = lab.host_addr(1), c = lab.host_addr(2);
  std::vector<std::string> control;
  const auto start = [&](int host, const std::string& ip, std::vector<std::string> more) {
    control.push_back(gmtest::unique_control_path("wingsim-netns"));
    more.insert(more.begin(), {GM_BUILD_DIR "/sim/wingsim", "--ip", ip, "--control", control.back(),
                               "--no-stdin", "--quiet"});
    lab.spawn(lab.host(host), more);
    return gmtest::eventually(
        [&] { return gmtest::control_command(control.back(), "help", 1000).ok; },
        std::chrono::seconds(20));
  };
  ASSERT_TRUE(start(0, "0.0.0.0", {"--name", "Stage, Left"}) && start(1, "0.0.0.0", {"--x32"}) &&
              start(2, c, {}));

  const std::string both =
      a + " WING," + a + ",Stage, Left" + kTail + "\n" + c + " WING," + c + ",FOH" + kTail + "\n";
  EXPECT_EQ(ask_in(lab.scanner(), kAll, 2222, kWing), both);
  const std::string net = lab.scanner_addr().substr(0, lab.scanner_addr().rfind('.'));
  EXPECT_EQ(ask_in(lab.scanner(), net + ".255", 2222, kWing), both);
  EXPECT_EQ(ask_in(lab.host(0), "127.0.0.1", 2222, kWing),
            "127.0.0.1 WING,127.0.0.1,Stage, Left" + kTail + "\n");
  const std::string xinfo = ask_in(lab.scanner(), kAll, 10023, kXinfo);
  EXPECT_EQ(xinfo.substr(0, b.size() + 18 + b.size()),
            b + " " + std::string("/xinfo\0\0,ssss\0\0\0", 16) + b + '\0');

  // Moved onto loopback, the bound desk has left the network.
  ASSERT_TRUE(gmtest::control_command(control[2], "move 127.0.0.1", 3000).ok);
  EXPECT_EQ(ask_in(lab.scanner(), kAll, 2222, kWing), both.substr(0, both.find('\n') + 1));
}

}  // namespace
