// The fixture of the tests that run LV1 (lv1host) with an installed Gainmesh in a temporary home.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "support/eventually.h"
#include "support/installed_bundle.h"
#include "support/lv1host_process.h"
#include "support/temp_home.h"

namespace gmtest {

// Gains compared as the desk and LV1 keep them: within a hundredth of a decibel.
inline bool near(double a, double b) {
  return a > b - 0.01 && a < b + 0.01;
}

class Lv1RigTest : public TempHomeTest {
 protected:
  // Starts LV1 in the home, with whatever the test installed there.
  Lv1HostProcess& start_lv1(Lv1HostProcess::Options o = {}) {
    lv1_ = std::make_unique<Lv1HostProcess>(home_, std::move(o));
    return *lv1_;
  }
  // The same with the built loader installed: it unloads modules with dlclose, which leaves
  // their static allocations for a sanitizer build's leak check to report.
  Lv1HostProcess& start_lv1_with_loader() {
    Lv1HostProcess::Options o;
    o.leak_check = false;
    return start_lv1(std::move(o));
  }

  // Waits until gainmesh.log holds the needle.
  bool wait_log(const std::string& needle, int timeout_ms = 10000) const {
    return wait_for([&] { return bundle_->log_has(needle); }, timeout_ms);
  }

  // LV1 still running must quit with status 0; a clean exit also shows that no sanitizer
  // reported anything inside LV1 meanwhile.
  void TearDown() override {
    if (lv1_ && lv1_->pid() > 0) {
      EXPECT_EQ(lv1_->quit(), 0) << lv1_->stderr_text();
    }
  }

  std::unique_ptr<InstalledBundle> bundle_;
  std::unique_ptr<Lv1HostProcess> lv1_;
};

}  // namespace gmtest
