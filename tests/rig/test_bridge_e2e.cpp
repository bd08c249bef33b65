// The bridge end to end, every part in its own process: lv1host (LV1) loads the loader from an
// installed bundle, the loader runs the built wing module, and the module drives a wingsim on its
// own loopback address. What LV1 shows is read from lv1host's strips, what the desk holds from
// wingsim, and the module's view from gainmesh.log and the status block.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/control_socket.h"
#include "support/loopback.h"
#include "support/lv1_rig_test.h"
#include "support/status_file.h"
#include "support/wingsim_process.h"

namespace {

using gmtest::InstalledBundle;
using gmtest::Lv1HostProcess;
using gmtest::WingSimProcess;
using Clock = std::chrono::steady_clock;
using gmtest::near;
using gmtest::took;

constexpr int kSeedWait = 30000;  // the module starts, adopts the desk, reads the patch, seeds
constexpr int kWait = 10000;      // ms for something that must happen once the bridge runs
constexpr const char* kSeeded = "[bridge] seeded ";
// The local head amps go from -2.5 to 45 dB in 2.5 dB steps; the values below sit on that grid so
// that what the desk holds equals what was turned.

void sleep_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class BridgeE2eTest : public gmtest::Lv1RigTest {
 protected:
  // The desk, with the default card patch MOD:1-24=LCL:1-24 unless extra says otherwise.
  void start_desk(std::vector<std::string> extra = {}) {
    WingSimProcess::Options o;
    o.ip = gmtest::unique_loopback();
    o.extra = std::move(extra);
    o.extra.push_back("--quiet");
    desk_ = std::make_unique<WingSimProcess>(o);
  }

  // Installs the bundle with wing.cfg = ip=<the desk> plus cfg_extra.
  void install(const std::string& cfg_extra = "") {
    bundle_ = std::make_unique<InstalledBundle>(
        home_, InstalledBundle::Options{.wing_ip = desk_->ip(), .wing_cfg_more = cfg_extra});
  }

  // The whole rig up to the first seed.
  void start_all(const std::string& cfg_extra = "", std::vector<std::string> desk_extra = {}) {
    start_desk(std::move(desk_extra));
    install(cfg_extra);
    start_lv1_with_loader();
    ASSERT_TRUE(wait_log(kSeeded, kSeedWait)) << bundle_->log_text();
  }

  // A local input's value: "g" (its gain) or "vph" (its 48V).
  double desk_value(int input, const char* what = "g") {
    return desk_->number("/io/in/LCL/" + std::to_string(input) + "/" + what);
  }

  bool wait_desk_gain(int input, double db, int timeout_ms = kWait) {
    return gmtest::wait_for([&] { return near(desk_value(input), db); }, timeout_ms);
  }

  bool wait_strip_gain(int ch, double db, int timeout_ms = kWait) {
    return gmtest::wait_for([&] { return near(lv1_->strip(0, ch).gain, db); }, timeout_ms);
  }

  bool wait_strip_phantom(int ch, bool on, int timeout_ms = kWait) {
    return gmtest::wait_for([&] { return lv1_->strip(0, ch).phantom == on; }, timeout_ms);
  }

  // Turns a strip in LV1 until the module logs that the link is down and the value not sent
  // (the module notices the dropped connection a moment after the desk closed it).
  bool turn_while_down(int ch, double db) {
    char line[96];
    snprintf(line, sizeof line, "SET gain ch=%d %.1f dB  [desk link is down - not sent]", ch, db);
    return gmtest::wait_for(
        [&] {
          lv1_->cmd("gain 0 " + std::to_string(ch) + " " + std::to_string(db));
          return wait_log(line, 300);
        },
        5000);
  }

  std::string rig_text() {
    std::string out = "---- gainmesh.log\n" + bundle_->log_text() + "---- desk sets\n";
    for (const std::string& s : desk_->sets()) out += s + "\n";
    return out;
  }

  // LV1 quits first, while the desk still answers.
  void TearDown() override {
    if (desk_) desk_->cmd("fault silent off");
    Lv1RigTest::TearDown();
    lv1_.reset();
    desk_.reset();
  }

  std::unique_ptr<WingSimProcess> desk_;
};

// ---- seeding and both directions ----------------------------------------------------------

TEST_F(BridgeE2eTest, Lv1IsSeededFromTheDeskAndNothingTurnedBeforeThatIsSent) {
  start_desk();
  // Silent: the desk connects but answers no read, so nothing is seeded.
  for (const char* line : {"set /io/in/LCL/3/g 12.5", "set /io/in/LCL/4/vph 1",
                           "set /io/in/LCL/6/g 10", "fault silent on"}) {
    ASSERT_TRUE(took(*desk_, line));
  }
  install();
  start_lv1_with_loader();
  ASSERT_TRUE(gmtest::wait_for(
      [&] { return desk_->cmd("clients") == std::vector<std::string>{"1"}; }, kSeedWait))
      << bundle_->log_text();

  ASSERT_TRUE(took(*lv1_, "gain 0 5 20"));
  EXPECT_TRUE(wait_log(
      "SET gain ch=5 20.0 dB  [desk value not read yet - LV1 is still starting, not sent]"))
      << bundle_->log_text();
  ASSERT_TRUE(took(*lv1_, "phantom 0 5 on"));
  EXPECT_TRUE(wait_log("[48V] ch=5 1 not sent: desk value not read yet - LV1 is still starting"))
      << bundle_->log_text();

  // Once the desk answers, LV1 shows the desk's values and nothing was written.
  ASSERT_TRUE(took(*desk_, "fault silent off"));
  ASSERT_TRUE(wait_log(kSeeded, kSeedWait)) << bundle_->log_text();
  EXPECT_TRUE(wait_strip_gain(2, 12.5)) << lv1_->strip(0, 2).gain;
  EXPECT_TRUE(wait_strip_phantom(3, true));
  EXPECT_FALSE(lv1_->strip(0, 2).phantom);
  EXPECT_TRUE(wait_strip_gain(5, 10)) << lv1_->strip(0, 5).gain;
  EXPECT_TRUE(wait_strip_phantom(5, false));
  sleep_ms(600);
  EXPECT_TRUE(desk_->sets().empty()) << "LV1's stale surface must not be written at start\n"
                                     << rig_text();
  EXPECT_TRUE(near(desk_value(6), 10));
}

TEST_F(BridgeE2eTest, ARefusedControlLinkIsShownUntilTheDeskAcceptsIt) {
  start_desk();
  ASSERT_TRUE(took(*desk_, "fault refuse-tcp on"));  // discovery answers, the control port not
  install();
  start_lv1_with_loader();
  gmtest::StatusFile status(home_.run_dir());
  const std::string refused =
      "Desk refused the control link - close WING Edit / the WING app, or check the firewall";
  EXPECT_TRUE(gmtest::wait_for([&] { return status.ok() && refused == status->status; }, kSeedWait))
      << (status.ok() ? status->status : "no status block") << "\n"
      << bundle_->log_text();
  EXPECT_EQ(status->connected, 0u);

  ASSERT_TRUE(took(*desk_, "fault refuse-tcp off"));
  EXPECT_TRUE(wait_log(kSeeded, kSeedWait)) << bundle_->log_text();
  EXPECT_TRUE(gmtest::wait_for([&] { return status->status[0] == '\0'; }, kWait)) << status->status;
}

TEST_F(BridgeE2eTest, GainCrossesBothWaysToEveryStripOfAHeadAmpWithoutEcho) {
  start_all("watch=32\n", {"--patch", "MOD:1-24=LCL:1-24,MOD:25=LCL:1"});
  ASSERT_TRUE(took(*desk_, "clear-sets"));

  // LV1 -> desk: strip 5 is LCL 6.
  ASSERT_TRUE(took(*lv1_, "gain 0 5 20"));
  EXPECT_TRUE(wait_desk_gain(6, 20)) << rig_text();
  EXPECT_EQ(desk_->sets(), std::vector<std::string>{"/io/in/LCL/6/g 20"}) << rig_text();
  sleep_ms(600);  // past the confirmation of the module's own set
  EXPECT_TRUE(near(lv1_->strip(0, 5).gain, 20)) << lv1_->strip(0, 5).gain;

  // desk -> LV1: LCL 1 feeds strips 0 and 24.
  ASSERT_TRUE(took(*desk_, "set /io/in/LCL/1/g 17.5"));
  EXPECT_TRUE(wait_strip_gain(0, 17.5)) << lv1_->strip(0, 0).gain;
  EXPECT_TRUE(wait_strip_gain(24, 17.5)) << lv1_->strip(0, 24).gain;

  // Turned on the second strip of LCL 1, it reaches the head amp and the first strip follows.
  ASSERT_TRUE(took(*lv1_, "gain 0 24 22.5"));
  EXPECT_TRUE(wait_desk_gain(1, 22.5)) << rig_text();
  EXPECT_TRUE(wait_strip_gain(0, 22.5)) << lv1_->strip(0, 0).gain;

  // None of these changes comes back as a further set.
  sleep_ms(600);
  EXPECT_TRUE(near(lv1_->strip(0, 24).gain, 22.5));
  EXPECT_EQ(desk_->sets().size(), 2u) << rig_text();
  EXPECT_TRUE(near(desk_value(6), 20));
}

// (The refusal of a protected input itself, and its texts: BridgeSet's.)
TEST_F(BridgeE2eTest, PhantomNearAProtectedInputIsRefusedAndSwitchedBackInLv1) {
  start_desk();
  ASSERT_TRUE(took(*desk_, "set /io/in/LCL/5/mode ST"));  // LCL 5 and 6 are a stereo pair
  install("protect=LCL:6\n");
  start_lv1_with_loader();
  ASSERT_TRUE(wait_log(kSeeded, kSeedWait)) << bundle_->log_text();
  gmtest::StatusFile status(home_.run_dir());
  ASSERT_TRUE(status.ok());
  ASSERT_TRUE(gmtest::wait_for([&] { return status->ch_stereo[4] != 0; }, kWait))
      << "the module has not read the pair";
  ASSERT_TRUE(took(*desk_, "clear-sets"));

  // Strip 4 is LCL 5, whose 48V the desk switches together with the protected LCL 6.
  ASSERT_TRUE(took(*lv1_, "phantom 0 4 on"));
  EXPECT_TRUE(wait_log("[48V] REFUSED ch=4 -> LCL 5: the desk switches LCL 6's 48V with it"))
      << bundle_->log_text();
  EXPECT_TRUE(wait_strip_phantom(4, false)) << "LV1's switch must flip back";
  sleep_ms(300);
  EXPECT_TRUE(desk_->sets().empty()) << rig_text();
  EXPECT_TRUE(near(desk_value(5, "vph"), 0) && near(desk_value(6, "vph"), 0));

  // An input next to them is not protected: its 48V goes through.
  ASSERT_TRUE(took(*lv1_, "phantom 0 2 on"));
  EXPECT_TRUE(gmtest::wait_for([&] { return near(desk_value(3, "vph"), 1); }, kWait)) << rig_text();
}

// ---- dropouts --------------------------------------------------------------------------------

// Takes the desk off the network (connections refused and dropped), lets fn act during the
// dropout, and brings it back after 10 s: longer than the 6 s that count as a dropout,
// shorter than the 20 s after which the module would look elsewhere.
template <class Fn>
void dropout(WingSimProcess& desk, const std::string& run_dir, Fn fn) {
  gmtest::StatusFile status(run_dir);
  ASSERT_TRUE(status.ok());
  ASSERT_TRUE(gmtest::wait_for([&] { return status->connected == 1; }, kWait));
  ASSERT_TRUE(took(desk, "fault refuse-tcp on"));
  desk.cmd("fault drop");
  const auto down = Clock::now();
  fn();
  // No reply for 6 s: the module counts it as a dropout.
  ASSERT_TRUE(gmtest::wait_for([&] { return status->connected == 0; }, 7500));
  std::this_thread::sleep_until(down + std::chrono::milliseconds(10000));
  ASSERT_TRUE(took(desk, "fault refuse-tcp off"));
}

// After a dropout in which LV1 turned strip 8 to 25 and the desk's LCL 9 went to 10, the side
// that resync= names wins on both.
struct Resync {
  const char* winner_name;
  const char* cfg;
  const char* back_line;
  double winner;
  bool writes;  // whether the module writes to the desk once it is back
};

void PrintTo(const Resync& r, std::ostream* os) {
  *os << r.cfg;
}

class ResyncE2eTest : public BridgeE2eTest, public ::testing::WithParamInterface<Resync> {};

TEST_P(ResyncE2eTest, AfterADropoutTheConfiguredSideWins) {
  const Resync& r = GetParam();
  start_all(r.cfg);
  ASSERT_TRUE(took(*desk_, "set /io/in/LCL/9/g 15"));
  ASSERT_TRUE(wait_strip_gain(8, 15));
  sleep_ms(1000);  // the desk's push of that change is applied before the dropout starts
  ASSERT_TRUE(took(*desk_, "clear-sets"));

  dropout(*desk_, home_.run_dir(), [&] {
    EXPECT_TRUE(turn_while_down(8, 25)) << bundle_->log_text();
    ASSERT_TRUE(took(*desk_, "set /io/in/LCL/9/g 10"));  // nobody connected to hear it
  });
  if (HasFatalFailure()) return;

  EXPECT_TRUE(wait_log(r.back_line, 20000)) << bundle_->log_text();
  EXPECT_TRUE(wait_desk_gain(9, r.winner)) << rig_text();
  EXPECT_TRUE(wait_strip_gain(8, r.winner)) << lv1_->strip(0, 8).gain;
  sleep_ms(1000);
  EXPECT_TRUE(near(desk_value(9), r.winner)) << rig_text();
  EXPECT_TRUE(near(lv1_->strip(0, 8).gain, r.winner)) << lv1_->strip(0, 8).gain;
  EXPECT_EQ(!desk_->sets().empty(), r.writes) << rig_text();
}

INSTANTIATE_TEST_SUITE_P(
    Lv1OrDesk, ResyncE2eTest,
    ::testing::Values(
        Resync{"Lv1", "resync=lv1\n", "[sync] desk back - LV1 is the source of truth", 25, true},
        Resync{"Desk", "resync=desk\n",
               "[sync] desk back - desk is the source of truth, re-seeding LV1", 10, false}),
    [](const ::testing::TestParamInfo<Resync>& p) { return p.param.winner_name; });

TEST_F(BridgeE2eTest, AnotherConsoleAtTheAdoptedAddressIsNeverWritten) {
  start_all("resync=lv1\n");  // the replay after a dropout would write, if anything did
  const std::string ip = desk_->ip();

  dropout(*desk_, home_.run_dir(), [&] {
    // While the desk is away, another console takes its address.
    ASSERT_TRUE(took(*desk_, "identity name=MON serial=S0999"));
    ASSERT_TRUE(took(*desk_, "clear-sets"));
    EXPECT_TRUE(turn_while_down(5, 21)) << bundle_->log_text();
  });
  if (HasFatalFailure()) return;

  EXPECT_TRUE(
      wait_log("[refind] ANOTHER console answers at " + ip + " now: wing-rack MON, id ", 20000))
      << bundle_->log_text();
  gmtest::StatusFile status(home_.run_dir());
  EXPECT_TRUE(gmtest::wait_for([&] { return status->find_state == GM_FIND_LOOKING; }, kWait))
      << status->find_state << " " << status->status;

  // LV1 keeps turning knobs and switching 48V; the other console's own changes stay there.
  for (int i = 0; i < 5; ++i) {
    lv1_->cmd("gain 0 " + std::to_string(i) + " 30");
    lv1_->cmd("phantom 0 " + std::to_string(i) + " on");
  }
  ASSERT_TRUE(took(*desk_, "set /io/in/LCL/8/g 40"));
  sleep_ms(2000);
  EXPECT_TRUE(desk_->sets().empty()) << rig_text();
  EXPECT_FALSE(near(lv1_->strip(0, 7).gain, 40));
  EXPECT_FALSE(bundle_->log_has("[sync] desk back")) << bundle_->log_text();
}

// ---- session recall (held while the desk is away, or not applied when off: the bridge's and the
// module's own suites) ---------------------------------------------------------------------------

TEST_F(BridgeE2eTest, ASessionsPreampValuesAreAppliedToTheDesk) {
  start_all();
  ASSERT_TRUE(took(*desk_, "clear-sets"));
  ASSERT_TRUE(took(*lv1_, "session 0 5:17.5 6:12.5:on"));
  EXPECT_TRUE(wait_log("[recall] LV1 opened a session with Gainmesh preamp values - applying now"))
      << bundle_->log_text();
  EXPECT_TRUE(wait_desk_gain(6, 17.5)) << rig_text();
  EXPECT_TRUE(wait_desk_gain(7, 12.5)) << rig_text();
  EXPECT_TRUE(near(desk_value(7, "vph"), 1) && near(desk_value(6, "vph"), 0)) << rig_text();
  EXPECT_TRUE(near(desk_value(8), 0)) << "a channel the session did not store stays";
  EXPECT_TRUE(wait_strip_gain(5, 17.5));
  EXPECT_TRUE(wait_strip_phantom(6, true));
}

// ---- stopping ------------------------------------------------------------------------------

TEST_F(BridgeE2eTest, QuitsPromptlyWhileTheDeskHangs) {
  start_all();
  ASSERT_TRUE(took(*desk_, "fault silent on"));
  ASSERT_TRUE(took(*lv1_, "gain 0 5 20"));  // goes out into the silence
  sleep_ms(1000);
  // The module's stop takes about 3 s at most; LV1 leaves well within 10 s.
  EXPECT_EQ(lv1_->quit(10000), 0) << lv1_->stderr_text() << bundle_->log_text();
  gmtest::StatusFile status(home_.run_dir());
  ASSERT_TRUE(status.ok());
  EXPECT_STREQ(status->status, GM_STATUS_STOPPED_TEXT);
  EXPECT_EQ(status->connected, 0u);
  // A request already waiting on the silent desk may outlast the stop; the module then says so
  // in this line and stays mapped, which is allowed.
  EXPECT_TRUE(bundle_->log_has("---- wing module stopped")) << bundle_->log_text();
}

}  // namespace
