// The LV1 stand-in on its own: a fake loader in the installed bundle records what lv1host hands
// it and plays a console module calling LV1's services from its own thread. How SIGTERM unloads
// the module is the loader rig's (test_lv1host_loader); running as "eMotion LV1" from its app
// bundle is CoreLiveStatus's; pushes from the module reaching the strips are the bridge's
// end-to-end suite's (test_bridge_e2e).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/control_socket.h"
#include "support/lv1_rig_test.h"

namespace {

using gmtest::InstalledBundle;
using gmtest::Lv1HostProcess;
using gmtest::took;

constexpr int kWait = 10000;  // ms for something that must happen

// A strip's capabilities as LV1 holds them, and how often it asked for them.
std::string caps(const Lv1HostProcess::Strip& s) {
  std::ostringstream out;
  out << "preamp=" << s.preamp << " " << s.min << ".." << s.max << "/" << s.step
      << " queries=" << s.queries;
  return out.str();
}

class Lv1HostTest : public gmtest::Lv1RigTest {
 protected:
  Lv1HostProcess& install_and_start(Lv1HostProcess::Options o = {}) {
    InstalledBundle::Options b;
    b.loader = GM_FAKE_LOADER;
    b.with_module = false;
    bundle_ = std::make_unique<InstalledBundle>(home_, b);
    return start_lv1(std::move(o));
  }

  // A line for the fake loader's module thread.
  void trigger(const std::string& line) {
    std::ofstream(home_.path() + "/fake-loader.in", std::ios::app) << line << "\n";
  }
  // Runs a trigger and waits until the fake module thread has finished it.
  void run_trigger(const std::string& line) {
    trigger(line);
    ASSERT_TRUE(gmtest::wait_for([&] { return logged("done " + line); }, kWait)) << line;
  }

  // What the fake loader logged, one entry per call from LV1.
  std::vector<std::string> fake_log() const {
    std::vector<std::string> lines;
    std::ifstream in(home_.path() + "/fake-loader.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool logged(const std::string& line) const {
    const auto log = fake_log();
    return std::find(log.begin(), log.end(), line) != log.end();
  }
  int logged_starting(const std::string& prefix) const {
    int n = 0;
    for (const std::string& l : fake_log()) n += l.rfind(prefix, 0) == 0;
    return n;
  }
  // Waits for a log line that starts with prefix and returns the last such line.
  std::string wait_line(const std::string& prefix) const {
    std::string found;
    gmtest::wait_for(
        [&] {
          for (const std::string& l : fake_log()) {
            if (l.rfind(prefix, 0) == 0) found = l;
          }
          return !found.empty();
        },
        kWait);
    return found;
  }
};

TEST_F(Lv1HostTest, QueriesTheStripsOfTheDevicesInTheRackOnce) {
  Lv1HostProcess& lv1 = install_and_start();
  for (const auto& s : lv1.strips(0)) EXPECT_EQ(caps(s), "preamp=1 -6..60/0.5 queries=1") << s.ch;
  EXPECT_EQ(lv1.strips(0).size(), 64u);
  EXPECT_EQ(lv1.strip(1, 0).queries, 0u) << "the X32 / M32 card is out: no device to query";
  EXPECT_EQ(lv1.cmd("rack"),
            (std::vector<std::string>{
                "type=0 key=wing card=in kind=1 extra=0 mac=00:1c:ab:00:00:01 requeries=1",
                "type=1 key=x32 card=out kind=2 extra=0 mac=none requeries=0"}));
}

TEST_F(Lv1HostTest, RunsWithoutAnIoModuleAndSaysSo) {
  Lv1HostProcess& lv1 = start_lv1();
  EXPECT_NE(lv1.stderr_text().find("No IO module at " + home_.io_modules_dir() +
                                   "/Gainmesh.bundle/Contents/MacOS/Gainmesh"),
            std::string::npos)
      << lv1.stderr_text();
  EXPECT_TRUE(took(lv1, "gain 0 2 7.5"));
  EXPECT_EQ(lv1.strip(0, 2).gain, 7.5);
  lv1.cmd("requery 0");
  EXPECT_FALSE(lv1.ok());
  EXPECT_EQ(lv1.quit(), 0);
}

TEST_F(Lv1HostTest, TurnsUpdateTheGainStructureBeforeTheModuleHearsOfThem) {
  Lv1HostProcess::Options o;
  o.stdin_pipe = true;
  Lv1HostProcess& lv1 = install_and_start(o);
  lv1.send_stdin("gain wing 5 12.5");  // standard input takes commands as the control socket does
  lv1.send_stdin("strips 0 5 5");
  EXPECT_EQ(wait_line("set_gain 0 5"), "set_gain 0 5 12.5 iface=12.5/0");
  ASSERT_TRUE(gmtest::wait_for(
      [&] { return lv1.stdout_text().find("ch=5 gain=12.5 ") != std::string::npos; }, kWait));
  EXPECT_EQ(lv1.stdout_text().substr(0, 3), "ok\n");
  ASSERT_TRUE(took(lv1, "phantom 0 5 on"));
  EXPECT_EQ(wait_line("set_phantom 0 5"), "set_phantom 0 5 1 iface=12.5/1");
  EXPECT_TRUE(lv1.strip(0, 5).phantom);
  EXPECT_EQ(lv1.strip(0, 4).gain, 0) << "a turn changes one strip only";
}

TEST_F(Lv1HostTest, RefusesMalformedCommandsAndForwardsNothing) {
  Lv1HostProcess& lv1 = install_and_start();
  for (const char* line :
       {"gain 0 64 1", "gain 2 0 1", "gain 0 0 nan", "gain 0 0 12dB", "gain 0 0", "gain 1 0 3",
        "phantom 0 0 1", "session 0", "session 0 64:1", "session 0 1:1 1:2", "session 0 1:1:maybe",
        "session 0 /nonexistent/session.txt", "strips 0 5 4", "strips 3", "kind 0 -1", "extra 0 x",
        "card 0 sideways", "requery 1", "frobnicate"}) {
    lv1.cmd(line);
    EXPECT_FALSE(lv1.ok()) << line;
    EXPECT_FALSE(lv1.error().empty()) << line;
  }
  EXPECT_TRUE(took(lv1, "rack")) << "still answering";
  EXPECT_EQ(fake_log(), std::vector<std::string>{"entry"}) << "nothing reached the module";
  EXPECT_EQ(lv1.strip(0, 0).gain, 0);
}

TEST_F(Lv1HostTest, SessionsHandTheirStoredValuesToRecall) {
  Lv1HostProcess& lv1 = install_and_start();
  ASSERT_TRUE(took(lv1, "session 0 2:-3.5:on 7:10"));
  EXPECT_EQ(wait_line("recall"), "recall 0 2:-3.5:1 7:10:0");
  EXPECT_TRUE(lv1.strip(0, 2).phantom);
  EXPECT_EQ(lv1.strip(0, 7).gain, 10);
  trigger("dump 0 2");
  EXPECT_EQ(wait_line("dump 0 2"), "dump 0 2 iface=-3.5/1");

  const std::string file = home_.write("show.session",
                                       "# stored preamp values\n"
                                       "0 1.5 on\n"
                                       "\n"
                                       "63 -2   # last strip\n");
  ASSERT_TRUE(took(lv1, "session 0 " + file));
  ASSERT_TRUE(gmtest::wait_for([&] { return logged_starting("recall") == 2; }, kWait));
  EXPECT_TRUE(logged("recall 0 0:1.5:1 63:-2:0"));
  EXPECT_EQ(lv1.strip(0, 2).gain, -3.5) << "a channel the session does not store keeps its value";

  lv1.cmd("session 0 " + home_.write("bad.session", "0 1.5 on\n5 loud\n"));
  EXPECT_FALSE(lv1.ok());
  EXPECT_NE(lv1.error().find("line 2"), std::string::npos) << lv1.error();
  EXPECT_EQ(logged_starting("recall"), 2);
}

TEST_F(Lv1HostTest, RackChangesReachTheModule) {
  Lv1HostProcess& lv1 = install_and_start();
  ASSERT_TRUE(took(lv1, "card 0 out"));
  EXPECT_EQ(wait_line("rack 0"), "rack 0 in=0 kind=1 extra=0 mac=none iface=null");
  lv1.cmd("gain 0 1 3");
  EXPECT_FALSE(lv1.ok()) << "no device while the card is out";

  lv1.cmd("card x32 in");
  ASSERT_TRUE(gmtest::wait_for([&] { return logged_starting("rack 1") == 2; }, kWait));
  EXPECT_TRUE(logged("rack 1 in=1 kind=2 extra=0 mac=00:1c:ab:00:00:02 iface=0/0"));
  EXPECT_EQ(lv1.strip(1, 63).queries, 1u) << "a card put in gets its strips queried";

  lv1.cmd("kind 1 7");
  lv1.cmd("extra 1 3");
  ASSERT_TRUE(gmtest::wait_for([&] { return logged_starting("rack 1") == 4; }, kWait));
  EXPECT_TRUE(logged("rack 1 in=1 kind=7 extra=3 mac=00:1c:ab:00:00:02 iface=0/0"));

  lv1.cmd("card 0 in");
  ASSERT_TRUE(gmtest::wait_for([&] { return logged_starting("rack 0") == 5; }, kWait));
  EXPECT_TRUE(logged("rack 0 in=1 kind=1 extra=0 mac=00:1c:ab:00:00:01 iface=0/0"));
  EXPECT_EQ(lv1.strip(0, 0).queries, 2u);
}

TEST_F(Lv1HostTest, ChannelTypeStateChangedRequeriesTheDeviceBeforeReturning) {
  Lv1HostProcess& lv1 = install_and_start();
  run_trigger("caps 0 4 0 -10 20 1");
  EXPECT_TRUE(lv1.strip(0, 4).preamp) << "nothing re-queried yet";

  trigger("changed 0");
  EXPECT_EQ(wait_line("changed 0"), "changed 0 queries=64");
  EXPECT_EQ(caps(lv1.strip(0, 4)), "preamp=0 -10..20/1 queries=2");
  EXPECT_EQ(lv1.strip(0, 63).queries, 2u);

  // The X32 / M32 card is out: its type has no device, so nothing is re-queried.
  trigger("changed 1");
  EXPECT_EQ(wait_line("changed 1"), "changed 1 (no mac) queries=0");

  run_trigger("caps 0 4 1 -3 9 3");
  ASSERT_TRUE(took(lv1, "requery wing"));
  EXPECT_EQ(caps(lv1.strip(0, 4)), "preamp=1 -3..9/3 queries=3");
  EXPECT_NE(lv1.cmd("rack")[0].find("requeries=3"), std::string::npos);
}

}  // namespace
