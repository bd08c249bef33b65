// Whether the menu-bar app can reach a display, decided before Qt is started: Qt ends the process
// with an abort when its platform finds none, so the entry point asks first and explains instead.
#pragma once

#include <string>

namespace gmui {

// What this process can see of a window system. Empty strings are variables not set.
struct DisplayEnv {
  std::string qpa_platform;     // QT_QPA_PLATFORM: the Qt platform(s) the user asked for
  std::string display;          // DISPLAY: an X11 display
  std::string wayland_display;  // WAYLAND_DISPLAY: a Wayland compositor's socket
  std::string wayland_socket;   // WAYLAND_SOCKET: a Wayland connection handed over by the parent
  bool wayland_0 = false;       // $XDG_RUNTIME_DIR/wayland-0, which Wayland tries by default
};

// The sentence the entry point prints on stderr when there is no display.
inline constexpr const char* kNoDisplay =
    "Gainmesh needs a desktop session for its menu-bar item and Setup window. Without one, use "
    "Gainmesh --status, --scan or --diag (see Gainmesh --help).";

// This process's environment.
DisplayEnv read_display_env();

// True when Qt, started with these arguments in this environment, has a display to reach. The
// platform is the one Qt takes: "-platform NAME" (or "--platform") in the arguments, else
// QT_QPA_PLATFORM, each possibly a ';'-separated list of "name[:options]" tried in turn. "xcb"
// needs DISPLAY, "wayland*" a Wayland socket; any other platform (offscreen, minimal, eglfs,
// linuxfb...) needs no desktop and is left to Qt. With no platform asked for, DISPLAY or a
// Wayland display in the environment is needed.
bool display_reachable(const DisplayEnv& env, int argc, const char* const* argv);

}  // namespace gmui
