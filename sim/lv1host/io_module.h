// The IO module that LV1 loads from its IO Modules folder (the Gainmesh loader), opened with
// dlopen and driven through its table. While none is loaded every call does nothing.
//
// Thread safety: load() and unload() run on the command thread; the forwarding calls may run on
// any thread (capability re-queries arrive on the module's threads). The library is never
// closed: a console module may keep threads running after unload.
#pragma once

#include <atomic>
#include <string>

#include "lv1_io.h"

namespace lv1host {

struct Caps {
  bool preamp = false;
  double min = 0, max = 0, step = 0;  // dB
};

class IoModule {
 public:
  // The executable of Gainmesh.bundle inside the IO Modules folder (GAINMESH_IO_MODULES, else
  // LV1's own folder).
  static std::string default_path();

  // Opens path and calls its entry with LV1's services. False with a sentence in err.
  bool load(const std::string& path, const Lv1HostApi* host, std::string& err);
  bool loaded() const { return table_.load() != nullptr; }

  void set_gain(int type, int ch, double gain_db) const;
  void set_phantom(int type, int ch, bool on) const;
  // False while no IO module is loaded.
  bool caps(int type, int ch, Caps& out) const;
  void recall(int type, const double gain[64], const int phantom[64], const int present[64]) const;
  void rack_changed() const;
  // Stops and unloads every console module (blocks until done); later calls do nothing.
  void unload();

 private:
  std::atomic<const Lv1IoModule*> table_{nullptr};
};

}  // namespace lv1host
