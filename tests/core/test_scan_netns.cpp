// `Gainmesh --scan` on networks of namespaces that the test builds: virtual desks on two subnets
// of the scanner, one of them reachable only through the socket tied to its interface.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "discovery.h"
#include "support/netns.h"
#include "support/temp_home.h"

namespace {

using gmtest::NetnsLab;

class ScanNetns : public gmtest::TempHomeTest {
 protected:
  // A desk in host i's namespace, hearing broadcasts; stopped with the lab.
  bool desk(NetnsLab& lab, int i, const std::vector<std::string>& options) {
    const std::string control = home_.path() + "/desk" + std::to_string(i) + ".sock";
    return lab.spawn_desk(i, GM_BUILD_DIR "/sim/wingsim", control, options) > 0;
  }

  // The built executable's --scan in the scanner namespace, where it may broadcast: its output,
  // and how long it took.
  static std::string scan(const NetnsLab& lab, double* seconds = nullptr) {
    std::string out, err;
    const auto start = std::chrono::steady_clock::now();
    const auto run = [] {
      unsetenv("GAINMESH_TEST_NO_BROADCAST");
      std::string text;
      FILE* p = popen("'" GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh' --scan", "r");
      char buf[1024];
      for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
      return p && pclose(p) == 0 ? text : text + "(failed)";
    };
    const bool ran = gmtest::run_in_netns(lab.scanner(), run, &out, &err);
    if (seconds) {
      *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return ran ? out : err;
  }
};

// The address a desk puts in its reply is its own business (a desk bound to the wildcard may not
// know it); every other field is checked.
std::string with_address_of(const std::string& line, const std::string& head,
                            const std::string& tail) {
  return head + "," + gm::field(line) + "," + tail;
}

TEST_F(ScanNetns, OneScanFindsAWingAndAnX32OnTwoSubnets) {
  NetnsLab lab(std::vector<int>{0, 1});
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  ASSERT_TRUE(desk(lab, 0, {"--name", "Stage, Left", "--serial", "SA-7"}));
  ASSERT_TRUE(desk(lab, 1, {"--x32", "--name", "Monitors", "--model", "M32"}));

  const std::string out = scan(lab);
  const std::string wing = out.substr(0, out.find('\n'));
  const std::string x32 =
      out.substr(wing.size() + 1, out.find('\n', wing.size() + 1) - wing.size() - 1);
  EXPECT_EQ(wing, with_address_of(wing, "WING", "Stage, Left,wing-rack,SA-7,3.1-0-g9f314617"));
  EXPECT_EQ(x32, with_address_of(x32, "X32", "Monitors,M32,4.06"));
  EXPECT_EQ(out, wing + "\n" + x32 + "\n");
}

TEST_F(ScanNetns, ADeskOnlyTheInterfaceSocketReachesIsFound) {
  NetnsLab lab(std::vector<int>{0, 1});
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  // Subnet 1 is known to the scanner only as its bridge: no route, no directed broadcast there.
  ASSERT_TRUE(lab.narrow_scanner(1)) << lab.why();
  ASSERT_TRUE(desk(lab, 1, {"--name", "Side"}));
  const std::string out = scan(lab);
  EXPECT_EQ(out, with_address_of(out, "WING", "Side,wing-rack,S0001,3.1-0-g9f314617\n-\n"));
}

TEST_F(ScanNetns, WithNoConsoleThereTheScanPrintsTwoDashesWithinAboutTwoAndAHalfSeconds) {
  NetnsLab lab(std::vector<int>{0, 1});
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  double seconds = 0;
  EXPECT_EQ(scan(lab, &seconds), "-\n-\n");
  // Three WING attempts and two X32 / M32 attempts of 400 ms each: it did wait for answers.
  EXPECT_GE(seconds, 1.9);
  EXPECT_LE(seconds, 2.5);
}

}  // namespace
