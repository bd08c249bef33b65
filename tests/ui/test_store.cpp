// The Store against the real core in a temporary home: what each gesture changes on disk and on
// the page, the queued calls with `working`, and the demo keys of the scenarios.
#include <gtest/gtest.h>

#include <filesystem>

#include "api.h"
#include "lv1.h"
#include "qt_app.h"
#include "support/installed_bundle.h"

namespace {

using gmui::Modal;

class StoreTest : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    gmtest::qt_app();
    gm_fake("none");  // the machine, not a scenario
  }
  std::string cfg(const char* name) const {
    return gmtest::read_file(home_.io_modules_dir() + "/Gainmesh.bundle/Contents/MacOS/" + name);
  }
  gmui::Store store_;
};

TEST_F(StoreTest, DemoScenariosOpenTheirCardsAndDialogOnce) {
  ASSERT_TRUE(gm_fake("setup-rig"));
  store_.refresh();
  EXPECT_TRUE(store_.open(0));
  EXPECT_FALSE(store_.open(1));
  ASSERT_TRUE(gm_fake("setup-nothing-addr-open"));
  store_.refresh();
  EXPECT_EQ(store_.modal(), (Modal{Modal::address, 1}));
  store_.cancel();
  store_.refresh();
  EXPECT_FALSE(store_.modal());  // closed by the user, it stays closed
}

TEST_F(StoreTest, QueuedCallsReportWorkingAndRefreshAfter) {
  // Switching off and removal ask first, or refuse, while any LV1 runs on the machine.
  if (gm::lv1_running()) GTEST_SKIP() << "an eMotion LV1 runs on this machine";
  gmtest::InstalledBundle::Options o;
  o.wing_ip = "127.0.97.1";  // nothing answers there
  gmtest::InstalledBundle bundle(home_, o);
  QVector<bool> seen;
  QObject::connect(&store_, &gmui::Store::changed, [&] { seen << store_.working(); });
  store_.scan();
  store_.toggle(0);  // LV1 is closed: the WING goes off at once, without asking
  ASSERT_TRUE(gmtest::settle(store_));
  EXPECT_EQ(seen.first(), true);
  EXPECT_EQ(seen.last(), false);
  EXPECT_FALSE(store_.modal());
  EXPECT_NE(cfg("state.cfg").find("wing=off"), std::string::npos);
  store_.showModal({Modal::off, 1});  // as LV1 running would have asked
  store_.confirm();
  ASSERT_TRUE(gmtest::settle(store_));
  EXPECT_NE(cfg("state.cfg").find("x32=off"), std::string::npos);

  store_.showModal({Modal::remove, 0});
  store_.confirm();
  ASSERT_TRUE(gmtest::settle(store_));
  EXPECT_FALSE(std::filesystem::exists(bundle.bundle()));
  EXPECT_FALSE(store_.page()->anyInstalled);
}

}  // namespace
