// Hand-built dashboard snapshots shared by the view-model and page suites.
#pragma once

#include <cstdint>

#include "base/text.h"
#include "model.h"

namespace gm {

// The console type installed, switched on and connected (a format-17 block naming its desk) in a
// running LV1.
inline void connect(Inputs& in, int type) {
  in.lv1_running = true;
  in.waves_module[type] = in.installed[type] = in.enabled[type] = true;
  ConStatus& st = in.status[type];
  st.valid = true;
  st.connected = 1;
  st.version = 17;
  gm_base::copy_text(st.identity, type == 0 ? "WING,10.0.0.5,Stage,wing-rack,S123,3.1-0-gabc:rel"
                                            : "X32,10.0.0.6,FOH,X32 Rack,4.06");
}

// The loader's entry for the console type.
inline void loader_entry(Inputs& in, int type, bool in_slot, const char* running, uint32_t error,
                         const char* file = "") {
  in.loader_ok = true;
  GmLoaderConsole& e = in.loader.consoles[type];
  gm_base::copy_text(e.key, type == 0 ? "wing" : "x32");
  e.in_slot = in_slot;
  gm_base::copy_text(e.running_version, running);
  e.load_error = error;
  gm_base::copy_text(e.module_file, file);
}

}  // namespace gm
