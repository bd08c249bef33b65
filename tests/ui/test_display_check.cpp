// The entry point's display check: which environments and arguments let Qt reach a display, so
// that the app starts where it can and explains itself where Qt would abort.
#include <gtest/gtest.h>

#include "display_check.h"

namespace {

TEST(DisplayCheck, ThePlatformAskedForOrElseTheEnvironmentDecides) {
  struct Case {
    const char* platform;  // QT_QPA_PLATFORM
    const char* display;
    const char* wayland_display;
    bool wayland_0;   // Wayland's default socket exists
    const char* arg;  // the name after "--platform", or null
    bool reachable;
  } cases[] = {
      {"", "", "", false, nullptr, false},
      {"", ":0", "", false, nullptr, true},
      {"", "", "wayland-1", false, nullptr, true},
      // Wayland's default socket counts only when Wayland is asked for.
      {"", "", "", true, nullptr, false},
      {"offscreen", "", "", false, nullptr, true},
      {"xcb", "", "wayland-1", false, nullptr, false},
      {"XCB:nograb", "", "wayland-1", false, nullptr, false},
      {"wayland", ":0", "", false, nullptr, false},
      {"wayland", "", "", true, nullptr, true},
      {"wayland;xcb", ":0", "", false, nullptr, true},
      {"wayland-egl;xcb", "", "", false, nullptr, false},
      {"xcb", "", "", false, "offscreen", true},  // the argument wins over the environment
      {"offscreen", "", "", false, "xcb", false},
  };
  for (const Case& c : cases) {
    gmui::DisplayEnv env;
    env.qpa_platform = c.platform;
    env.display = c.display;
    env.wayland_display = c.wayland_display;
    env.wayland_0 = c.wayland_0;
    const char* argv[] = {"Gainmesh", "--login", "--platform", c.arg};
    EXPECT_EQ(gmui::display_reachable(env, c.arg ? 4 : 2, argv), c.reachable)
        << "case " << &c - cases;
  }
}

}  // namespace
