// The loader inside LV1: lv1host loads the built loader from an installed bundle and the loader
// runs the built wing module; a newer module whose signature does not verify never reaches LV1's
// process. Taking up a newer signed module while LV1 runs is CoreLiveStatus's release and the
// demo's; the refusal rules themselves are the loader suites'. The module's settings name a
// loopback desk address, so it never searches the network.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "loader_layout.h"
#include "support/loopback.h"
#include "support/lv1_rig_test.h"

namespace {

using gmtest::InstalledBundle;

class LoaderRigTest : public gmtest::Lv1RigTest {};

TEST_F(LoaderRigTest, ANewerModuleWithABadSignatureIsNeverMappedIntoLv1) {
  bundle_ = std::make_unique<InstalledBundle>(
      home_, InstalledBundle::Options{.wing_ip = gmtest::unique_loopback()});
  const int pid = start_lv1_with_loader().pid();
  const auto wing = [&] { return bundle_->loader_status().consoles[0]; };
  ASSERT_TRUE(
      gmtest::wait_for([&] { return std::string(wing().running_version) == "3.2.0"; }, 10000))
      << bundle_->log_text();

  bundle_->add_module("3.2.1", InstalledBundle::Signature::kWrong);
  bundle_->notify();
  ASSERT_TRUE(gmtest::wait_for([&] { return wing().load_error != 0; }, 10000));
  EXPECT_EQ(gmtest::console_summary(wing()), "wing on=1 present=1 slot=1 kind=1 run=3.2.0 err=1/" +
                                                 std::to_string(GM_LOAD_ERR_BAD_SIGNATURE) +
                                                 " file=wing-3.2.1.dylib");
  EXPECT_FALSE(gmtest::maps_file(pid, "wing-3.2.1.dylib"));
  EXPECT_FALSE(bundle_->log_has("---- wing module stopped ----")) << bundle_->log_text();
}

}  // namespace
