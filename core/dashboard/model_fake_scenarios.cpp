// The named demo scenarios: each one a small edit of the reset record. "Rig" is a console as a
// working rig shows it: LV1 running for ten minutes, the console installed, switched on, found,
// connected, and the loader running its module from a card in a rack slot.
#include <cstring>
#include <string>

#include "model.h"
#include "model_fake.h"

namespace gm {
namespace {

const char* const kLanText =
    "Blocked from the local network - allow eMotion LV1 under Local Network";

void lv1_up(Fake& f, int64_t ms) {
  f.lv1_running = true;
  f.lv1_uptime_ms = ms;
}

void lv1_down(Fake& f) {
  f.lv1_running = false;
  f.lv1_uptime_ms = 0;
}

void installed(FakeCon& c) {
  c.installed = c.enabled = true;
}

void rig(Fake& f, int t) {
  lv1_up(f, 600000);
  FakeCon& c = f.con[t];
  installed(c);
  c.found = c.status_valid = c.connected = true;
  c.loader_ok = c.in_slot = true;
  c.card_kind = t == 0 ? 5 : 3;
  c.running_version = "3.1.0";
}

void rig_silent(Fake& f, int t) {
  rig(f, t);
  f.con[t].connected = false;
}

void both(Fake& f) {
  rig(f, 0);
  rig(f, 1);
}

void modal(Fake& f, const char* name, int con) {
  f.modal = name;
  f.modal_con = con;
}

// The WING rig; the X32 / M32 installed and read by the loader, but no scan found it and the loader
// never saw its card in a rack slot, so nothing says it is there: its card stays hidden.
void unseen(Fake& f) {
  rig(f, 0);
  FakeCon& x = f.con[1];
  installed(x);
  x.loader_ok = true;
  x.card_kind = 3;
  x.running_version = "3.1.0";
}

void not_found(Fake& f) {
  rig(f, 1);
  rig_silent(f, 0);
  f.con[0].found = false;
}

void nothing_addr(Fake& f) {
  lv1_up(f, 600000);
  for (int t = 0; t < 2; ++t) {
    installed(f.con[t]);
    f.con[t].loader_ok = true;
    f.con[t].card_kind = t == 0 ? 5 : 3;
  }
}

void migrate(Fake& f) {
  lv1_up(f, 600000);
  f.legacy_any = true;
  f.con[0].legacy = f.con[1].legacy = true;
  f.con[0].found = f.con[0].status_valid = f.con[0].connected = true;
}

struct Scenario {
  const char* name;
  void (*apply)(Fake&);
};

const Scenario kScenarios[] = {
    {"setup-first", [](Fake& f) { f.con[0].found = true; }},
    {"setup-rig",
     [](Fake& f) {
       both(f);
       f.con[1].in_slot = false;
       f.open[0] = true;
     }},
    {"setup-x32",
     [](Fake& f) {
       rig(f, 1);
       f.con[1].card_kind = 4;
     }},
    {"setup-looking",
     [](Fake& f) {
       rig_silent(f, 0);
       rig_silent(f, 1);
       f.lv1_uptime_ms = 8000;
     }},
    {"setup-off",
     [](Fake& f) {
       f.con[0].installed = f.con[0].found = true;
       installed(f.con[1]);
       f.con[1].status_valid = true;
     }},
    {"setup-trouble",
     [](Fake& f) {
       rig_silent(f, 0);
       rig_silent(f, 1);
       f.con[1].status_text = "Desk refused the control link";
     }},
    {"setup-lost",
     [](Fake& f) {
       rig_silent(f, 0);
       f.con[0].lost = true;
       rig(f, 1);
       f.con[1].load_error = 1;
       f.con[1].module_file = "x32-3.1.1.dylib";
     }},
    {"setup-blocked",
     [](Fake& f) {
       lv1_up(f, 600000);
       f.loader_blocked = true;
       for (FakeCon& c : f.con) {
         installed(c);
         c.found = c.status_valid = true;
       }
     }},
    {"setup-modblocked",
     [](Fake& f) {
       both(f);
       f.con[0].running_version.clear();
       f.con[0].load_error = 1;
       f.con[0].module_file = "wing-3.1.0.dylib";
     }},
    {"setup-choose",
     [](Fake& f) {
       rig_silent(f, 0);
       f.con[0].choice = 4;
     }},
    {"setup-pingone",
     [](Fake& f) {
       rig_silent(f, 0);
       f.con[0].choice = 5;
     }},
    {"setup-extracard",
     [](Fake& f) {
       rig(f, 0);
       f.con[0].extra_cards = 1;
     }},
    {"setup-aes50",
     [](Fake& f) {
       rig(f, 1);
       f.con[1].port_pattern = 1;
       f.open[1] = true;
     }},
    {"setup-aes50-both",
     [](Fake& f) {
       both(f);
       f.con[1].port_pattern = 2;
     }},
    {"setup-noslot",
     [](Fake& f) {
       lv1_up(f, 600000);
       installed(f.con[0]);
       f.con[0].found = f.con[0].loader_ok = true;
       f.con[0].card_kind = 5;
     }},
    {"setup-netblocked",
     [](Fake& f) {
       rig_silent(f, 0);
       rig_silent(f, 1);
       f.con[0].status_text = f.con[1].status_text = kLanText;
     }},
    {"setup-unseen", unseen},
    {"setup-remembered",
     [](Fake& f) {
       unseen(f);
       f.con[1].has_hint = f.con[1].status_valid = true;
     }},
    {"setup-shared",
     [](Fake& f) {
       rig(f, 1);
       installed(f.con[0]);
       f.con[0].found = f.con[0].shared = true;
     }},
    {"setup-translocated",
     [](Fake& f) {
       f.con[0].found = true;
       f.translocated = f.outside_applications = true;
     }},
    {"setup-fromdmg",
     [](Fake& f) {
       f.con[0].found = true;
       f.outside_applications = true;
     }},
    {"setup-adminfree",
     [](Fake& f) {
       rig(f, 0);
       f.admin_free = true;
     }},
    {"setup-lv1off",
     [](Fake& f) {
       f.con[0].found = true;
       f.lv1_net_switch = 0;
     }},
    {"setup-gonedesk",
     [](Fake& f) {
       rig(f, 0);
       rig_silent(f, 1);
       f.con[1].status_text = kLanText;
       f.lv1_net_switch = 1;
     }},
    {"setup-netask", [](Fake& f) { f.net_perm = 1; }},
    {"setup-netwait", [](Fake& f) { f.net_perm = 2; }},
    {"setup-perms",
     [](Fake& f) {
       f.net_perm = 1;
       modal(f, "perms", -1);
     }},
    {"setup-netself", [](Fake& f) { f.net_perm = 3; }},
    {"setup-macos14",
     [](Fake& f) {
       rig(f, 0);
       rig_silent(f, 1);
       f.con[1].status_text = kLanText;
       f.old_macos = true;
       f.lv1_net_switch = -1;
     }},
    {"setup-refind",
     [](Fake& f) {
       rig_silent(f, 0);
       f.con[0].lost = true;
       f.con[0].find_state = 1;
       f.con[0].status_text = "Looking for the desk again at any address";
     }},
    {"setup-moved",
     [](Fake& f) {
       rig(f, 0);
       f.con[0].addr_followed = true;
     }},
    {"setup-ipother",
     [](Fake& f) {
       rig_silent(f, 0);
       FakeCon& w = f.con[0];
       w.find_state = 3;
       w.typed_ip = w.ip = "192.168.1.80";
       w.has_hint = true;
       w.choice = 5;
     }},
    {"setup-ipsilent",
     [](Fake& f) {
       rig(f, 0);
       rig_silent(f, 1);
       FakeCon& x = f.con[1];
       x.found = false;
       x.has_hint = true;
       x.find_state = 2;
       x.typed_ip = x.ip = "192.168.1.90";
     }},
    {"setup-notfound", not_found},
    {"setup-addr",
     [](Fake& f) {
       not_found(f);
       modal(f, "addr", 0);
     }},
    {"setup-addr-set",
     [](Fake& f) {
       both(f);
       f.con[0].ip = "192.168.1.62";
       f.con[0].has_hint = true;
       f.open[0] = true;
     }},
    {"setup-update",
     [](Fake& f) {
       rig(f, 0);
       f.update_waiting = true;
     }},
    {"setup-nothing", [](Fake&) {}},
    {"setup-nothing-addr", nothing_addr},
    {"setup-nothing-addr-open",
     [](Fake& f) {
       nothing_addr(f);
       modal(f, "addr", 1);
     }},
    {"setup-nolv1",
     [](Fake& f) {
       f.lv1_missing = true;
       f.con[0].found = true;
     }},
    {"setup-reopen",
     [](Fake& f) {
       lv1_up(f, 8000);
       installed(f.con[0]);
       f.con[0].found = true;
     }},
    {"setup-migrate", migrate},
    {"setup-cfm-update",
     [](Fake& f) {
       migrate(f);
       lv1_down(f);
       modal(f, "update", -1);
     }},
    {"setup-cfm-off",
     [](Fake& f) {
       both(f);
       modal(f, "off", 0);
     }},
    {"setup-cfm-remove",
     [](Fake& f) {
       for (FakeCon& c : f.con) {
         installed(c);
         c.found = true;
       }
       modal(f, "remove", -1);
     }},
    {"setup-cfm-remove-lv1",
     [](Fake& f) {
       both(f);
       modal(f, "remove", -1);
     }},
};

}  // namespace

bool fake_setup(const char* name) {
  Fake f;
  forget_connected();
  for (const Scenario& s : kScenarios) {
    if (!name || strcmp(name, s.name) != 0) continue;
    f.active = true;
    s.apply(f);
    fake_store(f);
    return true;
  }
  fake_store(f);
  return false;
}

}  // namespace gm
