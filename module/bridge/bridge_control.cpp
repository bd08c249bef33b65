// bridge_control: the dashboard's control requests. A client process posts a request in one of
// the status block's eight control slots; the watch thread serves one per cycle through the
// bridge operations, the patch model and the desk backend, and writes the answer into the slot.
//
// Slot protocol: a slot is pending while its sequence is nonzero and differs from its answered
// sequence. The module writes only the answer half: message, result, then the answered sequence
// with a release store, so a client that sees the new answered sequence sees the whole answer.
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "base/text.h"
#include "bridge.h"
#include "bridge_cfg.h"
#include "bridge_flags.h"
#include "bridge_patch.h"
#include "bridge_state.h"
#include "bridge_status.h"
#include "desk_wing.h"
#include "gm_win32.h"
#include "lv1_notify.h"
#include "module_log.h"

namespace gm {
namespace {

constexpr uint32_t kCapModes = 1u << 0;  // the module may change stereo modes
constexpr uint32_t kCapPatch = 1u << 1;  // the module may list groups and re-patch card outputs

constexpr double kRangeSlackDb = 0.01;
constexpr double kNoHandoverDb = -200.0;
constexpr int kMaxInput = 64;

constexpr int kConfirmReads = 6;  // re-patch read-backs
constexpr uint32_t kConfirmGapMs = 60;
constexpr int kPhantomReads = 5;  // 48V read-backs: after 25 ms, then 60 ms apart
constexpr uint32_t kPhantomFirstMs = 25;
constexpr uint32_t kPhantomGapMs = 60;
constexpr int kModeRounds = 5;  // stereo role re-reads
constexpr uint32_t kModeGapMs = 50;
constexpr int kScanMisses = 4;  // consecutive unanswered inputs that end a scan
constexpr uint32_t kScanRetryMs = 15;
constexpr size_t kScanNameBytes = 24;  // 23 characters and the NUL

// One request as the client posted it.
struct Request {
  int slot = -1;
  uint32_t seq = 0;
  uint32_t kind = 0;
  uint32_t channel = 0;
  uint32_t arg = 0;
  uint32_t input = 0;
  double value = 0;
  std::string group;  // at most 7 characters
};

struct Answer {
  uint32_t result = GM_CTL_REFUSED;
  std::string message;
};

// A desk input: group and number.
struct Input {
  std::string group;
  int n = 0;
};

// ---- text and answers -------------------------------------------------------------------------

std::string text(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string text(const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  const int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return n < 0 ? std::string() : std::string(buf);
}

Answer done(std::string message) {
  return {GM_CTL_DONE, std::move(message)};
}
Answer refused(std::string message) {
  return {GM_CTL_REFUSED, std::move(message)};
}
Answer no_desk(std::string message) {
  return {GM_CTL_NO_DESK, std::move(message)};
}

// Logs line at the normal level and answers done with it.
Answer done_logged(const std::string& line) {
  logf("%s", line.c_str());
  return done(line);
}

const char* on_off_log(bool on) {
  return on ? "ON" : "off";
}

bool same(const char* a, const char* b) {
  return a && b && strcasecmp(a, b) == 0;
}

// ---- the slots --------------------------------------------------------------------------------

// Every read of a slot is an acquire load, so that the re-read of the sequence that ends a copy
// cannot be answered before the fields it vouches for.
template <typename T>
T load(const T& field) {
  T v;
  __atomic_load(&field, &v, __ATOMIC_ACQUIRE);
  return v;
}

bool is_pending(const GmCtlSlot& s, uint32_t* seq_out) {
  const uint32_t seq = load(s.seq);
  if (seq_out) *seq_out = seq;
  return seq != 0 && seq != load(s.answered);
}

// Copies the request half; false when the client rewrote the slot meanwhile.
bool copy_request(const GmCtlSlot& s, int slot, uint32_t seq, Request& out) {
  char group[sizeof s.group];
  for (size_t i = 0; i < sizeof group; ++i) group[i] = load(s.group[i]);
  group[sizeof group - 1] = '\0';
  out.slot = slot;
  out.seq = seq;
  out.kind = load(s.kind);
  out.channel = load(s.channel);
  out.arg = load(s.arg);
  out.input = load(s.input);
  out.value = load(s.value);
  out.group = group;
  return load(s.seq) == seq;
}

// The pending slot with the lowest sequence (ties: the lowest slot).
bool next_request(Request& out) {
  bool found = false;
  shm_with_block([&](GmConsoleStatus& b) {
    int best = -1;
    uint32_t best_seq = 0;
    for (int i = 0; i < GM_CTL_SLOTS; ++i) {
      uint32_t seq = 0;
      if (is_pending(b.ctl[i], &seq) && (best < 0 || seq < best_seq)) {
        best = i;
        best_seq = seq;
      }
    }
    found = best >= 0 && copy_request(b.ctl[best], best, best_seq, out);
  });
  return found;
}

void write_answer(const Request& r, const Answer& a) {
  shm_with_block([&](GmConsoleStatus& b) {
    GmCtlSlot& s = b.ctl[r.slot];
    gm_base::copy_text(s.message, sizeof s.message, a.message.c_str());
    __atomic_store_n(&s.result, a.result, __ATOMIC_RELAXED);
    __atomic_store_n(&s.answered, r.seq, __ATOMIC_RELEASE);
  });
}

// True when a slot other than the one being served waits for an answer.
bool newer_request_waiting(const Request& r) {
  bool waiting = false;
  shm_with_block([&](GmConsoleStatus& b) {
    for (int i = 0; i < GM_CTL_SLOTS && !waiting; ++i) {
      waiting = i != r.slot && is_pending(b.ctl[i], nullptr);
    }
  });
  return waiting;
}

// ---- facts the checks use ---------------------------------------------------------------------

const DeskBackend* d() {
  return desk();
}
bool link_up() {
  return d()->connected && d()->connected();
}
int watched() {
  return std::clamp(cfg_watch(), 0, kChannels);
}
bool bridged(uint32_t ch) {
  return ch < static_cast<uint32_t>(watched());
}

bool routed(const PatchChannel& c) {
  return c.input >= 1 && c.group[0] && !same(c.group, "OFF");
}

bool protect_list_empty() {
  char group[8];
  int input = 0;
  return !protect_at(0, group, sizeof group, &input);
}

// The checks gain (6), 48V (7) and verify (10) share.
std::optional<Answer> channel_refusal(const Request& r, const char* no_head_amp) {
  if (!link_up()) return no_desk("the desk is not answering");
  if (!patch_is_read()) return refused("the patch has not been read yet");
  if (!bridged(r.channel)) return refused("that channel is out of range");
  if (!wing_has_preamp(static_cast<int>(r.channel))) return refused(no_head_amp);
  return std::nullopt;
}

// A set the bridge would hold back is refused here, so that the answer never claims a set that
// was not sent.
std::optional<Answer> held_back(int ch) {
  if (!bs().first_seed_done.load() && !bs().ch[ch].known.load()) {
    return refused("the desk's values are not read yet - try again in a moment");
  }
  if (bs().identity_recheck.load()) {
    return refused("checking which console answers after the reconnect - try again in a moment");
  }
  return std::nullopt;
}

Input own_input(int ch) {
  const PatchChannel c = patch_channel(ch);
  return {c.group, c.input};
}

// ---- 6: gain ----------------------------------------------------------------------------------

Answer serve_gain(const Request& r) {
  if (auto no = channel_refusal(r, "this input has no head amp")) return *no;
  const int ch = static_cast<int>(r.channel);
  if (auto no = held_back(ch)) return *no;
  const double v = r.value;
  const bool inside =
      v >= bridge_gain_min(ch) - kRangeSlackDb && v <= bridge_gain_max(ch) + kRangeSlackDb;
  if (!inside) return refused(text("%.1f dB is outside this input's range", v));
  bridge_set_gain(ch, v);
  return done_logged(text("[ctl] gain ch=%d -> %.1f dB (from the dashboard)", ch, v));
}

// ---- 7: 48V -----------------------------------------------------------------------------------

// Switching on is refused for a protected input and for one whose linked partner is protected.
std::optional<Answer> protect_refusal(int ch, const Input& in) {
  if (phantom_protected(in.group.c_str(), in.n)) {
    return refused(text("%s %d is on the 48V protect list - 48V is never switched on here",
                        in.group.c_str(), in.n));
  }
  if (protect_list_empty()) return std::nullopt;
  char pg[8] = "";
  int pn = 0;
  const int partner = phantom_partner_of(ch, pg, &pn);
  if (partner < 0)
    return refused("the desk's input links are not read yet - try again in a moment");
  if (partner > 0 && phantom_protected(pg, pn)) {
    return refused(
        text("the desk switches %s %d's 48V with it, and %s %d is protected", pg, pn, pg, pn));
  }
  return std::nullopt;
}

// Reads 48V back until the desk shows the requested state.
Answer confirm_phantom(int ch, const Input& in, bool on) {
  const char* want = on_off_log(on);
  if (!d()->get_phantom) {
    return done_logged(
        text("[48V] ch=%d -> %s: sent, but this desk cannot read it back to confirm", ch, want));
  }
  int answers = 0;
  bool last = !on;
  for (int i = 0; i < kPhantomReads; ++i) {
    if (quit_wait(i == 0 ? kPhantomFirstMs : kPhantomGapMs)) break;
    bool now = false;
    if (!d()->get_phantom(in.group.c_str(), in.n, &now)) continue;
    ++answers;
    last = now;
    if (now == on) {
      return done_logged(
          text("[ctl] 48V ch=%d -> %s (from the dashboard, confirmed by read-back)", ch, want));
    }
  }
  if (answers == 0) {
    logf("[48V] ch=%d -> %s: NOT CONFIRMED - the desk did not answer the read-back", ch, want);
    return refused(
        text("48V was sent to %s %d but the desk did not answer", in.group.c_str(), in.n));
  }
  logf("[48V] ch=%d -> %s: REFUSED BY THE DESK - it still reads %s", ch, want, on_off_log(last));
  return refused(
      text("the desk did not take 48V %s at %s %d", on ? "on" : "off", in.group.c_str(), in.n));
}

Answer serve_phantom(const Request& r) {
  if (auto no = channel_refusal(r, "this input has no head amp, so no 48V")) return *no;
  const int ch = static_cast<int>(r.channel);
  if (auto no = held_back(ch)) return *no;
  const bool on = r.arg == GM_CTL_ARG_PHANTOM_ON;
  const Input in = own_input(ch);
  if (on) {
    if (auto no = protect_refusal(ch, in)) return *no;
  }
  bridge_set_phantom(ch, on);
  return confirm_phantom(ch, in, on);
}

// ---- 8: protect -------------------------------------------------------------------------------

// The input to protect: the one patched to the channel, or the named one for a negative channel.
std::optional<Answer> protect_target(const Request& r, Input& in) {
  const int32_t ch = static_cast<int32_t>(r.channel);
  if (ch >= 0) {
    const PatchChannel c = patch_channel(ch);
    if (!patch_is_read() || !bridged(r.channel) || !routed(c)) {
      return refused("that channel has no input to protect");
    }
    in = {c.group, c.input};
    return std::nullopt;
  }
  // A name the settings file could not keep is no input of the desk either.
  if (!cfg_group_storable(r.group.c_str()) || r.input < 1 || r.input > kMaxInput) {
    return refused("no input was named to protect");
  }
  in = {r.group, static_cast<int>(r.input)};
  return std::nullopt;
}

std::optional<Answer> phantom_on_refusal(const Input& in) {
  bool on = false;
  if (!link_up() || !d()->get_phantom || !d()->get_phantom(in.group.c_str(), in.n, &on)) {
    return refused(text("could not read 48V at %s %d - not protected", in.group.c_str(), in.n));
  }
  if (on) {
    return refused(text("switch 48V off at %s %d first, then protect it", in.group.c_str(), in.n));
  }
  return std::nullopt;
}

Answer serve_protect(const Request& r) {
  const bool on = r.arg == GM_CTL_ARG_PROTECT;
  Input in;
  if (auto no = protect_target(r, in)) return *no;
  if (on) {
    if (auto no = phantom_on_refusal(in)) return *no;
  }
  if (!protect_set(in.group.c_str(), in.n, on))
    return refused("the protect list is full (32 inputs)");
  const char* g = in.group.c_str();
  return done(
      on ? text("[48V] %s %d is now protected - 48V will never be switched on here", g, in.n)
         : text("[48V] %s %d is no longer protected - 48V can be switched on here again", g, in.n));
}

// ---- 4: group scan ----------------------------------------------------------------------------

struct Scan {
  GmScanRecord rec[GM_MAX_SCAN] = {};
  uint32_t count = 0;
  const char* stopped = "end of the group";
  int abandoned_at = 0;  // the input at which a newer request stopped it; 0 when it did not
};

// One read, tried once more after a short pause when it gets no answer.
template <typename Read>
bool read_twice(Read read) {
  if (read()) return true;
  return !quit_wait(kScanRetryMs) && read();
}

// Fills one record; false when the input did not answer.
bool scan_input(const std::string& group, int n, bool heads, GmScanRecord& rec) {
  const char* g = group.c_str();
  rec.input = static_cast<uint16_t>(n);
  rec.protect = phantom_protected(g, n) ? 1 : 0;
  int type = 2;
  if (heads && d()->get_headamp && !read_twice([&] { return d()->get_headamp(g, n, &type); })) {
    return false;
  }
  rec.headamp = heads && type >= 2 ? 1 : 0;
  char name[kScanNameBytes] = "";
  const bool named = d()->get_input_name &&
                     read_twice([&] { return d()->get_input_name(g, n, name, sizeof name); });
  if (!named && !heads) return false;
  gm_base::copy_text(rec.name, sizeof rec.name, name);
  bool on = false;
  if (rec.headamp && d()->get_phantom && read_twice([&] { return d()->get_phantom(g, n, &on); })) {
    rec.phantom = on ? 1 : 0;
  }
  return true;
}

Scan scan_group(const Request& r) {
  Scan s;
  const char* g = r.group.c_str();
  const int size = r.group.empty() || !d()->group_size ? 0 : d()->group_size(g);
  const bool heads = d()->group_has_preamp && d()->group_has_preamp(g);
  const int last = std::min(size, GM_MAX_SCAN);
  int misses = 0;
  for (int n = 1; n <= last; ++n) {
    if (newer_request_waiting(r)) {
      s.abandoned_at = n;
      return s;
    }
    GmScanRecord rec{};
    if (!scan_input(r.group, n, heads, rec)) {
      if (++misses < kScanMisses) continue;
      s.stopped = "4 consecutive unanswered";
      return s;
    }
    misses = 0;
    s.rec[s.count++] = rec;
  }
  if (size > GM_MAX_SCAN) s.stopped = "hit the cap";
  return s;
}

void publish_scan(const std::string& group, const Scan& s) {
  shm_with_block([&](GmConsoleStatus& b) {
    gm_base::copy_text(b.scan_group, sizeof b.scan_group, group.c_str());
    for (uint32_t i = 0; i < GM_MAX_SCAN; ++i) b.scan[i] = i < s.count ? s.rec[i] : GmScanRecord{};
    b.scan_count = s.count;
    __atomic_store_n(&b.scan_seq, b.scan_seq + 1, __ATOMIC_RELEASE);
  });
}

Answer serve_scan(const Request& r) {
  if (!(d()->caps & kCapPatch)) return refused("this console's card patch is set on the desk");
  if (!link_up()) return no_desk("the desk is not answering");
  const uint64_t start = gm_now_ms();
  const Scan s = scan_group(r);
  if (s.abandoned_at > 0) {
    const std::string line =
        text("[reroute] scan of %s abandoned at %d - a newer request is waiting", r.group.c_str(),
             s.abandoned_at);
    logf("%s", line.c_str());
    return refused(line);
  }
  publish_scan(r.group, s);
  const std::string line =
      text("[reroute] scanned %s: %u input(s) in %lu ms (stopped: %s)", r.group.c_str(), s.count,
           static_cast<unsigned long>(gm_now_ms() - start), s.stopped);
  logf("%s", line.c_str());
  if (s.count == 0) return refused("the desk listed no inputs in that group");
  return done(line);
}

// ---- 9: refresh one scanned input -------------------------------------------------------------

// Where a named input sits in the scan area.
struct ScanHit {
  bool block = false;
  bool group = false;
  int index = -1;
  bool headamp = false;
};

ScanHit find_scanned(const Input& in) {
  ScanHit hit;
  hit.block = shm_with_block([&](GmConsoleStatus& b) {
    char group[sizeof b.scan_group + 1] = {};
    std::memcpy(group, b.scan_group, sizeof b.scan_group);
    hit.group = same(group, in.group.c_str());
    const uint32_t count = std::min<uint32_t>(b.scan_count, GM_MAX_SCAN);
    for (uint32_t i = 0; hit.group && i < count && hit.index < 0; ++i) {
      if (b.scan[i].input != in.n) continue;
      hit.index = static_cast<int>(i);
      hit.headamp = b.scan[i].headamp != 0;
    }
  });
  return hit;
}

// What one channel read of an input found; a value the reply did not hold stays unread.
struct ChannelRead {
  double db = 0;
  bool on = false;
  bool gain_found = false, phantom_found = false;
};

bool read_channel(const char* group, int n, ChannelRead& r) {
  return d()->get_channel(group, n, &r.db, &r.on, &r.gain_found, &r.phantom_found);
}

void update_scanned(int index, const Input& in, const ChannelRead& r) {
  const bool guarded = phantom_protected(in.group.c_str(), in.n);
  shm_with_block([&](GmConsoleStatus& b) {
    GmScanRecord& rec = b.scan[index];
    if (rec.input != in.n) return;
    if (r.gain_found) rec.gain = r.db;
    if (r.phantom_found) rec.phantom = r.on ? 1 : 0;
    rec.protect = guarded ? 1 : 0;
  });
}

Answer serve_refresh(const Request& r) {
  if (!link_up()) return no_desk("the desk is not answering");
  const Input in{r.group, r.input <= kMaxInput ? static_cast<int>(r.input) : 0};
  const ScanHit hit = find_scanned(in);
  if (!hit.block) return refused("no status block");
  if (in.group.empty() || in.n < 1) return refused("no input was named");
  if (!hit.group) return refused("that group is not the one being shown");
  if (hit.index < 0) return refused("that input is not in the list being shown");
  if (!hit.headamp) return done("");
  if (!d()->get_channel) return refused("this desk cannot report a channel");
  ChannelRead read;
  if (!read_channel(in.group.c_str(), in.n, read)) {
    return refused(text("the desk did not answer for %s %d", in.group.c_str(), in.n));
  }
  update_scanned(hit.index, in, read);
  return done(text("%s %d: %.1f dB, 48V %s", in.group.c_str(), in.n, read.db,
                   read.phantom_found ? on_off_log(read.on) : "unread"));
}

// ---- 10: verify -------------------------------------------------------------------------------

// Gain from the gain input and 48V from the own input, in one read when they are the same.
// Returns 0 when the gain was read, else the input that did not answer; a 48V the desk's list
// did not hold is left unread.
int read_values(const std::string& group, int gain_in, int own, ChannelRead& r) {
  const char* g = group.c_str();
  if (gain_in == own && d()->get_channel) {
    return read_channel(g, own, r) && r.gain_found ? 0 : own;
  }
  if (!d()->get_gain || !d()->get_gain(g, gain_in, &r.db)) return gain_in;
  if (!d()->get_phantom || !d()->get_phantom(g, own, &r.on)) return own;
  r.gain_found = r.phantom_found = true;
  return 0;
}

Answer serve_verify(const Request& r) {
  if (auto no = channel_refusal(r, "this input has no head amp")) return *no;
  const int ch = static_cast<int>(r.channel);
  const PatchChannel c = patch_channel(ch);
  const int gain_in = c.gain_input ? c.gain_input : c.input;
  ChannelRead read;
  if (const int silent = read_values(c.group, gain_in, c.input, read)) {
    return refused(text("the desk did not answer for %s %d", c.group, silent));
  }
  shm_publish_gain(ch, read.db);
  if (read.phantom_found) shm_publish_phantom(ch, read.on);
  const std::string line =
      text("[verify] ch=%d %s g=%d/p=%d -> %.1f dB, 48V %s", ch, c.group, gain_in, c.input, read.db,
           read.phantom_found ? on_off_log(read.on) : "unread");
  dlogf("%s", line.c_str());
  return done(line);
}

// ---- 5: re-patch ------------------------------------------------------------------------------

// Re-reads the channel's patch until it shows the target.
bool await_patch(int ch, const Input& to) {
  for (int i = 1; i <= kConfirmReads; ++i) {
    if (quit_wait(kConfirmGapMs)) return false;
    const int r = patch_read_one(ch);
    const PatchChannel now = patch_channel(ch);
    logf("[reroute] confirm %d/%d: patch_read_one=%d, now %s %d", i, kConfirmReads, r, now.group,
         now.input);
    if (same(now.group, to.group.c_str()) && now.input == to.n) return true;
  }
  return false;
}

// What the desk's card output holds now, as raw as it can be read.
void log_readback(const std::string& card, int ch) {
  char grp[32] = "";
  char in[16] = "";
  int input = 0;
  if (d()->get_patch(card.c_str(), ch + 1, grp, sizeof grp, &input)) {
    std::snprintf(in, sizeof in, "%d", input);
  } else {
    grp[0] = '\0';
    if (d()->probe_hash_out)
      d()->probe_hash_out(card.c_str(), ch + 1, "grp", nullptr, grp, sizeof grp);
  }
  logf("[reroute] readback grp = '%s'", grp);
  logf("[reroute] readback in  = '%s'", in);
}

Answer repatched(int ch, const Input& to) {
  const std::string line = text("[reroute] OK: LV1 in %d -> %s %d", ch + 1, to.group.c_str(), to.n);
  logf("%s", line.c_str());
  bs().ch[ch].known = false;
  bridge_flags().need_seed = true;
  bridge_flags().need_names = true;
  const PatchChannel now = patch_channel(ch);
  if (now.has_preamp) learn_range(now.group);
  log_gain_ganging();
  notify_patch_changed();
  return done(line);
}

std::optional<Answer> repatch_refusal(const Request& r) {
  if (!(d()->caps & kCapPatch)) return refused("this console's card patch is set on the desk");
  if (!link_up()) {
    logf("[reroute] REFUSED: desk not connected");
    return no_desk("the desk is not answering");
  }
  if (!patch_is_read()) {
    logf("[reroute] REFUSED: patch not read yet");
    return refused("the patch has not been read yet");
  }
  if (!bridged(r.channel)) {
    logf("[reroute] REFUSED: channel out of range");
    return refused("that channel is out of range");
  }
  if (r.group.empty() || r.input < 1 || r.input > kMaxInput) {
    logf("[reroute] REFUSED: bad target");
    return refused("no target input named");
  }
  if (!d()->set_patch) {
    logf("[reroute] REFUSED: backend has no set_patch");
    return refused("this desk cannot be repatched");
  }
  return std::nullopt;
}

Answer serve_repatch(const Request& r) {
  const std::string card = patch_card();
  logf("[reroute] request: LV1 in %lld -> %s %lld (card %s)", static_cast<long long>(r.channel) + 1,
       r.group.c_str(), static_cast<long long>(r.input), card.c_str());
  if (auto no = repatch_refusal(r)) return *no;
  const int ch = static_cast<int>(r.channel);
  const Input to{r.group, static_cast<int>(r.input)};
  const PatchChannel before = patch_channel(ch);
  if (same(before.group, to.group.c_str()) && before.input == to.n) {
    return done_logged(
        text("[reroute] no-op: LV1 in %d is already on %s %d", ch + 1, to.group.c_str(), to.n));
  }
  logf("[reroute] before: LV1 in %d reads %s %d", ch + 1, before.group, before.input);
  if (!d()->set_patch(card.c_str(), ch + 1, to.group.c_str(), to.n)) {
    logf("[reroute] REFUSED: set_patch() could not send");
    return refused("the desk refused the repatch");
  }
  if (await_patch(ch, to)) return repatched(ch, to);
  log_readback(card, ch);
  logf("[reroute] FAILED: desk did not confirm %s %d for LV1 in %d", to.group.c_str(), to.n,
       ch + 1);
  return refused("the desk did not confirm the repatch");
}

// ---- 1, 2, 3: stereo mode of an input pair ----------------------------------------------------

// The odd input 2k-1 and the even input 2k above it.
struct Pair {
  std::string group;
  int odd = 0;
  int even = 0;
};

void phantom_off_before_link(const Pair& p, int leg) {
  const char* g = p.group.c_str();
  const int holder = ch_for_wing(g, leg);
  if (holder >= 0) {
    bridge_set_phantom(holder, false);
  } else if (d()->set_phantom) {
    d()->set_phantom(g, leg, false);
  }
  logf("[stereo] 48V off at %s %d before link", g, leg);
}

// Kinds 1 and 3 on a head amp: with argument 1 each leg's 48V is switched off first; otherwise a
// link is refused while 48V is on and a leg is protected. Either leg's 48V must be readable.
std::optional<Answer> link_phantom_check(const Request& r, int ch, const Pair& p) {
  const char* g = p.group.c_str();
  const int legs[2] = {p.odd, p.even};
  bool on[2] = {false, false};
  for (int i = 0; i < 2; ++i) {
    if (!d()->get_phantom || !d()->get_phantom(g, legs[i], &on[i])) {
      return refused(text("the desk did not answer for %s %d", g, legs[i]));
    }
  }
  if (r.arg == GM_CTL_ARG_LINK_CLEARING_48V) {
    for (int i = 0; i < 2; ++i) {
      if (on[i]) phantom_off_before_link(p, legs[i]);
    }
    return std::nullopt;
  }
  if (protect_list_empty() || !(on[0] || on[1])) return std::nullopt;
  for (int leg : legs) {
    if (!phantom_protected(g, leg)) continue;
    logf("[stereo] REFUSED link ch=%d %s %d/%d: 48V on with a protected leg", ch, g, p.odd, p.even);
    return refused(text("won't link: 48V is on and %s %d is a protected ribbon input", g, leg));
  }
  return std::nullopt;
}

void unlink_gain_handover(const Pair& p, double db) {
  const char* g = p.group.c_str();
  if (!std::isfinite(db) || !d()->set_gain || !d()->set_gain(g, p.even, db)) return;
  const int holder = ch_for_wing(g, p.even);
  if (holder >= 0) {
    shm_publish_gain(holder, snap_to_range(db, bridge_gain_min(holder), bridge_gain_max(holder),
                                           bridge_gain_step(holder)));
  }
  logf("[stereo] unlink gain handover: %s %d = %.1f dB", g, p.even, db);
}

int expected_role(const char* mode, int input) {
  const bool odd = input % 2 != 0;
  if (std::strcmp(mode, "ST") == 0) return odd ? 1 : 2;
  if (std::strcmp(mode, "M/S") == 0) return odd ? 3 : 4;
  return 0;
}

// Re-reads the roles of the bridged channels on either leg until the channel shows its new role.
void await_role(int ch, const Pair& p, const char* mode) {
  const int want = expected_role(mode, patch_channel(ch).input);
  for (int round = 0; round < kModeRounds; ++round) {
    if (quit_wait(kModeGapMs)) return;
    const int watch = watched();
    for (int c = 0; c < watch; ++c) {
      const PatchChannel pc = patch_channel(c);
      const bool leg = pc.input == p.odd || pc.input == p.even;
      if (leg && same(pc.group, p.group.c_str())) modes_refresh_one(c);
    }
    if (patch_channel(ch).stereo == want) return;
  }
}

std::optional<Answer> stereo_refusal(const Request& r) {
  if (r.channel > 63) return refused("bad channel");
  if (!patch_is_read()) return refused("the desk patch has not been read yet");
  if (!link_up()) return no_desk("the desk link is down");
  if (!(d()->caps & kCapModes)) {
    return refused("this console links stereo on its own channels - set it on the desk");
  }
  if (!bridged(r.channel) || !routed(patch_channel(static_cast<int>(r.channel)))) {
    return refused("bad channel");
  }
  return std::nullopt;
}

Answer serve_stereo(const Request& r) {
  if (auto no = stereo_refusal(r)) return *no;
  const int ch = static_cast<int>(r.channel);
  const PatchChannel c = patch_channel(ch);
  const int odd = c.input % 2 != 0 ? c.input : c.input - 1;
  const Pair p{c.group, odd, odd + 1};
  const bool linking = r.kind == GM_CTL_KIND_LINK || r.kind == GM_CTL_KIND_MID_SIDE;
  if (linking && c.has_preamp) {
    if (auto no = link_phantom_check(r, ch, p)) return *no;
  }
  const char* mode = r.kind == GM_CTL_KIND_MID_SIDE          ? "M/S"
                     : r.arg == GM_CTL_ARG_LINK_CLEARING_48V ? "ST"
                                                             : "M";
  if (!d()->set_mode || !d()->set_mode(c.group, p.odd, mode)) {
    return no_desk("the desk link is down");
  }
  const std::string line =
      text("[stereo] ch=%d %s %d/%d -> %s (arg=%u)", ch, c.group, p.odd, p.even, mode, r.arg);
  logf("%s", line.c_str());
  if (r.kind == GM_CTL_KIND_UNLINK && r.arg == GM_CTL_ARG_UNLINK_HANDOVER && c.has_preamp &&
      r.value > kNoHandoverDb) {
    unlink_gain_handover(p, r.value);
  }
  shm_count_set(gm_now_ms());
  await_role(ch, p, mode);
  log_gain_ganging();
  return done(line);
}

// ---- dispatch ---------------------------------------------------------------------------------

Answer serve(const Request& r) {
  switch (r.kind) {
    case GM_CTL_KIND_LINK:
    case GM_CTL_KIND_UNLINK:
    case GM_CTL_KIND_MID_SIDE:
      return serve_stereo(r);
    case GM_CTL_KIND_SCAN:
      return serve_scan(r);
    case GM_CTL_KIND_REPATCH:
      return serve_repatch(r);
    case GM_CTL_KIND_GAIN:
      return serve_gain(r);
    case GM_CTL_KIND_PHANTOM:
      return serve_phantom(r);
    case GM_CTL_KIND_PROTECT:
      return serve_protect(r);
    case GM_CTL_KIND_REFRESH:
      return serve_refresh(r);
    case GM_CTL_KIND_VERIFY:
      return serve_verify(r);
    default:
      return refused("unknown control op");
  }
}

}  // namespace

bool ctl_pending() {
  bool pending = false;
  shm_with_block([&](GmConsoleStatus& b) {
    for (int i = 0; i < GM_CTL_SLOTS && !pending; ++i) pending = is_pending(b.ctl[i], nullptr);
  });
  return pending;
}

void serve_control_request() {
  Request r;
  if (!next_request(r)) return;
  const Answer a = serve(r);
  write_answer(r, a);
  if (a.result == GM_CTL_DONE) bridge_flags().need_modes = true;
}

}  // namespace gm
