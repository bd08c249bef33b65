// bridge_patch: the desk's input patch, its gain ranges, names, card slot, port boxes and
// network lock, read through the desk backend and kept for the bridge and the status block.
//
// Records are written under one mutex and published through a sequence counter per record, so
// that lock-free readers on LV1's threads always get a whole record. Every stored field is an
// atomic, so a reader that races a writer is well defined.
#include "bridge_patch.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/seqlock.h"
#include "base/text.h"
#include "bridge.h"
#include "bridge_cfg.h"
#include "bridge_flags.h"
#include "desk_wing.h"
#include "gm_win32.h"
#include "lv1_notify.h"
#include "module_log.h"

namespace gm {
namespace {

constexpr int kPorts = 4;
constexpr const char* kPortNames[kPorts] = {"A", "B", "C", "SC"};
constexpr int kMaxMisses = 3;  // consecutive unanswered reads that end a pass
constexpr uint32_t kNever = 0xFFFFFFFFu;

// ---- text --------------------------------------------------------------------------------------

bool same(const char* a, const char* b) {
  return a && b && strcasecmp(a, b) == 0;
}

void appendf(std::string& out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string& out, const char* fmt, ...) {
  char buf[128];
  va_list ap;
  va_start(ap, fmt);
  const int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n > 0) out.append(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

// Text held in atomic 64-bit words: a racing reader gets each word whole.
template <int Words>
class AtomicText {
 public:
  static constexpr size_t kBytes = Words * 8;
  void store(const char* s, size_t limit = kBytes) {
    char buf[kBytes] = {};
    gm_base::copy_text(buf, std::min(limit, kBytes), s);
    for (int i = 0; i < Words; ++i) {
      uint64_t w;
      std::memcpy(&w, buf + 8 * i, 8);
      words_[i].store(w);
    }
  }
  void load(char* out, size_t size) const {
    char buf[kBytes];
    for (int i = 0; i < Words; ++i) {
      const uint64_t w = words_[i].load();
      std::memcpy(buf + 8 * i, &w, 8);
    }
    buf[kBytes - 1] = '\0';
    gm_base::copy_text(out, size, buf);
  }

 private:
  std::atomic<uint64_t> words_[Words]{};
};

using gm_base::SeqCount;  // writers hold g_write_mu

// ---- state -------------------------------------------------------------------------------------

struct ChannelSlot {
  SeqCount seq;
  AtomicText<1> group;
  std::atomic<int32_t> input{0};
  std::atomic<int32_t> gain_input{0};
  std::atomic<uint8_t> has_preamp{0};
  std::atomic<uint8_t> stereo{0};
  std::atomic<uint8_t> stereo_read{0};
  std::atomic<uint8_t> mute_bits{0};
  std::atomic<uint8_t> parked_valid{0};
  std::atomic<double> parked_db{0};
  std::atomic<int32_t> ha_type{-1};
};

struct RangeSlot {
  SeqCount seq;
  AtomicText<1> group;
  std::atomic<double> min_db{0};
  std::atomic<double> max_db{0};
  std::atomic<double> step_db{0};
  std::atomic<uint8_t> from_desk{0};
  std::atomic<uint32_t> failed_ms{0};
};

std::mutex g_write_mu;  // serialises writers of records, ranges and names
ChannelSlot g_ch[kChannels];
RangeSlot g_ranges[kMaxRanges];
std::atomic<int> g_n_ranges{0};
AtomicText<3> g_names[kChannels];

std::atomic<bool> g_read{false};
std::atomic<uint64_t> g_read_ms{0};
AtomicText<1> g_card;  // "" until switched: the settings' card
std::atomic<bool> g_tcp_lock{false};
std::atomic<int32_t> g_ports[kPorts] = {-1, -1, -1, -1};

// Steps done at most once per module run.
std::atomic<bool> g_slots_done{false};
std::atomic<bool> g_ports_done{false};
std::atomic<bool> g_card_from_slots{false};
std::atomic<bool> g_card_switched{false};

bool valid(int ch) {
  return ch >= 0 && ch < kChannels;
}
int watched() {
  return std::clamp(cfg_watch(), 0, kChannels);
}

bool routed(const PatchChannel& c) {
  return c.input >= 1 && c.group[0] && !same(c.group, "OFF");
}
bool drives_head_amp(const PatchChannel& c) {
  return c.has_preamp && routed(c);
}
int gain_of(const PatchChannel& c) {
  return c.gain_input ? c.gain_input : c.input;
}
int gain_input_for(int input, int leg) {
  return (leg == 2 || leg == 4) && input >= 2 ? input - 1 : input;
}

PatchChannel load_slot(const ChannelSlot& s) {
  return s.seq.read([&] {
    PatchChannel c;
    s.group.load(c.group, sizeof c.group);
    c.input = s.input.load();
    c.gain_input = s.gain_input.load();
    c.has_preamp = s.has_preamp.load() != 0;
    c.stereo = s.stereo.load();
    c.stereo_read = s.stereo_read.load() != 0;
    c.mute_bits = s.mute_bits.load();
    c.parked_valid = s.parked_valid.load() != 0;
    c.parked_db = s.parked_db.load();
    c.ha_type = s.ha_type.load();
    return c;
  });
}

void store_slot_locked(ChannelSlot& s, const PatchChannel& c) {
  s.seq.begin();
  s.group.store(c.group);
  s.input.store(c.input);
  s.gain_input.store(c.gain_input);
  s.has_preamp.store(c.has_preamp ? 1 : 0);
  s.stereo.store(c.stereo);
  s.stereo_read.store(c.stereo_read ? 1 : 0);
  s.mute_bits.store(c.mute_bits);
  s.parked_valid.store(c.parked_valid ? 1 : 0);
  s.parked_db.store(c.parked_db);
  s.ha_type.store(c.ha_type);
  s.seq.end();
}

// Changes one record: change(record) runs on a copy that is then published whole.
template <typename F>
void update(int ch, F change) {
  if (!valid(ch)) return;
  std::lock_guard<std::mutex> lock(g_write_mu);
  PatchChannel c = load_slot(g_ch[ch]);
  change(c);
  store_slot_locked(g_ch[ch], c);
}

RangeRecord load_range(const RangeSlot& s) {
  return s.seq.read([&] {
    RangeRecord r;
    s.group.load(r.group, sizeof r.group);
    r.min_db = s.min_db.load();
    r.max_db = s.max_db.load();
    r.step_db = s.step_db.load();
    r.from_desk = s.from_desk.load() != 0;
    r.failed_ms = s.failed_ms.load();
    return r;
  });
}

void store_range_locked(RangeSlot& s, const RangeRecord& r) {
  s.seq.begin();
  s.group.store(r.group);
  s.min_db.store(r.min_db);
  s.max_db.store(r.max_db);
  s.step_db.store(r.step_db);
  s.from_desk.store(r.from_desk ? 1 : 0);
  s.failed_ms.store(r.failed_ms);
  s.seq.end();
}

int find_range_index(const char* group) {
  const int n = g_n_ranges.load();
  for (int i = 0; i < n; ++i) {
    char g[8];
    g_ranges[i].group.load(g, sizeof g);
    if (same(g, group)) return i;
  }
  return -1;
}

int port_index(const char* group) {
  for (int i = 0; i < kPorts; ++i) {
    if (same(group, kPortNames[i])) return i;
  }
  return -1;
}

// A channel as the bridge sees it, with the answers for a patch that was not read yet.
struct View {
  std::string group;
  int input = 0;
  int gain_input = 0;
  bool preamp = false;
};

View view_of(int ch) {
  if (!g_read.load()) {
    const int n = ch + cfg_base();
    return {cfg_bank(), n, n, true};
  }
  const PatchChannel c = load_slot(g_ch[ch]);
  return {c.group[0] ? std::string(c.group) : cfg_bank(), c.input, gain_of(c), c.has_preamp};
}

// Bridged channels whose group (as wing_grp gives it) is `group`.
int channels_on(const char* group) {
  const int watch = watched();
  const std::string bank = cfg_bank();
  if (!g_read.load()) return same(bank.c_str(), group) ? watch : 0;
  int n = 0;
  for (int ch = 0; ch < watch; ++ch) {
    const PatchChannel c = load_slot(g_ch[ch]);
    n += same(c.group[0] ? c.group : bank.c_str(), group) ? 1 : 0;
  }
  return n;
}

// ---- once per run: card slots and port boxes ---------------------------------------------------

void clear_sources() {
  std::lock_guard<std::mutex> lock(g_write_mu);
  for (auto& s : g_ch) store_slot_locked(s, PatchChannel{});
}

void switch_card(const char* slot) {
  g_card.store(slot);
  g_card_switched = true;
  clear_sources();
}

void report_slots() {
  const DeskBackend* d = desk();
  if (!d->get_slot_type || g_slots_done.exchange(true)) return;
  char mod[32], crd[32];
  const bool got_mod = d->get_slot_type("MOD", mod, sizeof mod);
  const bool got_crd = d->get_slot_type("CRD", crd, sizeof crd);
  logf("[patch] card slots: MOD=%s CRD=%s", got_mod ? mod : "?", got_crd ? crd : "?");
  const bool wsg_mod = got_mod && strstr(mod, "WSG");
  const bool wsg_crd = got_crd && strstr(crd, "WSG");
  const std::string was = patch_card();
  if (!wsg_mod && !wsg_crd) {
    logf("[patch] the desk reports no WSG card in either slot - staying on %s", was.c_str());
    return;
  }
  if (wsg_mod && wsg_crd) return;
  // The desk says where LV1's card is: no guessing from the patch later.
  g_card_from_slots = true;
  const char* slot = wsg_mod ? "MOD" : "CRD";
  if (same(slot, was.c_str())) return;
  logf("[patch] the WSG card is in %s - reading LV1's patch from %s (was %s)", slot, slot,
       was.c_str());
  switch_card(slot);
}

const char* ha_remote_text(const DeskBackend* d, const char* port) {
  bool on = false;
  if (!d->get_ha_remote || !d->get_ha_remote(port, &on)) return ", HA remote ?";
  return on ? ", HA remote on" : ", HA remote OFF";
}

void read_port(const DeskBackend* d, int i) {
  const char* port = kPortNames[i];
  char dev[64] = "";
  const bool answered = d->get_port_device(port, dev, sizeof dev);
  const char* remote = i < 3 ? ha_remote_text(d, port) : "";
  const int count = answered && dev[0] && d->device_preamps ? d->device_preamps(dev) : -1;
  g_ports[i] = count;
  const char* shown = !answered ? "(no answer)" : dev[0] ? dev : "(nothing connected)";
  logf("[ports] %s: %s%s%s%s", port, shown, remote, count >= 0 ? ", known box" : "", "");
  if (count >= 0) logf("[ports] %s: %d preamp input(s) on that box", port, count);
}

void read_ports() {
  const DeskBackend* d = desk();
  if (!d->get_port_device || g_ports_done.exchange(true)) return;
  for (int i = 0; i < kPorts; ++i) read_port(d, i);
}

void check_tcp_lock() {
  const DeskBackend* d = desk();
  bool on = false;
  if (!d->get_tcplock || !d->get_tcplock(&on) || g_tcp_lock.exchange(on) == on) return;
  if (on) {
    logf(
        "[patch] the desk is set to refuse changes from the network (TCP lock) - nothing "
        "Gainmesh sends will change it");
  } else {
    logf("[patch] the desk accepts changes from the network again (TCP lock off)");
  }
}

// ---- one channel ------------------------------------------------------------------------------

// The record for a new source, with its head amp judged.
PatchChannel new_source(const char* grp, int input) {
  PatchChannel c;
  gm_base::copy_text(c.group, sizeof c.group, grp);
  c.input = input;
  if (!routed(c)) return c;
  c.gain_input = input;
  const DeskBackend* d = desk();
  const bool heads = d->group_has_preamp && d->group_has_preamp(c.group);
  c.has_preamp = heads && port_allows_preamp(c.group, input);
  int type = -1;
  if (heads && d->get_headamp && d->get_headamp(c.group, input, &type)) {
    c.ha_type = type;
    c.has_preamp = c.has_preamp && type >= 2;
  }
  return c;
}

// The stereo role of a routed source; a failed read asks for a full mode refresh.
void read_stereo(PatchChannel& c) {
  const DeskBackend* d = desk();
  int leg = 0;
  c.stereo_read = true;
  if (d->get_stereo_leg && !d->get_stereo_leg(c.group, c.input, &leg)) {
    bridge_flags().need_modes = true;
    c.stereo_read = false;
    leg = 0;
  }
  c.stereo = static_cast<uint8_t>(leg);
  c.gain_input = gain_input_for(c.input, leg);
  if (c.gain_input != c.input) {
    logf("[patch] %s %d is a stereo partner - head amp is %s %d", c.group, c.input, c.group,
         c.gain_input);
  }
}

// Same source as before: only whether its head amp is usable may have changed.
bool recheck_head_amp(int ch, const PatchChannel& old) {
  const DeskBackend* d = desk();
  if (!routed(old) || !d->group_has_preamp || !d->group_has_preamp(old.group) || !d->get_headamp) {
    return false;
  }
  int type = -1;
  if (!d->get_headamp(old.group, old.input, &type) || type == old.ha_type) return false;
  const bool preamp = port_allows_preamp(old.group, old.input) && type >= 2;
  update(ch, [&](PatchChannel& c) {
    c.ha_type = type;
    c.has_preamp = preamp;
  });
  if (preamp == old.has_preamp) return false;
  logf("[patch] %s %d head amp is now %s (desk reports type %d)", old.group, old.input,
       preamp ? "present" : "absent", type);
  if (preamp && gain_of(old) != old.input) own_gain_read(ch);
  set_channel_bit(bridge_flags().revalidate, ch);
  return true;
}

// ---- the whole patch ---------------------------------------------------------------------------

struct Pass {
  int answered = 0;
  int changed = 0;
  bool complete = false;  // every watched channel answered
};

Pass read_channels(int watch) {
  Pass p;
  int misses = 0;
  for (int ch = 0; ch < watch; ++ch) {
    if (ctl_pending() || bridge_shutting_down()) return p;
    const int r = patch_read_one(ch);
    if (r < 0) {
      if (++misses >= kMaxMisses) return p;
      continue;
    }
    misses = 0;
    ++p.answered;
    if (r > 0) ++p.changed;
  }
  p.complete = p.answered == watch;
  return p;
}

bool any_routed(int watch) {
  for (int ch = 0; ch < watch; ++ch) {
    if (routed(load_slot(g_ch[ch]))) return true;
  }
  return false;
}

int count_routed_outputs(const char* card, int watch) {
  const DeskBackend* d = desk();
  int count = 0, misses = 0;
  for (int n = 1; n <= watch && misses < kMaxMisses; ++n) {
    PatchChannel c;
    if (!d->get_patch(card, n, c.group, sizeof c.group, &c.input)) {
      ++misses;
      continue;
    }
    misses = 0;
    if (routed(c)) ++count;
  }
  return count;
}

// Once per run, when neither the slot report nor an earlier switch chose the card and it routes
// nothing: moves to the other card if that one routes something. True when it switched.
bool try_other_card(int watch) {
  if (g_card_from_slots.load() || g_card_switched.load() || any_routed(watch)) return false;
  const std::string card = patch_card();
  const char* other = same(card.c_str(), "CRD") ? "MOD" : "CRD";
  const int n = count_routed_outputs(other, watch);
  if (n == 0) {
    logf("[patch] card %s has no routed outputs, and no other card slot does either", card.c_str());
    return false;
  }
  logf("[patch] card %s has no routed outputs; card %s has %d - reading LV1's patch from %s",
       card.c_str(), other, n, other);
  switch_card(other);
  return true;
}

void log_head_amps(int watch) {
  PatchChannel c[kChannels];
  for (int ch = 0; ch < watch; ++ch) c[ch] = load_slot(g_ch[ch]);
  const DeskBackend* d = desk();
  bool done[kChannels] = {};
  for (int i = 0; i < watch; ++i) {
    if (done[i] || !routed(c[i]) || !d->group_has_preamp || !d->group_has_preamp(c[i].group)) {
      continue;
    }
    std::string items;
    for (int j = i; j < watch; ++j) {
      if (done[j] || !routed(c[j]) || !same(c[j].group, c[i].group)) continue;
      appendf(items, " %d=%d", c[j].input, c[j].ha_type);
      done[j] = true;
    }
    logf("[ha] %s:%s", c[i].group, items.c_str());
  }
}

void summarise_changes(int changed, int watch) {
  logf("[patch] %d channel(s) re-patched", changed);
  log_head_amps(watch);
  bridge_flags().need_seed = true;
  bridge_flags().need_names = true;
  notify_patch_changed();
  log_gain_ganging();
}

// ---- stereo roles -----------------------------------------------------------------------------

// Stores a role read from the desk; true when the role or the gain input changed.
bool apply_role(int ch, int leg) {
  const PatchChannel before = load_slot(g_ch[ch]);
  if (!routed(before)) return false;
  const int gain = gain_input_for(before.input, leg);
  update(ch, [&](PatchChannel& c) {
    c.stereo = static_cast<uint8_t>(leg);
    c.stereo_read = true;
    c.gain_input = gain;
    if (gain == c.input) c.parked_valid = false;
  });
  if (before.gain_input != gain) {
    if (gain != before.input && before.has_preamp) own_gain_read(ch);
    // LV1 must now show the other head amp's gain.
    set_channel_bit(bridge_flags().revalidate, ch);
  }
  return before.stereo != leg || before.gain_input != gain;
}

void report_role_changes(int changed) {
  if (changed <= 0) return;
  logf("[patch] %d channel(s) changed stereo linking", changed);
  log_gain_ganging();
}

bool can_read_modes() {
  const DeskBackend* d = desk();
  return d->connected() && d->get_stereo_leg && patch_is_read();
}

}  // namespace

// ---- readers -----------------------------------------------------------------------------------

std::string wing_grp(int ch) {
  return valid(ch) ? view_of(ch).group : cfg_bank();
}
int wing_src(int ch) {
  return valid(ch) ? view_of(ch).input : 0;
}
int wing_gain_src(int ch) {
  return valid(ch) ? view_of(ch).gain_input : 0;
}
bool wing_has_preamp(int ch) {
  return valid(ch) && view_of(ch).preamp;
}

int ch_for_wing(const char* group, int input) {
  if (!group || !group[0] || input < 1) return -1;
  const int watch = watched();
  for (int ch = 0; ch < watch; ++ch) {
    const View v = view_of(ch);
    if (v.preamp && v.input == input && same(v.group.c_str(), group)) return ch;
  }
  return -1;
}

PatchChannel patch_channel(int ch) {
  return valid(ch) ? load_slot(g_ch[ch]) : PatchChannel{};
}

bool patch_is_read() {
  return g_read.load();
}

uint32_t patch_age_ms() {
  if (!g_read.load()) return kNever;
  const uint64_t age = gm_now_ms() - g_read_ms.load();
  return static_cast<uint32_t>(std::min<uint64_t>(age, kNever - 1));
}

std::string patch_card() {
  char card[8];
  g_card.load(card, sizeof card);
  if (card[0]) return card;
  const std::string set = cfg_card();
  return set.empty() ? "MOD" : set;
}

bool patch_tcp_lock() {
  return g_tcp_lock.load();
}

int port_preamps(const char* port) {
  const int i = port_index(port);
  return i < 0 ? -1 : g_ports[i].load();
}

bool port_allows_preamp(const char* group, int input) {
  const int i = port_index(group);
  if (i < 0) return true;
  const int count = g_ports[i].load();
  return count < 0 || input <= count;
}

std::string patch_name(int ch) {
  if (!valid(ch)) return "";
  char name[kNameBytes];
  g_names[ch].load(name, sizeof name);
  return name;
}

int range_count() {
  return g_n_ranges.load();
}

bool range_at(int i, RangeRecord* out) {
  if (i < 0 || i >= g_n_ranges.load() || !out) return false;
  *out = load_range(g_ranges[i]);
  out->channels = std::min(channels_on(out->group), 255);
  return true;
}

bool find_range(const char* group, RangeRecord* out) {
  const int i = find_range_index(group);
  if (i < 0) return false;
  return out ? range_at(i, out) : true;
}

// ---- reading the desk --------------------------------------------------------------------------

int patch_read_one(int ch) {
  if (!valid(ch)) return -1;
  const DeskBackend* d = desk();
  char grp[16] = "";
  int input = 0;
  if (!d->get_patch(patch_card().c_str(), ch + 1, grp, sizeof grp, &input)) return -1;
  grp[7] = '\0';
  const PatchChannel old = load_slot(g_ch[ch]);
  if (same(old.group, grp) && old.input == input) return recheck_head_amp(ch, old) ? 1 : 0;
  PatchChannel c = new_source(grp, input);
  if (routed(c)) read_stereo(c);
  update(ch, [&](PatchChannel& r) { r = c; });
  if (c.has_preamp && c.gain_input != c.input) own_gain_read(ch);
  dlogf("[patch] LV1 in %d <- %s %d%s", ch + 1, c.group, c.input,
        c.has_preamp ? "" : "  (no preamp)");
  set_channel_bit(bridge_flags().revalidate, ch);
  return 1;
}

bool patch_refresh() {
  if (!desk()->connected()) return false;
  report_slots();
  read_ports();
  check_tcp_lock();
  const int watch = watched();
  const Pass p = read_channels(watch);
  if (p.complete && try_other_card(watch)) return patch_refresh();
  if (p.answered > 0) patch_mark_read();
  learn_channel_ranges();
  if (p.changed > 0) summarise_changes(p.changed, watch);
  return p.answered > 0;
}

void patch_mark_read() {
  g_read_ms = gm_now_ms();
  g_read = true;
}

void learn_channel_ranges() {
  const int watch = watched();
  for (int ch = 0; ch < watch; ++ch) {
    const PatchChannel c = load_slot(g_ch[ch]);
    if (drives_head_amp(c)) learn_range(c.group);
  }
}

void learn_range(const char* group) {
  if (!group || !group[0] || find_range_index(group) >= 0 || g_n_ranges.load() >= kMaxRanges) {
    return;
  }
  const DeskBackend* d = desk();
  RangeRecord r;
  gm_base::copy_text(r.group, sizeof r.group, group);
  r.from_desk = d->get_range && d->get_range(r.group, 1, &r.min_db, &r.max_db, &r.step_db);
  if (r.from_desk) {
    logf("[range] %s: %.1f .. %.1f dB, step %.2f dB (from the node definition)", r.group, r.min_db,
         r.max_db, r.step_db);
  } else {
    r.min_db = kDefaultGainMin;
    r.max_db = kDefaultGainMax;
    r.step_db = kDefaultGainStep;
    r.failed_ms = static_cast<uint32_t>(gm_now_ms());
    logf("[range] %s: the desk gave no definition - using defaults (%.1f .. %.1f dB, step %.2f)",
         r.group, r.min_db, r.max_db, r.step_db);
  }
  std::lock_guard<std::mutex> lock(g_write_mu);
  const int n = g_n_ranges.load();
  if (n >= kMaxRanges) return;
  store_range_locked(g_ranges[n], r);
  g_n_ranges.store(n + 1);
}

void relearn_stale_ranges(uint64_t now_ms) {
  const uint32_t now = static_cast<uint32_t>(now_ms);
  const int n = g_n_ranges.load();
  for (int i = 0; i < n; ++i) {
    RangeRecord r = load_range(g_ranges[i]);
    if (r.from_desk || now - r.failed_ms < kRangeRetryMs) continue;
    r.failed_ms = now;
    const DeskBackend* d = desk();
    double mn = 0, mx = 0, st = 0;
    if (d->get_range && d->get_range(r.group, 1, &mn, &mx, &st)) {
      r.min_db = mn;
      r.max_db = mx;
      r.step_db = st;
      r.from_desk = true;
      logf("[range] %s: definition arrived on a retry: %.1f .. %.1f dB, step %.2f", r.group, mn, mx,
           st);
    }
    std::lock_guard<std::mutex> lock(g_write_mu);
    store_range_locked(g_ranges[i], r);
    return;
  }
}

int modes_refresh() {
  if (!can_read_modes()) return 0;
  const DeskBackend* d = desk();
  const int watch = watched();
  int legs[kChannels];
  bool got[kChannels] = {};
  int misses = 0;
  for (int ch = 0; ch < watch && misses < kMaxMisses; ++ch) {
    const PatchChannel c = load_slot(g_ch[ch]);
    if (!routed(c)) continue;
    if (ctl_pending() || bridge_shutting_down()) break;
    got[ch] = d->get_stereo_leg(c.group, c.input, &legs[ch]);
    misses = got[ch] ? 0 : misses + 1;
  }
  int changed = 0;
  for (int ch = 0; ch < watch; ++ch) changed += got[ch] && apply_role(ch, legs[ch]) ? 1 : 0;
  report_role_changes(changed);
  return changed;
}

int modes_refresh_one(int ch) {
  if (!valid(ch) || !can_read_modes()) return -1;
  const PatchChannel c = load_slot(g_ch[ch]);
  if (!routed(c)) return 0;
  int leg = 0;
  if (!desk()->get_stereo_leg(c.group, c.input, &leg)) return -1;
  const bool changed = apply_role(ch, leg);
  report_role_changes(changed ? 1 : 0);
  return changed ? 1 : 0;
}

bool names_refresh() {
  const DeskBackend* d = desk();
  if (!d->connected() || !patch_is_read() || !d->get_input_name) return false;
  const int watch = watched();
  char names[kChannels][kNameBytes] = {};
  int misses = 0, labelled = 0;
  for (int ch = 0; ch < watch; ++ch) {
    if (bridge_shutting_down()) return false;
    const PatchChannel c = load_slot(g_ch[ch]);
    if (!drives_head_amp(c)) continue;
    if (!d->get_input_name(c.group, c.input, names[ch], kNameBytes)) {
      names[ch][0] = '\0';
      if (++misses >= kMaxMisses) return false;
      continue;
    }
    misses = 0;
    labelled += names[ch][0] ? 1 : 0;
  }
  {
    std::lock_guard<std::mutex> lock(g_write_mu);
    for (int ch = 0; ch < kChannels; ++ch) g_names[ch].store(names[ch], kNameBytes);
  }
  logf("[names] %d of %d channel(s) labelled", labelled, watch);
  return true;
}

bool own_gain_read(int ch) {
  if (!valid(ch)) return false;
  const PatchChannel c = load_slot(g_ch[ch]);
  const DeskBackend* d = desk();
  double db = 0;
  if (!routed(c) || gain_of(c) == c.input || !d->get_gain || !d->get_gain(c.group, c.input, &db)) {
    return false;
  }
  update(ch, [&](PatchChannel& r) {
    if (r.input != c.input || !same(r.group, c.group)) return;
    r.parked_db = db;
    r.parked_valid = true;
  });
  dlogf("[patch] %s %d parked node holds %.1f dB", c.group, c.input, db);
  return true;
}

void log_gain_ganging() {
  const int watch = watched();
  PatchChannel c[kChannels];
  for (int ch = 0; ch < watch; ++ch) c[ch] = load_slot(g_ch[ch]);
  bool done[kChannels] = {};
  for (int i = 0; i < watch; ++i) {
    if (done[i] || !drives_head_amp(c[i])) continue;
    std::string list;
    int n = 0;
    for (int j = i; j < watch; ++j) {
      if (done[j] || !drives_head_amp(c[j]) || !same(c[j].group, c[i].group) ||
          gain_of(c[j]) != gain_of(c[i])) {
        continue;
      }
      appendf(list, "%s%d(%s %d)", n ? ", " : "", j + 1, c[j].group, c[j].input);
      done[j] = true;
      ++n;
    }
    if (n > 1) {
      logf("[gang] %s %d drives %d LV1 channel(s): %s", c[i].group, gain_of(c[i]), n, list.c_str());
    }
  }
}

// ---- changes from the bridge -------------------------------------------------------------------

void patch_set_mute_state(int ch, int state) {
  const uint8_t bits = state == 1 ? 1 : state == 2 ? 2 : 0;
  update(ch, [&](PatchChannel& c) { c.mute_bits = bits; });
}

void patch_set_mute_bit(int ch, int source, bool muted) {
  if (source != 1 && source != 2) return;
  const uint8_t bit = static_cast<uint8_t>(source);
  update(ch, [&](PatchChannel& c) {
    c.mute_bits = muted ? (c.mute_bits | bit) : (c.mute_bits & ~bit);
  });
}

void patch_set_parked(int ch, double db) {
  update(ch, [&](PatchChannel& c) {
    c.parked_db = db;
    c.parked_valid = true;
  });
}

void patch_drop_preamp(int ch) {
  update(ch, [](PatchChannel& c) { c.has_preamp = false; });
}

void patch_reset() {
  {
    std::lock_guard<std::mutex> lock(g_write_mu);
    for (auto& s : g_ch) store_slot_locked(s, PatchChannel{});
    for (auto& s : g_ranges) store_range_locked(s, RangeRecord{});
    g_n_ranges = 0;
    for (auto& n : g_names) n.store("");
  }
  g_read = false;
  g_read_ms = 0;
  g_card.store("");
  g_tcp_lock = false;
  for (auto& p : g_ports) p = -1;
  g_slots_done = false;
  g_ports_done = false;
  g_card_from_slots = false;
  g_card_switched = false;
}

}  // namespace gm
