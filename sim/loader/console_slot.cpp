// Running, replacing and stopping one console type's module, and forwarding LV1's calls to it.
#include "console_slot.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "loader_layout.h"
#include "loader_log.h"

namespace gm_loader {
namespace {

const char* refusal_text(uint32_t code) {
  switch (code) {
    case GM_LOAD_ERR_NO_SIGNATURE:
      return "it has no signature file";
    case GM_LOAD_ERR_BAD_SIGNATURE:
      return "its signature does not verify";
    case GM_LOAD_ERR_DLOPEN:
      return "it could not be loaded";
    case GM_LOAD_ERR_NO_ENTRY:
      return "it has no gm_module_entry";
    case GM_LOAD_ERR_ABI:
      return "it does not speak this loader's module interface";
    case GM_LOAD_ERR_START:
      return "it did not start";
    default:
      return "it failed";
  }
}

// A module's m_stop returns once its threads have signalled their end; each of them still runs
// a few instructions of the module's code on its way out. Its library is unmapped this long
// after m_stop, never sooner.
constexpr auto kUnmapGrace = std::chrono::milliseconds(500);

// 0 when the module's entry and descriptor can be driven by this loader, else the refusal code.
uint32_t descriptor_check(GmModuleEntryFn entry, const GmModule* m) {
  if (!entry) return GM_LOAD_ERR_NO_ENTRY;
  if (!m || m->abi != GM_MODULE_ABI || m->size < sizeof(GmModule) || !m->start || !m->stop) {
    return GM_LOAD_ERR_ABI;
  }
  return 0;
}

// The name under which a verified descriptor is loaded: the open file itself, so that what is
// mapped is exactly what was verified even if the path is replaced meanwhile.
std::string fd_path(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

// A forwarded call: counts itself in flight and sees the module that is live, or none.
class ConsoleSlot::Call {
 public:
  explicit Call(ConsoleSlot& s) : s_(s) {
    s_.in_flight_.fetch_add(1);
    mod = s_.live_.load();
  }
  ~Call() { s_.in_flight_.fetch_sub(1); }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  const GmModule* mod;

 private:
  ConsoleSlot& s_;
};

std::wstring widen(const std::string& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
    uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
    out.push_back(static_cast<wchar_t>(cp));
    i += static_cast<size_t>(n);
  }
  return out;
}

void ConsoleSlot::init(const ConsoleType& type, const std::string& folder,
                       const GmHost& callbacks) {
  if (type_.key) return;  // the table may still be in use by a module left running
  type_ = type;
  folder_ = folder;
  cfg_path_ = widen(folder + "/" + type.key + ".cfg");
  tag_ = type.tag;
  host_ = callbacks;
  host_.abi = GM_MODULE_ABI;
  host_.log_ctx = this;
  host_.cfg_path = cfg_path_.c_str();
  host_.instance_tag = tag_.c_str();
}

std::string ConsoleSlot::running_version() const {
  return running_ ? running_->file.version : "";
}

uint32_t ConsoleSlot::open_module(const ModuleFile& f, const Ed25519Key& key, Loaded& out) {
  const uint32_t code = open_verified(f, key, out);
  if (code != 0) {
    loader_logf("%s: refused %s - %s", type_.key, f.name.c_str(), refusal_text(code));
  }
  return code;
}

uint32_t ConsoleSlot::open_verified(const ModuleFile& f, const Ed25519Key& key, Loaded& out) {
  Loaded l;
  l.file = f;
  l.fd = open(f.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (l.fd < 0) return GM_LOAD_ERR_DLOPEN;
  std::string bytes;
  const SigCheck sig =
      read_fd(l.fd, bytes) ? check_signature(bytes, f.path, key) : SigCheck::kBadSignature;
  if (sig != SigCheck::kOk) {
    close(l.fd);
    return sig == SigCheck::kNoSignature ? GM_LOAD_ERR_NO_SIGNATURE : GM_LOAD_ERR_BAD_SIGNATURE;
  }
  l.handle = dlopen(fd_path(l.fd).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!l.handle) {
    const char* why = dlerror();
    loader_logf("%s: dlopen %s: %s", type_.key, f.name.c_str(), why ? why : "unknown error");
    close(l.fd);
    return GM_LOAD_ERR_DLOPEN;
  }
  auto entry = reinterpret_cast<GmModuleEntryFn>(dlsym(l.handle, GM_MODULE_ENTRY_SYMBOL));
  l.mod = entry ? entry(GM_MODULE_ABI) : nullptr;
  const uint32_t code = descriptor_check(entry, l.mod);
  if (code != 0) {
    unmap(l);
    return code;
  }
  out = std::move(l);
  return 0;
}

uint32_t ConsoleSlot::start(Loaded& l) {
  attached_ = nullptr;
  injected_.store(false);
  if (l.mod->start(&host_) == 0) {
    unmap(l);  // it started nothing
    return GM_LOAD_ERR_START;
  }
  loader_logf("%s: started %s (%s)", type_.key, l.file.name.c_str(), l.file.version.c_str());
  running_ = std::move(l);
  live_.store(running_->mod);
  return 0;
}

void ConsoleSlot::unmap(Loaded& l) {
  const std::string name = fd_path(l.fd);
  dlclose(l.handle);
  if (void* still = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    dlclose(still);  // the library could not be unmapped; its name must stay unique
    return;
  }
  close(l.fd);
}

void ConsoleSlot::reap() {
  for (Retiring& r : retiring_) {
    std::this_thread::sleep_until(r.unmap_at);
    unmap(r.lib);
  }
  retiring_.clear();
}

void ConsoleSlot::retire() {
  live_.store(nullptr);
  while (in_flight_.load() != 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void ConsoleSlot::stop_module() {
  if (!running_) return;
  retire();
  injected_.store(false);
  attached_ = nullptr;
  const int clean = running_->mod->stop();
  loader_logf("%s: stopped %s", type_.key, running_->file.name.c_str());
  if (clean == 1) {
    retiring_.push_back(
        Retiring{std::move(*running_), std::chrono::steady_clock::now() + kUnmapGrace});
  } else {
    // The descriptor stays open too, so that its /proc name is never reused.
    loader_logf("%s: %s keeps a thread running - it stays mapped", type_.key,
                running_->file.name.c_str());
  }
  running_.reset();
}

void ConsoleSlot::stop() {
  stop_module();
  reap();
}

void ConsoleSlot::sync(bool wanted, const Ed25519Key& key) {
  if (!wanted) {
    stop();
    return;
  }
  switch_to_newest(key);
  reap();
}

void ConsoleSlot::switch_to_newest(const Ed25519Key& key) {
  const auto files = list_modules(folder_ + "/modules", type_.key);
  for (size_t tries = 0; tries <= files.size(); ++tries) {
    std::optional<Loaded> next;
    const auto pick = pick_module(files, running_ ? &running_->file : nullptr, refusals_,
                                  [&](const ModuleFile& f) {
                                    Loaded l;
                                    const uint32_t code = open_module(f, key, l);
                                    if (code == 0) next = std::move(l);
                                    return code;
                                  });
    if (!pick || !next) return;  // nothing runnable, or the running module is still the newest
    stop_module();
    const uint32_t code = start(*next);
    if (code == 0) return;
    loader_logf("%s: refused %s - %s", type_.key, pick->name.c_str(), refusal_text(code));
    refusals_.refuse(*pick, code);
  }
}

void ConsoleSlot::attach(WingGainIface* iface) {
  if (!running_ || !iface || iface == attached_ || !running_->mod->attach) return;
  running_->mod->attach(iface);
  attached_ = iface;
  injected_.store(true);
  loader_logf("%s: attached to LV1's device", type_.key);
}

void ConsoleSlot::set_gain(int ch, double gain_db) {
  Call c(*this);
  if (c.mod && c.mod->set_gain) c.mod->set_gain(ch, gain_db);
}

void ConsoleSlot::set_phantom(int ch, int on) {
  Call c(*this);
  if (c.mod && c.mod->set_phantom) c.mod->set_phantom(ch, on);
}

int ConsoleSlot::has_preamp(int ch) {
  Call c(*this);
  return c.mod && c.mod->has_preamp ? c.mod->has_preamp(ch) : 0;
}

double ConsoleSlot::min(int ch) {
  Call c(*this);
  return c.mod && c.mod->min ? c.mod->min(ch) : 0.0;
}

double ConsoleSlot::max(int ch) {
  Call c(*this);
  return c.mod && c.mod->max ? c.mod->max(ch) : 45.0;
}

double ConsoleSlot::step(int ch) {
  Call c(*this);
  return c.mod && c.mod->step ? c.mod->step(ch) : 2.5;
}

void ConsoleSlot::recall(const double gain[64], const int phantom[64], const int present[64]) {
  Call c(*this);
  if (c.mod && c.mod->recall && gain && phantom && present) c.mod->recall(gain, phantom, present);
}

}  // namespace gm_loader
