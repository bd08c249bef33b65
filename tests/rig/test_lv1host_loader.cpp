// The loader contract as LV1 sees it: lv1host loads the built loader from an installed bundle,
// the loader runs the built wing module, and the files in the run and log folders show it.
// The module's settings name a loopback desk address, so it never searches the network.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "loader_layout.h"
#include "support/control_socket.h"
#include "support/loopback.h"
#include "support/lv1_rig_test.h"
#include "support/status_file.h"

namespace {

using gmtest::InstalledBundle;
using gmtest::Lv1HostProcess;
using Sig = InstalledBundle::Signature;
using gmtest::took;

constexpr int kWait = 10000;  // ms for something that must happen
constexpr const char* kStarted = "---- wing module 3.2.0 started by the loader ----";
constexpr const char* kStopped = "---- wing module stopped ----";

int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

class LoaderRigTest : public gmtest::Lv1RigTest {
 protected:
  void install(InstalledBundle::Options o = {}) {
    o.wing_ip = gmtest::unique_loopback();
    bundle_ = std::make_unique<InstalledBundle>(home_, o);
  }

  GmLoaderStatus block() const { return bundle_->loader_status(); }
  std::string running(int type) const { return block().consoles[type].running_version; }

  bool wait_running(const std::string& version, int timeout_ms) const {
    return gmtest::wait_for([&] { return running(0) == version; }, timeout_ms);
  }

  bool wait_log(const std::string& needle, int times = 1) const {
    return gmtest::wait_for([&] { return count(bundle_->log_text(), needle) >= times; }, kWait);
  }
};

// Only the X32 / M32 card's Waves bundle is there at first; LV1 tells that card's kind while it is
// out of its slot.
TEST_F(LoaderRigTest, ModulePresentFollowsTheWavesCardBundles) {
  InstalledBundle::Options o;
  o.cards = {gmtest::kX32Card, gmtest::kDn32Card};
  install(o);
  start_lv1_with_loader();
  ASSERT_TRUE(wait_running("3.2.0", kWait)) << bundle_->log_text();
  EXPECT_EQ(gmtest::console_summary(block().consoles[0]),
            "wing on=1 present=0 slot=1 kind=1 run=3.2.0 err=0/0 file=");
  EXPECT_EQ(gmtest::console_summary(block().consoles[1]),
            "x32 on=1 present=1 slot=0 kind=2 run= err=0/0 file=");

  bundle_->add_card_bundle(gmtest::kWingCard);
  bundle_->notify();
  EXPECT_TRUE(gmtest::wait_for([&] { return block().consoles[0].module_present == 1; }, kWait));
}

// How soon an announced module runs: CoreLiveStatus's release.
TEST_F(LoaderRigTest, TakesUpANewerSignedModuleOnlyAndWithoutRestartingLv1) {
  install();
  Lv1HostProcess& lv1 = start_lv1_with_loader();
  ASSERT_TRUE(wait_running("3.2.0", kWait));
  ASSERT_TRUE(wait_log(kStarted));

  // A newer module whose signature does not verify is refused and never mapped into LV1.
  bundle_->add_module("3.2.1", Sig::kWrong);
  bundle_->notify();
  ASSERT_TRUE(gmtest::wait_for([&] { return block().consoles[0].load_error != 0; }, kWait));
  EXPECT_EQ(gmtest::console_summary(block().consoles[0]),
            "wing on=1 present=1 slot=1 kind=1 run=3.2.0 err=1/" +
                std::to_string(GM_LOAD_ERR_BAD_SIGNATURE) + " file=wing-3.2.1.dylib");
  EXPECT_FALSE(gmtest::maps_file(lv1.pid(), "wing-3.2.1.dylib"));
  EXPECT_EQ(count(bundle_->log_text(), kStopped), 0);

  // A newer signed one replaces the running module.
  bundle_->add_module("3.2.2", Sig::kGood);
  bundle_->notify();
  ASSERT_TRUE(wait_running("3.2.2", kWait)) << bundle_->log_text();
  EXPECT_TRUE(wait_log(kStopped)) << "the old module was stopped";
  EXPECT_TRUE(wait_log(kStarted, 2));
  EXPECT_TRUE(gmtest::maps_file(lv1.pid(), "wing-3.2.2.dylib"));
  EXPECT_FALSE(gmtest::maps_file(lv1.pid(), "wing-3.2.1.dylib"));
  EXPECT_EQ(gmtest::process_name(lv1.pid()), "eMotion LV1") << "LV1 kept running throughout";
}

// (Quitting LV1 the ordinary way: BridgeE2eTest.QuitsPromptlyWhileTheDeskHangs.)
TEST_F(LoaderRigTest, SigtermStopsTheModule) {
  install();
  Lv1HostProcess& lv1 = start_lv1_with_loader();
  ASSERT_TRUE(wait_running("3.2.0", kWait));
  ASSERT_TRUE(wait_log(kStarted));
  EXPECT_EQ(lv1.terminate(), 0);
  EXPECT_TRUE(bundle_->log_has(kStopped)) << bundle_->log_text();
  gmtest::StatusFile status(home_.run_dir());
  ASSERT_TRUE(status.ok());
  EXPECT_STREQ(status->status, GM_STATUS_STOPPED_TEXT);
  EXPECT_EQ(status->connected, 0u);
  EXPECT_EQ(status->injected, 0u);
}

}  // namespace
