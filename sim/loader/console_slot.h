// One console type inside the loader: the module that runs for it, the host table handed to
// that module, LV1's calls forwarded to it, and the switch to a newer verified module.
//
// Threads: sync / attach / stop and the accessors marked "loader thread" run on one thread at a
// time (the rescan thread, or LV1's thread at entry and unload). The forwarding calls run on any
// LV1 thread, concurrently with them; they reach a module only between its m_start and the
// moment the loader begins to stop it.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "gm_module.h"
#include "module_pick.h"
#include "signature.h"

namespace gm_loader {

struct ConsoleType {
  int index;                // 0 = WING, 1 = X32 / M32
  const char* key;          // "wing" / "x32"
  const wchar_t* tag;       // status block suffix
  const char* card_bundle;  // Waves' IO module bundle for the card
};

class ConsoleSlot {
 public:
  ConsoleSlot() = default;
  ConsoleSlot(const ConsoleSlot&) = delete;
  ConsoleSlot& operator=(const ConsoleSlot&) = delete;

  // Sets the type, the loader's folder and the host callbacks (log_ctx, cfg_path and
  // instance_tag are filled in here). Loader thread, while no module runs; only the first call
  // counts. The host table stays valid for the life of the process.
  void init(const ConsoleType& type, const std::string& folder, const GmHost& callbacks);

  // Loader thread. Wanted: runs the newest module of the modules folder that verifies with
  // `key`, replacing the running one when a newer one appears. Not wanted: stops it.
  void sync(bool wanted, const Ed25519Key& key);
  // Loader thread. Hands LV1's gain structure to the running module (once per structure).
  void attach(WingGainIface* iface);
  // Loader thread. Stops and unloads the running module, if any. Blocks until its library is
  // unmapped (at most the unmap grace after its m_stop).
  void stop();

  // Loader thread.
  const ConsoleType& type() const { return type_; }
  std::string running_version() const;
  const Refusals& refusals() const { return refusals_; }

  // Any thread.
  bool injected() const { return injected_.load(); }
  void set_gain(int ch, double gain_db);
  void set_phantom(int ch, int on);
  int has_preamp(int ch);
  double min(int ch);
  double max(int ch);
  double step(int ch);
  void recall(const double gain[64], const int phantom[64], const int present[64]);

 private:
  struct Loaded {
    ModuleFile file;
    int fd = -1;
    void* handle = nullptr;
    const GmModule* mod = nullptr;
  };
  class Call;

  struct Retiring {
    Loaded lib;
    std::chrono::steady_clock::time_point unmap_at;
  };

  // Verifies and maps `f` without starting it; 0 or a refusal code (logged).
  uint32_t open_module(const ModuleFile& f, const Ed25519Key& key, Loaded& out);
  uint32_t open_verified(const ModuleFile& f, const Ed25519Key& key, Loaded& out);
  uint32_t start(Loaded& l);
  void switch_to_newest(const Ed25519Key& key);
  void stop_module();
  void unmap(Loaded& l);
  void reap();
  void retire();

  ConsoleType type_{};
  std::string folder_;
  std::wstring cfg_path_, tag_;
  GmHost host_{};
  std::optional<Loaded> running_;
  std::vector<Retiring> retiring_;  // stopped, to be unmapped once their threads have left
  WingGainIface* attached_ = nullptr;
  Refusals refusals_;

  std::atomic<const GmModule*> live_{nullptr};
  std::atomic<int> in_flight_{0};
  std::atomic<bool> injected_{false};
};

// UTF-8 to a wide string (one wchar_t per code point).
std::wstring widen(const std::string& s);

}  // namespace gm_loader
