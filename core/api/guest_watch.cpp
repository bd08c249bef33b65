// The guest watch: one detached thread that follows which console types LV1's session only
// borrows from another LV1, stores it in state.cfg (guest at once, own again only after 3 s) and
// tells the loader, so that Gainmesh keeps its hands off a console it does not own.
#include "guest_watch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core_state.h"
#include "install_state.h"
#include "lv1db.h"
#include "util.h"

namespace gm {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int64_t kOwnSettleMs = 3000;
constexpr int64_t kRetryMs = 1000;
constexpr int64_t kPassMs = 15000;
constexpr int64_t kBurstQuietMs = 250;
constexpr int64_t kBurstMaxMs = 2000;
constexpr int64_t kNever = GuestWake::kNever;

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

struct Wake {
  std::mutex mu;
  std::condition_variable cv;
  GuestWake next;  // under mu
};

Wake& wake() {
  static auto* w = new Wake;  // the thread outlives static destructors
  return *w;
}

bool stored_guest(int which) {
  return cfg_value(state_cfg(), std::string(kSupported[which].key) + ".guest") == "1";
}

// Compares what LV1's session says with what state.cfg holds, writing a settled change. Returns
// the pass's own wake-up (kNever for none).
int64_t store_changes(const bool read[2], int64_t own_since[2], int64_t now) {
  int64_t wake_at = kNever;
  bool changed = false;
  for (int i = 0; i < 2; ++i) {
    const bool stored = stored_guest(i);
    if (!read[i] && stored) {
      if (own_since[i] == 0) own_since[i] = now;
      if (now - own_since[i] < kOwnSettleMs) {
        wake_at = std::min(wake_at, own_since[i] + kOwnSettleMs);
        continue;
      }
    } else {
      own_since[i] = 0;
    }
    if (read[i] == stored) continue;
    own_since[i] = 0;
    const char* key = kSupported[i].key;
    std::lock_guard<std::recursive_mutex> lock(bundle_mutex());
    if (!cfg_set_line(state_cfg(), std::string(key) + ".guest", read[i] ? "1" : "0")) continue;
    logf("guest: %s %s", key,
         read[i] ? "is shared to this LV1 from another one - Gainmesh hands-off"
                 : "is this LV1's own - Gainmesh may drive it");
    changed = true;
  }
  if (changed) notify_loader();
  std::lock_guard<std::mutex> lock(core_mutex());
  for (int i = 0; i < 2; ++i) core_state().guest[i] = stored_guest(i);
  return wake_at;
}

void guest_main() {
  int64_t own_since[2] = {0, 0};
  for (;;) {
    Wake& w = wake();
    {
      std::lock_guard<std::mutex> lock(w.mu);
      w.next.pass_begins();
    }
    lv1_watch_session(guest_session_changed);
    int64_t own_wake = kNever;
    bool read[2] = {false, false};
    const int64_t now = now_ms();
    if (!lv1_guest_consoles(read)) {
      if (own_since[0] || own_since[1]) own_wake = now + kRetryMs;
    } else {
      {
        std::lock_guard<std::mutex> lock(core_mutex());
        for (int i = 0; i < 2; ++i) core_state().guest[i] = read[i];
      }
      if (installed()) own_wake = store_changes(read, own_since, now);
    }
    std::unique_lock<std::mutex> lock(w.mu);
    w.next.pass_ends(now, own_wake);
    for (int64_t t = now_ms(); t < w.next.due(); t = now_ms()) {
      w.cv.wait_for(lock, std::chrono::milliseconds(w.next.due() - t));
    }
  }
}

}  // namespace

void GuestWake::pass_begins() {
  first_ = 0;
  due_ = kNever;
}

void GuestWake::pass_ends(int64_t began, int64_t own) {
  due_ = std::min({due_, own, began + kPassMs});
}

void GuestWake::changed(int64_t now) {
  if (first_ == 0) first_ = now;
  due_ = std::min(first_ + kBurstMaxMs, now + kBurstQuietMs);
}

void guest_session_changed() {
  Wake& w = wake();
  {
    std::lock_guard<std::mutex> lock(w.mu);
    w.next.changed(now_ms());
  }
  w.cv.notify_all();
}

void start_guest_watch() {
  static std::once_flag once;
  std::call_once(once, [] { std::thread(guest_main).detach(); });
}

}  // namespace gm
