// The in-process module fixture.
#include "support/module_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <thread>

#include "bridge_cfg.h"
#include "bridge_flags.h"
#include "bridge_patch.h"
#include "bridge_state.h"
#include "bridge_status.h"
#include "desk_wing.h"
#include "host_services.h"
#include "support/eventually.h"
#include "support/loopback.h"
#include "wingbin.h"

namespace gmtest {
namespace {

// The bridge's state as the module starts: flags, channel records and request flags re-made
// whole, the patch model forgotten.
void reset_bridge_state() {
  gm::BridgeState& s = gm::bs();
  s.ready = s.first_seed_done = s.identity_recheck = s.started = s.ever_replied = false;
  s.recall_pending = false;
  s.last_reply_ms = 0;
  s.iface = nullptr;
  for (gm::ChannelState& c : s.ch) new (&c) gm::ChannelState();
  new (&gm::bridge_flags()) gm::BridgeFlags();
  gm::patch_reset();
}

}  // namespace

void InProcessModuleTest::SetUp() {
  host_.set_cfg_path(wide(cfg_path()));
  host_.install();
  gm::cfg_reset();
  reset_bridge_state();
}

void InProcessModuleTest::TearDown() {
  gm::desk()->on_push(nullptr);
  gm::desk()->stop();
  sim_.reset();
  gm::bridge_status_close();
  reset_bridge_state();
  gm::cfg_reset();
  gm::host_install(nullptr);
}

void InProcessModuleTest::load_settings(const std::string& text) {
  home_.write("wing.cfg", text);
  gm::load_cfg();
}

void InProcessModuleTest::start_desk(std::vector<std::string> extra) {
  WingSimProcess::Options o;
  o.ip = ip_ = unique_loopback();
  o.extra = std::move(extra);
  sim_ = std::make_unique<WingSimProcess>(o);
}

std::string InProcessModuleTest::discovery_line() const {
  return "WING," + ip_ + ",FOH,wing-rack,S0001,3.1-0-g9f314617";
}

void InProcessModuleTest::connect_desk() {
  gm::wbin_preload(discovery_line().c_str());
  ASSERT_TRUE(gm::desk()->start(ip_.c_str()));
  ASSERT_TRUE(eventually([] { return gm::desk()->connected(); }, std::chrono::seconds(5)));
}

void InProcessModuleTest::at_desk(const std::string& command, int pause_ms) {
  sim_->cmd(command);
  ASSERT_TRUE(sim_->ok()) << command << ": " << sim_->error();
  if (pause_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
}

}  // namespace gmtest
