// The demo record and the snapshot built from it: sample discovery replies, status blocks and
// loader entries shaped like the ones a real rig publishes.
#include "model_fake.h"

#include <cstring>
#include <mutex>
#include <string>

#include "base/text.h"
#include "model.h"

namespace gm {
namespace {

// Sample identities; the addresses are text only, nothing is ever sent to them.
const char* const kFoundLine[2] = {"WING,192.168.1.62,FOH,wing-rack,S2207-0001842,3.1-g5a1c7e2",
                                   "X32,192.168.1.63,Monitors,M32C,4.06"};
const char* const kLv1Version = "12.5.1";
const char* const kLoaderVersion = "3.1.0";
const char* const kKey[2] = {"wing", "x32"};
const char* const kAnswerId = "S2207-0007731";
const char* const kAnswerName = "Broadcast";

std::mutex g_mu;
Fake g_fake;

template <size_t N>
void put(char (&field)[N], const std::string& text) {
  gm_base::copy_text(field, text);
}

void add_strip(ConStatus& st, int& i, bool local, const char* group, uint32_t number) {
  st.strip_local[i] = local ? 1 : 0;
  put(st.strip_group[i], group);
  st.strip_number[i] = number;
  ++i;
}

void fill_strips(int type, const FakeCon& c, ConStatus& st) {
  int i = 0;
  if (type == 0) {
    for (uint32_t n = 1; n <= 24; ++n) add_strip(st, i, true, "LCL", n);
    for (uint32_t n = 1; n <= 14; ++n) add_strip(st, i, true, "A", n);
  } else if (c.port_pattern == 1) {
    for (uint32_t n = 1; n <= 32; ++n) add_strip(st, i, false, "A", n);
    st.port_count = 1;
    st.ports[0] = {"A", 0, 32};
  } else if (c.port_pattern == 2) {
    for (uint32_t n = 1; n <= 16; ++n) add_strip(st, i, false, "A", n);
    for (uint32_t n = 1; n <= 16; ++n) add_strip(st, i, false, "B", n);
    st.port_count = 2;
    st.ports[0] = {"A", 0, 16};
    st.ports[1] = {"B", 0, 16};
  } else {
    for (uint32_t n = 1; n <= 16; ++n) add_strip(st, i, true, "LCL", n);
  }
}

void fill_candidates(int type, const FakeCon& c, ConStatus& st) {
  st.choice = c.choice;
  st.cand_count = 2;
  ConCandidate& a = st.candidates[0];
  ConCandidate& b = st.candidates[1];
  put(a.address, type == 0 ? "192.168.1.70" : "192.168.1.71");
  put(a.name, type == 0 ? "Stage Left" : "Sidefill");
  put(a.model, type == 0 ? "wing" : "X32");
  put(a.id, type == 0 ? "S2207-0005120" : "X32-0A41C2");
  a.sg_card = 1;
  put(b.address, type == 0 ? "192.168.1.80" : "192.168.1.81");
  put(b.name, kAnswerName);
  put(b.model, type == 0 ? "wing-compact" : "X32C");
  put(b.id, type == 0 ? kAnswerId : "X32-0B7710");
  b.sg_card = 0;
  if (c.choice == 5) put(st.pinned, type == 0 ? "S2207-0001842" : "X32-0C0233");
}

ConStatus fake_status(int type, const FakeCon& c) {
  ConStatus st = {};
  st.valid = true;
  st.version = 17;
  st.connected = c.connected ? 1 : 0;
  put(st.text, c.status_text);
  st.find_state = c.find_state;
  st.addr_followed = c.addr_followed ? 1 : 0;
  put(st.typed_ip, c.typed_ip);
  if (c.find_state == 3) {
    put(st.answer_id, kAnswerId);
    put(st.answer_name, kAnswerName);
  }
  if (c.connected) {
    put(st.identity, kFoundLine[type]);
    fill_strips(type, c, st);
  }
  if (c.choice != 0) fill_candidates(type, c, st);
  return st;
}

void fill_loader_entry(int type, const FakeCon& c, GmLoaderConsole& le) {
  put(le.key, kKey[type]);
  le.enabled = c.enabled ? 1 : 0;
  le.module_present = c.waves_module ? 1 : 0;
  le.in_slot = c.in_slot ? 1 : 0;
  le.card_kind = c.card_kind;
  put(le.running_version, c.running_version);
  le.load_error = c.load_error;
  le.error_code = c.load_error ? GM_LOAD_ERR_BAD_SIGNATURE : 0;
  put(le.module_file, c.module_file);
}

}  // namespace

Fake fake_record() {
  std::lock_guard<std::mutex> lock(g_mu);
  return g_fake;
}

void fake_store(const Fake& f) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_fake = f;
}

void fake_page_extras(PageExtras& x) {
  const Fake f = fake_record();
  x.demo = true;
  x.fake_modal = f.modal;
  x.fake_modal_con = f.modal_con;
  x.fake_open[0] = f.open[0];
  x.fake_open[1] = f.open[1];
}

Inputs fake_inputs() {
  const Fake f = fake_record();
  Inputs in;
  in.lv1_installed = !f.lv1_missing;
  in.lv1_version = f.lv1_missing ? "" : kLv1Version;
  in.lv1_running = f.lv1_running;
  in.lv1_uptime_ms = f.lv1_running ? f.lv1_uptime_ms : -1;
  in.loader_blocked = f.loader_blocked;
  in.update_waiting = f.update_waiting;
  in.translocated = f.translocated;
  in.outside_applications = f.outside_applications;
  in.needs_admin = !f.admin_free;
  in.lv1_net_switch = f.lv1_net_switch;
  in.ln_privacy = !f.old_macos;
  in.legacy_any = f.legacy_any;
  in.net_perm = f.net_perm;
  in.loader_ok = f.lv1_running && !f.loader_blocked && (f.con[0].loader_ok || f.con[1].loader_ok);
  if (in.loader_ok) {
    in.loader.magic = GM_LOADER_MAGIC;
    in.loader.size = GM_LOADER_READ_BYTES;
    put(in.loader.loader_version, kLoaderVersion);
  }
  for (int t = 0; t < 2; ++t) {
    const FakeCon& c = f.con[t];
    if (in.loader_ok && c.loader_ok) fill_loader_entry(t, c, in.loader.consoles[t]);
    if (in.loader_ok) in.loader.extra_cards[t] = c.extra_cards;
    in.waves_module[t] = c.waves_module;
    in.installed[t] = c.installed;
    in.enabled[t] = c.installed && c.enabled;
    in.recall[t] = true;
    in.resync_lv1[t] = false;
    in.has_hint[t] = c.has_hint;
    if (c.status_valid) in.status[t] = fake_status(t, c);
    if (c.found) in.found[t] = Found{true, kFoundLine[t], field(kFoundLine[t])};
    in.shared[t] = c.shared;
    in.since_answer_ms[t] = c.lost ? 125000 : -1;
    in.legacy[t] = c.legacy;
    in.ip[t] = c.ip;
  }
  return in;
}

}  // namespace gm
