// The loader stand-in: the executable of Gainmesh.bundle that LV1 loads as an IO module. It runs
// the console modules found beside it, hands them LV1's services, forwards LV1's calls to them,
// takes up new module files while LV1 runs and publishes what it does in the loader status block.
//
// Exported: lv1_io_module_entry only (see lv1_io.h).
#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/modules_changed.h"
#include "base/paths.h"
#include "base/release_key.h"
#include "console_slot.h"
#include "loader_log.h"
#include "lv1_io.h"
#include "state_cfg.h"
#include "status_block.h"

namespace gm_loader {
namespace {

using Clock = std::chrono::steady_clock;

// Rescans without a notification come at least this often.
constexpr auto kRescanEvery = std::chrono::seconds(2);

constexpr ConsoleType kTypes[2] = {
    {0, "wing", L"", "SoundGrid Wing Control"},
    {1, "x32", L"-x32", "SoundGrid X-WSG Control"},
};

// LV1's services: a copy made at each entry. Copies are kept until the process ends, because a
// module thread left running may still read one.
std::mutex g_entry_mu;  // entry, rack_changed and unload
std::atomic<const Lv1HostApi*> g_api{nullptr};
std::vector<std::unique_ptr<Lv1HostApi>> g_api_copies;  // guarded by g_entry_mu
ConsoleSlot g_slots[2];

// ---- host callbacks handed to the modules (GmHost carries no context but the log's) ----------

void host_log(void* ctx, int /*level*/, const char* text) {
  const auto* slot = static_cast<const ConsoleSlot*>(ctx);
  log_line(slot ? slot->type().key : "?", text ? text : "");
}

template <int T>
int host_is_injected() {
  return g_slots[T].injected() ? 1 : 0;
}

template <int T>
bool host_device_mac(uint8_t mac[6]) {
  const Lv1HostApi* a = g_api.load();
  return a && a->device_mac && mac && a->device_mac(a->ctx, T, mac);
}

template <int T>
void* host_common_callback() {
  const Lv1HostApi* a = g_api.load();
  return a && a->common_callback ? a->common_callback(a->ctx) : nullptr;
}

template <int T>
void host_push(WingGainIface* /*iface*/, int ch, double gain_db, bool set_gain, bool phantom_on,
               bool set_phantom, bool live) {
  const Lv1HostApi* a = g_api.load();
  if (a && a->push) a->push(a->ctx, T, ch, gain_db, set_gain, phantom_on, set_phantom, live);
}

template <int T>
void host_refresh_strip(int ch) {
  const Lv1HostApi* a = g_api.load();
  if (a && a->refresh_strip) a->refresh_strip(a->ctx, T, ch);
}

template <int T>
GmHost host_callbacks() {
  GmHost h{};
  h.log = host_log;
  h.is_injected = host_is_injected<T>;
  h.device_mac = host_device_mac<T>;
  h.common_callback = host_common_callback<T>;
  h.push_to_lv1 = host_push<T>;
  h.refresh_strip = host_refresh_strip<T>;
  return h;
}

// ---- the loader's own folder -----------------------------------------------------------------

std::string own_folder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&own_folder), &info) || !info.dli_fname) return "";
  std::string path = info.dli_fname;
  if (path.empty()) return "";
  if (path[0] != '/') {
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return "";
    path = std::string(cwd) + "/" + path;
  }
  return gm_base::parent_dir(path);
}

bool is_dir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---- the runtime: rescans, the rack and the status block -------------------------------------

class Runtime {
 public:
  // LV1's thread. Reads the folder, starts the wanted modules and the rescan thread.
  void start(const std::string& folder);
  // LV1's thread. Ends the rescan thread, stops every module, closes the status block.
  void stop();
  // Any thread: LV1's rack changed.
  void rack_changed();

 private:
  void run();
  void rescan();
  void attach_all();
  void publish();
  void wake();

  std::string folder_, iom_;
  Ed25519Key key_;
  StatusBlock block_;
  gm_base::ModulesChangedWatch watch_;
  ConsoleEntry entries_[2];
  uint32_t rescans_ = 0;
  int wake_fd_ = -1;
  std::atomic<bool> quit_{false}, rack_dirty_{false};
  std::thread thread_;
};

void Runtime::start(const std::string& folder) {
  folder_ = folder;
  iom_ = gm_base::parent_dir(gm_base::parent_dir(gm_base::parent_dir(folder)));
  if (!key_.load_public_raw(gm_base::kGainmeshReleaseKey)) {
    loader_logf("the built-in release key is not an Ed25519 public key - no module will load");
  }
  std::string err;
  if (!block_.open(gm_base::run_dir(), GM_LOADER_VERSION, err)) loader_logf("%s", err.c_str());
  watch_.open(gm_base::run_dir());
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  loader_logf("loader %s started in %s", GM_LOADER_VERSION, folder.c_str());
  rescan();
  thread_ = std::thread([this] { run(); });
}

void Runtime::stop() {
  quit_.store(true);
  wake();
  if (thread_.joinable()) thread_.join();
  for (ConsoleSlot& slot : g_slots) slot.stop();
  for (int t = 0; t < 2; ++t) {
    entries_[t].running_version.clear();
    block_.write(t, entries_[t]);
  }
  block_.close();
  watch_.close();
  if (wake_fd_ >= 0) close(wake_fd_);
  wake_fd_ = -1;
  loader_logf("loader stopped");
}

void Runtime::rack_changed() {
  rack_dirty_.store(true);
  wake();
}

void Runtime::wake() {
  const uint64_t one = 1;
  if (wake_fd_ >= 0 && write(wake_fd_, &one, sizeof one) < 0) {
    // the counter is full: the thread is already due to wake
  }
}

void Runtime::run() {
  auto next_scan = Clock::now() + kRescanEvery;
  while (!quit_.load()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(next_scan - Clock::now());
    pollfd fds[2] = {{watch_.fd(), POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    poll(fds, 2, static_cast<int>(left.count() > 0 ? left.count() : 0));
    if (quit_.load()) break;
    uint64_t count;
    if (read(wake_fd_, &count, sizeof count) < 0) count = 0;
    const bool notified = watch_.drain();
    if (notified || Clock::now() >= next_scan) {
      rescan();
      next_scan = Clock::now() + kRescanEvery;
    } else if (rack_dirty_.exchange(false)) {
      attach_all();
      publish();
    }
  }
}

void Runtime::rescan() {
  rack_dirty_.store(false);
  ++rescans_;
  for (int t = 0; t < 2; ++t) {
    const ConsoleState state = read_console_state(folder_ + "/state.cfg", kTypes[t].key);
    entries_[t].enabled = state.enabled;
    g_slots[t].sync(state.wanted(), key_);
  }
  attach_all();
  publish();
}

void Runtime::attach_all() {
  const Lv1HostApi* a = g_api.load();
  if (!a || !a->gain_iface) return;
  for (int t = 0; t < 2; ++t) g_slots[t].attach(a->gain_iface(a->ctx, t));
}

void Runtime::publish() {
  const Lv1HostApi* a = g_api.load();
  for (int t = 0; t < 2; ++t) {
    ConsoleEntry& e = entries_[t];
    const ConsoleSlot& slot = g_slots[t];
    e.key = kTypes[t].key;
    e.module_present = is_dir(iom_ + "/" + kTypes[t].card_bundle + ".bundle");
    e.in_slot = a && a->card_in_slot && a->card_in_slot(a->ctx, t) != 0;
    e.card_kind = a && a->card_kind ? a->card_kind(a->ctx, t) : 0;
    e.extra_cards = a && a->extra_cards ? a->extra_cards(a->ctx, t) : 0;
    e.running_version = slot.running_version();
    e.load_error = slot.refusals().load_error();
    e.error_code = slot.refusals().error_code();
    e.module_file = slot.refusals().module_file();
    block_.write(t, e);
  }
  block_.set_rescans(rescans_);
}

// ---- the table LV1 calls ---------------------------------------------------------------------

Runtime* g_runtime = nullptr;  // guarded by g_entry_mu

ConsoleSlot* slot_of(int type) {
  return type == 0 || type == 1 ? &g_slots[type] : nullptr;
}

void io_set_gain(int type, int ch, double gain_db) {
  if (ConsoleSlot* s = slot_of(type)) s->set_gain(ch, gain_db);
}
void io_set_phantom(int type, int ch, int on) {
  if (ConsoleSlot* s = slot_of(type)) s->set_phantom(ch, on);
}
int io_has_preamp(int type, int ch) {
  ConsoleSlot* s = slot_of(type);
  return s ? s->has_preamp(ch) : 0;
}
double io_min(int type, int ch) {
  ConsoleSlot* s = slot_of(type);
  return s ? s->min(ch) : 0.0;
}
double io_max(int type, int ch) {
  ConsoleSlot* s = slot_of(type);
  return s ? s->max(ch) : 45.0;
}
double io_step(int type, int ch) {
  ConsoleSlot* s = slot_of(type);
  return s ? s->step(ch) : 2.5;
}
void io_recall(int type, const double gain[64], const int phantom[64], const int present[64]) {
  if (ConsoleSlot* s = slot_of(type)) s->recall(gain, phantom, present);
}

void io_rack_changed() {
  std::lock_guard<std::mutex> lock(g_entry_mu);
  if (g_runtime) g_runtime->rack_changed();
}

void io_unload() {
  std::lock_guard<std::mutex> lock(g_entry_mu);
  if (!g_runtime) return;
  g_runtime->stop();
  delete g_runtime;
  g_runtime = nullptr;
  g_api.store(nullptr);
}

const Lv1IoModule kTable = {
    LV1_IO_ABI, io_set_gain, io_set_phantom, io_has_preamp,   io_min,
    io_max,     io_step,     io_recall,      io_rack_changed, io_unload,
};

const Lv1IoModule* entry(const Lv1HostApi* host) {
  if (!host || host->abi != LV1_IO_ABI) return nullptr;
  std::lock_guard<std::mutex> lock(g_entry_mu);
  if (g_runtime) return &kTable;
  const std::string folder = own_folder();
  if (folder.empty()) return nullptr;
  g_api_copies.push_back(std::make_unique<Lv1HostApi>(*host));
  g_api.store(g_api_copies.back().get());
  g_slots[0].init(kTypes[0], folder, host_callbacks<0>());
  g_slots[1].init(kTypes[1], folder, host_callbacks<1>());
  g_runtime = new Runtime;
  g_runtime->start(folder);
  return &kTable;
}

}  // namespace
}  // namespace gm_loader

extern "C" __attribute__((visibility("default"))) const Lv1IoModule* lv1_io_module_entry(
    const Lv1HostApi* host) {
  try {
    return gm_loader::entry(host);
  } catch (...) {
    return nullptr;
  }
}
