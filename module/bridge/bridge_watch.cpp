// The watch thread: once a desk is adopted it reads the patch, seeds LV1 from the desk, applies
// the desk's pushes, confirms the module's own sets, notices dropouts and resynchronises, serves
// dashboard requests, keeps names, modes and ranges fresh and publishes the status block, in a
// 20 ms cycle.
#include <strings.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bridge_cfg.h"
#include "bridge_flags.h"
#include "bridge_patch.h"
#include "bridge_state.h"
#include "bridge_status.h"
#include "bridge_threads.h"
#include "desk_choose.h"
#include "desk_wing.h"
#include "host_services.h"
#include "lv1_notify.h"

namespace gm {
namespace {

constexpr uint32_t kCycleMs = 20;
constexpr uint64_t kPublishMs = 50;
constexpr uint64_t kPatchReadMs = 30000;
constexpr uint64_t kPatchUnreadMs = 2000;
constexpr uint64_t kNamesSoonMs = 3000;
constexpr uint64_t kNamesEveryMs = 120000;
constexpr uint64_t kModesEveryMs = 10000;
constexpr uint64_t kRangesEveryMs = 20000;
constexpr uint64_t kBankRangeEveryMs = 5000;
constexpr uint64_t kCapsWindowMs = 400;
constexpr uint64_t kCapsLogGapMs = 800;
constexpr uint32_t kBackoffFirstMs = 2000;
constexpr uint32_t kBackoffMaxMs = 60000;
constexpr int kMaxSilentGroups = 8;

// The watch thread's own state.
struct Watch {
  SeedCache cache;
  uint64_t seen_seq[kChannels] = {};
  bool control_was_up = false;  // the control link was connected at the last cycle
  bool link_up = true;          // the desk answered within kLinkUpMs
  bool was_up = false;          // it has been up since the watcher started
  uint64_t last_patch = 0, last_names = 0, last_modes = 0, last_ranges = 0, last_publish = 0;
  uint64_t last_bank_range = 0;
  uint64_t seed_retry_at = 0;
  uint32_t seed_backoff = 0;
  uint64_t caps_window = 0, last_caps_log = 0;
  int64_t caps_at_window = 0;
};

const DeskBackend* d() { return desk(); }

// ---- step 1: moving the link -----------------------------------------------------------------

void move_link() {
  const uint32_t left_before = threads_left_running();
  d()->on_push(nullptr);
  d()->stop();
  d()->meter_stop();
  DeskFound target, old;
  {
    std::lock_guard<std::mutex> lock(bs().desk_mu);
    target = bs().move_target;
    old = bs().adopted;
  }
  if (threads_left_running() == left_before) {
    d()->adopt(&target);
    desk_found(target);
    if (std::string(target.ip) != old.ip) bs().link_moves.fetch_add(1);
    bs().link_stopped = false;
    bs().refind_now = false;
    // Whoever answers on the new link is checked before anything is written to it.
    bs().identity_recheck = true;
  } else {
    logf("[refind] the old link to %s did not stop in time - NOT moving to %s until LV1 restarts",
         old.ip, target.ip);
  }
  bs().find_state = GM_FIND_NORMAL;
  bs().move_request = false;
}

// ---- step 4: who answers after a reconnect ---------------------------------------------------

void drop_pending_pushes() {
  for (auto& c : bs().ch) {
    c.push_gain_pending = c.push_phantom_pending = c.push_mute_pending = false;
    c.push_partner_pending = false;
  }
}

// False when another console answers: the cycle ends.
bool recheck_identity() {
  const DeskFound adopted = bridge_adopted();
  const std::string identity = refind_identity(cfg_console().c_str(), adopted.id);
  if (!identity.empty()) {
    DeskFound found[8];
    const int n = d()->scan(adopted.ip, found, 8, 800);
    const DeskFound* at = n > 0 ? &found[0] : nullptr;
    const int same = same_console_at(at, identity.c_str());
    if (same == 0) {
      const std::string label = bridge_desk_label();
      logf("[refind] ANOTHER console answers at %s now: %s %s, id %s - not %s (id %s). NOT "
           "driving it, nothing written; looking for %s at other addresses",
           adopted.ip, at->model, at->name, at->id, label.c_str(), identity.c_str(),
           label.c_str());
      d()->on_push(nullptr);
      d()->stop();
      d()->meter_stop();
      drop_pending_pushes();
      bs().link_stopped = true;
      bs().refind_now = true;
      bs().find_state = GM_FIND_LOOKING;
      return false;
    }
    if (same < 0) {
      logf("[refind] link back at %s; it did not say who it is (%s) - carrying on", adopted.ip,
           at ? (at->id[0] ? at->id : "no id") : "no answer");
    }
  }
  bs().identity_recheck = false;
  return true;
}

// ---- step 6: seeding LV1 from the desk -------------------------------------------------------

struct SeedRun {
  int seeded = 0, tried = 0;
  std::vector<int> failed;
  std::vector<std::string> silent;
  std::string last_failed_group;
  int group_failures = 0;
};

bool is_silent(const SeedRun& run, const std::string& g) {
  for (const auto& s : run.silent) {
    if (strcasecmp(s.c_str(), g.c_str()) == 0) return true;
  }
  return false;
}

// Reads one channel's mute, gain and 48V; false when its gain read failed.
bool seed_channel(Watch& w, int ch) {
  const std::string g = wing_grp(ch);
  int mute = 0;
  if (d()->get_mute(g.c_str(), wing_src(ch), &mute)) patch_set_mute_state(ch, mute);
  double db = 0;
  if (!d()->get_gain(g.c_str(), wing_gain_src(ch), &db)) return false;
  apply_value(ch, true, db, w.cache);
  bool on = false;
  if (d()->get_phantom(g.c_str(), wing_src(ch), &on)) apply_value(ch, false, on ? 1 : 0, w.cache);
  return true;
}

void note_seed_failure(SeedRun& run, int ch) {
  run.failed.push_back(ch);
  const std::string g = wing_grp(ch);
  run.group_failures = g == run.last_failed_group ? run.group_failures + 1 : 1;
  run.last_failed_group = g;
  if (run.group_failures >= 2 && !is_silent(run, g) &&
      static_cast<int>(run.silent.size()) < kMaxSilentGroups) {
    run.silent.push_back(g);
    logf("[bridge] %s is not answering gain reads - skipping it this sweep", g.c_str());
  }
}

void retry_failed(Watch& w, const SeedRun& run) {
  for (int ch : run.failed) {
    if (!d()->connected()) return;
    if (seed_channel(w, ch) || !wing_has_preamp(ch)) continue;
    const PatchChannel p = patch_channel(ch);
    patch_drop_preamp(ch);
    logf("[bridge] %s %d has no head amp (no gain node) - LV1 in %d shown without preamp controls",
         p.group, p.input, ch + 1);
  }
}

void seed(Watch& w, uint64_t now) {
  BridgeFlags& f = bridge_flags();
  f.need_seed = false;
  const bool quiet = f.seed_quietly.exchange(false) && bs().first_seed_done.load();
  bs().seed_differences = 0;
  SeedRun run;
  const int watch = cfg_watch();
  for (int ch = 0; ch < watch && d()->connected() && !bridge_shutting_down(); ++ch) {
    if (!wing_has_preamp(ch) || is_silent(run, wing_grp(ch))) continue;
    ++run.tried;
    if (seed_channel(w, ch)) {
      ++run.seeded;
      run.group_failures = 0;
    } else {
      note_seed_failure(run, ch);
    }
  }
  if (!quiet && run.seeded > 0) logf("[bridge] seeded %d channel(s) from the desk", run.seeded);
  if (quiet && bs().seed_differences.load() > 0) {
    logf("[bridge] a re-read found %d value(s) the desk had not reported - LV1 now shows the "
         "desk's",
         bs().seed_differences.load());
  }
  bs().first_seed_done = true;
  if (bs().recall_pending.load()) apply_pending_recall();
  if (run.seeded >= 4 && d()->connected() && !quiet) retry_failed(w, run);
  const bool back_off = (!run.silent.empty() || (run.seeded == 0 && run.tried > 0)) &&
                        d()->connected();
  if (!back_off) {
    w.seed_backoff = 0;
    w.seed_retry_at = 0;
    return;
  }
  w.seed_backoff = w.seed_backoff ? std::min(w.seed_backoff * 2, kBackoffMaxMs) : kBackoffFirstMs;
  w.seed_retry_at = now + w.seed_backoff;
  if (run.seeded == 0) {
    logf("[bridge] no gain read answered (%d tried) - retrying in %lu s", run.tried,
         static_cast<unsigned long>(w.seed_backoff / 1000));
  }
}

// ---- steps 9 to 16 ---------------------------------------------------------------------------

void follow_dropouts(Watch& w, uint64_t now) {
  const bool up = bs().ever_replied.load() &&
                  static_cast<uint32_t>(now) - bs().last_reply_ms.load() < kLinkUpMs;
  if (up && !w.link_up && w.was_up) {
    patch_refresh();
    if (!cfg_resync_desk()) {
      logf("[sync] desk back - LV1 is the source of truth");
      resync_push_to_desk();
    } else {
      logf("[sync] desk back - desk is the source of truth, re-seeding LV1");
      w.cache.clear();
      bridge_flags().need_seed = true;
    }
  }
  if (up) w.was_up = true;
  w.link_up = up;
}

void watch_capability_queries(Watch& w, uint64_t now) {
  if (now - w.caps_window <= kCapsWindowMs) return;
  const int64_t count = caps_query_count();
  if (count - w.caps_at_window >= 8 && now - w.last_caps_log > kCapsLogGapMs) {
    logf("[caps] LV1 re-queried %ld capabilities, LV1 channels %ld..%ld - its channel model "
         "changed",
         static_cast<long>(count - w.caps_at_window), static_cast<long>(caps_lowest_asked()) + 1,
         static_cast<long>(caps_highest_asked()) + 1);
    w.last_caps_log = now;
  }
  caps_reset_range();
  w.caps_window = now;
  w.caps_at_window = count;
}

void reread_marked_channels() {
  BridgeFlags& f = bridge_flags();
  const uint64_t modes = take_channel_bits(f.remode);
  const uint64_t rereads = take_channel_bits(f.reread);
  int changed = 0;
  bool read_any = false;
  for (int ch = 0; ch < kChannels; ++ch) {
    if (modes & (uint64_t{1} << ch)) changed += modes_refresh_one(ch) > 0;
    if (!(rereads & (uint64_t{1} << ch))) continue;
    const int r = patch_read_one(ch);
    if (r < 0) f.need_patch = true;
    read_any |= r >= 0;
    changed += r > 0;
  }
  if (read_any) patch_mark_read();
  if (changed == 0) return;
  logf("[patch] %d channel(s) re-patched (from a desk push)", changed);
  f.need_seed = true;
  f.need_names = true;
  notify_patch_changed();
  learn_channel_ranges();
}

void refresh_patch_when_due(Watch& w, uint64_t now) {
  BridgeFlags& f = bridge_flags();
  const uint64_t every = patch_is_read() ? kPatchReadMs : kPatchUnreadMs;
  if (!f.need_patch.load() && now - w.last_patch < every) return;
  f.need_patch = false;
  w.last_patch = now;
  if (!patch_refresh()) f.need_patch = true;
}

void revalidate(WingGainIface* iface) {
  if (!d()->connected()) return;
  const uint64_t bits = take_channel_bits(bridge_flags().revalidate);
  for (int ch = 0; ch < kChannels && bits; ++ch) {
    if (!(bits & (uint64_t{1} << ch))) continue;
    const bool preamp = wing_has_preamp(ch);
    const std::string g = wing_grp(ch);
    if (preamp) {
      double db = 0;
      bool on = false;
      if (d()->get_gain(g.c_str(), wing_gain_src(ch), &db)) {
        wing_push_to_lv1(iface, ch, db, true, false, false, true);
      }
      if (d()->get_phantom(g.c_str(), wing_src(ch), &on)) {
        wing_push_to_lv1(iface, ch, 0, false, on, true, true);
      }
    } else if (iface) {
      wing_push_to_lv1(iface, ch, lv1_gain(iface, ch), true, false, false, true);
      wing_push_to_lv1(iface, ch, 0, false, false, true, true);
    }
    wing_refresh_strip(ch);
    dlogf("[patch] LV1 in %d re-validated (%s)", ch + 1, preamp ? "preamp" : "no preamp");
  }
}

void learn_bank_range(Watch& w, uint64_t now) {
  const std::string bank = cfg_bank();
  if (find_range(bank.c_str(), nullptr) || now - w.last_bank_range < kBankRangeEveryMs) return;
  w.last_bank_range = now;
  learn_range(bank.c_str());
}

void refresh_names_when_due(Watch& w, uint64_t now) {
  BridgeFlags& f = bridge_flags();
  if ((f.need_names.load() && now - w.last_names > kNamesSoonMs) ||
      now - w.last_names > kNamesEveryMs) {
    f.need_names = false;
    w.last_names = now;
    names_refresh();
  }
}

// After the dashboard request of the cycle, so that a request never waits behind these reads.
void refresh_modes_and_ranges_when_due(Watch& w, uint64_t now) {
  BridgeFlags& f = bridge_flags();
  if (f.need_modes.load() || now - w.last_modes > kModesEveryMs) {
    f.need_modes = false;
    w.last_modes = now;
    modes_refresh();
  }
  if (now - w.last_ranges > kRangesEveryMs) {
    w.last_ranges = now;
    relearn_stale_ranges(now);
  }
}

// Steps 2 to 7: the part of a cycle that needs the control link.
void linked_work(Watch& w, uint64_t now) {
  if (bs().identity_recheck.load() && !recheck_identity()) return;
  BridgeFlags& f = bridge_flags();
  if (w.seed_retry_at && now >= w.seed_retry_at) {
    w.seed_retry_at = 0;
    f.need_seed = true;
  }
  const bool lv1_holds = !cfg_resync_desk() && w.was_up && !w.link_up;
  if (f.need_seed.load() && patch_is_read() && !lv1_holds) seed(w, now);
  apply_desk_pushes(w.cache, w.seen_seq);
  learn_bank_range(w, now);
  bs().last_reply_ms = static_cast<uint32_t>(now);
  bs().ever_replied = true;
}

void cycle(Watch& w) {
  if (bs().move_request.load()) move_link();
  uint64_t now = gm_now_ms();
  cfg_refresh_live(now);
  if (!d()->connected()) {
    bridge_flags().need_seed = true;
    if (w.control_was_up) bs().identity_recheck = true;
    w.control_was_up = false;
  } else {
    w.control_was_up = true;
    linked_work(w, now);
    if (bs().link_stopped.load()) return;
    now = gm_now_ms();
  }
  push_confirmations(static_cast<uint32_t>(now));
  follow_dropouts(w, now);
  watch_capability_queries(w, now);
  if (d()->connected() && !bridge_shutting_down()) {
    reread_marked_channels();
    refresh_patch_when_due(w, now);
    revalidate(bs().iface.load());
    if (!bridge_shutting_down()) refresh_names_when_due(w, now);
  }
  serve_control_request();
  if (d()->connected() && !bridge_shutting_down()) refresh_modes_and_ranges_when_due(w, now);
  if (now - w.last_publish >= kPublishMs) {
    w.last_publish = now;
    shm_sync();
  }
}

}  // namespace

DWORD watch_main(void*) {
  while (!bs().ready.load()) {
    if (quit_wait(200)) return 0;
  }
  logf("[bridge] %s -> LV1 watcher started (push-driven, ch 1..%d)", desk()->family, cfg_watch());
  auto w = std::make_unique<Watch>();
  w->last_patch = gm_now_ms();
  if (!patch_refresh()) bridge_flags().need_patch = true;
  w->cache.clear();
  while (!bs().shutdown.load() && bs().ready.load()) {
    cycle(*w);
    if (quit_wait(kCycleMs)) break;
  }
  return 0;
}

}  // namespace gm
