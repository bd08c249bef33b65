// Demo mode: one process-wide record that stands for LV1, the loader, the consoles and the
// installation, filled from a named scenario, so that the whole dashboard can be shown, tested
// and pictured on a machine with none of them.
//
// Threads: the record sits behind its own mutex; fake_setup, fake_record, fake_inputs and
// fake_page_extras may be called from any thread. Blocking: none. Failure: fake_setup returns
// false for a name it does not know.
#pragma once

#include <cstdint>
#include <string>

#include "model.h"

namespace gm {

// What the demo pretends about one console type.
struct FakeCon {
  bool waves_module = true;
  bool installed = false;
  bool enabled = false;
  bool found = false;  // the scan found the console (a fixed sample reply)
  bool has_hint = false;
  bool status_valid = false;  // the module publishes its status block
  bool connected = false;
  bool lost = false;  // the console last answered 125 s ago
  std::string status_text;
  bool loader_ok = false;  // the loader reports this type
  bool in_slot = false;
  uint32_t card_kind = 0;
  std::string running_version;
  uint32_t load_error = 0;
  std::string module_file;
  int32_t choice = 0;  // 4: several answered, 5: the pinned one is missing
  uint32_t extra_cards = 0;
  bool shared = false;
  bool legacy = false;
  int32_t port_pattern = 0;  // X32 / M32: 1 strips on AES50 A, 2 on A and B
  uint32_t find_state = 0;
  bool addr_followed = false;
  std::string typed_ip;
  std::string ip;
};

struct Fake {
  bool active = false;
  bool lv1_running = false;
  bool lv1_missing = false;
  bool loader_blocked = false;
  bool update_waiting = false;
  bool translocated = false;
  bool outside_applications = false;
  bool admin_free = false;
  int32_t lv1_net_switch = -2;
  bool old_macos = false;
  bool legacy_any = false;
  int32_t net_perm = 4;
  int64_t lv1_uptime_ms = 0;
  FakeCon con[2];     // WING, then X32 / M32
  std::string modal;  // "perms", "addr", "off", "remove", "update" or ""
  int32_t modal_con = -1;
  bool open[2] = {false, false};
};

// Resets the record, forgets when each console was last seen connected and applies the named
// scenario. False (and the record left inactive) for a null or unknown name.
bool fake_setup(const char* name);
// A copy of the record as it stands, and its replacement as a whole.
Fake fake_record();
void fake_store(const Fake& f);
// The dialog and expanded cards of the scenario, into the page's demo fields (demo set).
void fake_page_extras(PageExtras& extras);

}  // namespace gm
