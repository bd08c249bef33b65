// The test host: a GmHost whose callbacks record what the module does, and a loader that opens
// the built module with dlopen the way the Gainmesh loader does.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gm_module.h"

namespace gmtest {

struct Push {
  int ch;
  double gain_db;
  bool set_gain, phantom_on, set_phantom, live;
};

// One host at a time per process (the callbacks of GmHost carry no context but the log's).
class FakeHost {
 public:
  FakeHost();
  ~FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  void set_cfg_path(const std::wstring& path);
  void set_instance_tag(const std::wstring& tag);
  void set_mac(const uint8_t mac[6]);  // device_mac answers with it
  void set_injected(bool on);

  const GmHost* table() const { return &host_; }
  // Makes this the in-process module's host without starting anything (static-library tests).
  void install();

  std::vector<std::string> lines() const;
  bool has_line(const std::string& needle) const;
  int count_lines(const std::string& needle) const;
  // Waits until a line containing needle was logged; false after timeout_ms.
  bool wait_for_line(const std::string& needle, int timeout_ms) const;
  std::vector<Push> pushes() const;

  // While held, log calls from threads other than the one that called hold_background_logs
  // block, as a host whose logging hangs would.
  void hold_background_logs();
  void release_background_logs();

 private:
  static void log_cb(void* ctx, int level, const char* text);
  static int injected_cb();
  static bool mac_cb(uint8_t mac[6]);
  static void* common_cb();
  static void push_cb(WingGainIface* iface, int ch, double gain_db, bool set_gain, bool phantom_on,
                      bool set_phantom, bool live);
  static void refresh_cb(int ch);

  GmHost host_{};
  std::wstring cfg_path_, tag_;
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  std::vector<std::string> lines_;
  std::vector<Push> pushes_;
  uint8_t mac_[6] = {};
  bool have_mac_ = false;
  bool injected_ = false;
  bool hold_ = false;
  std::thread::id holder_;
};

// The built wing module, opened with dlopen. Never closed: a module whose thread was left
// running must stay mapped, and tests do not need to unload it.
class ModuleLib {
 public:
  explicit ModuleLib(const char* path = GM_WING_DYLIB);
  GmModuleEntryFn entry() const { return entry_; }
  const GmModule* module() const { return entry_ ? entry_(GM_MODULE_ABI) : nullptr; }

 private:
  GmModuleEntryFn entry_ = nullptr;
};

}  // namespace gmtest
