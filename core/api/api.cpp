// The core's shared state, start-up and the small entry points.
#include "api.h"

#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>

#include "base/text.h"
#include "core_state.h"
#include "discovery.h"
#include "install_state.h"
#include "lv1.h"
#include "netperm.h"
#include "platform.h"
#include "status.h"
#include "support.h"
#include "updater.h"
#include "util.h"

namespace gm {

std::mutex& core_mutex() {
  static auto* mu = new std::mutex;  // lives until exit: detached threads may still take it
  return *mu;
}

CoreState& core_state() {
  static auto* state = new CoreState;
  return *state;
}

void set_msg(const std::string& text) {
  std::lock_guard<std::mutex> lock(core_mutex());
  core_state().msg = text;
  if (!text.empty()) logf("setup: %s", text.c_str());
}

std::string current_msg() {
  std::lock_guard<std::mutex> lock(core_mutex());
  return core_state().msg;
}

std::string app_from_exe() {
  std::string exe = executable_path();
  if (exe.empty()) return "";
  if (char* real = realpath(exe.c_str(), nullptr)) {
    exe = real;
    std::free(real);
  }
  const std::string tail = "/Contents/MacOS/Gainmesh";
  if (exe.size() <= 24 || exe.compare(exe.size() - tail.size(), tail.size(), tail) != 0) return "";
  return exe.substr(0, exe.size() - tail.size());
}

bool set_recall(int which, bool on) {
  if (which != 0 && which != 1) return false;
  const bool saved = cfg_set_line(con_cfg(which), "session_recall", on ? "on" : "off");
  logf("setup: %s session_recall=%s", kSupported[which].key, on ? "on" : "off");
  return saved;
}

bool set_resync(int which, bool lv1_wins) {
  if (which != 0 && which != 1) return false;
  const bool saved = cfg_set_line(con_cfg(which), "resync", lv1_wins ? "lv1" : "desk");
  con_request_resync(which, lv1_wins);
  logf("setup: %s resync=%s", kSupported[which].key, lv1_wins ? "lv1" : "desk");
  return saved;
}

}  // namespace gm

using namespace gm;

extern "C" {

void gm_init(const char* app_path, int argc, char** argv) {
  set_app_path(app_path && app_path[0] ? app_path : app_from_exe());
  logf("---- Gainmesh %s for macOS (%s) ----", version_text().c_str(), gm::app_path().c_str());
  start_guest_watch();
  updater_wait_previous(argc, argv);
  apply_carried(lv1_running());
}

void gm_log(const char* text) { logf("%s", text ? text : ""); }

void gm_start_lv1(void) {
  const Lv1 lv1 = lv1_info();
  if (lv1.app.empty()) {
    set_msg("Could not find eMotion LV1 on this Mac.");
    return;
  }
  set_msg(open_path(lv1.app, {}, false) ? "Starting eMotion LV1\xE2\x80\xA6"
                                        : "Could not start eMotion LV1.");
}

void gm_clear_message(void) { set_msg(""); }

bool gm_save_support(char* buf, int size) {
  const size_t room = buf && size > 0 ? static_cast<size_t>(size) : 0;
  std::string path, err;
  if (!save_support(path, err)) {
    gm_base::copy_text(buf, room, "");
    set_msg("Could not save the support file \xE2\x80\x94 " + err);
    return false;
  }
  gm_base::copy_text(buf, room, path);
  return true;
}

void gm_set_recall(int which, int on) { set_recall(which, on != 0); }

void gm_set_resync(int which, int lv1) { set_resync(which, lv1 != 0); }

void gm_scan(void) {
  static std::mutex scan_mu;
  std::unique_lock<std::mutex> scanning(scan_mu, std::try_to_lock);
  if (!scanning.owns_lock()) return;
  {
    std::lock_guard<std::mutex> lock(core_mutex());
    if (core_state().fake) return;
  }
  if (!net_asked()) return;
  Found found[2];
  scan_consoles(found);
  std::lock_guard<std::mutex> lock(core_mutex());
  for (int i = 0; i < 2; ++i) core_state().found[i] = found[i];
}

void gm_retry(int /*which*/) {
  gm_scan();
  notify_loader();
}

void gm_request_network(void) {
  {
    std::lock_guard<std::mutex> lock(core_mutex());
    if (core_state().fake) return;
  }
  net_request();
  gm_scan();
}

}  // extern "C"
