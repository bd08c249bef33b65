// The rig the benchmark measures: a temporary home, wingsim on a loopback address of its own with
// a head amp behind every one of LV1's 64 channels, a listening desk client, and the built wing
// module opened with dlopen and driven through its descriptor as the loader and LV1 drive it.
//
// Everything stays on 127.0.0.0/8: the module is given ip=<the desk> and runs with
// GAINMESH_TEST_NO_BROADCAST=1, so it never broadcasts. One Rig per process, one driving thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "bench_host.h"
#include "desk_observer.h"
#include "drive/wingsim_runner.h"
#include "gm_module.h"
#include "status_layout.h"

namespace gmbench {

inline constexpr int kChannels = 64;

// The desk input whose head amp feeds an LV1 channel, and its gain node.
struct DeskChannel {
  std::string group;
  int input = 0;
  std::string gain_path;  // /io/in/<group>/<input>/g
  uint32_t gain_hash = 0;
};

class Rig {
 public:
  Rig() = default;
  ~Rig() { down(); }
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Builds the rig up to the point where the module has seeded LV1 from the desk, has every
  // channel's head amp and receives meter frames. False with one sentence in err.
  bool up(std::string& err);
  // Stops the module, the observer and the desk, and removes the temporary home. Idempotent.
  void down();

  const GmModule* module() const { return module_; }
  BenchHost& host() { return *host_; }
  rig::WingSim& desk() { return *desk_; }
  DeskObserver& observer() { return observer_; }
  const DeskChannel& channel(int ch) const { return channels_[ch]; }

  // VmRSS (KiB) before the module was loaded, and once it had connected and settled.
  long rss_before_kib() const { return rss_before_; }
  long rss_connected_kib() const { return rss_connected_; }

  // Reads the module's status block from its file (no mapping, so the memory figure is not
  // touched). False while the file is missing or short.
  bool read_status(GmConsoleStatus& out) const;

 private:
  bool make_home(std::string& err);
  bool start_desk(std::string& err);
  bool start_module(std::string& err);
  bool wait_connected(std::string& err);

  std::string home_, ip_;
  std::unique_ptr<rig::WingSim> desk_;
  DeskObserver observer_;
  std::unique_ptr<BenchHost> host_;
  void* lib_ = nullptr;
  const GmModule* module_ = nullptr;
  bool started_ = false;
  DeskChannel channels_[kChannels];
  long rss_before_ = -1, rss_connected_ = -1;
};

}  // namespace gmbench
