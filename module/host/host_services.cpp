// The host services of the layers below the entry point: the loader's host table behind
// wrappers, the module's log, and the module-wide counters.
#include "host_services.h"

#include <atomic>
#include <cstdarg>

#include "gm_win32.h"

namespace gm {
namespace {

std::atomic<const GmHost*> g_host{nullptr};
std::atomic<int> g_detail_level{1};
std::atomic<int64_t> g_caps_queries{0};
std::atomic<int> g_caps_lowest{2147483647};
std::atomic<int> g_caps_highest{-1};
std::atomic<uint32_t> g_left_running{0};
std::atomic<uint32_t> g_mac_warnings{0};

const GmHost* host() {
  return g_host.load(std::memory_order_acquire);
}

void vlog(int level, const char* fmt, va_list args) {
  const GmHost* h = host();
  if (!h || !h->log) return;
  char line[1024];
  line[0] = '\0';
  if (_vsnprintf_s(line, sizeof line, _TRUNCATE, fmt, args) < 0 && line[0] == '\0') {
    line[0] = '\0';  // a format error gives an empty line; cut text is kept
  }
  h->log(h->log_ctx, level, line);
}

void lower_to(std::atomic<int>& value, int ch) {
  int seen = value.load();
  while (ch < seen && !value.compare_exchange_weak(seen, ch)) {
  }
}

void raise_to(std::atomic<int>& value, int ch) {
  int seen = value.load();
  while (ch > seen && !value.compare_exchange_weak(seen, ch)) {
  }
}

}  // namespace

void host_install(const GmHost* h) {
  g_host.store(h, std::memory_order_release);
}

void logf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  vlog(1, fmt, args);
  va_end(args);
}

void dlogf(const char* fmt, ...) {
  if (g_detail_level.load(std::memory_order_relaxed) < 2) return;
  va_list args;
  va_start(args, fmt);
  vlog(2, fmt, args);
  va_end(args);
}

int detail_level() {
  return g_detail_level.load(std::memory_order_relaxed);
}
void set_detail_level(int level) {
  g_detail_level.store(level, std::memory_order_relaxed);
}

const wchar_t* gm_cfg_path() {
  const GmHost* h = host();
  return h && h->cfg_path ? h->cfg_path : L"";
}

const wchar_t* gm_instance_tag() {
  const GmHost* h = host();
  return h && h->instance_tag ? h->instance_tag : L"";
}

bool wing_is_injected() {
  const GmHost* h = host();
  return h && h->is_injected && h->is_injected() != 0;
}

const uint8_t* wing_device_mac() {
  // Per thread, so that a caller reading the buffer never races another thread filling it.
  static thread_local uint8_t mac[6];
  const GmHost* h = host();
  if (h && h->device_mac && h->device_mac(mac)) return mac;
  if (g_mac_warnings.fetch_add(1) == 0) {
    logf(
        "[mac] LV1 has not given the device box a MAC yet - LV1 will not be notified until it "
        "does");
  }
  return nullptr;
}

void* wing_common_callback() {
  const GmHost* h = host();
  return h && h->common_callback ? h->common_callback() : nullptr;
}

void wing_push_to_lv1(WingGainIface* iface, int ch, double gain_db, bool set_gain, bool phantom_on,
                      bool set_phantom, bool live) {
  const GmHost* h = host();
  if (!iface || !h || !h->push_to_lv1) return;
  h->push_to_lv1(iface, ch, gain_db, set_gain, phantom_on, set_phantom, live);
}

void wing_refresh_strip(int ch) {
  const GmHost* h = host();
  if (h && h->refresh_strip) h->refresh_strip(ch);
}

void note_caps_query(int ch) {
  g_caps_queries.fetch_add(1);
  lower_to(g_caps_lowest, ch);
  raise_to(g_caps_highest, ch);
}

int64_t caps_query_count() {
  return g_caps_queries.load();
}
int caps_lowest_asked() {
  return g_caps_lowest.load();
}
int caps_highest_asked() {
  return g_caps_highest.load();
}
void caps_reset_range() {
  g_caps_lowest.store(2147483647);
  g_caps_highest.store(-1);
}

void note_thread_left_running() {
  g_left_running.fetch_add(1);
}
uint32_t threads_left_running() {
  return g_left_running.load();
}

}  // namespace gm
