// A WING whose discovery reply holds a byte that is not UTF-8 and a CR LF inside its name, on a
// network of namespaces that the test builds, with Gainmesh installed and an address typed into
// wing.cfg by hand in another encoding: `--scan` prints the reply as one line with all six
// fields, `--status` is JSON that Python reads, and the Setup window moves on to the page that
// shows the found console instead of staying on the one before.
#include <gtest/gtest.h>

#include <QLabel>
#include <cstdlib>
#include <string>
#include <vector>

#include "api.h"
#include "qt_app.h"
#include "setup_view.h"
#include "store.h"
#include "support/app_run.h"
#include "support/installed_bundle.h"
#include "support/json_check.h"
#include "support/netns.h"
#include "support/temp_home.h"

namespace {

using gmtest::NetnsLab;

const std::string kReplacement = "\xEF\xBF\xBD";

class OutsideTextNetns : public gmtest::TempHomeTest {
 protected:
  // The built executable with `args` in the scanner namespace, where it may broadcast.
  static std::string app(const NetnsLab& lab, const std::string& args) {
    const gmtest::AppRun r = gmtest::run_app(
        args, {},
        {"ip", "netns", "exec", lab.scanner(), "env", "-u", "GAINMESH_TEST_NO_BROADCAST"});
    return r.exited(0) ? r.out : r.out + "(failed)";
  }

  // In a child that joined the scanner namespace: a Setup window over a Store, its page before
  // and after a scan, as the labels it shows; "" when the child could not run.
  static std::string window_texts(const NetnsLab& lab) {
    std::string out, err;
    const bool ran = gmtest::run_in_netns(
        lab.scanner(),
        [] {
          unsetenv("GAINMESH_TEST_NO_BROADCAST");  // this child may broadcast: it is in the lab
          gmtest::qt_app();
          gmui::Store store;
          gmui::SetupView view(store);
          store.setOpen(0, true);
          store.refresh();
          std::string texts = store.page() ? "page\n" : "no page\n";
          store.scan();
          gmtest::settle(store);
          for (QLabel* l : view.findChildren<QLabel*>()) {
            if (l->isVisibleTo(&view)) texts += l->text().toStdString() + "\n";
          }
          return texts;
        },
        &out, &err);
    EXPECT_TRUE(ran) << err;
    return out;
  }
};

TEST_F(OutsideTextNetns, AReplyThatIsNotUtf8ReachesTheScanTheStatusAndTheSetupWindow) {
  NetnsLab lab(1);
  if (!lab.ok()) GTEST_SKIP() << "no network namespace lab: " << lab.why();
  const std::string control = home_.path() + "/desk.sock";
  ASSERT_GT(lab.spawn_desk(0, GM_BUILD_DIR "/sim/wingsim", control,
                           {"--name", "F\xE9OH\r\nDesk", "--serial", "S\xFF-7"}),
            0);
  const std::string addr = lab.host_addr(0);
  EXPECT_EQ(app(lab, "--scan"), "WING," + addr + ",F" + kReplacement + "OH  Desk,wing-rack,S" +
                                    kReplacement + "-7,3.1-0-g9f314617\n-\n");

  gmtest::InstalledBundle::Options options;
  options.in_network_namespace = true;
  options.wing_cfg_more = "ip=10.231.0.\xE9\n";
  const gmtest::InstalledBundle bundle(home_, options);
  const std::string status = app(lab, "--status");
  EXPECT_EQ(gmtest::python_on_json(status,
                                   "c = doc['cards'][0]\n"
                                   "sys.stdout.buffer.write((c['meta'] + '|' + c['addr']['set'] + "
                                   "'|' + c['details'][2]['v']).encode())\n"),
            "WSG card \xC2\xB7 " + addr + " \xC2\xB7 fw 3.1-0|10.231.0." + kReplacement + "|S" +
                kReplacement + "-7")
      << status;

  const std::string texts = window_texts(lab);
  EXPECT_EQ(texts.rfind("page\n", 0), 0u) << texts;
  EXPECT_NE(texts.find("\nWSG card \xC2\xB7 " + addr + " \xC2\xB7 fw 3.1-0\n"), std::string::npos)
      << texts;
  EXPECT_NE(texts.find("\nS" + kReplacement + "-7\n"), std::string::npos) << texts;
}

}  // namespace
