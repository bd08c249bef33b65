// The loader contract as LV1 sees it: lv1host loads the built loader from an installed bundle,
// the loader runs the built wing module, and the files in the run and log folders show it.
// The module's settings name a loopback desk address, so it never searches the network.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "loader_layout.h"
#include "support/control_socket.h"
#include "support/loopback.h"
#include "support/lv1_rig_test.h"
#include "support/status_file.h"

namespace {

using gmtest::InstalledBundle;
using gmtest::Lv1HostProcess;
using Sig = InstalledBundle::Signature;
using Clock = std::chrono::steady_clock;
using gmtest::took;

constexpr int kWait = 10000;           // ms for something that must happen
constexpr int kNotifiedWaitMs = 3000;  // with a notification, "about a second"
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

TEST_F(LoaderRigTest, LoadsTheSignedModulePublishesBothBlocksAndFollowsLv1) {
  install();
  Lv1HostProcess& lv1 = start_lv1_with_loader();
  EXPECT_EQ(gmtest::process_name(lv1.pid()), "eMotion LV1");

  ASSERT_TRUE(wait_running("3.2.0", kWait)) << bundle_->log_text();
  EXPECT_TRUE(gmtest::holds_open(lv1.pid(), bundle_->loader_block_path()));
  const GmLoaderStatus b = block();
  EXPECT_TRUE(b.magic == GM_LOADER_MAGIC && b.size >= GM_LOADER_MIN_BYTES);
  // Only the WING's Waves bundle is there, only a WING module file is installed, and LV1 tells
  // the X32 / M32 card's kind while it is out of its slot.
  EXPECT_EQ(gmtest::console_summary(b.consoles[0]),
            "wing on=1 present=1 slot=1 kind=1 run=3.2.0 err=0/0 file=");
  EXPECT_EQ(gmtest::console_summary(b.consoles[1]),
            "x32 on=1 present=0 slot=0 kind=2 run= err=0/0 file=");

  ASSERT_TRUE(wait_log(kStarted)) << bundle_->log_text();
  EXPECT_TRUE(gmtest::holds_open(lv1.pid(), bundle_->status_block_path()));
  gmtest::StatusFile status(home_.run_dir());
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(status->magic, GM_STATUS_MAGIC);
  EXPECT_TRUE(gmtest::maps_file(lv1.pid(), "wing-3.2.0.dylib"));

  // The module answers 0..45 dB in 2.5 dB steps until it has read the desk patch.
  const uint64_t before = lv1.strip(0, 0).queries;
  ASSERT_TRUE(took(lv1, "requery wing"));
  for (const Lv1HostProcess::Strip& s : lv1.strips(0)) {
    EXPECT_TRUE(s.preamp) << s.ch;
    EXPECT_EQ(s.min, 0);
    EXPECT_EQ(s.max, 45);
    EXPECT_EQ(s.step, 2.5);
    EXPECT_EQ(s.queries, before + 1);
  }
}

TEST_F(LoaderRigTest, ModulePresentFollowsTheWavesCardBundles) {
  InstalledBundle::Options o;
  o.cards = {gmtest::kX32Card, gmtest::kDn32Card};
  install(o);
  start_lv1_with_loader();
  ASSERT_TRUE(wait_running("3.2.0", kWait)) << bundle_->log_text();
  EXPECT_EQ(block().consoles[0].module_present, 0u);
  EXPECT_EQ(block().consoles[1].module_present, 1u);

  bundle_->add_card_bundle(gmtest::kWingCard);
  bundle_->notify();
  EXPECT_TRUE(gmtest::wait_for([&] { return block().consoles[0].module_present == 1; }, kWait));
}

TEST_F(LoaderRigTest, TakesUpANewerSignedModuleOnlyAndWithoutRestartingLv1) {
  install();
  Lv1HostProcess& lv1 = start_lv1_with_loader();
  ASSERT_TRUE(wait_running("3.2.0", kWait));
  ASSERT_TRUE(wait_log(kStarted));

  // A newer module whose signature does not verify is refused and never mapped into LV1.
  bundle_->add_module("3.2.1", Sig::kWrong);
  bundle_->notify();
  ASSERT_TRUE(gmtest::wait_for([&] { return block().consoles[0].load_error != 0; }, kWait));
  const GmLoaderConsole e = block().consoles[0];
  EXPECT_EQ(e.error_code, GM_LOAD_ERR_BAD_SIGNATURE);
  EXPECT_NE(std::string(e.module_file).find("3.2.1"), std::string::npos) << e.module_file;
  EXPECT_STREQ(e.running_version, "3.2.0");
  EXPECT_FALSE(gmtest::maps_file(lv1.pid(), "wing-3.2.1.dylib"));
  EXPECT_EQ(count(bundle_->log_text(), kStopped), 0);

  // A newer signed one, announced, replaces the running module within about a second.
  bundle_->add_module("3.2.2", Sig::kGood);
  const auto posted = Clock::now();
  bundle_->notify();
  ASSERT_TRUE(wait_running("3.2.2", kWait)) << bundle_->log_text();
  const auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - posted).count();
  EXPECT_LT(took, kNotifiedWaitMs) << "announced, the module should run within about a second";
  EXPECT_TRUE(wait_log(kStopped)) << "the old module was stopped";
  EXPECT_TRUE(wait_log(kStarted, 2));
  EXPECT_TRUE(gmtest::maps_file(lv1.pid(), "wing-3.2.2.dylib"));
  EXPECT_FALSE(gmtest::maps_file(lv1.pid(), "wing-3.2.1.dylib"));
  EXPECT_EQ(gmtest::process_name(lv1.pid()), "eMotion LV1") << "LV1 kept running throughout";
}

class StateCfgTest : public LoaderRigTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(StateCfgTest, LeavesTheWingModuleUnloaded) {
  InstalledBundle::Options o;
  o.state_cfg = GetParam();
  install(o);
  Lv1HostProcess& lv1 = start_lv1_with_loader();
  ASSERT_TRUE(
      gmtest::wait_for([&] { return std::string(block().consoles[0].key) == "wing"; }, kWait));
  ASSERT_TRUE(wait_log("[loader]")) << "the loader writes to the log";
  // Long enough for a rescan to have happened.
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  EXPECT_STREQ(block().consoles[0].running_version, "");
  EXPECT_FALSE(bundle_->log_has(kStarted)) << bundle_->log_text();
  EXPECT_FALSE(gmtest::maps_file(lv1.pid(), "wing-3.2.0.dylib"));
  EXPECT_FALSE(gmtest::file_exists(bundle_->status_block_path()));
}

INSTANTIATE_TEST_SUITE_P(OffOrGuest, StateCfgTest,
                         ::testing::Values("wing=off\nx32=on\n", "wing=on\nwing.guest=1\n"));

class QuitTest : public LoaderRigTest, public ::testing::WithParamInterface<bool> {};

TEST_P(QuitTest, QuittingLv1StopsTheModule) {
  install();
  Lv1HostProcess& lv1 = start_lv1_with_loader();
  ASSERT_TRUE(wait_running("3.2.0", kWait));
  ASSERT_TRUE(wait_log(kStarted));
  EXPECT_EQ(GetParam() ? lv1.terminate() : lv1.quit(), 0);
  EXPECT_TRUE(bundle_->log_has(kStopped)) << bundle_->log_text();
  gmtest::StatusFile status(home_.run_dir());
  ASSERT_TRUE(status.ok());
  EXPECT_STREQ(status->status, GM_STATUS_STOPPED_TEXT);
  EXPECT_EQ(status->connected, 0u);
  EXPECT_EQ(status->injected, 0u);
}

INSTANTIATE_TEST_SUITE_P(QuitOrSigterm, QuitTest, ::testing::Bool());

}  // namespace
