// The LV1 stand-in where it must behave as LV1 does and the module's own suites, with their
// in-process host, cannot see it: a fake loader in the installed bundle records what lv1host
// hands it and plays a console module calling LV1's services from its own thread. Pushes from the
// module reaching the strips, sessions and quitting are the bridge's end-to-end suite's
// (test_bridge_e2e); running as "eMotion LV1" from its app bundle is CoreLiveStatus's.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "support/control_socket.h"
#include "support/lv1_rig_test.h"

namespace {

using gmtest::InstalledBundle;
using gmtest::Lv1HostProcess;
using gmtest::took;

// A strip's capabilities as LV1 holds them, and how often it asked for them.
std::string caps(const Lv1HostProcess::Strip& s) {
  std::ostringstream out;
  out << "preamp=" << s.preamp << " " << s.min << ".." << s.max << "/" << s.step
      << " queries=" << s.queries;
  return out.str();
}

class Lv1HostTest : public gmtest::Lv1RigTest {
 protected:
  void SetUp() override {
    bundle_ = std::make_unique<InstalledBundle>(
        home_, InstalledBundle::Options{.loader = GM_FAKE_LOADER, .with_module = false});
    start_lv1();
  }

  // A line for the fake loader's module thread.
  void trigger(const std::string& line) {
    std::ofstream(home_.path() + "/fake-loader.in", std::ios::app) << line << "\n";
  }

  // What the fake loader logged, one line per call from LV1 (the first is "entry").
  std::string log() const { return gmtest::read_file(home_.path() + "/fake-loader.log"); }
  // Waits until the fake loader logged this whole line.
  bool logged(const std::string& line) const {
    return gmtest::wait_for([&] { return log().find("\n" + line + "\n") != std::string::npos; },
                            10000);
  }
};

TEST_F(Lv1HostTest, QueriesTheStripsOfADeviceOnceItsCardIsInTheRack) {
  for (const auto& s : lv1_->strips(0)) EXPECT_EQ(caps(s), "preamp=1 -6..60/0.5 queries=1") << s.ch;
  EXPECT_EQ(lv1_->strips(0).size(), 64u);
  EXPECT_EQ(lv1_->strip(1, 0).queries, 0u) << "the X32 / M32 card is out: no device to query";

  // Taken out, the card's device and gain structure are gone; put back, it is queried again.
  ASSERT_TRUE(took(*lv1_, "card 0 out"));
  EXPECT_TRUE(logged("rack 0 in=0 kind=1 extra=0 mac=none iface=null")) << log();
  ASSERT_TRUE(took(*lv1_, "card 0 in"));
  EXPECT_TRUE(logged("rack 0 in=1 kind=1 extra=0 mac=00:1c:ab:00:00:01 iface=0/0")) << log();
  EXPECT_EQ(lv1_->strip(0, 0).queries, 2u);
}

TEST_F(Lv1HostTest, ATurnUpdatesTheGainStructureBeforeTheModuleHearsOfIt) {
  ASSERT_TRUE(took(*lv1_, "gain wing 5 12.5"));
  EXPECT_TRUE(logged("set_gain 0 5 12.5 iface=12.5/0")) << log();
  EXPECT_EQ(lv1_->strip(0, 5).gain, 12.5);
}

TEST_F(Lv1HostTest, ChannelTypeStateChangedRequeriesTheDeviceBeforeReturning) {
  trigger("caps 0 4 0 -10 20 1");
  ASSERT_TRUE(logged("done caps 0 4 0 -10 20 1")) << log();
  EXPECT_TRUE(lv1_->strip(0, 4).preamp) << "nothing re-queried yet";

  trigger("changed 0");
  EXPECT_TRUE(logged("changed 0 queries=64")) << log();
  EXPECT_EQ(caps(lv1_->strip(0, 4)), "preamp=0 -10..20/1 queries=2");
}

}  // namespace
