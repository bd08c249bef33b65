// bridge_set: the rules by which a gain or 48V change crosses between LV1 and the desk. LV1's
// sets are checked and sent; values read from the desk or pushed by it reach LV1 without the
// echo of the module's own sets; the 48V protect list, session recall and the replay of LV1's
// values after a dropout live here too.
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include "base/text.h"
#include "bridge.h"
#include "bridge_cfg.h"
#include "bridge_flags.h"
#include "bridge_patch.h"
#include "bridge_state.h"
#include "bridge_status.h"
#include "desk_wing.h"
#include "host_services.h"

namespace gm {
namespace {

constexpr uint32_t kGainEchoMs = 251;     // desk gains this soon after an own set are its echo
constexpr uint32_t kPhantomEchoMs = 250;  // the same for 48V
constexpr uint32_t kGainConfirmMs = 300;  // an own gain is confirmed to LV1 this long after it
constexpr double kGainTolerance = 0.01;   // smaller desk differences do not move LV1

// push_mute_source holds the mute pushes not yet applied: bit `source` (1 "mute", 2 "$mute")
// says that source was pushed, bit `source << 2` its muted state. One word, so a "mute" and a
// "$mute" push arriving together are both kept.
constexpr uint8_t mute_state_bit(int source) {
  return static_cast<uint8_t>(source << 2);
}

bool valid(int ch) {
  return ch >= 0 && ch < kChannels;
}
int watched() {
  return std::clamp(cfg_watch(), 0, kChannels);
}
// Channels at or above the watched count are not bridged: their records are not kept current.
bool bridged(int ch) {
  return ch >= 0 && ch < watched();
}
bool same(const char* a, const char* b) {
  return a && b && strcasecmp(a, b) == 0;
}
const char* on_text(bool on) {
  return on ? "ON" : "off";
}

// The input whose head amp the channel's gain drives.
int gain_input(const PatchChannel& c) {
  return c.gain_input ? c.gain_input : c.input;
}
bool routed(const PatchChannel& c) {
  return c.input >= 1 && c.group[0] && !same(c.group, "OFF");
}
bool held_until_seeded(int ch) {
  return !bs().first_seed_done.load() && !bs().ch[ch].known.load();
}

void push_gain(int ch, double db, bool live) {
  wing_push_to_lv1(bs().iface.load(), ch, db, true, false, false, live);
}
void push_phantom(int ch, bool on, bool live) {
  wing_push_to_lv1(bs().iface.load(), ch, 0, false, on, true, live);
}

BankRange range_of_group(const char* group) {
  BankRange r;
  RangeRecord rec;
  if (find_range(group, &rec)) {
    r.min_db = rec.min_db;
    r.max_db = rec.max_db;
    r.step_db = rec.step_db;
  }
  return r;
}

BankRange range_of(int ch) {
  if (!valid(ch) || !patch_is_read()) return BankRange{};
  return range_of_group(wing_grp(ch).c_str());
}

// ---- pending desk pushes (any thread; the watch thread applies them) ---------------------------

void record_gain(int ch, double db) {
  ChannelState& c = bs().ch[ch];
  c.push_gain = db;
  c.push_gain_pending = true;
  c.push_seq.fetch_add(1);
}

void record_partner_gain(int ch, double db) {
  ChannelState& c = bs().ch[ch];
  c.push_partner_gain = db;
  c.push_partner_pending = true;
  c.push_seq.fetch_add(1);
}

void record_phantom(int ch, bool on) {
  ChannelState& c = bs().ch[ch];
  c.push_phantom = on;
  c.push_phantom_pending = true;
  c.push_seq.fetch_add(1);
}

void record_mute(int ch, int source, bool muted) {
  ChannelState& c = bs().ch[ch];
  const uint8_t state = mute_state_bit(source);
  uint8_t cur = c.push_mute_source.load();
  uint8_t next;
  do {
    next = static_cast<uint8_t>((cur | source) & ~state);
    if (muted) next |= state;
  } while (!c.push_mute_source.compare_exchange_weak(cur, next));
  c.push_muted = muted;
  c.push_mute_pending = true;
  c.push_seq.fetch_add(1);
}

void apply_mutes(int ch) {
  const uint8_t m = bs().ch[ch].push_mute_source.exchange(0);
  for (int source = 1; source <= 2; ++source) {
    if (m & source) patch_set_mute_bit(ch, source, (m & mute_state_bit(source)) != 0);
  }
}

// Runs fn(ch, record) for every bridged channel whose group is `group`.
template <typename F>
void for_channels_on(const char* group, F fn) {
  const int watch = watched();
  for (int ch = 0; ch < watch; ++ch) {
    const PatchChannel c = patch_channel(ch);
    if (same(c.group, group)) fn(ch, c);
  }
}

// ---- desk pushes, by leaf ----------------------------------------------------------------------

// The pushes that only raise requests for the watch thread; true when the leaf was one of them.
bool push_raises_requests(const char* leaf, int input) {
  BridgeFlags& f = bridge_flags();
  if (!strcmp(leaf, "$reread")) {
    f.need_patch = true;
    f.need_seed = true;
    f.need_names = true;
  } else if (!strcmp(leaf, "$reseed")) {
    f.seed_quietly = true;
    f.need_seed = true;
  } else if (!strcmp(leaf, "grp") || !strcmp(leaf, "in")) {
    // A card output's source: the output number is the LV1 channel + 1.
    if (input >= 1 && input <= kChannels) {
      set_channel_bit(f.reread, input - 1);
    } else {
      f.need_patch = true;
    }
    f.need_names = true;
  } else if (!strcmp(leaf, "cgrp") || !strcmp(leaf, "cin") || !strcmp(leaf, "cnm") ||
             !strcmp(leaf, "name")) {
    f.need_names = true;
  } else {
    return false;
  }
  return true;
}

void push_mode(const char* group, int input) {
  const int pair = input % 2 ? input + 1 : input - 1;
  bool matched = false;
  for_channels_on(group, [&](int ch, const PatchChannel& c) {
    if (c.input < 1 || (c.input != input && c.input != pair)) return;
    set_channel_bit(bridge_flags().remode, ch);
    matched = true;
  });
  if (!matched) bridge_flags().need_modes = true;
}

void push_head_amp(const char* group, int input) {
  bool matched = false;
  for_channels_on(group, [&](int ch, const PatchChannel& c) {
    if (c.input != input) return;
    set_channel_bit(bridge_flags().reread, ch);
    matched = true;
  });
  if (matched)
    dlogf("[patch] %s %d head amp / owner changed on the desk - re-checking", group, input);
}

void push_gain_node(const char* group, int input, double db) {
  if (!std::isfinite(db)) return;
  for_channels_on(group, [&](int ch, const PatchChannel& c) {
    if (!c.has_preamp) return;
    if (gain_input(c) == input) {
      record_gain(ch, db);
    } else if (c.input == input) {
      record_partner_gain(ch, db);
    }
  });
}

void push_input_leaf(const char* group, int input, const char* leaf, bool on) {
  const int source = !strcmp(leaf, "vph") ? 0 : !strcmp(leaf, "mute") ? 1 : 2;
  for_channels_on(group, [&](int ch, const PatchChannel& c) {
    if (c.input != input) return;
    if (source == 0) {
      record_phantom(ch, on);
    } else {
      record_mute(ch, source, on);
    }
  });
}

// ---- applying desk values ----------------------------------------------------------------------

void apply_gain(int ch, double db, uint32_t elapsed, SeedCache& cache, bool live) {
  if (!cache.have_gain[ch]) {
    push_gain(ch, db, false);
    dlogf("[bridge] startup: ch=%d seeded from desk at %.1f dB", ch, db);
  } else if (elapsed >= kGainEchoMs && std::fabs(db - cache.gain[ch]) >= kGainTolerance) {
    push_gain(ch, db, live);
    bs().seed_differences.fetch_add(1);
  }
  cache.gain[ch] = db;
  cache.have_gain[ch] = true;
  shm_publish_gain(ch, db);
}

// A protected input that reads 48V on was switched at the desk: Gainmesh never sends that.
void alarm_if_protected(int ch) {
  const PatchChannel c = patch_channel(ch);
  if (!routed(c) || !phantom_protected(c.group, c.input)) return;
  logf(
      "[48V] ALARM: %s %d is PROTECTED but now reads 48V ON - switched at the desk, not by "
      "Gainmesh (LV1 in %d)",
      c.group, c.input, ch + 1);
}

void apply_phantom(int ch, bool on, uint32_t elapsed, SeedCache& cache, bool live) {
  const bool had = cache.have_phantom[ch];
  const bool changed = had && cache.phantom[ch] != on;
  if (!had) {
    push_phantom(ch, on, false);
    logf("[bridge] startup: ch=%d 48V seeded from desk = %d", ch, on ? 1 : 0);
  } else if (changed && elapsed >= kPhantomEchoMs) {
    push_phantom(ch, on, live);
    logf("[bridge] desk 48V ch=%d -> %d", ch, on ? 1 : 0);
    bs().seed_differences.fetch_add(1);
  }
  if (on && (!had || changed)) alarm_if_protected(ch);
  cache.phantom[ch] = on;
  cache.have_phantom[ch] = true;
  shm_publish_phantom(ch, on);
}

// A value the desk reported: read by a seed or sweep (not live), or pushed by the desk (live; a
// channel's first value is never live).
void take_desk_value(int ch, bool is_gain, double value, SeedCache& cache, bool live) {
  if (!valid(ch) || !std::isfinite(value)) return;
  ChannelState& c = bs().ch[ch];
  const uint32_t elapsed = now32() - c.last_set_ms.load();
  c.known = true;
  if (is_gain) {
    apply_gain(ch, value, elapsed, cache, live);
  } else {
    apply_phantom(ch, value != 0, elapsed, cache, live);
  }
}

// ---- LV1 -> desk: gain -------------------------------------------------------------------------

// The checks between LV1's set and the send; false (logged) when the set stops here.
bool gain_may_be_sent(int ch, double db) {
  BridgeState& s = bs();
  if (held_until_seeded(ch)) {
    logf("SET gain ch=%d %.1f dB  [desk value not read yet - LV1 is still starting, not sent]", ch,
         db);
    return false;
  }
  s.ch[ch].known = true;
  const bool no_desk = !s.ready.load();
  const char* why = nullptr;
  if (no_desk) {
    why = "no desk yet";
  } else if (!desk()->connected()) {
    why = "desk link is down";
  } else if (s.identity_recheck.load()) {
    why = "checking which console answers after the reconnect";
  } else if (!patch_is_read()) {
    why = "desk patch not read yet";
  }
  if (!why) return true;
  logf("SET gain ch=%d %.1f dB  [%s - not sent]", ch, db, why);
  if (no_desk) bridge_start();
  return false;
}

void send_gain(int ch, double db) {
  const PatchChannel c = patch_channel(ch);
  if (!c.has_preamp || !routed(c)) return;  // re-patched since the check
  ChannelState& s = bs().ch[ch];
  s.last_set_ms = now32();
  if (!desk()->set_gain(c.group, gain_input(c), db)) {
    logf("SET gain ch=%d %.1f dB  [desk link is down - not sent]", ch, db);
    return;
  }
  const BankRange r = range_of_group(c.group);
  shm_publish_gain(ch, snap_to_range(db, r.min_db, r.max_db, r.step_db));
  s.gain_to_confirm = db;
  s.gain_confirm = true;
  shm_count_set(gm_now_ms());
  dlogf("[bridge] %s %d gain %.1f dB", c.group, gain_input(c), db);
  if (!bridge_flags().in_resync.load()) fanout_to_siblings(ch, db, true, false, false);
}

// ---- LV1 -> desk: 48V --------------------------------------------------------------------------

// LV1's switch goes back to what the status block shows for the channel.
void flip_back(int ch) {
  bs().ch[ch].phantom_to_confirm = shm_phantom_shown(ch) ? 1 : 0;
}

bool protect_list_empty() {
  ProtectEntry entries[kMaxProtect];
  return cfg_protect_copy(entries) == 0;
}

// Whether switching 48V on for the channel may reach the desk; refusals are logged.
bool phantom_on_allowed(int ch, const PatchChannel& c) {
  if (protect_list_empty()) return true;
  if (phantom_protected(c.group, c.input)) {
    logf("[48V] REFUSED ch=%d -> %s %d: input is protected in gainmesh.cfg", ch, c.group, c.input);
    return false;
  }
  char partner[8] = "";
  int partner_input = 0;
  const int p = phantom_partner_of(ch, partner, &partner_input);
  if (p < 0) {
    logf(
        "[48V] REFUSED ch=%d -> %s %d: whether the desk links its 48V to another input is not "
        "known yet",
        ch, c.group, c.input);
    return false;
  }
  if (p > 0 && phantom_protected(partner, partner_input)) {
    logf(
        "[48V] REFUSED ch=%d -> %s %d: the desk switches %s %d's 48V with it, and that input is "
        "protected in gainmesh.cfg",
        ch, c.group, c.input, partner, partner_input);
    return false;
  }
  return true;
}

bool phantom_may_be_sent(int ch, bool on) {
  BridgeState& s = bs();
  if (!s.ready.load()) {
    logf("SET 48V ch=%d %d  [no desk yet - not sent]", ch, on ? 1 : 0);
    bridge_start();
    return false;
  }
  const char* why = !desk()->connected()        ? "desk link is down"
                    : s.identity_recheck.load() ? "checking which console answers after the "
                                                  "reconnect"
                                                : nullptr;
  if (why) logf("[48V] ch=%d -> %s: %s - not sent", ch, on_text(on), why);
  return !why;
}

void send_phantom(int ch, const PatchChannel& c, bool on) {
  ChannelState& s = bs().ch[ch];
  s.last_set_ms = now32();
  if (!desk()->set_phantom(c.group, c.input, on)) {
    logf("[48V] ch=%d -> %s: desk link is down - not sent", ch, on_text(on));
    return;
  }
  shm_publish_phantom(ch, on);
  s.phantom_to_confirm = on ? 1 : 0;
  shm_count_set(gm_now_ms());
  logf("[48V] ch=%d -> %s %d = %s", ch, c.group, c.input, on_text(on));
  if (!bridge_flags().in_resync.load()) fanout_to_siblings(ch, 0, false, on, true);
}

// ---- session recall ----------------------------------------------------------------------------

struct Recall {
  double gain[kChannels];
  int phantom[kChannels];
  int present[kChannels];
};

// Takes the held values, clearing the pending flag; false when nothing is held.
bool take_recall(Recall& out) {
  BridgeState& s = bs();
  std::lock_guard<std::mutex> lock(s.recall_mu);
  if (!s.recall_pending.load()) return false;
  std::memcpy(out.gain, s.recall_gain, sizeof out.gain);
  std::memcpy(out.phantom, s.recall_phantom, sizeof out.phantom);
  std::memcpy(out.present, s.recall_present, sizeof out.present);
  s.recall_pending = false;
  return true;
}

// LV1 is told first, so that a refused 48V's confirmation, which follows, has the last word.
void recall_channel(int ch, double db, bool on) {
  if (std::isfinite(db)) push_gain(ch, db, true);
  push_phantom(ch, on, true);
  if (std::isfinite(db)) bridge_set_gain(ch, db);
  bridge_set_phantom(ch, on);
}

}  // namespace

// ---- LV1 -> desk -------------------------------------------------------------------------------

void bridge_set_gain(int ch, double gain_db) {
  if (!bridged(ch) || !std::isfinite(gain_db)) return;
  if (patch_is_read() && !wing_has_preamp(ch)) return;
  if (gain_may_be_sent(ch, gain_db)) send_gain(ch, gain_db);
}

void bridge_set_phantom(int ch, bool on) {
  if (!bridged(ch)) return;
  if (patch_is_read() && !wing_has_preamp(ch)) return;
  if (held_until_seeded(ch)) {
    logf("[48V] ch=%d %d not sent: desk value not read yet - LV1 is still starting", ch,
         on ? 1 : 0);
    return;
  }
  if (!patch_is_read()) {
    logf(
        "[48V] REFUSED ch=%d: the desk patch has not been read yet, so which input this is "
        "cannot be known",
        ch);
    flip_back(ch);
    return;
  }
  const PatchChannel c = patch_channel(ch);
  if (!c.has_preamp || !routed(c)) return;  // re-patched since the check
  if (on && !phantom_on_allowed(ch, c)) {
    flip_back(ch);
    return;
  }
  if (phantom_may_be_sent(ch, on)) send_phantom(ch, c, on);
}

bool bridge_has_preamp(int ch) {
  return wing_has_preamp(ch);
}
double bridge_gain_min(int ch) {
  return range_of(ch).min_db;
}
double bridge_gain_max(int ch) {
  return range_of(ch).max_db;
}
double bridge_gain_step(int ch) {
  return range_of(ch).step_db;
}

double snap_to_range(double db, double min_db, double max_db, double step_db) {
  double v = db;
  if (step_db > 0) v = std::floor((db - min_db) / step_db + 0.5) * step_db + min_db;
  if (v > max_db) v = max_db;
  if (v < min_db) v = min_db;
  return v;
}

void fanout_to_siblings(int ch, double db, bool with_gain, bool phantom_on, bool with_phantom) {
  if (!valid(ch)) return;
  const PatchChannel src = patch_channel(ch);
  if (!routed(src)) return;
  for_channels_on(src.group, [&](int other, const PatchChannel& c) {
    if (other == ch || !c.has_preamp) return;
    if (with_gain && gain_input(c) == gain_input(src)) record_gain(other, db);
    if (with_phantom && c.input == src.input) record_phantom(other, phantom_on);
  });
}

// ---- the partner rule and the protect list ------------------------------------------------------

namespace {

// A channel's stereo role is settled once it was read from the desk for its source and the desk
// has not reported it changing since.
bool role_settled(int ch, const PatchChannel& c) {
  return c.stereo_read && !((bridge_flags().remode.load() >> ch) & 1);
}

}  // namespace

int phantom_partner_of(int ch, char group_out[8], int* input_out) {
  if (!valid(ch)) return 0;
  if (!patch_is_read()) return -1;
  const PatchChannel c = patch_channel(ch);
  if (!routed(c)) return 0;
  if (!role_settled(ch, c)) return -1;
  if (c.stereo == 0) return 0;
  const int partner = c.stereo == 1 || c.stereo == 3 ? c.input + 1 : c.input - 1;
  if (partner < 1) return 0;
  bool partner_settled = true;
  for_channels_on(c.group, [&](int other, const PatchChannel& o) {
    if (o.input == partner && !role_settled(other, o)) partner_settled = false;
  });
  if (!partner_settled) return -1;
  if (group_out) std::memcpy(group_out, c.group, sizeof c.group);
  if (input_out) *input_out = partner;
  return 1;
}

bool phantom_protected(const char* group, int input) {
  return cfg_is_protected(group, input);
}

bool protect_at(int i, char* group_out, size_t size, int* input_out) {
  ProtectEntry entries[kMaxProtect];
  const int n = cfg_protect_copy(entries);
  if (i < 0 || i >= n) return false;
  if (group_out && size > 0) {
    gm_base::copy_text(group_out, size, entries[i].group, sizeof entries[i].group);
  }
  if (input_out) *input_out = entries[i].input;
  return true;
}

bool protect_set(const char* group, int input, bool on) {
  if (!group || !group[0] || input < 1) return false;
  char g[8] = "";
  gm_base::copy_text(g, sizeof g, group);
  if (cfg_is_protected(g, input)) {
    if (on) return true;
    cfg_protect_remove(g, input);
    logf("[48V] %s %d is no longer protected - 48V can be switched on here again", g, input);
    save_cfg();
    return true;
  }
  if (!on) return true;
  ProtectEntry entries[kMaxProtect];
  if (cfg_protect_copy(entries) >= kMaxProtect) {
    logf("[48V] protect list is full (%d) - %s %d NOT protected", kMaxProtect, g, input);
    return false;
  }
  if (!cfg_protect_add(g, input)) return false;
  logf("[48V] %s %d is now protected - 48V will never be switched on here", g, input);
  save_cfg();
  return true;
}

// ---- desk -> LV1 -------------------------------------------------------------------------------

void apply_value(int ch, bool is_gain, double value, SeedCache& cache) {
  take_desk_value(ch, is_gain, value, cache, false);
}

void on_desk_push(const char* group, int input, const char* leaf, double value, bool flag,
                  const char* /*text*/) {
  if (!leaf || push_raises_requests(leaf, input)) return;
  if (!group || !group[0] || !patch_is_read()) return;
  if (!strcmp(leaf, "mode")) {
    push_mode(group, input);
  } else if (!strcmp(leaf, "$ract") || !strcmp(leaf, "$ha") || !strcmp(leaf, "rmt")) {
    push_head_amp(group, input);
  } else if (!strcmp(leaf, "g")) {
    push_gain_node(group, input, value);
  } else if (!strcmp(leaf, "vph")) {
    push_input_leaf(group, input, leaf, flag);
  } else if (!strcmp(leaf, "mute") || !strcmp(leaf, "$mute")) {
    push_input_leaf(group, input, leaf, value != 0 || flag);
  }
}

bool apply_desk_pushes(SeedCache& cache, uint64_t seen_seq[kChannels]) {
  bool any = false;
  const int watch = watched();
  for (int ch = 0; ch < watch; ++ch) {
    ChannelState& c = bs().ch[ch];
    const uint64_t seq = c.push_seq.load();
    if (seq == seen_seq[ch]) continue;
    seen_seq[ch] = seq;
    any = true;
    if (c.push_partner_pending.exchange(false)) patch_set_parked(ch, c.push_partner_gain.load());
    if (c.push_gain_pending.exchange(false)) {
      take_desk_value(ch, true, c.push_gain.load(), cache, true);
    }
    if (c.push_phantom_pending.exchange(false)) {
      take_desk_value(ch, false, c.push_phantom.load() ? 1 : 0, cache, true);
    }
    if (c.push_mute_pending.exchange(false)) apply_mutes(ch);
  }
  return any;
}

void push_confirmations(uint32_t now_ms) {
  for (int ch = 0; ch < kChannels; ++ch) {
    ChannelState& c = bs().ch[ch];
    const int64_t on = c.phantom_to_confirm.exchange(-1);
    if (on >= 0) push_phantom(ch, on != 0, true);
    if (!c.gain_confirm.load() || now_ms - c.last_set_ms.load() < kGainConfirmMs) continue;
    if (c.gain_confirm.exchange(false)) push_gain(ch, c.gain_to_confirm.load(), true);
  }
}

// ---- session recall and replay -----------------------------------------------------------------

namespace {

// A recall is applied only over a link that can take it: connected, and to the console it was
// checked to be. A desk that answered a moment ago but whose link is down holds the values.
bool recall_can_reach_desk() {
  return desk()->connected() && !bs().identity_recheck.load();
}

}  // namespace

void bridge_recall(const double gain[64], const int phantom[64], const int present[64]) {
  if (!gain || !phantom || !present) return;
  if (!cfg_session_recall()) {
    logf(
        "[recall] LV1 opened a session with Gainmesh preamp values - not applied "
        "(session_recall=off)");
    return;
  }
  BridgeState& s = bs();
  {
    std::lock_guard<std::mutex> lock(s.recall_mu);
    std::memcpy(s.recall_gain, gain, sizeof s.recall_gain);
    std::memcpy(s.recall_phantom, phantom, sizeof s.recall_phantom);
    std::memcpy(s.recall_present, present, sizeof s.recall_present);
    s.recall_pending = true;
  }
  const bool seeded = s.first_seed_done.load();
  logf("[recall] LV1 opened a session with Gainmesh preamp values - %s",
       !seeded                   ? "held until the console has been read"
       : recall_can_reach_desk() ? "applying now"
                                 : "held until the console answers");
  if (seeded) apply_pending_recall();
}

void apply_pending_recall() {
  if (!bs().recall_pending.load()) return;
  if (!recall_can_reach_desk()) {
    logf("[recall] the console is not answering - LV1's values are held until it is back");
    return;
  }
  Recall r;
  if (!take_recall(r)) return;
  int applied = 0;
  const int watch = watched();
  for (int ch = 0; ch < watch; ++ch) {
    if (!r.present[ch] || !wing_has_preamp(ch)) continue;
    recall_channel(ch, r.gain[ch], r.phantom[ch] == 1);
    ++applied;
  }
  logf("[recall] session preamp values applied to the console: %d channel(s)", applied);
}

void resync_push_to_desk() {
  WingGainIface* iface = bs().iface.load();
  if (!iface) return;
  if (!patch_is_read()) {
    logf("[sync] no patch yet - not replaying to the desk");
    return;
  }
  BridgeFlags& f = bridge_flags();
  f.in_resync = true;
  int replayed = 0, with_phantom = 0, unknown = 0;
  const int watch = watched();
  for (int ch = 0; ch < watch; ++ch) {
    if (!wing_has_preamp(ch)) continue;
    if (!bs().ch[ch].known.load()) {
      ++unknown;
      continue;
    }
    const bool on = lv1_phantom_on(iface, ch);
    bridge_set_gain(ch, lv1_gain(iface, ch));
    bridge_set_phantom(ch, on);
    ++replayed;
    with_phantom += on ? 1 : 0;
  }
  f.in_resync = false;
  logf("[sync] replayed %d channel(s) to the desk (%d with 48V, %d skipped as unknown)", replayed,
       with_phantom, unknown);
}

}  // namespace gm
