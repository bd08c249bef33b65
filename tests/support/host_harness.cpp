// The test host and the dlopen loader for the module.
#include "support/host_harness.h"

#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace gm {
// The module's host services, in wing_core; a weak reference, null in tests that only dlopen the
// module.
__attribute__((weak)) void host_install(const GmHost* h);
}  // namespace gm

namespace gmtest {
namespace {
FakeHost* g_current = nullptr;
}

FakeHost::FakeHost() {
  g_current = this;
  host_.abi = GM_MODULE_ABI;
  host_.log_ctx = this;
  host_.cfg_path = L"";
  host_.instance_tag = L"";
  host_.log = &FakeHost::log_cb;
  host_.is_injected = &FakeHost::injected_cb;
  host_.device_mac = &FakeHost::mac_cb;
  host_.common_callback = &FakeHost::common_cb;
  host_.push_to_lv1 = &FakeHost::push_cb;
  host_.refresh_strip = &FakeHost::refresh_cb;
}

FakeHost::~FakeHost() {
  release_background_logs();
  if (g_current == this) g_current = nullptr;
}

void FakeHost::set_cfg_path(const std::wstring& path) {
  cfg_path_ = path;
  host_.cfg_path = cfg_path_.c_str();
}

void FakeHost::set_instance_tag(const std::wstring& tag) {
  tag_ = tag;
  host_.instance_tag = tag_.c_str();
}

void FakeHost::set_mac(const uint8_t mac[6]) {
  std::lock_guard<std::mutex> lock(mu_);
  std::memcpy(mac_, mac, 6);
  have_mac_ = true;
}

void FakeHost::set_injected(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  injected_ = on;
}

void FakeHost::install() {
  if (!gm::host_install) throw std::logic_error("install() needs the module linked in");
  gm::host_install(&host_);
}

std::vector<std::string> FakeHost::lines() const {
  std::lock_guard<std::mutex> lock(mu_);
  return lines_;
}

bool FakeHost::has_line(const std::string& needle) const {
  return count_lines(needle) > 0;
}

int FakeHost::count_lines(const std::string& needle) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& l : lines_) n += l.find(needle) != std::string::npos;
  return n;
}

bool FakeHost::wait_for_line(const std::string& needle, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    for (const auto& l : lines_)
      if (l.find(needle) != std::string::npos) return true;
    return false;
  });
}

std::vector<Push> FakeHost::pushes() const {
  std::lock_guard<std::mutex> lock(mu_);
  return pushes_;
}

void FakeHost::hold_background_logs() {
  std::lock_guard<std::mutex> lock(mu_);
  hold_ = true;
  holder_ = std::this_thread::get_id();
}

void FakeHost::release_background_logs() {
  std::lock_guard<std::mutex> lock(mu_);
  hold_ = false;
  cv_.notify_all();
}

void FakeHost::log_cb(void* ctx, int level, const char* text) {
  auto* self = static_cast<FakeHost*>(ctx);
  std::unique_lock<std::mutex> lock(self->mu_);
  self->cv_.wait(lock, [&] { return !self->hold_ || std::this_thread::get_id() == self->holder_; });
  self->lines_.push_back((level >= 2 ? "(2) " : "") + std::string(text));
  self->cv_.notify_all();
}

int FakeHost::injected_cb() {
  std::lock_guard<std::mutex> lock(g_current->mu_);
  return g_current->injected_ ? 1 : 0;
}

bool FakeHost::mac_cb(uint8_t mac[6]) {
  std::lock_guard<std::mutex> lock(g_current->mu_);
  if (!g_current->have_mac_) return false;
  std::memcpy(mac, g_current->mac_, 6);
  return true;
}

void* FakeHost::common_cb() {
  return nullptr;
}

void FakeHost::push_cb(WingGainIface*, int ch, double gain_db, bool set_gain, bool phantom_on,
                       bool set_phantom, bool live) {
  std::lock_guard<std::mutex> lock(g_current->mu_);
  g_current->pushes_.push_back({ch, gain_db, set_gain, phantom_on, set_phantom, live});
}

void FakeHost::refresh_cb(int) {}

ModuleLib::ModuleLib(const char* path) {
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw std::runtime_error(std::string("dlopen: ") + dlerror());
  entry_ = reinterpret_cast<GmModuleEntryFn>(dlsym(handle, GM_MODULE_ENTRY_SYMBOL));
}

}  // namespace gmtest
