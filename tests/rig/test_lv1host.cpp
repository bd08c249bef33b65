// The LV1 stand-in on its own: a fake loader in the installed bundle records what lv1host hands
// it and plays a console module calling LV1's services from its own thread. How quitting and
// SIGTERM unload the module is the loader rig's (QuitTest in test_lv1host_loader); pushes from the
// module reaching the strips are the bridge's end-to-end suite's (test_bridge_e2e).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
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

class Lv1HostTest : public gmtest::Lv1RigTest {
 protected:
  void install() {
    InstalledBundle::Options o;
    o.loader = GM_FAKE_LOADER;
    o.with_module = false;
    bundle_ = std::make_unique<InstalledBundle>(home_, o);
  }
  Lv1HostProcess& install_and_start() {
    install();
    return start_lv1();
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

TEST_F(Lv1HostTest, TheAppBundleRunsAsEmotionLv1AndQueriesTheDevicesOfTheBundleItLoaded) {
  const std::string app = GM_BUILD_DIR "/sim/eMotion LV1.app";
  // Its executable and version as the app reads them: CoreLiveStatus (test_core_live_status).
  EXPECT_NE(gmtest::read_file(app + "/Contents/Info.plist")
                .find("<key>CFBundleIdentifier</key>\n\t<string>com.waves.emotion-lv1</string>"),
            std::string::npos);
  const std::string installed = home_.path() + "/Applications/Waves/eMotion LV1/eMotion LV1.app";
  std::filesystem::create_directories(installed);
  std::filesystem::copy(app, installed, std::filesystem::copy_options::recursive);
  Lv1HostProcess::Options o;
  o.executable = installed + "/Contents/MacOS/eMotion LV1";
  ASSERT_EQ(access(o.executable.c_str(), X_OK), 0);

  install();
  Lv1HostProcess& lv1 = start_lv1(o);
  EXPECT_EQ(gmtest::process_name(lv1.pid()), "eMotion LV1");
  EXPECT_TRUE(logged("entry"));

  const std::vector<Lv1HostProcess::Strip> wing = lv1.strips(0);
  ASSERT_EQ(wing.size(), 64u);
  for (const auto& s : wing) {
    EXPECT_TRUE(s.preamp);
    EXPECT_EQ(s.min, -6);
    EXPECT_EQ(s.max, 60);
    EXPECT_EQ(s.step, 0.5);
    EXPECT_EQ(s.queries, 1u) << "ch " << s.ch;
  }
  EXPECT_EQ(lv1.strip(1, 0).queries, 0u) << "the X32 / M32 card is out: no device to query";

  const std::vector<std::string> rack = lv1.cmd("rack");
  ASSERT_EQ(rack.size(), 2u);
  EXPECT_EQ(rack[0], "type=0 key=wing card=in kind=1 extra=0 mac=00:1c:ab:00:00:01 requeries=1");
  EXPECT_EQ(rack[1], "type=1 key=x32 card=out kind=2 extra=0 mac=none requeries=0");
}

TEST_F(Lv1HostTest, RunsWithoutAnIoModuleAndSaysSo) {
  Lv1HostProcess& lv1 = start_lv1();
  EXPECT_NE(lv1.stderr_text().find("No IO module at " + home_.io_modules_dir() +
                                   "/Gainmesh.bundle/Contents/MacOS/Gainmesh"),
            std::string::npos)
      << lv1.stderr_text();
  lv1.cmd("gain 0 2 7.5");
  EXPECT_TRUE(lv1.ok()) << lv1.error();
  EXPECT_EQ(lv1.strip(0, 2).gain, 7.5);
  lv1.cmd("requery 0");
  EXPECT_FALSE(lv1.ok());
  EXPECT_EQ(lv1.quit(), 0);
}

TEST_F(Lv1HostTest, TurnsUpdateTheGainStructureBeforeTheModuleHearsOfThem) {
  install();
  Lv1HostProcess::Options o;
  o.stdin_pipe = true;
  Lv1HostProcess& lv1 = start_lv1(o);
  lv1.send_stdin("gain wing 5 12.5");  // standard input takes commands as the control socket does
  lv1.send_stdin("strips 0 5 5");
  EXPECT_EQ(wait_line("set_gain 0 5"), "set_gain 0 5 12.5 iface=12.5/0");
  ASSERT_TRUE(gmtest::wait_for(
      [&] { return lv1.stdout_text().find("ch=5 gain=12.5 ") != std::string::npos; }, kWait));
  EXPECT_EQ(lv1.stdout_text().substr(0, 3), "ok\n");
  ASSERT_TRUE(took(lv1, "phantom 0 5 on"));
  EXPECT_EQ(wait_line("set_phantom 0 5"), "set_phantom 0 5 1 iface=12.5/1");

  const Lv1HostProcess::Strip s = lv1.strip(0, 5);
  EXPECT_EQ(s.gain, 12.5);
  EXPECT_TRUE(s.phantom);
  EXPECT_EQ(lv1.strip(0, 4).gain, 0) << "a turn changes one strip only";
}

TEST_F(Lv1HostTest, RefusesMalformedCommandsAndForwardsNothing) {
  Lv1HostProcess& lv1 = install_and_start();
  std::istringstream bad(  // one command a line
      "gain 0 64 1\ngain 0 -1 1\ngain 2 0 1\ngain 0 0 nan\ngain 0 0 inf\ngain 0 0 1e999\n"
      "gain 0 0 12dB\ngain 0 0\ngain 1 0 3\nphantom 0 0 1\nphantom 1 0 on\nsession 0\n"
      "session 0 1:x\nsession 0 64:1\nsession 0 1:1 1:2\nsession 0 1:1:maybe\n"
      "session 0 /nonexistent/session.txt\nstrips 0 5 4\nstrips 3\nkind 0 -1\nextra 0 x\n"
      "card 0 sideways\nrequery 1\nfrobnicate");
  for (std::string line; std::getline(bad, line);) {
    lv1.cmd(line);
    EXPECT_FALSE(lv1.ok()) << line;
    EXPECT_FALSE(lv1.error().empty()) << line;
  }
  lv1.cmd("rack");
  EXPECT_TRUE(lv1.ok()) << "still answering";
  EXPECT_EQ(logged_starting("set_gain"), 0);
  EXPECT_EQ(logged_starting("set_phantom"), 0);
  EXPECT_EQ(logged_starting("recall"), 0);
  EXPECT_EQ(logged_starting("rack"), 0);
  EXPECT_EQ(lv1.strip(0, 0).gain, 0);
}

TEST_F(Lv1HostTest, SessionsHandTheirStoredValuesToRecall) {
  Lv1HostProcess& lv1 = install_and_start();
  ASSERT_TRUE(took(lv1, "session 0 2:-3.5:on 7:10"));
  EXPECT_EQ(wait_line("recall"), "recall 0 2:-3.5:1 7:10:0");
  EXPECT_EQ(lv1.strip(0, 2).gain, -3.5);
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

  home_.write("bad.session", "0 1.5 on\n5 loud\n");
  lv1.cmd("session 0 " + home_.path() + "/bad.session");
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
  Lv1HostProcess::Strip s = lv1.strip(0, 4);
  EXPECT_FALSE(s.preamp);
  EXPECT_EQ(s.min, -10);
  EXPECT_EQ(s.max, 20);
  EXPECT_EQ(s.step, 1);
  EXPECT_EQ(s.queries, 2u);
  EXPECT_EQ(lv1.strip(0, 63).queries, 2u);

  trigger("changed-mac 001cab000009");
  EXPECT_EQ(wait_line("changed-mac"), "changed-mac 001cab000009 queries=0");
  trigger("changed 1");
  EXPECT_EQ(wait_line("changed 1"), "changed 1 (no mac) queries=0");
  EXPECT_EQ(lv1.strip(0, 4).queries, 2u);

  run_trigger("caps 0 4 1 -3 9 3");
  ASSERT_TRUE(took(lv1, "requery wing"));
  s = lv1.strip(0, 4);
  EXPECT_TRUE(s.preamp);
  EXPECT_EQ(s.max, 9);
  EXPECT_EQ(s.queries, 3u);
  EXPECT_NE(lv1.cmd("rack")[0].find("requeries=3"), std::string::npos);
}

}  // namespace
