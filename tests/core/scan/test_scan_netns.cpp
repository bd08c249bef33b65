// `Gainmesh --scan` on networks of namespaces that the test builds: virtual desks on two subnets
// of the scanner, one of them reachable only through the socket tied to its interface.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/app_run.h"
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

  // The built executable's --scan in the scanner namespace, where it may broadcast.
  static std::string scan(const NetnsLab& lab) {
    const gmtest::AppRun r = gmtest::run_app(
        "--scan", {},
        {"ip", "netns", "exec", lab.scanner(), "env", "-u", "GAINMESH_TEST_NO_BROADCAST"});
    return r.exited(0) ? r.out : r.out + "(failed)";
  }
};

// The WING is on a subnet that only the socket tied to its bridge reaches: the scanner knows no
// route and no directed broadcast there. The X32 / M32 is on the other subnet.
TEST_F(ScanNetns, OneScanFindsAWingOnlyItsInterfaceReachesAndAnX32OnAnotherSubnet) {
  NetnsLab lab(std::vector<int>{0, 1});
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  ASSERT_TRUE(lab.narrow_scanner(1)) << lab.why();
  ASSERT_TRUE(desk(lab, 0, {"--x32", "--name", "Monitors", "--model", "M32"}));
  ASSERT_TRUE(desk(lab, 1, {"--name", "Stage, Left", "--serial", "SA-7"}));

  const std::string out = scan(lab);
  const size_t end = out.find('\n');
  const std::string wing = out.substr(0, end), x32 = out.substr(end + 1);
  // Each desk hears the broadcast on its own network and names the address it was asked at.
  EXPECT_EQ(wing, "WING," + lab.host_addr(1) + ",Stage, Left,wing-rack,SA-7,3.1-0-g9f314617");
  EXPECT_EQ(x32, "X32," + lab.host_addr(0) + ",Monitors,M32,4.06\n");
}

TEST_F(ScanNetns, WithNoConsoleThereTheScanPrintsTwoDashesWithinAboutTwoAndAHalfSeconds) {
  NetnsLab lab(std::vector<int>{0, 1});
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(scan(lab), "-\n-\n");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Three WING attempts and two X32 / M32 attempts of 400 ms each: it did wait for answers.
  EXPECT_GE(seconds, 1.9);
  EXPECT_LE(seconds, 2.5);
}

}  // namespace
