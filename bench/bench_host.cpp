// The benchmark's host table and LV1 strips.
#include "bench_host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>

#include "measure.h"

namespace gmbench {
namespace {

constexpr size_t kLogLines = 200;
BenchHost* g_host = nullptr;

}  // namespace

BenchHost::BenchHost(const std::wstring& cfg_path) : cfg_path_(cfg_path) {
  g_host = this;
  host_.abi = GM_MODULE_ABI;
  host_.log_ctx = this;
  host_.cfg_path = cfg_path_.c_str();
  host_.instance_tag = L"";
  host_.log = &BenchHost::log_cb;
  host_.is_injected = &BenchHost::injected_cb;
  host_.device_mac = &BenchHost::mac_cb;
  host_.common_callback = &BenchHost::common_cb;
  host_.push_to_lv1 = &BenchHost::push_cb;
  host_.refresh_strip = &BenchHost::refresh_cb;
  // Room for every value the run shows, so that the memory figure does not count our own growth.
  shown_.reserve(1 << 16);
}

BenchHost::~BenchHost() {
  if (g_host == this) g_host = nullptr;
}

// The module reads the gain structure from its own threads while LV1 writes it.
void BenchHost::show_gain(int ch, double db) {
  strip_gain_[ch] = db;
  std::atomic_ref<double>(iface_.gain[ch]).store(db, std::memory_order_relaxed);
}

void BenchHost::turn_gain(const GmModule* m, int ch, double db) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    show_gain(ch, db);
  }
  m->set_gain(ch, db);
}

int64_t BenchHost::wait_live_gain(int ch, double db, int64_t since_ns, int timeout_ms) {
  std::unique_lock<std::mutex> lock(mu_);
  int64_t at = -1;
  cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    for (auto it = shown_.rbegin(); it != shown_.rend() && it->at_ns >= since_ns; ++it) {
      if (it->ch == ch && it->live && std::fabs(it->db - db) < 0.01) at = it->at_ns;
    }
    return at >= 0;
  });
  return at;
}

double BenchHost::strip_gain(int ch) const {
  std::lock_guard<std::mutex> lock(mu_);
  return strip_gain_[ch];
}

bool BenchHost::wait_for_line(const std::string& needle, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return std::any_of(log_.begin(), log_.end(),
                       [&](const std::string& l) { return l.find(needle) != std::string::npos; });
  });
}

std::string BenchHost::recent_log() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::string out;
  for (const std::string& l : log_) out += l + "\n";
  return out;
}

void BenchHost::log_cb(void* ctx, int, const char* text) {
  auto* self = static_cast<BenchHost*>(ctx);
  {
    std::lock_guard<std::mutex> lock(self->mu_);
    self->log_.emplace_back(text ? text : "");
    if (self->log_.size() > kLogLines) self->log_.pop_front();
  }
  self->cv_.notify_all();
}

int BenchHost::injected_cb() {
  return 1;
}

bool BenchHost::mac_cb(uint8_t mac[6]) {
  const uint8_t box[6] = {0x00, 0x1c, 0xab, 0x00, 0x00, 0x01};
  std::memcpy(mac, box, sizeof box);
  return true;
}

void* BenchHost::common_cb() {
  return nullptr;
}

void BenchHost::push_cb(WingGainIface*, int ch, double gain_db, bool set_gain, bool, bool,
                        bool live) {
  BenchHost* self = g_host;
  if (!self || ch < 0 || ch >= 64 || !set_gain || !std::isfinite(gain_db)) return;
  const int64_t at = now_ns();
  {
    std::lock_guard<std::mutex> lock(self->mu_);
    self->show_gain(ch, gain_db);
    self->shown_.push_back({ch, gain_db, live, at});
  }
  self->cv_.notify_all();
}

void BenchHost::refresh_cb(int) {}

}  // namespace gmbench
