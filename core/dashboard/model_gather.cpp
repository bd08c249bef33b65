// Gathering one snapshot for the dashboard, the last-seen-connected clock per console type, and
// the address that waits to pin the console answering there.
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>

#include "install_state.h"
#include "lv1.h"
#include "model.h"
#include "netperm.h"
#include "util.h"

namespace gm {
namespace {

// Process-wide. Snapshots may be taken on more than one thread and gm_set_ip may run on another,
// so both sit behind g_track_mu (held only while reading or assigning them).
std::mutex g_track_mu;
int64_t g_seen_connected[2] = {0, 0};  // monotonic ms, 0 = never
std::string g_pin_after[2];

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool starts(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

void read_settings(int type, Inputs& in) {
  const std::string path = con_cfg(type);
  in.recall[type] = cfg_value(path, "session_recall") != "off";
  in.resync_lv1[type] = cfg_value(path, "resync") == "lv1";
  const std::string console = cfg_value(path, "console");
  in.ip[type] = cfg_value(path, "ip");
  in.has_hint[type] = !cfg_value(path, "hint").empty() || !console.empty() || !in.ip[type].empty();
  const std::string pin = ip_pin_due(type, in.status[type], console);
  if (!pin.empty() && !cfg_set_line(path, "console", pin)) {
    logf("could not write the console that answered at %s into %s", in.ip[type].c_str(),
         path.c_str());
  }
}

}  // namespace

Inputs gather(const Found found[2], bool loader_blocked, bool update_waiting, const bool guest[2],
              const Lv1* lv1_read) {
  Inputs in;
  const Lv1 lv1 = lv1_read ? *lv1_read : lv1_info();
  const std::string app = app_path();
  in.translocated = app.find("/AppTranslocation/") != std::string::npos;
  in.outside_applications = in.translocated || (!starts(app, "/Applications/") &&
                                                !starts(app, home() + "/Applications/"));
  in.needs_admin = install_needs_admin();
  in.ln_privacy = ln_privacy();
  in.lv1_net_switch = lv1_net_switch();
  in.net_perm = net_perm();
  in.lv1_installed = !lv1.app.empty();
  in.lv1_running = lv1.pid != 0;
  in.lv1_uptime_ms = in.lv1_running ? lv1.up_ms : -1;
  in.lv1_version = lv1.version;

  const Live live = live_blocks(lv1);
  in.loader_ok = read_loader_status(&in.loader, live);
  in.loader_blocked = loader_blocked;
  in.update_waiting = update_waiting;
  for (int type = 0; type < 2; ++type) {
    in.waves_module[type] = waves_present(type);
    bool enabled = false;
    in.installed[type] = console_installed(type, &enabled);
    in.enabled[type] = in.installed[type] && enabled;
    in.status[type] = read_con_status(type, live);
    in.found[type] = found[type];
    in.shared[type] = guest[type] && in.installed[type];
    if (in.installed[type]) read_settings(type, in);
  }
  track_connected(in);
  return in;
}

void track_connected(Inputs& in) {
  track_connected(in, now_ms());
}

void track_connected(Inputs& in, int64_t now) {
  std::lock_guard<std::mutex> lock(g_track_mu);
  for (int type = 0; type < 2; ++type) {
    const ConStatus& st = in.status[type];
    if (st.valid && st.connected) g_seen_connected[type] = now > 0 ? now : 1;
    if (!in.lv1_running) g_seen_connected[type] = 0;
    in.since_answer_ms[type] = g_seen_connected[type] ? now - g_seen_connected[type] : -1;
  }
}

void forget_connected() {
  std::lock_guard<std::mutex> lock(g_track_mu);
  g_seen_connected[0] = g_seen_connected[1] = 0;
}

void ip_pin_after(int type, const std::string& address) {
  if (type != 0 && type != 1) return;
  std::lock_guard<std::mutex> lock(g_track_mu);
  g_pin_after[type] = address;
}

std::string ip_pin_due(int type, const ConStatus& st, const std::string& console_value) {
  if (type != 0 && type != 1) return "";
  std::lock_guard<std::mutex> lock(g_track_mu);
  std::string& waiting = g_pin_after[type];
  if (waiting.empty()) return "";
  if (!console_value.empty()) {
    waiting.clear();
    return "";
  }
  const bool answered =
      st.valid && st.version >= 17 && st.connected && st.find_state == 0 && st.answer_id[0] &&
      std::string(st.typed_ip, strnlen(st.typed_ip, sizeof st.typed_ip)) == waiting;
  if (!answered) return "";
  waiting.clear();
  return std::string(st.answer_id, strnlen(st.answer_id, sizeof st.answer_id));
}

}  // namespace gm
