// The display check of the entry point: only the environment and the arguments, no Qt.
#include "display_check.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace gmui {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool wayland_in_env(const DisplayEnv& e) {
  return !e.wayland_display.empty() || !e.wayland_socket.empty();
}

// One platform name without its options.
bool platform_reachable(const std::string& name, const DisplayEnv& e) {
  if (name == "xcb") return !e.display.empty();
  // Asked for by name, Wayland also tries its default socket.
  if (name.rfind("wayland", 0) == 0) return wayland_in_env(e) || e.wayland_0;
  return true;
}

// The platform Qt takes: the last "-platform NAME" of the arguments, else the environment's.
std::string asked_platform(const DisplayEnv& e, int argc, const char* const* argv) {
  std::string asked = e.qpa_platform;
  for (int i = 1; argv && i < argc; ++i) {
    if (!argv[i]) break;
    const char* arg = argv[i];
    if (arg[0] == '-' && arg[1] == '-') ++arg;
    if (std::strcmp(arg, "-platform") == 0 && i + 1 < argc && argv[i + 1]) asked = argv[++i];
  }
  return asked;
}

}  // namespace

DisplayEnv read_display_env() {
  DisplayEnv e;
  e.qpa_platform = env("QT_QPA_PLATFORM");
  e.display = env("DISPLAY");
  e.wayland_display = env("WAYLAND_DISPLAY");
  e.wayland_socket = env("WAYLAND_SOCKET");
  const std::string runtime = env("XDG_RUNTIME_DIR");
  struct stat st{};
  e.wayland_0 =
      !runtime.empty() && stat((runtime + "/wayland-0").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
  return e;
}

bool display_reachable(const DisplayEnv& e, int argc, const char* const* argv) {
  const std::string asked = asked_platform(e, argc, argv);
  bool any_named = false;
  for (size_t start = 0; start <= asked.size();) {
    size_t end = asked.find(';', start);
    if (end == std::string::npos) end = asked.size();
    const std::string entry = asked.substr(start, end - start);
    const std::string name = lower(entry.substr(0, entry.find(':')));
    if (!name.empty()) {
      any_named = true;
      if (platform_reachable(name, e)) return true;
    }
    start = end + 1;
  }
  if (any_named) return false;
  return !e.display.empty() || wayland_in_env(e);
}

}  // namespace gmui
