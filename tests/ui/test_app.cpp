// The app delegate in a temporary home: the first launch and later ones, "--login", the rescans
// that follow the Setup window, the menu drawn from the page and clicks on its item, the
// window's frame on disk, and a staged app applied from the tick while the window keeps answering.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <random>

#include "api.h"
#include "app.h"
#include "lv1.h"
#include "platform.h"
#include "qt_app.h"
#include "support/installed_bundle.h"
#include "support/temp_home.h"
#include "updater.h"
#include "util.h"

namespace {

using gmui::App;
using gmui::Modal;

class AppTest : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    gmtest::qt_app();
    ASSERT_TRUE(gm_fake("setup-netask"));  // one permission to allow; scans return at once
  }
  QSettings defaults() const { return {gmui::defaults_path(), QSettings::IniFormat}; }
};

TEST_F(AppTest, OnlyTheFirstLaunchShowsThePermissionsAndTheFrameOutlivesAKill) {
  {
    App first({QStringLiteral("Gainmesh")});
    ASSERT_TRUE(first.window() && first.window()->isVisible());
    EXPECT_EQ(first.window()->size(), QSize(628, 720));
    EXPECT_EQ(first.store().modal(), (Modal{Modal::permissions, 0}));
    first.window()->setGeometry(40, 60, 700, 500);
    // What a killed app would leave: the file soon holds the frame, without a close or a quit.
    // (Read from a copy: a QSettings on the same path would share the app's cache.)
    const QString copy = QString::fromStdString(home_.path()) + "/copy.conf";
    const auto onDisk = [&] {
      QFile::remove(copy);
      QFile::copy(gmui::defaults_path(), copy);
      return QSettings(copy, QSettings::IniFormat).value("NSWindow Frame Gainmesh").toByteArray();
    };
    QElapsedTimer t;
    t.start();
    while (onDisk() != first.window()->saveGeometry() && t.elapsed() < 5000)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(onDisk(), first.window()->saveGeometry());
  }
  App later({QStringLiteral("Gainmesh")});
  ASSERT_TRUE(later.window() && later.window()->isVisible());
  EXPECT_FALSE(later.store().modal());
  EXPECT_EQ(later.window()->geometry(), QRect(40, 60, 700, 500));
}

TEST_F(AppTest, LoginStartsWithTheMenuOnlyAndRescansFollowTheWindow) {
  defaults().setValue("permissionsShown", true);
  App app({QStringLiteral("Gainmesh"), QStringLiteral("--login")});
  EXPECT_EQ(app.window(), nullptr);
  // The offscreen platform has no tray: the item waits, shown, for one.
  ASSERT_TRUE(app.trayItem() && app.trayItem()->isVisible());
  EXPECT_EQ(app.backgroundScans(), 1);  // once at login
  EXPECT_EQ(app.toolTip(), QStringLiteral("Gainmesh \u00B7 Not set up yet"));
  Q_EMIT app.menu().aboutToShow();
  const QList<QAction*> items = app.menu().actions();
  ASSERT_EQ(items.size(), 9);
  EXPECT_EQ(items[3]->text(), QStringLiteral("macOS Permissions\u2026  "));
  EXPECT_FALSE(items[3]->icon().isNull());
  items[5]->trigger();  // Always on Top
  EXPECT_TRUE(defaults().value("alwaysOnTop").toBool());

  for (int i = 0; i < 45; ++i) app.tick();
  EXPECT_EQ(app.backgroundScans(), 1);
  app.openSetup();
  for (int i = 0; i < 15; ++i) app.tick();
  EXPECT_EQ(app.backgroundScans(), 3);  // on opening, then after 15 ticks
  app.store().showModal({Modal::address, 1});
  app.window()->close();
  EXPECT_FALSE(app.store().modal());
  for (int i = 0; i < 45; ++i) app.tick();
  EXPECT_EQ(app.backgroundScans(), 3);

  // A click on the item opens the window again (where the platform shows the menu on a click,
  // that is the platform's).
  Q_EMIT app.trayItem()->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(app.window()->isVisible());
}

// A staged app of 60 MiB, applied from the tick: the work runs on the work queue while the event
// loop keeps turning, then the new copy starts with "--updated=<pid>". (The 50 ms figure is
// the app benchmark's; here the bound only tells an apply on the GUI thread from one beside it.)
TEST_F(AppTest, ApplyingAStagedAppFromTheTickLeavesTheEventLoopTurning) {
  gm_fake("none");  // the machine, not a scenario
  // A stage waits for LV1 to close, and LV1 is any process of its name on this machine.
  if (gm::lv1_running()) GTEST_SKIP() << "an eMotion LV1 runs on this machine";
  const std::string app = home_.path() + "/Gainmesh.app";
  home_.write("Gainmesh.app/Contents/MacOS/Gainmesh", "old");
  gm::set_app_path(app);

  // The sample app (its executable writes its arguments to "started" beside Gainmesh.app) with a
  // payload that does not compress.
  const std::string build = home_.path() + "/build";
  gmtest::make_dirs(build);
  ASSERT_TRUE(gm::unpack_zip(
      gmtest::read_file(GM_SOURCE_DIR "/tests/fuzz/seeds/fuzz_unpack_zip/app.zip"), build));
  std::string payload(60u << 20, '\0');
  std::independent_bits_engine<std::mt19937, 8, unsigned> random(7);
  std::generate(payload.begin(), payload.end(), std::ref(random));
  home_.write("build/Gainmesh.app/Contents/Resources/payload", payload);
  home_.write("Library/Application Support/Gainmesh/updates/staged/ready", "3.3.0");
  const std::string stage = gm::stage_dir();
  ASSERT_TRUE(gm::zip_folder(build + "/Gainmesh.app", stage + "/Gainmesh.app.zip"));
  gmtest::sign_file(stage + "/Gainmesh.app.zip", stage + "/Gainmesh.app.zip.sig");

  App gui({QStringLiteral("Gainmesh"), QStringLiteral("--login")});
  QElapsedTimer clock, since;
  qint64 longest = 0, turnsWhileWorking = 0;
  QTimer watchdog;
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    longest = std::max(longest, since.restart());
    if (gui.store().working()) ++turnsWhileWorking;
  });
  const std::string started = home_.path() + "/started";
  clock.start();
  since.start();
  watchdog.start(5);
  while (!(gmtest::file_exists(started) && !gui.store().working()) && clock.elapsed() < 90000)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  watchdog.stop();
  EXPECT_EQ(gmtest::read_file(started), "--updated=" + std::to_string(getpid()) + "\n");
  EXPECT_EQ(gmtest::read_file(app + "/Contents/Resources/payload").size(), payload.size());
  EXPECT_GT(turnsWhileWorking, 5) << "the apply held the event loop";
  EXPECT_LT(longest, 1000) << "the longest stall of the event loop, in ms";
}

}  // namespace
