// The menu-bar item on a real X display (Xvfb) where no system tray runs when the app starts:
// the item must dock as soon as a tray appears. The tray here is a small host in this test, which
// owns the _NET_SYSTEM_TRAY_S0 selection, tells the clients so, and records dock requests as a
// desktop panel does (the freedesktop system tray protocol).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api.h"
#include "app.h"
#include "support/temp_home.h"

extern char** environ;

namespace {

// Xvfb on a display number of its own choosing; stopped with the object.
class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",       "-displayfd", fd.c_str(), "-screen", "0",
                          "640x480x24", "-nolisten",  "tcp",      nullptr};
    if (posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
      pid_ = 0;
    close(fds[1]);
    char buf[16] = {};
    ssize_t n = 0;
    if (pid_ > 0) n = read(fds[0], buf, sizeof buf - 1);  // the display number, once it listens
    close(fds[0]);
    if (n > 0) display_ = ":" + std::to_string(std::atoi(buf));
  }
  ~Xvfb() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  const std::string& display() const { return display_; }  // "" when it did not start

 private:
  pid_t pid_ = 0;
  std::string display_;
};

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* r =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
  const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
  free(r);
  return a;
}

// A system tray: owns the selection, announces itself with MANAGER on the root window, and
// collects the windows that ask to dock.
class TrayHost {
 public:
  explicit TrayHost(const std::string& display) {
    c_ = xcb_connect(display.c_str(), nullptr);
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
    win_ = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, win_, screen_->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, 0, nullptr);
    selection_ = atom(c_, "_NET_SYSTEM_TRAY_S0");
    opcode_ = atom(c_, "_NET_SYSTEM_TRAY_OPCODE");
    xcb_set_selection_owner(c_, win_, selection_, XCB_CURRENT_TIME);

    xcb_client_message_event_t manager = {};
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = screen_->root;
    manager.type = atom(c_, "MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection_;
    manager.data.data32[2] = win_;
    xcb_send_event(c_, 0, screen_->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&manager));
    xcb_flush(c_);
  }
  ~TrayHost() { xcb_disconnect(c_); }

  // The window of the first dock request received so far, or 0.
  xcb_window_t docked() {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
      if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
        if (m->type == opcode_ && m->data.data32[1] == 0 /* SYSTEM_TRAY_REQUEST_DOCK */ && !docked_)
          docked_ = m->data.data32[2];
      }
      free(e);
    }
    return docked_;
  }

 private:
  xcb_connection_t* c_;
  xcb_screen_t* screen_;
  xcb_window_t win_ = 0, docked_ = 0;
  xcb_atom_t selection_ = 0, opcode_ = 0;
};

TEST(TrayHostTest, AnAppStartedWithoutATrayDocksWhenOneAppears) {
  Xvfb x;
  if (x.display().empty()) GTEST_SKIP() << "Xvfb is not installed or did not start";
  gmtest::TempHome home;
  setenv("DISPLAY", x.display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  // The panel's D-Bus item protocol would stand in for the X tray; there is no session bus here.
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
  int argc = 1;
  char* argv[] = {const_cast<char*>("gainmesh-tray-test"), nullptr};
  QApplication qt(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  gm_fake("setup-rig");
  QSettings(gmui::defaults_path(), QSettings::IniFormat).setValue("permissionsShown", true);

  gmui::App app({QStringLiteral("Gainmesh"), QStringLiteral("--login")});
  QCoreApplication::processEvents();
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  ASSERT_TRUE(app.trayItem() && app.trayItem()->isVisible());

  TrayHost tray(x.display());
  QElapsedTimer t;
  t.start();
  while (!tray.docked() && t.elapsed() < 15000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    usleep(10000);
  }
  EXPECT_NE(tray.docked(), 0u) << "the menu-bar item never asked the tray to dock it";
  EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
}

}  // namespace
