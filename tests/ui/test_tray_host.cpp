// The menu-bar item on a real X display (Xvfb) where no system tray runs when the app starts: it
// must dock as soon as a tray appears. The tray is played by this test as a desktop panel plays it
// (the freedesktop system tray protocol): it owns the _NET_SYSTEM_TRAY_S0 selection, announces
// that with MANAGER on the root window, and takes the dock requests sent to it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstring>
#include <memory>

#include "app.h"
#include "support/temp_home.h"

extern char** environ;

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* r =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
  const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
  free(r);
  return a;
}

TEST(TrayHostTest, AnAppStartedWithoutATrayDocksWhenOneAppears) {
  // Xvfb on a display of its own choosing, which it writes to the pipe once it listens.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string fd = std::to_string(fds[1]);
  const char* xvfb[] = {"Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, const_cast<char**>(xvfb), environ) != 0)
    GTEST_SKIP() << "Xvfb is not installed";
  close(fds[1]);
  char number[16] = {};
  const bool listening = read(fds[0], number, sizeof number - 1) > 0;
  close(fds[0]);
  // Stopped at the end, after the app and Qt have let go of the display.
  std::shared_ptr<pid_t> stop(&pid, [](pid_t* p) { kill(*p, SIGTERM), waitpid(*p, nullptr, 0); });
  ASSERT_TRUE(listening) << "Xvfb did not start";
  const std::string display = ":" + std::to_string(atoi(number));

  gmtest::TempHome home;
  setenv("DISPLAY", display.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);  // no panel speaking the D-Bus protocol
  int argc = 1;
  char* argv[] = {const_cast<char*>("gainmesh-tray-test"), nullptr};
  QApplication qt(argc, argv);
  gmui::App app({QStringLiteral("Gainmesh"), QStringLiteral("--login")});
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());

  // The tray appears.
  xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t tray = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, tray, screen->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  const xcb_atom_t selection = atom(c, "_NET_SYSTEM_TRAY_S0"),
                   opcode = atom(c, "_NET_SYSTEM_TRAY_OPCODE");
  xcb_set_selection_owner(c, tray, selection, XCB_CURRENT_TIME);
  xcb_client_message_event_t manager{XCB_CLIENT_MESSAGE, 32, 0, screen->root,
                                     atom(c, "MANAGER"), {}};
  manager.data.data32[1] = selection;
  manager.data.data32[2] = tray;
  xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&manager));
  xcb_flush(c);

  xcb_window_t docked = 0;
  QElapsedTimer t;
  t.start();
  while (!docked && t.elapsed() < 15000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    usleep(10000);
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
      const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
      // SYSTEM_TRAY_REQUEST_DOCK is opcode 0; the window to dock is the third word.
      if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE && m->type == opcode &&
          m->data.data32[1] == 0)
        docked = m->data.data32[2];
      free(e);
    }
  }
  xcb_disconnect(c);
  EXPECT_NE(docked, 0u) << "the menu-bar item never asked the tray to dock it";
  EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
}

}  // namespace
