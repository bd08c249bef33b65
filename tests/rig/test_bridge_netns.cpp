// The desk moving to a new address, with every part of the rig in its own process on a network
// of namespaces that the test builds: lv1host (LV1, the loader and the wing module) in the
// scanner namespace, the virtual desk first on one host and then, with the same identity, on
// another. The module finds the desk by broadcast, loses it, finds it again at its new address
// and moves the link there.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/control_socket.h"
#include "support/loopback.h"
#include "support/lv1_rig_test.h"
#include "support/netns.h"
#include "support/status_file.h"

namespace {

using gmtest::NetnsLab;
using Clock = std::chrono::steady_clock;
using gmtest::near;
using gmtest::took;

constexpr int kSeedWait = 30000;    // start, broadcast search, adoption, patch read, first seed
constexpr int kRefindWait = 45000;  // 20 s of dropout, then a sweep every 4 s
constexpr int kWait = 10000;        // something that must happen once the link runs
constexpr int kQuitGraceMs = 3000;

// The one desk of the test, wherever it is plugged in.
constexpr const char* kName = "Stage Left";
constexpr const char* kSerial = "SL-2041";

// The desk in host namespace `host`, hearing broadcasts, driven through its control socket (a path
// in /tmp, which every namespace reaches). It must end with status 0 (no sanitizer report).
class NetnsDesk {
 public:
  NetnsDesk(NetnsLab& lab, int host) : lab_(lab), control_(gmtest::unique_control_path("wingsim")) {
    pid_ = lab_.spawn_desk(host, GM_BUILD_DIR "/sim/wingsim", control_,
                           {"--name", kName, "--model", "wing-rack", "--serial", kSerial});
  }
  ~NetnsDesk() {
    const int status = pid_ > 0 ? lab_.stop(pid_, kQuitGraceMs) : 0;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wingsim ended with " << status;
    unlink(control_.c_str());
  }

  bool ready() const { return pid_ > 0; }
  // One control command: the data lines of the answer; `ok` is false unless it ended in "ok".
  std::vector<std::string> cmd(const std::string& line) {
    gmtest::ControlReply r = gmtest::control_command(control_, line, kWait);
    ok_ = r.ok;
    return std::move(r.lines);
  }
  bool ok(const std::string& line) { return cmd(line), ok_; }
  // The gain of local input n (the number ending the answer), NaN when there is none.
  double gain(int n) {
    const std::vector<std::string> lines = cmd("get /io/in/LCL/" + std::to_string(n) + "/g");
    if (!ok_ || lines.empty()) return std::nan("");
    return std::strtod(lines.front().c_str() + lines.front().find_last_of(' ') + 1, nullptr);
  }

 private:
  NetnsLab& lab_;
  std::string control_;
  pid_t pid_ = -1;
  bool ok_ = false;
};

// The whole seconds in "<before><seconds><after>" in text; -1 when that line is not there.
long seconds_between(const std::string& text, const std::string& before, const std::string& after) {
  const size_t at = text.find(before);
  if (at == std::string::npos) return -1;
  const char* digits = text.c_str() + at + before.size();
  char* end = nullptr;
  const long s = std::strtol(digits, &end, 10);
  if (end == digits || text.compare(static_cast<size_t>(end - text.c_str()), after.size(), after))
    return -1;
  return s;
}

// Whether a TCP connection to the desk port at ip is accepted, asked from namespace ns.
bool takes_connections(const std::string& ns, const std::string& ip) {
  const auto probe = [&]() -> std::string {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval tv{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    const bool open = gmtest::connect_to(fd, ip, 2222);
    close(fd);
    return open ? "open" : "closed";
  };
  std::string answer, err;
  return gmtest::run_in_netns(ns, probe, &answer, &err) && answer == "open";
}

class BridgeNetnsTest : public gmtest::Lv1RigTest {
 protected:
  void SetUp() override {
    lab_ = std::make_unique<NetnsLab>(2);
    if (!lab_->ok()) GTEST_SKIP() << "no network namespace lab: " << lab_->why();
    old_ip_ = lab_->host_addr(0);
    new_ip_ = lab_->host_addr(1);
  }

  // LV1 quits first, while the desk still answers; then the desks, then the namespaces.
  void TearDown() override {
    Lv1RigTest::TearDown();
    lv1_.reset();
    old_desk_.reset();
    new_desk_.reset();
    lab_.reset();
  }

  // The desk on the first host and LV1 in the scanner namespace, where its module may broadcast,
  // until the first seed. wing.cfg has no ip=, so the module searches by broadcast; the hint is
  // where the app's own scan last saw the desk.
  void start_with_desk(const std::string& more = "") {
    old_desk_ = std::make_unique<NetnsDesk>(*lab_, 0);
    ASSERT_TRUE(old_desk_->ready()) << "the virtual desk did not start";
    bundle_ = std::make_unique<gmtest::InstalledBundle>(
        home_, gmtest::InstalledBundle::Options{.in_network_namespace = true,
                                                .wing_cfg_more = "hint=" + old_ip_ + "\n" + more});
    gmtest::Lv1HostProcess::Options o;
    o.leak_check = false;  // the loader unloads the module with dlclose
    o.netns = lab_->scanner();
    o.broadcast = true;
    start_lv1(std::move(o));
    ASSERT_TRUE(wait_log("[bridge] seeded ", kSeedWait)) << log();
  }

  // The desk closes its connections and is unplugged; the same desk comes up on the second host.
  void move_desk() {
    old_desk_->cmd("fault refuse-tcp on");
    old_desk_->cmd("fault drop");
    ASSERT_TRUE(lab_->set_link(0, false)) << lab_->why();
    new_desk_ = std::make_unique<NetnsDesk>(*lab_, 1);
    ASSERT_TRUE(new_desk_->ready()) << "the moved desk did not start";
  }

  bool wait_moving() const {
    return wait_log("[refind] Stage Left (id SL-2041) answers at " + new_ip_ + " now, not " +
                        old_ip_ + " - moving the link there",
                    kRefindWait);
  }

  std::string log() const { return "---- gainmesh.log\n" + bundle_->log_text(); }

  std::unique_ptr<NetnsLab> lab_;
  std::string old_ip_, new_ip_;
  std::unique_ptr<NetnsDesk> old_desk_, new_desk_;
};

TEST_F(BridgeNetnsTest, TheLinkFollowsTheDeskToItsNewAddress) {
  ASSERT_NO_FATAL_FAILURE(start_with_desk());

  // Found by broadcast: the only desk on the network, and it has a SoundGrid card.
  EXPECT_TRUE(bundle_->log_has("[desk] 1 answered: wing-rack Stage Left at " + old_ip_ +
                               " (id SL-2041, SoundGrid card yes) -> Stage Left, the only one"))
      << log();
  gmtest::StatusFile status(home_.run_dir());
  ASSERT_TRUE(status.ok());
  const auto linked_at = [&](const std::string& ip) {
    return gmtest::wait_for(
        [&] { return status->connected == 1 && ip == std::string(status->desk_ip); }, kWait);
  };
  ASSERT_TRUE(linked_at(old_ip_)) << status->desk_ip << "\n" << log();

  // The desk moves to another address of the subnet.
  const auto unplugged = Clock::now();
  ASSERT_NO_FATAL_FAILURE(move_desk());
  old_desk_->cmd("clear-sets");
  ASSERT_TRUE(wait_moving()) << log();
  const long waited =
      std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - unplugged).count();
  const long down = seconds_between(
      bundle_->log_text(), "[refind] the link to Stage Left at " + old_ip_ + " has been down for ",
      " s - looking for it (id SL-2041) at any address");
  EXPECT_GE(down, 20) << log();
  EXPECT_LE(down, waited + 1) << log();

  // Moved, counted once, and the new address saved as the hint (replacing the old one).
  EXPECT_TRUE(linked_at(new_ip_)) << status->desk_ip << "\n" << log();
  EXPECT_EQ(status->moves, 1u);
  EXPECT_EQ(gmtest::read_file(bundle_->wing_cfg_path()), "hint=" + new_ip_ + "\n");

  // The old desk is plugged back in and takes connections again, so that a link or a set still
  // aimed at the old address would reach it.
  ASSERT_TRUE(lab_->set_link(0, true)) << lab_->why();
  ASSERT_TRUE(old_desk_->ok("fault refuse-tcp off"));
  const auto replugged = Clock::now();
  ASSERT_TRUE(gmtest::wait_for([&] { return takes_connections(lab_->scanner(), old_ip_); }, kWait));

  // Both directions work at the new address: LV1 strip 5 is LCL 6, LCL 8 is strip 7.
  ASSERT_TRUE(wait_log("[sync] replayed ")) << log();
  ASSERT_TRUE(took(*lv1_, "gain 0 5 20"));
  EXPECT_TRUE(gmtest::wait_for([&] { return near(new_desk_->gain(6), 20); }, kWait)) << log();
  // The replay has just set every input; a desk change this soon would be taken for its echo.
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  ASSERT_TRUE(new_desk_->ok("set /io/in/LCL/8/g 30"));
  EXPECT_TRUE(gmtest::wait_for([&] { return near(lv1_->strip(0, 7).gain, 30); }, kWait))
      << lv1_->strip(0, 7).gain;

  // Longer than the control link's 3 s between connection attempts.
  std::this_thread::sleep_until(replugged + std::chrono::milliseconds(3500));
  EXPECT_EQ(old_desk_->cmd("sets"), std::vector<std::string>{}) << log();
  EXPECT_EQ(old_desk_->cmd("clients"), std::vector<std::string>{"0"}) << log();
}

// The desk is found at a new address, but by the time the link there connects, another console
// answers at that address: the identity is checked on the new link before anything is written,
// so that console never receives a set, neither LV1's replay nor a turn of a gain.
TEST_F(BridgeNetnsTest, AMoveOntoAnAddressWhereAnotherConsoleAnswersWritesNothing) {
  ASSERT_NO_FATAL_FAILURE(start_with_desk("resync=lv1\n"));
  ASSERT_NO_FATAL_FAILURE(move_desk());
  // The new address answers discovery as the adopted desk but takes no connection yet.
  ASSERT_TRUE(new_desk_->ok("fault refuse-tcp on"));
  ASSERT_TRUE(wait_moving()) << log();

  // Now another console holds the address, and it takes connections.
  ASSERT_TRUE(new_desk_->ok("identity name=Monitors serial=MON-7"));
  ASSERT_TRUE(new_desk_->ok("fault refuse-tcp off"));
  ASSERT_TRUE(wait_log("[refind] ANOTHER console answers at " + new_ip_ +
                       " now: wing-rack Monitors, id MON-7 - not Stage Left (id SL-2041). NOT "
                       "driving it, nothing written; looking for Stage Left at other addresses"))
      << log();
  ASSERT_TRUE(took(*lv1_, "gain 0 5 20"));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(new_desk_->cmd("sets"), std::vector<std::string>{}) << log();
  EXPECT_FALSE(bundle_->log_has("[sync] replayed ")) << log();
}

}  // namespace
