// The Setup page drawn over a Store and the real core: every demo scenario renders and shows the
// words of its page document, nothing is cut off at the narrowest and widest page, gestures on the
// widgets reach the Store (and through it the core), and a refresh that changes nothing keeps
// every widget in place. Also the built executable's --render and --make-iconset.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "api.h"
#include "qt_app.h"
#include "setup_view.h"
#include "store.h"
#include "support/installed_bundle.h"
#include "support/temp_home.h"
#include "theme.h"

namespace {

using gmui::Modal;
using gmui::SetupView;
using gmui::Store;

constexpr const char* kExe = GM_BUILD_DIR "/Gainmesh.app/Contents/MacOS/Gainmesh";

QStringList scenarios() {
  QStringList names;
  for (const QString& f : QDir(GM_GOLDEN_DIR).entryList({"*.json"}, QDir::Files, QDir::Name))
    names << f.chopped(5);
  return names;
}

// Every text a user can read on the view now: labels and button titles of shown widgets.
QStringList shownTexts(QWidget& root) {
  QStringList out;
  for (QLabel* l : root.findChildren<QLabel*>())
    if (l->isVisibleTo(&root)) out << l->text();
  for (QAbstractButton* b : root.findChildren<QAbstractButton*>())
    if (b->isVisibleTo(&root)) out << b->text();
  return out;
}

template <class W = QWidget>
W* shown(QWidget& root, const QString& name) {
  for (W* w : root.findChildren<W*>(name))
    if (w->isVisibleTo(&root)) return w;
  return nullptr;
}

// The words of the page document that must be on screen.
QStringList expectedTexts(const Store& store) {
  const gmui::Page& p = *store.page();
  QStringList want = {p.header.pill, p.header.sub, p.version, p.perm.summary};
  for (const gmui::Step& s : p.steps) want << s.title;
  if (p.netGate) want << p.netGate->head << p.netGate->body;
  if (p.notice) want << p.notice->head;
  if (p.nothing) want << "No console answered";
  for (const gmui::NothingAddr& a : p.nothingAddr) want << a.btn;
  if (!p.message.isEmpty()) want << p.message;
  for (const gmui::Card& c : p.cards) {
    want << c.name << c.meta;
    if (!c.status.isEmpty()) want << c.status;
    if (!c.msg.isEmpty()) want << c.msg;
    for (const gmui::Cand& cand : c.cands) want << cand.head << cand.sub;
    if (store.open(c.c)) {
      want << "Hide details ▴" << c.summary << c.recallDesc << c.dropTitle;
      for (const gmui::Detail& d : c.details) want << d.k << d.v;
    } else {
      want << "Details ▾";
    }
  }
  if (const std::optional<Modal>& m = store.modal()) {
    switch (m->kind) {
      case Modal::off:
        for (const gmui::Card& c : p.cards)
          if (c.c == m->index) want << c.confirmOff.title << c.confirmOff.body << c.confirmOff.ok;
        break;
      case Modal::remove:
        want << p.confirmRemove.title << p.confirmRemove.ok
             << (p.lv1Up ? "◌  Waiting for eMotion LV1 to close…" : "✓  eMotion LV1 is closed.");
        break;
      case Modal::address:
        want << "Find it automatically";
        break;
      case Modal::permissions:
        want << "macOS permissions";
        for (const gmui::PermRow& r : p.perm.rows) want << r.title << r.state;
        break;
    }
  }
  return want;
}

// Nothing is cut off and every word of the page document is shown. A wrapped label shorter than
// its text needs, a line narrower than its text, or a page that needs scrolling at its own fitting
// height, means something is cut off.
void expectWholePage(SetupView& view, const Store& store, const QString& where) {
  for (QLabel* l : view.findChildren<QLabel*>()) {
    if (!l->isVisibleTo(&view)) continue;
    if (l->wordWrap())
      EXPECT_GE(l->height(), l->heightForWidth(l->width()))
          << where.toStdString() << ": " << l->text().toStdString();
    else
      EXPECT_GE(l->width(), l->sizeHint().width())
          << where.toStdString() << ": " << l->text().toStdString();
  }
  for (QScrollBar* bar : view.findChildren<QScrollBar*>())
    EXPECT_FALSE(bar->isVisibleTo(&view)) << where.toStdString() << " scrolls";
  const QStringList texts = shownTexts(view);
  for (const QString& want : expectedTexts(store))
    EXPECT_TRUE(texts.contains(want)) << where.toStdString() << " lacks " << want.toStdString();
}

class SetupViewTest : public gmtest::TempHomeTest {
 protected:
  void SetUp() override { gmtest::qt_app(); }
  void TearDown() override {
    view_.reset();
    store_.reset();
    gm_fake("none");
  }
  QString png(const QString& name) const {
    return QString::fromStdString(home_.path()) + "/" + name + ".png";
  }
  // A demo scenario ("none": this machine) refreshed once, and the page drawn over it; false for
  // an unknown scenario. The view and Store of an earlier call go first.
  bool demo(const char* scenario) {
    view_.reset();
    store_.reset();
    const bool known = gm_fake(scenario);
    store_ = std::make_unique<Store>();
    store_->refresh();
    view_ = std::make_unique<SetupView>(*store_);
    return known;
  }
  Store& store() { return *store_; }
  SetupView& view() { return *view_; }

  std::unique_ptr<Store> store_;
  std::unique_ptr<SetupView> view_;
};

TEST_F(SetupViewTest, EveryScenarioRendersItsPageAtTheNarrowestAndWidestWidth) {
  const QStringList names = scenarios();
  ASSERT_GE(names.size(), 40);
  for (const QString& name : names) {
    ASSERT_TRUE(demo(name.toUtf8().constData())) << name.toStdString();
    ASSERT_TRUE(store().page()) << name.toStdString();
    for (const auto& [width, scale] : {std::pair{gmui::kMinWidth, 1.5}, {gmui::kMaxContent, 1.0}}) {
      const QString where = QString("%1 at %2").arg(name).arg(width);
      ASSERT_TRUE(gmui::renderPNG(view(), width, png(name), scale)) << where.toStdString();
      const QImage img(png(name));
      EXPECT_EQ(img.width(), qRound(width * scale)) << where.toStdString();
      EXPECT_GT(img.height(), 300 * scale) << where.toStdString();
      expectWholePage(view(), store(), where);
    }

    // Every card's details, at the narrowest page.
    const int closedHeight = view().heightForWidth(gmui::kMinWidth);
    bool anyClosed = false;
    for (const gmui::Card& c : store().page()->cards) anyClosed = anyClosed || !store().open(c.c);
    store().setOpen(0, true);
    store().setOpen(1, true);
    ASSERT_TRUE(gmui::renderPNG(view(), gmui::kMinWidth, png(name), 1.0));
    expectWholePage(view(), store(), name + " with details");
    if (anyClosed) {
      EXPECT_GT(view().height(), closedHeight) << name.toStdString();
    }
  }
}

TEST_F(SetupViewTest, ASharedConsoleCannotBeSwitchedTheOtherCan) {
  ASSERT_TRUE(demo("setup-shared"));
  auto* shared = shown<QAbstractButton>(view(), "card-0-switch");
  auto* other = shown<QAbstractButton>(view(), "card-1-switch");
  ASSERT_TRUE(shared && other);
  EXPECT_FALSE(shared->isEnabled());
  QTest::mouseClick(shared, Qt::LeftButton);
  EXPECT_FALSE(store().working());
  EXPECT_FALSE(store().modal());

  ASSERT_TRUE(other->isEnabled());
  const bool wasOn = static_cast<gmui::GMSwitch*>(other)->isOn();
  QTest::mouseClick(other, Qt::LeftButton);
  EXPECT_TRUE(store().working());
  EXPECT_EQ(static_cast<gmui::GMSwitch*>(other)->isOn(), wasOn) << "it waits for the core";
  // While the call works no switch takes another click.
  EXPECT_FALSE(shown<QAbstractButton>(view(), "card-1-switch")->isEnabled());
  ASSERT_TRUE(gmtest::settle(store()));
  EXPECT_TRUE(shown<QAbstractButton>(view(), "card-1-switch")->isEnabled());
}

TEST_F(SetupViewTest, DetailsAndTheAddressDialogOpenFromTheirButtons) {
  ASSERT_TRUE(demo("setup-lost"));
  EXPECT_FALSE(shown(view(), "card-0-details"));
  QTest::mouseClick(shown<QAbstractButton>(view(), "card-0-details-toggle"), Qt::LeftButton);
  EXPECT_TRUE(store().open(0));
  ASSERT_TRUE(shown(view(), "card-0-details"));

  auto* address = shown<QAbstractButton>(view(), "card-0-address");
  ASSERT_TRUE(address);
  QTest::mouseClick(address, Qt::LeftButton);
  ASSERT_EQ(store().modal(), (Modal{Modal::address, 0}));
  ASSERT_TRUE(shown(view(), "dialog-address"));
  auto* field = shown<QLineEdit>(view(), "address-field");
  ASSERT_TRUE(field);

  // A refresh that changes nothing keeps what the user is typing.
  QTest::keyClicks(field, "10.0.0.");
  store().refresh();
  EXPECT_EQ(shown<QLineEdit>(view(), "address-field")->text().toStdString(), "10.0.0.");

  QTest::keyClick(shown<QLineEdit>(view(), "address-field"), Qt::Key_Escape);
  EXPECT_FALSE(store().modal());
  EXPECT_FALSE(shown(view(), "dialog-address"));
}

TEST_F(SetupViewTest, TheAddressDialogAndCardSettingsReachTheCore) {
  gmtest::InstalledBundle::Options o;
  o.wing_ip = "127.0.97.1";  // nothing answers there
  gmtest::InstalledBundle bundle(home_, o);
  const std::string wingCfg = home_.io_modules_dir() + "/Gainmesh.bundle/Contents/MacOS/wing.cfg";
  demo("none");
  ASSERT_TRUE(store().page());
  ASSERT_FALSE(store().page()->cards.isEmpty());

  store().showModal({Modal::address, 0});
  auto* field = shown<QLineEdit>(view(), "address-field");
  ASSERT_TRUE(field);
  EXPECT_EQ(field->text().toStdString(), "127.0.97.1");  // the address set before
  field->selectAll();
  QTest::keyClicks(field, "300.1.2.3");
  QTest::mouseClick(shown<QAbstractButton>(view(), "dialog-ok"), Qt::LeftButton);
  // Refused: the dialog stays with the core's reason and what was typed.
  ASSERT_EQ(store().modal(), (Modal{Modal::address, 0}));
  auto* error = shown<QLabel>(view(), "address-error");
  ASSERT_TRUE(error);
  EXPECT_FALSE(error->text().isEmpty());
  EXPECT_EQ(shown<QLineEdit>(view(), "address-field")->text().toStdString(), "300.1.2.3");

  field = shown<QLineEdit>(view(), "address-field");
  field->clear();
  QTest::keyClicks(field, "127.0.0.5");
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_FALSE(store().modal());
  EXPECT_NE(gmtest::read_file(wingCfg).find("ip=127.0.0.5"), std::string::npos);
  auto* message = shown<QLabel>(view(), "footer-message");
  ASSERT_TRUE(message);
  EXPECT_TRUE(message->text().contains("127.0.0.5"));

  // The settings in the card's details, and forgetting the typed address.
  QTest::mouseClick(shown<QAbstractButton>(view(), "card-0-details-toggle"), Qt::LeftButton);
  auto* resync = shown<gmui::GMSegmented>(view(), "card-0-resync");
  ASSERT_TRUE(resync);
  QTest::mouseClick(resync, Qt::LeftButton, {}, QPoint(resync->width() * 3 / 4, 5));
  EXPECT_NE(gmtest::read_file(wingCfg).find("resync=lv1\n"), std::string::npos);
  EXPECT_EQ(shown<gmui::GMSegmented>(view(), "card-0-resync")->selected(), 1);
  const bool recallWasOn = store().page()->cards[0].recall;
  QTest::mouseClick(shown<QAbstractButton>(view(), "card-0-recall"), Qt::LeftButton);
  EXPECT_NE(
      gmtest::read_file(wingCfg).find(recallWasOn ? "session_recall=off\n" : "session_recall=on\n"),
      std::string::npos);
  QTest::mouseClick(shown<QAbstractButton>(view(), "card-0-address"), Qt::LeftButton);
  auto* automatic = shown<QAbstractButton>(view(), "address-auto");
  ASSERT_TRUE(automatic && automatic->isEnabled());
  QTest::mouseClick(automatic, Qt::LeftButton);
  EXPECT_FALSE(store().modal());
  EXPECT_EQ(gmtest::read_file(wingCfg).find("ip=127"), std::string::npos);
  EXPECT_TRUE(shown<QLabel>(view(), "footer-message")->text().endsWith("by itself again."));
}

TEST_F(SetupViewTest, ConfirmationsCloseOrConfirmAndRemovalWaitsForLv1) {
  ASSERT_TRUE(demo("setup-cfm-off"));
  ASSERT_TRUE(shown(view(), "dialog-off"));
  QTest::mouseClick(shown<QAbstractButton>(view(), "dialog-cancel"), Qt::LeftButton);
  EXPECT_FALSE(store().modal());
  EXPECT_FALSE(shown(view(), "dialog-off"));
  store().showModal({Modal::off, 0});
  QTest::mouseClick(shown<QAbstractButton>(view(), "dialog-ok"), Qt::LeftButton);
  EXPECT_FALSE(store().modal());
  EXPECT_TRUE(store().working());  // the switch-off is queued
  ASSERT_TRUE(gmtest::settle(store()));

  // While LV1 runs, removing cannot be confirmed.
  ASSERT_TRUE(demo("setup-cfm-remove-lv1"));
  ASSERT_TRUE(shown(view(), "dialog-remove"));
  EXPECT_FALSE(shown<QAbstractButton>(view(), "dialog-ok")->isEnabled());

  ASSERT_TRUE(demo("setup-cfm-remove"));
  EXPECT_TRUE(shown<QAbstractButton>(view(), "dialog-ok")->isEnabled());
  // A click beside the dialog does not reach the page under it.
  QTest::mouseClick(shown(view(), "modal-host"), Qt::LeftButton, {}, QPoint(2, 2));
  EXPECT_TRUE(store().modal());
}

TEST_F(SetupViewTest, PermissionRowsCallTheirActionAndGatesOpenTheSheet) {
  ASSERT_TRUE(demo("setup-netask"));
  EXPECT_FALSE(store().modal());
  QTest::mouseClick(shown<QAbstractButton>(view(), "net-gate-permissions"), Qt::LeftButton);
  ASSERT_EQ(store().modal(), (Modal{Modal::permissions, 0}));
  auto* allow = shown<QAbstractButton>(view(), "perm-row-0-button");
  ASSERT_TRUE(allow);
  QTest::mouseClick(allow, Qt::LeftButton);
  EXPECT_TRUE(store().working());  // the request for local-network access is queued
  ASSERT_TRUE(gmtest::settle(store()));
  QTest::mouseClick(shown<QAbstractButton>(view(), "dialog-done"), Qt::LeftButton);
  EXPECT_FALSE(store().modal());

  // A notice's button follows its "enabled": reinstalling waits for LV1 to close.
  ASSERT_TRUE(demo("setup-blocked"));
  auto* reinstall = shown<QAbstractButton>(view(), "notice-button");
  ASSERT_TRUE(reinstall);
  EXPECT_FALSE(reinstall->isEnabled());
  // An action the app cannot carry out has no button, and its note says what to do instead.
  ASSERT_TRUE(demo("setup-migrate"));
  EXPECT_FALSE(shown(view(), "notice-button"));
  ASSERT_TRUE(shown<QLabel>(view(), "notice-note"));
  EXPECT_TRUE(shown<QLabel>(view(), "notice-note")->text().contains("Remove Gainmesh from this"));
}

// Each button of the page against what it must start: a queued core call (`working` until it has
// returned) or a dialog. In demo mode none of the calls changes anything real.
TEST_F(SetupViewTest, EveryButtonStartsItsCallOrDialog) {
  struct Case {
    const char* scenario;
    const char* button;
    std::optional<Modal> modal;  // none: a queued call
  };
  const Case cases[] = {
      {"setup-first", "step-install", std::nullopt},
      {"setup-lost", "card-0-retry", std::nullopt},
      {"setup-nothing", "nothing-rescan", std::nullopt},
      {"setup-rig", "footer-rescan", std::nullopt},
      {"setup-rig", "footer-remove", Modal{Modal::remove, 0}},
      {"setup-rig", "perm-review", Modal{Modal::permissions, 0}},
      {"setup-nothing-addr", "nothing-addr-1", Modal{Modal::address, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.scenario) + " " + c.button);
    ASSERT_TRUE(demo(c.scenario));
    auto* b = shown<QAbstractButton>(view(), c.button);
    ASSERT_TRUE(b);
    ASSERT_TRUE(b->isEnabled());
    QTest::mouseClick(b, Qt::LeftButton);
    if (!c.modal) {
      EXPECT_TRUE(store().working());
      EXPECT_TRUE(gmtest::settle(store()));
      continue;
    }
    EXPECT_FALSE(store().working());
    EXPECT_EQ(store().modal(), c.modal);
    // The dialog shows the console it was opened for, even one only offered as "not found".
    if (c.modal->kind == Modal::address) {
      const gmui::Page& p = *store().page();
      QString title;
      for (const gmui::Card& card : p.cards)
        if (card.c == c.modal->index) title = card.addr.title;
      for (const gmui::NothingAddr& a : p.nothingAddr)
        if (a.c == c.modal->index) title = a.addr.title;
      EXPECT_TRUE(shownTexts(view()).contains(title)) << title.toStdString();
    }
  }
}

// A lost console's "No answer for ..." changes every second: its card keeps its widgets, so a
// press that straddles a tick still ends in a click.
TEST_F(SetupViewTest, ACardWhoseTextsChangeEverySecondKeepsItsWidgets) {
  ASSERT_TRUE(gm_fake("setup-lost"));
  const QByteArray lost(gm_snapshot());
  int seconds = 0;
  store_ = std::make_unique<Store>([&] {
    return QByteArray(lost).replace("No answer for 2 min.",
                                    QString("No answer for 2 min %1 s.").arg(seconds++).toUtf8());
  });
  store_->refresh();
  view_ = std::make_unique<SetupView>(*store_);
  const auto tick = [&] {
    store().refresh();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  };
  QPointer<QAbstractButton> retry = shown<QAbstractButton>(view(), "card-0-retry");
  QPointer<QAbstractButton> onOff = shown<QAbstractButton>(view(), "card-0-switch");
  ASSERT_TRUE(retry && onOff);
  for (int i = 0; i < 10; ++i) tick();
  EXPECT_EQ(shown<QLabel>(view(), "card-0-msg")->text().left(26), "No answer for 2 min 10 s. ");
  EXPECT_EQ(shown<QAbstractButton>(view(), "card-0-retry"), retry.data());
  EXPECT_EQ(shown<QAbstractButton>(view(), "card-0-switch"), onOff.data());

  for (QAbstractButton* b : {retry.data(), onOff.data()}) {
    QPointer<QAbstractButton> held = b;
    QTest::mousePress(held, Qt::LeftButton);
    tick();
    ASSERT_TRUE(held);
    QTest::mouseRelease(held, Qt::LeftButton);
    EXPECT_TRUE(store().working()) << "the press and release made no click";
    ASSERT_TRUE(gmtest::settle(store()));
  }

  // Nor does the dialog that asks before switching it off change with the card's texts.
  store().showModal({Modal::off, 0});
  QPointer<QAbstractButton> ok = shown<QAbstractButton>(view(), "dialog-ok");
  tick();
  EXPECT_TRUE(ok && shown<QAbstractButton>(view(), "dialog-ok") == ok);
}

// The built executable, as the gallery script runs it.
TEST_F(SetupViewTest, TheExecutableRendersScenariosAndTheIconSet) {
  QProcess run;
  const auto exitCode = [&](const QStringList& args) {
    run.start(kExe, args);
    return run.waitForFinished(60000) ? run.exitCode() : -1;
  };
  const QString out = png("rig"), home = QString::fromStdString(home_.path());
  EXPECT_EQ(exitCode({"--render", "setup-rig", out, "--details", "--width", "700", "--scale", "2"}),
            0)
      << run.readAllStandardError().toStdString();
  const QImage img(out);
  EXPECT_EQ(img.width(), 1400);
  EXPECT_GT(img.height(), 1400);

  EXPECT_EQ(exitCode({"--render", "setup-nope", out}), 2);

  const QString icons = home + "/Gainmesh.iconset";
  EXPECT_EQ(exitCode({"--make-iconset", icons}), 0) << run.readAllStandardError().toStdString();
  for (int size : {16, 32, 128, 256, 512}) {
    const QString base = QString("%1/icon_%2x%2").arg(icons).arg(size);
    EXPECT_EQ(QImage(base + ".png").size(), QSize(size, size)) << size;
    EXPECT_EQ(QImage(base + "@2x.png").size(), QSize(2 * size, 2 * size)) << size;
  }
}

}  // namespace
