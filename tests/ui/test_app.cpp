// The app delegate in a temporary home: the first launch and later ones, "--login", the rescans
// that follow the Setup window, and the menu drawn from the page.
#include <gtest/gtest.h>

#include <QAction>
#include <QSettings>

#include "api.h"
#include "app.h"
#include "qt_app.h"
#include "support/temp_home.h"

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

TEST_F(AppTest, OnlyTheFirstLaunchShowsThePermissionsAndTheWindowKeepsItsFrame) {
  {
    App first({QStringLiteral("Gainmesh")});
    ASSERT_TRUE(first.window() && first.window()->isVisible());
    EXPECT_EQ(first.window()->size(), QSize(628, 720));
    EXPECT_EQ(first.store().modal(), (Modal{Modal::permissions, 0}));
    first.window()->setGeometry(40, 60, 700, 500);
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
}

}  // namespace
