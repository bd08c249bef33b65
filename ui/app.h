// The app delegate: the menu-bar item with its menu, the one Setup window, the one-second tick and
// the user defaults. It owns the Store and starts the console scans that run outside the Store's
// work queue (at login, when the window opens and every 15 ticks while it is visible).
//
// Threads: GUI thread only. Background scans run on a thread of the delegate's own; the
// destructor waits for one still running (at most a scan's length, about 2 s). The tick's work
// that blocks (applying a staged update, what a newer app carries) runs on the Store's work queue.
//
// The menu-bar item is made and shown at launch whatever the desktop offers. Where there is no
// system tray yet (a login before the panel is up, the offscreen platform) the delegate logs it
// once and Qt puts the item in the tray when one appears.
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QThreadPool>
#include <QTimer>
#include <memory>

#include "store.h"
#include "theme.h"

namespace gmui {

// The menu-bar mark at `px` pixels for a state: on macOS a template image (black with alpha, the
// menu bar colours it); elsewhere in the palette's window-text colour, which the desktop's panel
// is drawn to read against.
QImage tray_mark(int px, MarkState state, const QPalette& palette);

// The user defaults file: <home>/Library/Preferences/org.ambervale.gainmesh.conf, where the home is
// GAINMESH_HOME when set, else the user's home folder.
QString defaults_path();

class App : public QObject {
  Q_OBJECT

 public:
  // Launches at once: the menu-bar item, the timer, and the Setup window unless `args` (the
  // process arguments, program name first) hold "--login" or an argument starting "--updated=".
  // The first launch (user default "permissionsShown" false) opens the window with the macOS
  // permissions dialog and records that it was shown.
  explicit App(const QStringList& args, QObject* parent = nullptr);
  ~App() override;

  Store& store() { return store_; }
  QMenu& menu() { return menu_; }
  QSystemTrayIcon* trayItem() const { return tray_; }
  QWidget* window() const { return window_; }          // null until first opened
  bool onTop() const { return onTop_; }
  QString toolTip() const { return toolTip_; }
  const QIcon& icon() const { return icon_; }
  // Console scans the delegate has started on its background thread (login, window, timer).
  int backgroundScans() const { return backgroundScans_; }

 public Q_SLOTS:
  // One second of the app: gm_tick (quits when the updated app took over), refresh, icon, and
  // every 15th tick with the window visible and the Store idle, a background scan.
  void tick();
  void openSetup();        // creates or shows the window, raises it, scans in the background
  void openPermissions();  // openSetup with the permissions dialog
  void toggleOnTop();
  void saveSupport();
  void quit();
  // The menu-bar item was clicked (Trigger), double-clicked or asked for its menu.
  void activated(QSystemTrayIcon::ActivationReason reason);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void createWindow();
  void saveFrame();
  void applyOnTop();
  void rebuildMenu();
  void updateIcon();
  void scanInBackground();

  QSettings defaults_;
  Store store_;
  QMenu menu_;
  QSystemTrayIcon* tray_ = nullptr;
  QPointer<QWidget> window_;
  QTimer timer_;
  QThreadPool background_;
  QIcon icon_;
  MarkState iconMark_ = MarkState::searching;  // what icon_ was drawn for
  QColor iconInk_;
  qreal iconDpr_ = 0;
  QString toolTip_ = QStringLiteral("Gainmesh");
  int scans_ = 0;  // ticks counted while the window is visible
  int backgroundScans_ = 0;
  bool tickWork_ = false;   // the tick's blocking work is queued and has not come back
  QTimer frameTimer_;       // saves the window's frame shortly after the last move or resize
  int quitAfterTicks_ = 0;  // a test's limit on the app's life, 0 for none
  int ticks_ = 0;
  bool onTop_ = false;
};

}  // namespace gmui
