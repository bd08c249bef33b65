// The bridge's lifecycle (start, attach, stop, the quit event and the two module threads) and
// the LV1-side operations. Until a desk has been adopted and read, every LV1 value is held back:
// nothing reaches the desk while which input a channel feeds is unknown.
#include "bridge.h"

#include <arpa/inet.h>

#include <atomic>
#include <mutex>

#include "bridge_cfg.h"
#include "bridge_status.h"
#include "gm_win32.h"
#include "module_entry.h"

namespace gm {
namespace {

constexpr const char* kBackendName = "Behringer WING";

std::atomic<bool> g_ready{false};
std::atomic<bool> g_searching{false};
std::atomic<bool> g_started{false};
std::atomic<bool> g_watcher_started{false};
std::atomic<bool> g_shutdown{false};
std::atomic<bool> g_first_seed_done{false};
std::atomic<bool> g_need_patch{false};
std::atomic<uint32_t> g_find_state{GM_FIND_NORMAL};
std::atomic<uint64_t> g_link_moves{0};
std::atomic<WingGainIface*> g_iface{nullptr};
std::atomic<HANDLE> g_quit{nullptr};
std::atomic<uint8_t> g_known[kChannels];

// Thread handles; guarded by g_threads_mu so that no thread is started once a stop has
// collected them.
std::mutex g_threads_mu;
HANDLE g_discover_thread = nullptr;
HANDLE g_watch_thread = nullptr;

// Session values LV1 handed over, held until the desk has been read.
std::mutex g_recall_mu;
double g_recall_gain[kChannels];
int g_recall_phantom[kChannels];
int g_recall_present[kChannels];
std::atomic<bool> g_recall_pending{false};

bool valid_channel(int ch) { return ch >= 0 && ch < kChannels; }

void ensure_quit_event() {
  if (g_quit.load()) return;
  HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE expected = nullptr;
  if (made && !g_quit.compare_exchange_strong(expected, made)) FindClose(made);
}

bool valid_ipv4(const std::string& ip) {
  in_addr addr;
  return !ip.empty() && inet_pton(AF_INET, ip.c_str(), &addr) == 1;
}

DWORD discover_main(void*) {
  for (int sweep = 0; !g_shutdown.load(); ++sweep) {
    if (sweep % 5 == 0) logf("[bridge] discovery sweep %d ...", sweep + 1);
    cfg_reload_pin();
    shm_note_searching("");
    if (quit_wait(sweep < 15 ? 4000 : 15000)) break;
  }
  return 0;
}

DWORD watch_main(void*) {
  while (!g_ready.load()) {
    if (quit_wait(200)) return 0;
  }
  logf("[bridge] %s -> LV1 watcher started (push-driven, ch 1..%d)", kBackendName, cfg_watch());
  uint64_t last_publish = 0;
  while (!g_shutdown.load() && g_ready.load()) {
    const uint64_t now = gm_now_ms();
    cfg_refresh_live(now);
    if (now - last_publish >= 50) {
      shm_sync();
      last_publish = now;
    }
    if (quit_wait(20)) break;
  }
  return 0;
}

// Starts a module thread; false when the system refused.
bool start_thread(HANDLE& slot, LPTHREAD_START_ROUTINE fn, const char* what) {
  slot = CreateThread(nullptr, 0, fn, nullptr, 0, nullptr);
  if (!slot) logf("[bridge] could not start the %s thread (error %u)", what, GetLastError());
  return slot != nullptr;
}

void log_ip_setting(const CfgValues& cfg) {
  if (cfg.ip.empty()) return;
  if (valid_ipv4(cfg.ip)) {
    logf("[bridge] ip=%s: asking that address first (bank=%s base=%d)", cfg.ip.c_str(),
         cfg.bank.c_str(), cfg.base);
  } else {
    logf("[bridge] bad ip= in gainmesh.cfg: %s - ignored, searching instead", cfg.ip.c_str());
  }
}

// Back to the first state after a clean stop, so that a later start begins anew.
void rearm() {
  g_ready = false;
  g_first_seed_done = false;
  g_searching = false;
  g_find_state = GM_FIND_NORMAL;
  g_need_patch = false;
  g_recall_pending = false;
  for (auto& k : g_known) k = 0;
  g_started = false;
  g_watcher_started = false;
  g_shutdown = false;
}

}  // namespace

bool quit_wait(uint32_t ms) {
  if (g_shutdown.load()) return true;
  HANDLE quit = g_quit.load();
  if (!quit) {
    struct timespec ts = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
    return g_shutdown.load();
  }
  return WaitForSingleObject(quit, ms) == WAIT_OBJECT_0 || g_shutdown.load();
}

bool bridge_shutting_down() { return g_shutdown.load(); }

void bridge_start() {
  if (g_ready.load()) return;
  std::lock_guard<std::mutex> lock(g_threads_mu);
  if (g_shutdown.load() || g_started.load()) return;
  g_started = true;
  cfg_reset();
  load_cfg();
  shm_init();
  log_ip_setting(cfg_snapshot());
  g_searching = true;
  logf("[bridge] searching for a %s ...", kBackendName);
  ensure_quit_event();
  start_thread(g_discover_thread, discover_main, "discover");
}

void bridge_attach(WingGainIface* iface) {
  g_iface.store(iface);
  std::lock_guard<std::mutex> lock(g_threads_mu);
  if (g_shutdown.load()) return;
  bool expected = false;
  if (!g_watcher_started.compare_exchange_strong(expected, true)) return;
  ensure_quit_event();
  start_thread(g_watch_thread, watch_main, "watch");
}

void bridge_stop() {
  HANDLE threads[2];
  DWORD n = 0;
  {
    std::lock_guard<std::mutex> lock(g_threads_mu);
    if (g_shutdown.exchange(true)) return;
    logf("---- shutting down: stopping threads ----");
    if (HANDLE quit = g_quit.load()) SetEvent(quit);
    if (g_watch_thread) threads[n++] = g_watch_thread;
    if (g_discover_thread) threads[n++] = g_discover_thread;
    g_watch_thread = g_discover_thread = nullptr;
  }
  const bool ended = n == 0 || WaitForMultipleObjects(n, threads, TRUE, kStopWaitMs) == WAIT_OBJECT_0;
  for (DWORD i = 0; i < n; ++i) FindClose(threads[i]);
  g_iface.store(nullptr);
  if (HANDLE quit = g_quit.exchange(nullptr)) FindClose(quit);
  if (ended) {
    rearm();
  } else {
    note_thread_left_running();
    logf("---- a thread did not come back; not re-arming ----");
  }
  logf("---- threads stopped ----");
}

void bridge_set_gain(int ch, double gain_db) {
  if (!valid_channel(ch)) return;
  if (!g_first_seed_done.load() && !g_known[ch].load()) {
    logf("SET gain ch=%d %.1f dB  [desk value not read yet - LV1 is still starting, not sent]", ch,
         gain_db);
    return;
  }
  g_known[ch] = 1;
  if (!g_ready.load()) {
    logf("SET gain ch=%d %.1f dB  [no desk yet - not sent]", ch, gain_db);
    bridge_start();
    return;
  }
  logf("SET gain ch=%d %.1f dB  [desk patch not read yet - not sent]", ch, gain_db);
}

void bridge_set_phantom(int ch, bool on) {
  if (!valid_channel(ch)) return;
  if (!g_first_seed_done.load() && !g_known[ch].load()) {
    logf("[48V] ch=%d %d not sent: desk value not read yet - LV1 is still starting", ch, on ? 1 : 0);
    return;
  }
  logf("[48V] REFUSED ch=%d: the desk patch has not been read yet, so which input this is cannot "
       "be known", ch);
}

void bridge_recall(const double gain[64], const int phantom[64], const int present[64]) {
  if (!cfg_session_recall()) {
    logf("[recall] LV1 opened a session with Gainmesh preamp values - not applied "
         "(session_recall=off)");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(g_recall_mu);
    for (int ch = 0; ch < kChannels; ++ch) {
      g_recall_gain[ch] = gain[ch];
      g_recall_phantom[ch] = phantom[ch];
      g_recall_present[ch] = present[ch];
    }
  }
  g_recall_pending = true;
  const char* when = !g_first_seed_done.load() ? "held until the console has been read"
                     : bridge_desk_answering()  ? "applying now"
                                                : "held until the console answers";
  logf("[recall] LV1 opened a session with Gainmesh preamp values - %s", when);
}

bool bridge_has_preamp(int ch) { return valid_channel(ch); }
double bridge_gain_min(int) { return kDefaultGainMin; }
double bridge_gain_max(int) { return kDefaultGainMax; }
double bridge_gain_step(int) { return kDefaultGainStep; }

void bridge_request_patch() { g_need_patch = true; }

bool bridge_ready() { return g_ready.load(); }
bool bridge_desk_answering() { return false; }
bool bridge_patch_read() { return false; }
uint32_t bridge_patch_age_ms() { return 0xFFFFFFFFu; }
bool bridge_read_only() { return !bridge_patch_read(); }
uint32_t bridge_find_state() { return g_find_state.load(); }
uint64_t bridge_link_moves() { return g_link_moves.load(); }
std::string bridge_desk_label() { return ""; }
IpAnswer bridge_ip_answer() { return {}; }
BankRange bridge_bank_range() { return {}; }
bool bridge_channel_facts(int, ChannelFacts&) { return false; }

StatusTextFacts bridge_status_facts() {
  StatusTextFacts f;
  f.find_state = bridge_find_state();
  f.desk_label = bridge_desk_label();
  f.patch_read = bridge_patch_read();
  return f;
}

}  // namespace gm
