// The entry points that install and switch console types, and the periodic housekeeping that
// applies what a newer app carries.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "api.h"
#include "core_state.h"
#include "install.h"
#include "install_state.h"
#include "lv1.h"
#include "module_update.h"
#include "remove.h"
#include "updater.h"
#include "util.h"

namespace gm {
namespace {

constexpr const char* kReopenLv1 =
    "Gainmesh is installed. It starts with LV1 \xE2\x80\x94 close and reopen LV1 once.";
constexpr const char* kStartingLv1 = "Starting eMotion LV1\xE2\x80\xA6";
constexpr const char* kDash = " \xE2\x80\x94 ";  // between a message's prefix and the error

// Sets the busy flag for its lifetime, also when an exception passes.
class Busy {
 public:
  Busy() { set(true); }
  ~Busy() { set(false); }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  static void set(bool busy) {
    std::lock_guard<std::mutex> lock(core_mutex());
    core_state().busy = busy;
  }
};

bool fake() {
  std::lock_guard<std::mutex> lock(core_mutex());
  return core_state().fake;
}

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::atomic<int64_t> g_carried_next{0};  // when apply_carried may run again, monotonic ms

// The tick's quick part: the loader's status as messages, and "Starting eMotion LV1…" cleared
// once LV1 runs. Returns whether LV1 runs.
bool tick_status() {
  check_blocks();
  const bool running = lv1_running();
  if (running) {
    std::lock_guard<std::mutex> lock(core_mutex());
    if (core_state().msg == kStartingLv1) core_state().msg.clear();
  }
  return running;
}

// False, with the message set, when state.cfg could not take it.
bool switch_to(int which, bool on) {
  std::string err;
  if (set_console_enabled(which, on, err)) return true;
  set_msg(std::string(on ? "Could not switch it on" : "Could not switch it off") + kDash + err);
  return false;
}

}  // namespace

bool carried_due(bool lv1_running) {
  const int64_t now = now_ms();
  if (now < g_carried_next.load() || !installed() || updater_busy()) return false;
  const bool due = loader_update_pending() ? !lv1_running : modules_update_pending();
  if (!due) g_carried_next = now + 60000;
  return due;
}

void apply_carried(bool lv1_running) {
  std::atomic<int64_t>& next_run = g_carried_next;
  const int64_t now = now_ms();
  if (now < next_run.load() || !installed() || updater_busy()) return;
  std::unique_lock<std::recursive_mutex> lock(bundle_mutex(), std::try_to_lock);
  if (!lock.owns_lock()) return;
  next_run = now + 60000;
  std::string err;
  if (loader_update_pending()) {
    if (lv1_running) return;
    next_run = now + 600000;
    if (do_install(err, false, -1)) {
      logf("install: this app's loader / resources applied while LV1 was closed");
    } else {
      logf("install: this app's loader is newer but was not applied: %s", err.c_str());
    }
  } else if (modules_update_pending() && !apply_live_module_updates(err)) {
    logf("live module update failed: %s", err.c_str());
  }
}

}  // namespace gm

using namespace gm;

extern "C" {

bool gm_tick(void) {
  if (fake()) return false;
  const bool running = tick_status();
  apply_carried(running);
  bool quit = false;
  updater_tick(quit);
  return quit;
}

bool gm_tick_poll(void) {
  if (fake()) return false;
  const bool running = tick_status();
  const bool carried = carried_due(running);
  const bool staged = updater_poll();
  return carried || staged;
}

bool gm_tick_work(void) {
  if (fake()) return false;
  apply_carried(lv1_running());
  bool quit = false;
  updater_apply(quit);
  return quit;
}

bool gm_install(void) {
  if (fake()) return false;
  Busy busy;
  Found found[2];
  {
    std::lock_guard<std::mutex> lock(core_mutex());
    found[0] = core_state().found[0];
    found[1] = core_state().found[1];
  }
  std::string err;
  if (!do_install(err, true, -1)) {
    set_msg(std::string("Could not install") + kDash + err);
    return false;
  }
  bool switched = true;
  if (found[0].found || found[1].found) {
    for (int i = 0; i < 2; ++i) {
      if (!found[i].found) switched = switch_to(i, false) && switched;
    }
  }
  gm_scan();
  // Installed, but a type meant to be off is not: that message stays.
  if (switched) set_msg(lv1_running() ? kReopenLv1 : "");
  return true;
}

bool gm_reinstall(void) {
  Busy busy;
  std::string err;
  if (!do_install(err, true, -1)) {
    set_msg(std::string("Could not reinstall") + kDash + err);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(core_mutex());
    core_state().loader_blocked = false;
  }
  set_msg("Gainmesh was reinstalled. Start LV1.");
  return true;
}

bool gm_remove(void) {
  if (lv1_running()) return false;
  Busy busy;
  std::string err;
  if (!do_remove(err)) {
    set_msg(std::string("Could not remove Gainmesh") + kDash + err);
    return false;
  }
  set_msg("Gainmesh was removed. LV1 runs every card on Waves' stock modules.");
  return true;
}

int gm_switch(int which) {
  if (which != 0 && which != 1) return 0;
  bool enabled = false;
  if (console_installed(which, &enabled)) {
    if (enabled && lv1_running()) return 1;
    switch_to(which, !enabled);
    return 0;
  }
  // Without Waves' module for the card there is nothing to switch on, and installing (or adding
  // modules live) must not turn the other console off behind the user's back.
  if (!waves_present(which)) {
    set_msg(std::string("Could not switch it on") + kDash + "LV1's IO Modules folder has no " +
            kSupported[which].card + " module from Waves, which Gainmesh needs for the " +
            short_name(which) + ".");
    return 0;
  }
  // Only a first install gets here: the console's module is present, so Gainmesh is not.
  Busy busy;
  std::string err;
  if (!do_install(err, true, which)) {
    set_msg(std::string("Could not switch it on") + kDash + err);
    return 0;
  }
  bool switched = switch_to(1 - which, false);
  switched = switch_to(which, true) && switched;
  gm_scan();
  if (switched) set_msg(lv1_running() ? kReopenLv1 : "");
  return 0;
}

void gm_switch_off(int which) {
  if (which == 0 || which == 1) switch_to(which, false);
}

}  // extern "C"
