// The app delegate in a temporary home: the first launch and later ones, "--login", the rescans
// that follow the Setup window, the menu and icon drawn from the page, the window's frame and
// level in the user defaults; and the built executable started as a user starts it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QAction>
#include <QMenu>
#include <QSettings>
#include <array>
#include <cstdio>
#include <string>

#include "api.h"
#include "app.h"
#include "page_model.h"
#include "qt_app.h"
#include "support/temp_home.h"

namespace {

using gmui::App;
using gmui::Modal;

constexpr const char* kExe = GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh";

class AppTest : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    gmtest::qt_app();
    ASSERT_TRUE(gm_fake("setup-rig"));  // a page at once, and scans that return at once
  }
  // Later launches: the permissions dialog was shown before.
  void launched_before() {
    QSettings(gmui::defaults_path(), QSettings::IniFormat).setValue("permissionsShown", true);
  }
  QSettings defaults() const { return {gmui::defaults_path(), QSettings::IniFormat}; }
  std::string log() const { return gmtest::read_file(home_.logs_dir() + "/gainmesh-app.log"); }
  static QStringList texts(QMenu& menu) {
    Q_EMIT menu.aboutToShow();
    QStringList out;
    for (QAction* a : menu.actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
  }
  static QAction* action(QMenu& menu, const QString& prefix) {
    for (QAction* a : menu.actions()) {
      if (a->text().startsWith(prefix)) return a;
    }
    return nullptr;
  }
};

TEST_F(AppTest, TheFirstLaunchShowsThePermissionsOnceAndLaterLaunchesDoNot) {
  {
    App first({QStringLiteral("Gainmesh")});
    ASSERT_TRUE(first.window());
    EXPECT_TRUE(first.window()->isVisible());
    EXPECT_EQ(first.store().modal(), (Modal{Modal::permissions, 0}));
    EXPECT_TRUE(defaults().value("permissionsShown").toBool());
    // Without a system tray (the offscreen desktop) the app still runs, and says so.
    EXPECT_EQ(first.trayItem(), nullptr);
  }
  App later({QStringLiteral("Gainmesh")});
  ASSERT_TRUE(later.window());
  EXPECT_TRUE(later.window()->isVisible());
  EXPECT_FALSE(later.store().modal());
  const std::string text = log();
  EXPECT_NE(text.find("the menu-bar item is missing"), std::string::npos) << text;
  EXPECT_NE(text.find("app: launched with no menu-bar item, Setup window open"), std::string::npos);
}

TEST_F(AppTest, LoginStartsWithTheMenuOnlyAndRescansFollowTheWindow) {
  launched_before();
  App app({QStringLiteral("Gainmesh"), QStringLiteral("--login")});
  EXPECT_EQ(app.window(), nullptr);
  EXPECT_EQ(app.backgroundScans(), 1);  // one scan at login
  EXPECT_NE(log().find("app: launched with no menu-bar item, Setup window closed"),
            std::string::npos);

  for (int i = 0; i < 45; ++i) app.tick();
  EXPECT_EQ(app.backgroundScans(), 1);

  app.openSetup();
  EXPECT_EQ(app.backgroundScans(), 2);  // opening it looks again
  for (int i = 0; i < 14; ++i) app.tick();
  EXPECT_EQ(app.backgroundScans(), 2);
  app.tick();
  EXPECT_EQ(app.backgroundScans(), 3);

  // Not while a queued call is working.
  app.store().run([] {});
  for (int i = 0; i < 15; ++i) app.tick();
  EXPECT_EQ(app.backgroundScans(), 3);
  ASSERT_TRUE(gmtest::settle(app.store()));

  app.store().showModal({Modal::address, 1});
  app.window()->close();
  EXPECT_FALSE(app.window()->isVisible());
  EXPECT_FALSE(app.store().modal());
  for (int i = 0; i < 45; ++i) app.tick();
  EXPECT_EQ(app.backgroundScans(), 3);
}

TEST_F(AppTest, TheMenuAndIconFollowThePage) {
  launched_before();
  App app({QStringLiteral("Gainmesh"), QStringLiteral("--login")});
  const QString state = app.store().page()->menu.state;
  EXPECT_EQ(app.toolTip(), QStringLiteral("Gainmesh \u00B7 ") + state);
  EXPECT_FALSE(app.icon().isNull());

  const QStringList all_allowed = texts(app.menu());
  ASSERT_EQ(all_allowed.size(), 9);
  EXPECT_EQ(all_allowed.mid(1), (QStringList{"-", "Open Setup\u2026", "macOS Permissions\u2026",
                                             "Save Support File\u2026", "Always on Top", "-",
                                             app.store().page()->version, "Quit Gainmesh"}));
  EXPECT_TRUE(action(app.menu(), "macOS Permissions")->icon().isNull());
  EXPECT_FALSE(action(app.menu(), "Gainmesh 3")->isEnabled());

  ASSERT_TRUE(gm_fake("setup-netask"));  // one permission still to allow
  texts(app.menu());
  QAction* perms = action(app.menu(), "macOS Permissions");
  EXPECT_EQ(perms->text(), QStringLiteral("macOS Permissions\u2026  "));
  EXPECT_FALSE(perms->icon().isNull());
  perms->trigger();
  ASSERT_TRUE(app.window());
  EXPECT_TRUE(app.window()->isVisible());
  EXPECT_EQ(app.store().modal(), (Modal{Modal::permissions, 0}));

  QAction* top = action(app.menu(), "Always on Top");
  EXPECT_FALSE(top->isChecked());
  top->trigger();
  EXPECT_TRUE(app.onTop());
  EXPECT_TRUE(defaults().value("alwaysOnTop").toBool());
  EXPECT_TRUE(app.window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(app.window()->isVisible());
  texts(app.menu());
  EXPECT_TRUE(action(app.menu(), "Always on Top")->isChecked());
}

TEST_F(AppTest, TheWindowOpensAtItsSizeAndKeepsItsFrame) {
  launched_before();
  QRect moved;
  {
    App app({QStringLiteral("Gainmesh")});
    QWidget* w = app.window();
    ASSERT_TRUE(w);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Gainmesh Setup"));
    EXPECT_EQ(w->size(), QSize(628, 720));
    EXPECT_EQ(w->minimumSize(), QSize(540, 360));
    w->setGeometry(40, 60, 700, 500);
    moved = w->geometry();
    w->close();
  }
  App again({QStringLiteral("Gainmesh")});
  ASSERT_TRUE(again.window());
  EXPECT_EQ(again.window()->geometry(), moved);
}

// The built executable, run in this home; its standard output, and its exit code.
std::pair<int, std::string> run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return {-1, out};
  std::array<char, 4096> buf;
  for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) out.append(buf.data(), n);
  const int status = pclose(p);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(Executable, StatusPrintsThePageWithoutADisplay) {
  gmtest::TempHome home;
  const auto [code, out] = run("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                               std::string(kExe) + "' --status 2>/dev/null");
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(gmui::decode_page(QByteArray::fromStdString(out).trimmed())) << out;
  EXPECT_FALSE(gmtest::file_exists(gmui::defaults_path().toStdString()));
}

TEST(Executable, LoginStartsTheAppWithoutTheSetupWindow) {
  gmtest::TempHome home;
  QSettings(gmui::defaults_path(), QSettings::IniFormat).setValue("permissionsShown", true);
  const auto [code, out] = run("QT_QPA_PLATFORM=offscreen GAINMESH_TEST_QUIT_AFTER_TICKS=2 '" +
                               std::string(kExe) + "' --login 2>/dev/null");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(out, "");
  const std::string log = gmtest::read_file(home.logs_dir() + "/gainmesh-app.log");
  EXPECT_NE(log.find("---- Gainmesh 3.2.0 "), std::string::npos) << log;
  EXPECT_NE(log.find("app: launched with no menu-bar item, Setup window closed"), std::string::npos)
      << log;
}

}  // namespace
