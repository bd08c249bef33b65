// The Store against the real core in a temporary home: what each gesture changes on disk and on
// the page, the queued calls with `working`, the demo keys of the scenarios, and what it asks the
// desktop to open.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QSignalSpy>
#include <QUrl>
#include <filesystem>

#include "api.h"
#include "lv1.h"
#include "qt_app.h"
#include "store.h"
#include "support/eventually.h"
#include "support/installed_bundle.h"
#include "support/lv1host_process.h"
#include "support/temp_home.h"

namespace {

using gmui::Modal;
using gmui::Store;

// Takes the URLs the store hands to the desktop, instead of a browser or file viewer.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  explicit UrlCatcher(const QStringList& schemes) : schemes_(schemes) {
    for (const QString& s : schemes_) QDesktopServices::setUrlHandler(s, this, "take");
  }
  ~UrlCatcher() override {
    for (const QString& s : schemes_) QDesktopServices::unsetUrlHandler(s);
  }
  QList<QUrl> urls;
 public Q_SLOTS:
  void take(const QUrl& url) { urls << url; }

 private:
  QStringList schemes_;
};

class StoreTest : public gmtest::TempHomeTest {
 protected:
  void SetUp() override {
    gmtest::qt_app();
    gm_fake("none");  // the machine, not a scenario
    gm_clear_message();
  }
  std::string cfg(const char* name) const {
    return home_.io_modules_dir() + "/Gainmesh.bundle/Contents/MacOS/" + name;
  }
  QString message(const Store& s) const { return s.page() ? s.page()->message : QString(); }
};

TEST_F(StoreTest, DemoScenariosOpenTheirCardsAndDialogOnceOnly) {
  Store store;
  QSignalSpy changed(&store, &Store::changed);
  ASSERT_TRUE(gm_fake("setup-rig"));
  store.refresh();
  ASSERT_TRUE(store.page());
  EXPECT_EQ(changed.count(), 1);
  EXPECT_TRUE(store.open(0));
  EXPECT_FALSE(store.open(1));
  EXPECT_FALSE(store.modal());
  store.refresh();  // the same document: nothing to redraw
  EXPECT_EQ(changed.count(), 1);

  struct Case {
    const char* scenario;
    Modal modal;
  } cases[] = {
      {"setup-nothing-addr-open", {Modal::address, 1}},
      {"setup-cfm-off", {Modal::off, 0}},
      {"setup-cfm-remove", {Modal::remove, 0}},
      {"setup-perms", {Modal::permissions, 0}},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(gm_fake(c.scenario));
    store.refresh();
    ASSERT_TRUE(store.modal()) << c.scenario;
    EXPECT_EQ(*store.modal(), c.modal) << c.scenario;
  }
  // A dialog the user closed stays closed while the scenario runs.
  store.cancel();
  store.refresh();
  EXPECT_FALSE(store.modal());
  store.showModal({Modal::remove, 0});
  ASSERT_TRUE(gm_fake("setup-rig"));
  store.refresh();
  EXPECT_FALSE(store.modal());
}

TEST_F(StoreTest, AddressRecallAndResyncGoStraightIntoTheSettingsFile) {
  home_.write("IO Modules/Gainmesh.bundle/Contents/MacOS/wing.cfg", "session_recall=off\n");
  Store store;
  store.refresh();
  store.showModal({Modal::address, 0});

  const auto refused = store.setIp(QStringLiteral("192.168.1"), 0);
  ASSERT_TRUE(refused);
  EXPECT_EQ(
      *refused,
      QStringLiteral("That isn't an IP address. Type four numbers with dots, like 192.168.1.20."));
  EXPECT_EQ(store.modal(), (Modal{Modal::address, 0}));
  EXPECT_EQ(gmtest::read_file(cfg("wing.cfg")).find("ip="), std::string::npos);

  EXPECT_FALSE(store.setIp(QStringLiteral(" 10.0.0.7 "), 0));
  EXPECT_FALSE(store.modal());
  EXPECT_NE(gmtest::read_file(cfg("wing.cfg")).find("ip=10.0.0.7\n"), std::string::npos);
  EXPECT_EQ(message(store), QStringLiteral("Saved. Gainmesh asks 10.0.0.7 within a few seconds."));

  store.clearIp(0);
  EXPECT_EQ(gmtest::read_file(cfg("wing.cfg")).find("ip=10"), std::string::npos);
  EXPECT_TRUE(message(store).endsWith(QStringLiteral("by itself again.")));

  store.setRecall(0, true);
  store.setResync(0, true);
  const std::string text = gmtest::read_file(cfg("wing.cfg"));
  EXPECT_NE(text.find("session_recall=on\n"), std::string::npos) << text;
  EXPECT_NE(text.find("resync=lv1\n"), std::string::npos) << text;

  store.pick(0, QStringLiteral("S2207-0001842"));
  EXPECT_EQ(
      message(store),
      QStringLiteral("That console is not on the network any more \u2014 nothing was changed."));
}

TEST_F(StoreTest, QueuedCallsRunInOrderWhileWorkingAndRefreshAfter) {
  gmtest::InstalledBundle::Options o;
  o.wing_ip = "127.0.97.1";
  gmtest::InstalledBundle bundle(home_, o);
  Store store;
  QVector<bool> seen;
  QObject::connect(&store, &Store::changed, [&] { seen << store.working(); });

  store.scan();
  store.toggle(0);  // LV1 is closed: the WING goes off at once, without asking
  EXPECT_TRUE(store.working());
  ASSERT_TRUE(gmtest::settle(store));
  EXPECT_EQ(seen.first(), true);
  EXPECT_EQ(seen.last(), false);
  ASSERT_TRUE(store.page());
  EXPECT_FALSE(store.modal());
  EXPECT_NE(gmtest::read_file(cfg("state.cfg")).find("wing=off"), std::string::npos);

  store.showModal({Modal::remove, 0});
  store.confirm();
  EXPECT_FALSE(store.modal());
  EXPECT_TRUE(store.working());
  ASSERT_TRUE(gmtest::settle(store));
  EXPECT_FALSE(std::filesystem::exists(bundle.bundle()));
  EXPECT_FALSE(store.page()->anyInstalled);
  EXPECT_FALSE(message(store).isEmpty());
}

TEST_F(StoreTest, SwitchingOffWhileLv1RunsAsksFirst) {
  if (!gmtest::wait_for([] { return !gm::lv1_running(); }, 60000)) {
    GTEST_SKIP() << "another eMotion LV1 kept running on this machine";
  }
  const std::string app = home_.path() + gm::kLv1AppPath;
  std::filesystem::create_directories(app);
  std::filesystem::copy(GM_BUILD_DIR "/sim/eMotion LV1.app", app,
                        std::filesystem::copy_options::recursive);
  gmtest::InstalledBundle::Options o;
  o.wing_ip = "127.0.97.1";  // nothing answers there
  gmtest::InstalledBundle bundle(home_, o);
  gm::lv1_forget_bundle();
  gmtest::Lv1HostProcess::Options lv1_options;
  lv1_options.executable = app + "/Contents/MacOS/eMotion LV1";
  lv1_options.leak_check = false;  // the loader unloads modules with dlclose
  gmtest::Lv1HostProcess lv1(home_, lv1_options);

  Store store;
  store.toggle(0);
  ASSERT_TRUE(gmtest::settle(store));
  EXPECT_EQ(store.modal(), (Modal{Modal::off, 0}));
  EXPECT_NE(gmtest::read_file(cfg("state.cfg")).find("wing=on"), std::string::npos);

  store.confirm();
  ASSERT_TRUE(gmtest::settle(store));
  EXPECT_FALSE(store.modal());
  const std::string state = gmtest::read_file(cfg("state.cfg"));
  EXPECT_NE(state.find("wing=off"), std::string::npos) << state;
  EXPECT_NE(state.find("x32=on"), std::string::npos) << state;
  EXPECT_EQ(lv1.quit(), 0);
}

TEST_F(StoreTest, TheSupportFileIsRevealedAndSettingsOpenTheSystemPage) {
  UrlCatcher desktop({QStringLiteral("file"), QStringLiteral("x-apple.systempreferences")});
  Store store;
  QSignalSpy saved(&store, &Store::supportSaved);
  store.saveSupport();
  ASSERT_TRUE(gmtest::settle(store, 60000));
  ASSERT_EQ(saved.count(), 1);
  const QString path = saved.first().first().toString();
  EXPECT_TRUE(path.startsWith(QString::fromStdString(home_.path() + "/Desktop/Gainmesh-support-")));
  EXPECT_TRUE(gmtest::file_exists(path.toStdString()));
  ASSERT_EQ(desktop.urls.size(), 1);
  EXPECT_EQ(desktop.urls[0],
            QUrl::fromLocalFile(QString::fromStdString(home_.path() + "/Desktop")));

  store.permAction(QStringLiteral("settings"));
  store.permAction(QStringLiteral("update3"));
  ASSERT_EQ(desktop.urls.size(), 2);
  EXPECT_EQ(desktop.urls[1].toString(),
            QStringLiteral(
                "x-apple.systempreferences:com.apple.preference.security?Privacy_LocalNetwork"));
  EXPECT_FALSE(store.working());
}

}  // namespace

#include "test_store.moc"
