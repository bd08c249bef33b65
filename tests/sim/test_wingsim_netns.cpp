// The virtual desk's discovery answers on a small network of namespaces that the test builds:
// broadcasts from a scanner namespace reach desks bound to the wildcard or to one address, and
// every answer names the address the desk has on the network the question came from.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "support/control_socket.h"
#include "support/eventually.h"
#include "support/netns.h"

namespace {

using gmtest::NetnsLab;

constexpr int kStartMs = 20000;
constexpr int kListenMs = 700;
const std::string kWingQuery = "WING?";
const std::string kXinfoQuery("/xinfo\0\0,\0\0\0", 12);
const std::string kTail = ",wing-rack,S0001,3.1-0-g9f314617";

// A virtual desk started inside a host namespace of the lab, with a control channel.
class Desk {
 public:
  Desk(NetnsLab& lab, int host, const std::string& ip, std::vector<std::string> options)
      : lab_(lab), control_(gmtest::unique_control_path("wingsim-netns")) {
    std::vector<std::string> argv = {
        GM_BUILD_DIR "/sim/wingsim", "--ip", ip, "--control", control_, "--no-stdin", "--quiet"};
    argv.insert(argv.end(), options.begin(), options.end());
    pid_ = lab_.spawn(lab_.host(host), argv);
    ready_ =
        gmtest::eventually([this] { return cmd("help"); }, std::chrono::milliseconds(kStartMs));
  }
  ~Desk() {
    const int status = lab_.stop(pid_, 3000);
    EXPECT_TRUE(!ready_ || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
  }
  bool ready() const { return ready_; }
  bool cmd(const std::string& line) { return gmtest::control_command(control_, line, 3000).ok; }

 private:
  NetnsLab& lab_;
  std::string control_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Sends msg to to:port (broadcast allowed; 255.255.255.255 goes out of the scanner's bridge, as
// the namespaces have no default route) and gathers the answers for kListenMs, one line each:
// "sender:port payload", NULs shown as '~', sorted.
std::string ask_all(const std::string& to, int port, const std::string& msg) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  if (to == "255.255.255.255") setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "br0", 4);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, to.c_str(), &a.sin_addr);
  if (sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
    close(fd);
    return "send failed";
  }
  std::vector<std::string> lines;
  pollfd p{fd, POLLIN, 0};
  while (poll(&p, 1, kListenMs) == 1) {
    char buf[2048];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) break;
    std::string body(buf, static_cast<size_t>(n));
    std::replace(body.begin(), body.end(), '\0', '~');
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    lines.push_back(std::string(ip) + ":" + std::to_string(ntohs(from.sin_port)) + " " + body);
  }
  close(fd);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

std::string ask_in(const std::string& ns, const std::string& to, int port, const std::string& msg) {
  std::string out, err;
  if (!gmtest::run_in_netns(
          ns, [&] { return ask_all(to, port, msg); }, &out, &err))
    return err;
  return out;
}

// The /xinfo answer from ip as ask_all shows it: its OSC strings, each padded with NULs.
std::string xinfo_line(const std::string& ip, const std::vector<std::string>& strings) {
  std::string out = ip + ":10023 ";
  std::string tag = ",";
  std::vector<std::string> all = {"/xinfo", tag.append(strings.size(), 's')};
  all.insert(all.end(), strings.begin(), strings.end());
  for (const std::string& s : all) out += s + std::string(4 - s.size() % 4, '~');
  return out + "\n";
}

std::string directed_broadcast(const NetnsLab& lab) {
  const std::string s = lab.scanner_addr();
  return s.substr(0, s.rfind('.')) + ".255";
}

TEST(WingSimNetns, WildcardDesksNameTheInterfaceTheQuestionArrivedOn) {
  NetnsLab lab(2);
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  const std::string a = lab.host_addr(0), b = lab.host_addr(1);
  Desk wing(lab, 0, "0.0.0.0", {"--name", "Stage, Left, FOH"});
  Desk x32(lab, 1, "0.0.0.0", {"--x32", "--name", "Monitors"});
  ASSERT_TRUE(wing.ready() && x32.ready()) << "a virtual desk did not start";

  EXPECT_EQ(ask_in(lab.scanner(), "255.255.255.255", 2222, kWingQuery),
            a + ":2222 WING," + a + ",Stage, Left, FOH" + kTail + "\n");
  EXPECT_EQ(ask_in(lab.host(0), "127.0.0.1", 2222, kWingQuery),
            "127.0.0.1:2222 WING,127.0.0.1,Stage, Left, FOH" + kTail + "\n");
  EXPECT_EQ(ask_in(lab.scanner(), "255.255.255.255", 10023, kXinfoQuery),
            xinfo_line(b, {b, "Monitors", "X32", "4.06"}));
}

TEST(WingSimNetns, BoundDesksHearBroadcastsOnTheirNetworkAndAnswerAsThatAddress) {
  NetnsLab lab(2);
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  const std::string a = lab.host_addr(0), b = lab.host_addr(1);
  Desk wing(lab, 0, a, {});
  Desk x32(lab, 1, b, {"--x32"});
  ASSERT_TRUE(wing.ready() && x32.ready()) << "a virtual desk did not start";

  const std::string answer = a + ":2222 WING," + a + ",FOH" + kTail + "\n";
  EXPECT_EQ(ask_in(lab.scanner(), "255.255.255.255", 2222, kWingQuery), answer);
  EXPECT_EQ(ask_in(lab.scanner(), directed_broadcast(lab), 2222, kWingQuery), answer);
  EXPECT_EQ(ask_in(lab.scanner(), a, 2222, kWingQuery), answer);
  EXPECT_EQ(ask_in(lab.scanner(), "255.255.255.255", 10023, kXinfoQuery),
            xinfo_line(b, {b, "FOH", "X32", "4.06"}));

  // Moved onto loopback, the desk has left the network; moved back, it hears it again.
  ASSERT_TRUE(wing.cmd("move 127.0.0.1"));
  EXPECT_EQ(ask_in(lab.scanner(), "255.255.255.255", 2222, kWingQuery), "");
  ASSERT_TRUE(wing.cmd("move " + a));
  EXPECT_EQ(ask_in(lab.scanner(), "255.255.255.255", 2222, kWingQuery), answer);

  // Odd answers on demand, for testing the askers.
  ASSERT_TRUE(wing.cmd("fault discovery-reply \"  WING,{ip},A,B\""));
  EXPECT_EQ(ask_in(lab.scanner(), directed_broadcast(lab), 2222, kWingQuery),
            a + ":2222   WING," + a + ",A,B\n");
  ASSERT_TRUE(x32.cmd("fault xinfo-strings 2"));
  EXPECT_EQ(ask_in(lab.scanner(), "255.255.255.255", 10023, kXinfoQuery),
            xinfo_line(b, {b, "FOH"}));
}

}  // namespace
