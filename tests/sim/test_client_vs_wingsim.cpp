// The module's desk client against the virtual WING, on a loopback address of its own: the
// link's keep-alive and recovery, and metering, end to end. The control operations meet this
// desk in the suites that use them: gain and 48V sets with their read-back and re-patches in
// ControlRequests, channel sources in DeskLinked.InputNames..., gain ranges in
// PatchModel.RangesAreLearned...
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "host_services.h"
#include "support/eventually.h"
#include "support/host_harness.h"
#include "support/loopback.h"
#include "support/wingsim_process.h"
#include "wing_ctl.h"
#include "wing_native.h"
#include "wingbin.h"

namespace {

using namespace gmtest;
using namespace std::chrono_literals;

class ClientVsWingSim : public ::testing::Test {
 protected:
  void SetUp() override {
    host_.install();
    gm::set_detail_level(1);
    sim_ = std::make_unique<WingSimProcess>(ip_);
  }
  void TearDown() override {
    gm::wnat_stop();
    gm::wctl_stop();
    gm::host_install(nullptr);
  }
  // As the module does once it adopts a desk of firmware 3.1: its node hashes are known, so
  // every read accepts only the record of its own node.
  void connect() {
    const std::string line = "WING," + ip_ + ",FOH,wing-rack,S0001,3.1-0-g9f314617";
    gm::wbin_preload(line.c_str());
    ASSERT_TRUE(gm::wctl_start(ip_.c_str()));
    ASSERT_TRUE(eventually([] { return gm::wctl_connected(); }, 5s));
  }

  FakeHost host_;
  std::string ip_ = unique_loopback();
  std::unique_ptr<WingSimProcess> sim_;
};

// One link through what a desk does to it: idle, silent, dropped and back.
TEST_F(ClientVsWingSim, TheLinkIsKeptAliveDroppedWhenSilentAndComesBack) {
  connect();
  const long sent = gm::wctl_sent(), received = gm::wctl_recv();
  EXPECT_TRUE(eventually([&] { return gm::wctl_sent() > sent && gm::wctl_recv() > received; }, 6s))
      << "an idle link's keep-alive is answered";
  EXPECT_TRUE(gm::wctl_connected());

  sim_->cmd("fault silent on");
  ASSERT_TRUE(host_.wait_for_line("[ctl] keep-alive failed, dropping", 10000));
  sim_->cmd("fault silent off");
  sim_->cmd("fault drop");
  EXPECT_TRUE(eventually([] { return gm::wctl_connected(); }, 8s));

  // (A desk that drops the link and refuses it for a while: BridgeE2eTest's dropouts, with the
  // text of the refusal in WbinLinkTest.RefusedControl...)
}

TEST_F(ClientVsWingSim, MeteringReadsLevelsAndClipsFromTheDesksFrames) {
  sim_->cmd("level LCL 1 -20");
  sim_->cmd("level LCL 2 0");
  sim_->cmd("level A 48 -6");
  ASSERT_TRUE(gm::wnat_start(ip_.c_str()));
  ASSERT_TRUE(eventually([] { return gm::wnat_metering(); }, 6s));
  double db = 0;
  EXPECT_TRUE(eventually([&] { return gm::wnat_input_level("LCL", 1, &db) && db == -20.0; }, 2s));
  ASSERT_TRUE(gm::wnat_input_level("A", 48, &db));
  EXPECT_DOUBLE_EQ(db, -6.0);
  EXPECT_TRUE(gm::wnat_input_clipped("LCL", 2));
  EXPECT_FALSE(gm::wnat_input_clipped("LCL", 1));
  // (The log lines, and frames of another size: MeterDecode.)
}

}  // namespace
