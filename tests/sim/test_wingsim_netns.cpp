// The virtual desk's discovery answers on a small network of namespaces that the test builds:
// broadcasts from a scanner namespace reach desks bound to the wildcard or to one address, and
// every answer names the address the desk has on the network the question came from.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <set>

#include "net_util.h"
#include "support/eventually.h"
#include "support/netns.h"

namespace {

const std::string kAll = "255.255.255.255", kWing = "WING?", kXinfo("/xinfo\0\0,\0\0\0", 12);
const std::string kTail = ",wing-rack,S0001,3.1-0-g9f314617";

// Sends msg to to:port from the namespace's one broadcast-capable interface and gathers every
// answer that comes within 700 ms, each followed by a newline, in sorted order. It runs in a
// child process, whose end closes the socket.
std::string gather(const std::string& to, int port, const std::string& msg) {
  int fd = -1;
  gm::net_adapter_sockets(&fd, nullptr, 1);
  sockaddr_in a{AF_INET, htons(static_cast<uint16_t>(port)), {inet_addr(to.c_str())}, {}};
  sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  std::set<std::string> got;
  char buf[2048];
  for (ssize_t n; gm::net_wait_any(&fd, 1, 700) == 0 && (n = recv(fd, buf, 2048, 0)) > 0;)
    got.insert(std::string(buf, static_cast<size_t>(n)) + "\n");
  return std::accumulate(got.begin(), got.end(), std::string());
}

TEST(WingSimNetns, DesksAnswerBroadcastsWithTheAddressTheQuestionReached) {
  gmtest::NetnsLab lab(3);
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  const std::string a = lab.host_addr(0), b = lab.host_addr(1), c = lab.host_addr(2);
  const auto ask = [&](const std::string& to, int port, const std::string& msg) {
    std::string out, err;  // err: why gather() could not run in the scanner namespace
    gmtest::run_in_netns(lab.scanner(), std::bind(gather, to, port, msg), &out, &err);
    return out + err;
  };
  const std::string sim = GM_BUILD_DIR "/sim/wingsim";
  lab.spawn(lab.host(0), {sim, "--no-stdin", "--quiet", "--ip", "0.0.0.0", "--name", "FOH, 2"});
  lab.spawn(lab.host(1), {sim, "--no-stdin", "--quiet", "--ip", "0.0.0.0", "--x32"});
  lab.spawn(lab.host(2), {sim, "--no-stdin", "--quiet", "--ip", c});  // bound to one address

  // Each desk names its address on the lab's network, whichever broadcast reached it.
  const std::string both = "WING," + a + ",FOH, 2" + kTail + "\nWING," + c + ",FOH" + kTail + "\n";
  EXPECT_TRUE(
      gmtest::eventually([&] { return ask(kAll, 2222, kWing) == both; }, std::chrono::seconds(20)))
      << ask(kAll, 2222, kWing);
  EXPECT_EQ(ask(a.substr(0, a.rfind('.')) + ".255", 2222, kWing), both);  // the directed one
  EXPECT_EQ(ask(kAll, 10023, kXinfo).substr(0, b.size() + 17),
            std::string("/xinfo\0\0,ssss\0\0\0", 16) + b + '\0');
}

}  // namespace
