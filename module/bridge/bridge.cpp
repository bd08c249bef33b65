// The bridge's lifecycle: start, attach and stop, the quit event, and adopting a desk. The two
// module threads live in bridge_discover.cpp and bridge_watch.cpp; the LV1-side rules in
// bridge_set.cpp; the dashboard requests in bridge_control.cpp.
#include "bridge.h"

#include <arpa/inet.h>
#include <time.h>

#include <mutex>

#include "bridge_cfg.h"
#include "bridge_flags.h"
#include "bridge_patch.h"
#include "bridge_state.h"
#include "bridge_status.h"
#include "bridge_threads.h"
#include "desk_wing.h"
#include "gm_win32.h"
#include "host_services.h"
#include "net_util.h"
#include "wing_native.h"

namespace gm {
namespace {

// Thread handles; guarded by g_threads_mu so that no thread is started once a stop has
// collected them.
std::mutex g_threads_mu;
HANDLE g_discover_thread = nullptr;
HANDLE g_watch_thread = nullptr;

void ensure_quit_event() {
  if (bs().quit.load()) return;
  HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE expected = nullptr;
  if (made && !bs().quit.compare_exchange_strong(expected, made)) FindClose(made);
}

bool start_thread(HANDLE& slot, LPTHREAD_START_ROUTINE fn, const char* what) {
  slot = CreateThread(nullptr, 0, fn, nullptr, 0, nullptr);
  if (!slot) logf("[bridge] could not start the %s thread (error %u)", what, GetLastError());
  return slot != nullptr;
}

void log_ip_setting(const CfgValues& cfg) {
  if (cfg.ip.empty()) return;
  if (valid_ipv4(cfg.ip.c_str())) {
    logf("[bridge] ip=%s: asking that address first (bank=%s base=%d)", cfg.ip.c_str(),
         cfg.bank.c_str(), cfg.base);
  } else {
    logf("[bridge] bad ip= in gainmesh.cfg: %s - ignored, searching instead", cfg.ip.c_str());
  }
}

// Back to the first state after a clean stop, so that a later start begins anew.
void rearm() {
  BridgeState& s = bs();
  s.ready = false;
  s.first_seed_done = false;
  s.searching = false;
  s.move_request = false;
  s.identity_recheck = false;
  s.link_stopped = false;
  s.refind_now = false;
  s.find_state = GM_FIND_NORMAL;
  s.ever_replied = false;
  s.recall_pending = false;
  for (auto& c : s.ch) {
    c.known = false;
    c.last_set_ms = 0;
    c.gain_confirm = false;
    c.phantom_to_confirm = -1;
    c.push_gain_pending = c.push_phantom_pending = c.push_mute_pending = false;
    c.push_partner_pending = false;
    c.push_mute_source = 0;
  }
  BridgeFlags& f = bridge_flags();
  f.need_patch = f.need_seed = f.need_names = f.need_modes = false;
  f.seed_quietly = f.in_resync = false;
  f.reread = f.remode = f.revalidate = 0;
  patch_reset();
  s.started = false;
  s.watcher_started = false;
  s.shutdown = false;
}

}  // namespace

BridgeState& bs() {
  static BridgeState state;
  return state;
}

BridgeFlags& bridge_flags() {
  static BridgeFlags flags;
  return flags;
}

bool valid_ipv4(const char* ip) {
  in_addr addr;
  return ip && *ip && inet_pton(AF_INET, ip, &addr) == 1;
}

bool quit_wait(uint32_t ms) {
  if (bs().shutdown.load()) return true;
  HANDLE quit = bs().quit.load();
  if (!quit) {
    struct timespec ts = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
    return bs().shutdown.load();
  }
  return WaitForSingleObject(quit, ms) == WAIT_OBJECT_0 || bs().shutdown.load();
}

bool bridge_shutting_down() { return bs().shutdown.load(); }

void bridge_start() {
  wing_scan_stops_when(bridge_shutting_down);
  if (bs().ready.load()) return;
  std::lock_guard<std::mutex> lock(g_threads_mu);
  if (bs().shutdown.load() || bs().started.load()) return;
  bs().started = true;
  cfg_reset();
  load_cfg();
  shm_init();
  log_ip_setting(cfg_snapshot());
  bs().searching = true;
  logf("[bridge] searching for a %s ...", desk()->family);
  ensure_quit_event();
  start_thread(g_discover_thread, discover_main, "discover");
}

void start_watcher_once() {
  std::lock_guard<std::mutex> lock(g_threads_mu);
  if (bs().shutdown.load()) return;
  bool expected = false;
  if (!bs().watcher_started.compare_exchange_strong(expected, true)) return;
  ensure_quit_event();
  start_thread(g_watch_thread, watch_main, "watch");
}

void bridge_attach(WingGainIface* iface) {
  bs().iface.store(iface);
  start_watcher_once();
}

void bridge_stop() {
  HANDLE threads[2];
  DWORD n = 0;
  wing_scan_stops_when(bridge_shutting_down);
  {
    std::lock_guard<std::mutex> lock(g_threads_mu);
    if (bs().shutdown.exchange(true)) return;
    logf("---- shutting down: stopping threads ----");
    if (HANDLE quit = bs().quit.load()) SetEvent(quit);
    if (g_watch_thread) threads[n++] = g_watch_thread;
    if (g_discover_thread) threads[n++] = g_discover_thread;
    g_watch_thread = g_discover_thread = nullptr;
  }
  const bool ended =
      n == 0 || WaitForMultipleObjects(n, threads, TRUE, kStopWaitMs) == WAIT_OBJECT_0;
  for (DWORD i = 0; i < n; ++i) FindClose(threads[i]);
  bs().iface.store(nullptr);
  desk()->on_push(nullptr);
  desk()->stop();
  desk()->meter_stop();
  if (HANDLE quit = bs().quit.exchange(nullptr)) FindClose(quit);
  if (ended) {
    rearm();
  } else {
    note_thread_left_running();
    logf("---- a thread did not come back; not re-arming ----");
  }
  logf("---- threads stopped ----");
}

void desk_found(const DeskFound& d) {
  {
    std::lock_guard<std::mutex> lock(bs().desk_mu);
    bs().adopted = d;
    bs().label = d.name[0] ? d.name : d.id[0] ? d.id : d.ip;
  }
  shm_init();
  shm_publish_desk(d.ip, desk()->describe());
  if (d.id[0]) {
    logf("[bridge] using %s (%s) - %s %s, id %s", d.ip, desk()->family, d.model, d.name, d.id);
  } else {
    logf("[bridge] using %s (%s) - identity not checked", d.ip, desk()->family);
  }
  desk()->meter_start(d.ip);
  desk()->on_push(on_desk_push);
  desk()->start(d.ip);
}

std::string bridge_desk_label() {
  std::lock_guard<std::mutex> lock(bs().desk_mu);
  return bs().label;
}

DeskFound bridge_adopted() {
  std::lock_guard<std::mutex> lock(bs().desk_mu);
  return bs().adopted;
}

void bridge_request_patch() { bridge_flags().need_patch = true; }

// ---- facts the status block publishes ---------------------------------------------------------

bool bridge_ready() { return bs().ready.load(); }

bool bridge_desk_answering() {
  return bs().ready.load() && bs().ever_replied.load() &&
         now32() - bs().last_reply_ms.load() < kLinkUpMs;
}

bool bridge_patch_read() { return patch_is_read(); }
uint32_t bridge_patch_age_ms() { return patch_age_ms(); }

bool bridge_read_only() {
  return !patch_is_read() || bs().find_state.load() == GM_FIND_LOOKING || patch_tcp_lock();
}

uint32_t bridge_find_state() { return bs().find_state.load(); }
uint64_t bridge_link_moves() { return bs().link_moves.load(); }

IpAnswer bridge_ip_answer() {
  std::lock_guard<std::mutex> lock(bs().desk_mu);
  return bs().ip_answer;
}

void bridge_set_ip_answer(const IpAnswer& answer) {
  std::lock_guard<std::mutex> lock(bs().desk_mu);
  bs().ip_answer = answer;
}

BankRange bridge_bank_range() {
  BankRange out;
  RangeRecord r;
  if (find_range(cfg_bank().c_str(), &r)) {
    out.min_db = r.min_db;
    out.max_db = r.max_db;
    out.step_db = r.step_db;
  }
  return out;
}

bool bridge_channel_facts(int ch, ChannelFacts& out) {
  if (ch < 0 || ch >= kChannels || !patch_is_read()) return false;
  const PatchChannel p = patch_channel(ch);
  out.group = p.group;
  out.input = p.input;
  out.preamp = p.has_preamp;
  out.name = patch_name(ch);
  const char* g = p.group;
  out.has_level = desk()->input_level(g, p.input, &out.level_db);
  out.has_peak = desk()->input_peak(g, p.input, &out.peak_db);
  out.clipped = out.has_level && desk()->input_clipped(g, p.input);
  out.stereo = p.stereo;
  out.mute_bits = p.mute_bits;
  out.is_protected = p.input > 0 && cfg_is_protected(g, p.input);
  out.parked_valid = p.parked_valid;
  out.parked_db = p.parked_db;
  return true;
}

StatusTextFacts bridge_status_facts() {
  StatusTextFacts f;
  f.net_blocked = net_blocked();
  f.find_state = bridge_find_state();
  f.desk_label = bridge_desk_label();
  f.patch_read = patch_is_read();
  f.link_failures = static_cast<int>(desk_link_failures());
  f.tcp_lock = patch_tcp_lock();
  return f;
}

}  // namespace gm
