// `Gainmesh --scan` on networks of namespaces that the test builds: virtual desks on two subnets
// of the scanner, one of them reachable only through the socket tied to its interface.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "discovery.h"
#include "support/eventually.h"
#include "support/netns.h"
#include "support/temp_home.h"

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

// A virtual desk in host namespace `host`, bound to the wildcard address as a desk that hears
// broadcasts is.
class Desk {
 public:
  Desk(NetnsLab& lab, int host, const std::vector<std::string>& options)
      : lab_(lab),
        control_("/tmp/gm-scan-" + std::to_string(getpid()) + "-" + std::to_string(host) +
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
  ~Desk() {
    if (ready_) lab_.stop(pid_, kQuitGraceMs);
    unlink(control_.c_str());
  }
  bool ready() const { return ready_; }

 private:
  NetnsLab& lab_;
  std::string control_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

// Runs the built executable's --scan in the scanner namespace, where broadcasting is allowed.
std::string scan_in(const NetnsLab& lab, double* seconds) {
  std::string out, err;
  const auto start = std::chrono::steady_clock::now();
  const bool ran = gmtest::run_in_netns(
      lab.scanner(),
      [] {
        unsetenv("GAINMESH_TEST_NO_BROADCAST");
        std::string text;
        FILE* p = popen("'" GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh' --scan", "r");
        if (!p) return std::string("popen failed");
        std::array<char, 1024> buf;
        for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) text.append(buf.data(), n);
        const int status = pclose(p);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
          text += "(exit status " + std::to_string(status) + ")";
        return text;
      },
      &out, &err);
  if (seconds) {
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return ran ? out : err;
}

// What the desk at ip says about itself when asked directly through bridge `dev` of the scanner:
// its WING discovery line, or its /xinfo reply as a line.
std::string asked_directly(const NetnsLab& lab, const std::string& dev, const std::string& ip,
                           bool x32) {
  std::string out, err;
  const auto ask = [&] {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const timeval tv{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, dev.c_str(),
               static_cast<socklen_t>(dev.size() + 1));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(x32 ? gm::kXinfoPort : gm::kWingDiscoveryPort);
    inet_pton(AF_INET, ip.c_str(), &to.sin_addr);
    const std::string q = x32 ? std::string("/xinfo\0\0,\0\0\0", 12) : "WING?";
    sendto(fd, q.data(), q.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    uint8_t buf[512];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    close(fd);
    std::string line = "(no answer)";
    if (n > 0) {
      x32 ? gm::xinfo_reply_line(buf, static_cast<size_t>(n), &line)
          : gm::wing_reply_line(buf, static_cast<size_t>(n), &line);
    }
    return line;
  };
  return gmtest::run_in_netns(lab.scanner(), ask, &out, &err) ? out : err;
}

class ScanNetns : public gmtest::TempHomeTest {};

TEST_F(ScanNetns, OneScanFindsAWingAndAnX32OnTwoSubnets) {
  NetnsLab lab(std::vector<int>{0, 1});
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  Desk wing(lab, 0,
            {"--name", "Stage, Left", "--model", "wing-rack", "--serial", "SA-7", "--firmware",
             "3.1-0-g9f314617"});
  Desk x32(lab, 1, {"--x32", "--name", "Monitors", "--model", "M32", "--firmware", "4.06"});
  ASSERT_TRUE(wing.ready() && x32.ready()) << "a virtual desk did not start";

  const std::string wing_line = asked_directly(lab, "br0", lab.host_addr(0), false);
  const std::string x32_line = asked_directly(lab, "br1", lab.host_addr(1), true);
  // The address each desk gives is its own business; the rest of the line is checked here.
  EXPECT_EQ(wing_line,
            "WING," + gm::field(wing_line) + ",Stage, Left,wing-rack,SA-7,3.1-0-g9f314617");
  EXPECT_EQ(x32_line, "X32," + gm::field(x32_line) + ",Monitors,M32,4.06");
  EXPECT_EQ(scan_in(lab, nullptr), wing_line + "\n" + x32_line + "\n");
}

TEST_F(ScanNetns, ADeskOnlyTheInterfaceSocketReachesIsFound) {
  NetnsLab lab(std::vector<int>{0, 1});
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  // Subnet 1 is known to the scanner only as its bridge: no route, no directed broadcast there.
  ASSERT_TRUE(lab.narrow_scanner(1)) << lab.why();
  Desk wing(lab, 1, {"--name", "Side"});
  ASSERT_TRUE(wing.ready()) << "the virtual desk did not start";

  const std::string wing_line = asked_directly(lab, "br1", lab.host_addr(1), false);
  ASSERT_EQ(wing_line.rfind("WING,", 0), 0u) << wing_line;
  EXPECT_EQ(scan_in(lab, nullptr), wing_line + "\n-\n");
}

TEST_F(ScanNetns, WithNoConsoleThereTheScanPrintsTwoDashesWithinAboutTwoAndAHalfSeconds) {
  NetnsLab lab(std::vector<int>{0, 1});
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  double seconds = 0;
  EXPECT_EQ(scan_in(lab, &seconds), "-\n-\n");
  // Three WING attempts and two X32 / M32 attempts of 400 ms each: it did wait for answers.
  EXPECT_GE(seconds, 1.9);
  EXPECT_LE(seconds, 2.5);
}

}  // namespace
