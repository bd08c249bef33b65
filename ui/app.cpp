// The app delegate: launch, the one-second tick, the menu-bar item and its menu, and the Setup
// window with its saved frame and always-on-top level.
#include "app.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidgetAction>

#include "api.h"
#include "setup_view.h"
#include "theme.h"

namespace gmui {
namespace {

constexpr int kWindowHeight = 720;
constexpr int kMinHeight = 360;
// What only macOS does: draw the title bar transparent over the content (which then needs room
// below it), colour a template image in the menu bar itself, and show a status item's menu on a
// click.
#ifdef Q_OS_MACOS
constexpr int kTopPadding = 22;
constexpr bool kTemplateMark = true;
constexpr bool kMenuOnClick = true;
#else
constexpr int kTopPadding = 0;
constexpr bool kTemplateMark = false;
constexpr bool kMenuOnClick = false;
#endif
constexpr int kFrameSaveDelayMs = 500;  // after the last move or resize
constexpr int kIconPoints = 18;
constexpr int kScanEvery = 15;  // ticks between rescans while the window is visible

const char* const kOnTopKey = "alwaysOnTop";
const char* const kPermissionsShownKey = "permissionsShown";
const char* const kFrameKey = "NSWindow Frame Gainmesh";  // the window's autosave name "Gainmesh"

bool started_at_login(const QStringList& args) {
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (args[i] == QLatin1String("--login") || args[i].startsWith(QLatin1String("--updated="))) {
      return true;
    }
  }
  return false;
}

// A test may end the app after this many ticks, so that a started app can be checked and quit.
int quit_after_ticks() {
#ifdef GM_TEST_HOOKS
  return qEnvironmentVariableIntValue("GAINMESH_TEST_QUIT_AFTER_TICKS");
#else
  return 0;
#endif
}

QString tone_html(const QString& tone_word, const QString& text) {
  return QStringLiteral("<span style=\"color:%1\">%2</span>")
      .arg(tone(tone_word).name(), text.toHtmlEscaped());
}

}  // namespace

QImage tray_mark(int px, MarkState state, const QPalette& palette) {
  if (kTemplateMark) return Mark::image(px, state, Qt::black, /*templ=*/true);
  return Mark::image(px, state, palette.color(QPalette::Active, QPalette::WindowText), false);
}

QString defaults_path() {
  const QByteArray home = qgetenv("GAINMESH_HOME");
  const QString root = home.isEmpty() ? QDir::homePath() : QString::fromLocal8Bit(home);
  return root + QStringLiteral("/Library/Preferences/org.ambervale.gainmesh.conf");
}

App::App(const QStringList& args, QObject* parent)
    : QObject(parent), defaults_(defaults_path(), QSettings::IniFormat) {
  onTop_ = defaults_.value(kOnTopKey, false).toBool();
  quitAfterTicks_ = quit_after_ticks();
  background_.setMaxThreadCount(1);

  menu_.setToolTipsVisible(false);
  connect(&menu_, &QMenu::aboutToShow, this, &App::rebuildMenu);
  rebuildMenu();
  // Made and shown even without a tray: Qt adds the item when a tray appears later.
  const bool trayNow = QSystemTrayIcon::isSystemTrayAvailable();
  if (!trayNow) gm_log("app: no system tray yet - the menu-bar item appears when one does");
  tray_ = new QSystemTrayIcon(this);
  tray_->setContextMenu(&menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, &App::activated);
  store_.refresh();
  updateIcon();
  tray_->show();
  frameTimer_.setSingleShot(true);
  frameTimer_.setInterval(kFrameSaveDelayMs);
  connect(&frameTimer_, &QTimer::timeout, this, [this] {
    if (window_) saveFrame();
  });

  const bool login = started_at_login(args);
  if (login) scanInBackground();
  connect(&timer_, &QTimer::timeout, this, &App::tick);
  timer_.start(1000);

  if (!defaults_.value(kPermissionsShownKey, false).toBool()) {
    defaults_.setValue(kPermissionsShownKey, true);
    defaults_.sync();
    openPermissions();
  } else if (!login) {
    openSetup();
  }

  const bool open = window_ && window_->isVisible();
  gm_log(QStringLiteral("app: launched with %1, Setup window %2")
             .arg(trayNow ? QStringLiteral("the menu-bar item")
                          : QStringLiteral("the menu-bar item waiting for a tray"),
                  open ? QStringLiteral("open") : QStringLiteral("closed"))
             .toUtf8()
             .constData());
}

App::~App() {
  timer_.stop();
  if (window_) {
    saveFrame();
    delete window_.data();
  }
  background_.waitForDone();
}

void App::tick() {
  // What blocks (unpacking an app, copying, reinstalling) runs on the work queue; no new poll
  // starts until it has come back.
  if (!tickWork_ && gm_tick_poll()) {
    tickWork_ = true;
    auto quitNow = std::make_shared<bool>(false);
    store_.run([quitNow] { *quitNow = gm_tick_work(); },
               [this, quitNow] {
                 tickWork_ = false;
                 if (*quitNow) quit();
               });
  }
  store_.refresh();
  updateIcon();
  if (window_ && window_->isVisible()) {
    ++scans_;
    if (scans_ % kScanEvery == 0 && !store_.working()) scanInBackground();
  }
  if (quitAfterTicks_ > 0 && ++ticks_ >= quitAfterTicks_) quit();
}

void App::scanInBackground() {
  ++backgroundScans_;
  // A scan already running stands for this one; the core would return at once anyway.
  background_.tryStart([] { gm_scan(); });
}

void App::createWindow() {
  auto* window = new QWidget(nullptr, Qt::Window);
  window->setWindowTitle(QStringLiteral("Gainmesh Setup"));
  window->setMinimumSize(kMinWidth, kMinHeight);
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, theme::page());
  window->setPalette(palette);
  window->setAutoFillBackground(true);

  // The page view scrolls by itself; the window gives it room below the title bar.
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, kTopPadding, 0, 0);
  layout->addWidget(new SetupView(store_, window));

  window_ = window;
  window_->installEventFilter(this);
  const QByteArray frame = defaults_.value(kFrameKey).toByteArray();
  if (frame.isEmpty() || !window_->restoreGeometry(frame)) {
    window_->resize(kPageWidth, kWindowHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      window_->move(screen->availableGeometry().center() - window_->rect().center());
    }
  }
  applyOnTop();
}

void App::activated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      // Where a click shows the menu the platform has done so already.
      if (!kMenuOnClick) openSetup();
      break;
    case QSystemTrayIcon::DoubleClick:
      openSetup();
      break;
    default:
      break;
  }
}

void App::openSetup() {
  if (!window_) createWindow();
  scanInBackground();
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void App::openPermissions() {
  openSetup();
  store_.showModal(Modal{Modal::permissions, 0});
}

void App::toggleOnTop() {
  onTop_ = !onTop_;
  defaults_.setValue(kOnTopKey, onTop_);
  defaults_.sync();
  applyOnTop();
}

void App::applyOnTop() {
  if (!window_) return;
  if (window_->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop_) return;
  const bool visible = window_->isVisible();
  window_->setWindowFlag(Qt::WindowStaysOnTopHint, onTop_);
  if (visible) window_->show();  // changing the flags hides a shown window
}

void App::saveSupport() {
  store_.saveSupport();
}

void App::quit() {
  QCoreApplication::quit();
}

void App::saveFrame() {
  defaults_.setValue(kFrameKey, window_->saveGeometry());
  defaults_.sync();
}

bool App::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_) {
    switch (event->type()) {
      case QEvent::Close:
        // Closing only hides the window; its dialog goes with it.
        frameTimer_.stop();
        saveFrame();
        store_.cancel();
        break;
      case QEvent::Move:
      case QEvent::Resize:
        // Saved soon after, so that a killed app still knows where the window was.
        frameTimer_.start();
        break;
      default:
        break;
    }
  }
  return QObject::eventFilter(watched, event);
}

void App::updateIcon() {
  const auto& page = store_.page();
  const QString state = page ? page->menu.state : QString();
  const MarkState mark = mark_state(page ? page->menu.tone : QString());
  const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
  const QPalette palette = QGuiApplication::palette();
  const QColor ink = palette.color(QPalette::Active, QPalette::WindowText);
  if (icon_.isNull() || mark != iconMark_ || ink != iconInk_ || dpr != iconDpr_) {
    QPixmap pixmap = QPixmap::fromImage(tray_mark(qRound(kIconPoints * dpr), mark, palette));
    pixmap.setDevicePixelRatio(dpr);
    icon_ = QIcon(pixmap);
    icon_.setIsMask(kTemplateMark);
    iconMark_ = mark;
    iconInk_ = ink;
    iconDpr_ = dpr;
    if (tray_) tray_->setIcon(icon_);
  }
  toolTip_ =
      state.isEmpty() ? QStringLiteral("Gainmesh") : QStringLiteral("Gainmesh \u00B7 ") + state;
  if (tray_ && tray_->toolTip() != toolTip_) tray_->setToolTip(toolTip_);
}

void App::rebuildMenu() {
  store_.refresh();
  const auto& page = store_.page();
  menu_.clear();

  auto* header = new QWidgetAction(&menu_);
  auto* label = new QLabel;
  label->setContentsMargins(12, 4, 12, 4);
  // The header takes no clicks but reads as plainly as the items below it.
  const QColor text = menu_.palette().color(QPalette::Active, QPalette::WindowText);
  QString line = QStringLiteral("<b style=\"color:%1\">Gainmesh</b>").arg(text.name());
  if (page) {
    line += QStringLiteral("&nbsp;&nbsp;") +
            tone_html(page->menu.tone, QStringLiteral("\u25CF ") + page->menu.state);
  }
  label->setText(line);
  header->setDefaultWidget(label);
  header->setEnabled(false);
  menu_.addAction(header);
  menu_.addSeparator();

  menu_.addAction(QStringLiteral("Open Setup\u2026"), this, &App::openSetup);
  QAction* perms =
      menu_.addAction(QStringLiteral("macOS Permissions\u2026"), this, &App::openPermissions);
  if (page && page->perm.tone != QLatin1String("ok")) {
    perms->setText(QStringLiteral("macOS Permissions\u2026  "));
    perms->setIcon(QIcon(QPixmap::fromImage(
        Mark::image(16, mark_state(page->perm.tone), tone(page->perm.tone), false))));
  }
  menu_.addAction(QStringLiteral("Save Support File\u2026"), this, &App::saveSupport);
  QAction* top = menu_.addAction(QStringLiteral("Always on Top"), this, &App::toggleOnTop);
  top->setCheckable(true);
  top->setChecked(onTop_);
  menu_.addSeparator();
  QAction* version = menu_.addAction(page ? page->version : QStringLiteral("Gainmesh"));
  version->setEnabled(false);
  menu_.addAction(QStringLiteral("Quit Gainmesh"), this, &App::quit);
}

}  // namespace gmui
