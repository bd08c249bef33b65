// The console status block: mapping, publishers and the app's settings request.
#include "bridge_status.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/text.h"
#include "bridge.h"
#include "bridge_cfg.h"
#include "bridge_patch.h"
#include "desk_wing.h"
#include "gm_win32.h"
#include "host_services.h"

namespace gm {
namespace {

std::mutex g_mu;                // serialises the module's writes to the block
HANDLE g_mapping = nullptr;     // guarded by g_mu
GmConsoleStatus* g_blk = nullptr;  // guarded by g_mu
uint32_t g_last_req_seq = 0;    // guarded by g_mu
char g_last_note[96] = "";      // guarded by g_mu

constexpr double kNoLevel = -144.0;

void set_status_locked(const char* text) {
  gm_base::copy_text(g_blk->status, sizeof g_blk->status, text);
}

void publish_find_locked() {
  const CfgValues cfg = cfg_snapshot();
  g_blk->find_state = bridge_find_state();
  g_blk->moves = static_cast<uint32_t>(bridge_link_moves());
  gm_base::copy_text(g_blk->forced_ip, sizeof g_blk->forced_ip, cfg.ip.c_str());
  const IpAnswer ans = bridge_ip_answer();
  gm_base::copy_text(g_blk->ip_id, sizeof g_blk->ip_id, ans.identity.c_str());
  gm_base::copy_text(g_blk->ip_name, sizeof g_blk->ip_name, ans.name.c_str());
}

void publish_channel_empty_locked(int ch) {
  gm_base::copy_text(g_blk->ch_group[ch], sizeof g_blk->ch_group[ch], "");
  gm_base::copy_text(g_blk->ch_name[ch], sizeof g_blk->ch_name[ch], "");
  g_blk->ch_input[ch] = 0;
  g_blk->ch_preamp[ch] = 0;
  g_blk->level[ch] = kNoLevel;
  g_blk->peak[ch] = kNoLevel;
  g_blk->clip[ch] = 0;
  g_blk->ch_stereo[ch] = 0;
  g_blk->ch_mute[ch] = 0;
  g_blk->ch_protected[ch] = 0;
  g_blk->ch_parked[ch] = 0;
  g_blk->ch_parked_valid[ch] = 0;
}

void publish_channel_locked(int ch, const ChannelFacts& f) {
  gm_base::copy_text(g_blk->ch_group[ch], sizeof g_blk->ch_group[ch], f.group.c_str());
  gm_base::copy_text(g_blk->ch_name[ch], sizeof g_blk->ch_name[ch], f.name.c_str());
  g_blk->ch_input[ch] = static_cast<uint32_t>(f.input);
  g_blk->ch_preamp[ch] = f.preamp ? 1 : 0;
  g_blk->level[ch] = f.has_level ? f.level_db : kNoLevel;
  g_blk->peak[ch] = f.has_peak ? f.peak_db : kNoLevel;
  g_blk->clip[ch] = f.clipped ? 1 : 0;
  g_blk->ch_stereo[ch] = f.stereo;
  g_blk->ch_mute[ch] = (f.mute_bits & 1) ? 1 : (f.mute_bits & 2) ? 2 : 0;
  g_blk->ch_protected[ch] = f.is_protected ? 1 : 0;
  g_blk->ch_parked[ch] = f.parked_valid ? f.parked_db : 0;
  g_blk->ch_parked_valid[ch] = f.parked_valid ? 1 : 0;
}

void publish_channels_locked(int watch) {
  const bool patch = bridge_patch_read();
  for (int ch = 0; ch < kChannels; ++ch) {
    ChannelFacts f;
    if (patch && ch < watch && bridge_channel_facts(ch, f)) publish_channel_locked(ch, f);
    else publish_channel_empty_locked(ch);
  }
}

void publish_protect_locked() {
  ProtectEntry list[kMaxProtect];
  const int n = cfg_protect_copy(list);
  uint32_t copied = 0;
  for (int i = 0; i < n && list[i].group[0]; ++i, ++copied) {
    gm_base::copy_text(g_blk->protect[i].group, sizeof g_blk->protect[i].group, list[i].group);
    g_blk->protect[i].input = static_cast<uint16_t>(list[i].input);
  }
  for (uint32_t i = copied; i < GM_MAX_PROTECT; ++i) g_blk->protect[i] = GmProtectRecord{};
  g_blk->n_protect = copied;
}

void publish_mac_locked() {
  const uint8_t* m = wing_device_mac();
  char text[24] = "";
  if (m) {
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3],
                  m[4], m[5]);
  }
  gm_base::copy_text(g_blk->mac, sizeof g_blk->mac, text);
}

void publish_desk_counters_locked() {
  const DeskBackend* d = desk();
  g_blk->metering = d->metering() ? 1 : 0;
  g_blk->meter_frames = static_cast<uint32_t>(d->meter_frames());
  g_blk->received = static_cast<uint32_t>(d->received());
}

void publish_ranges_locked() {
  const int n = range_count();
  uint32_t kept = 0;
  for (int i = 0; i < n && kept < GM_MAX_RANGES; ++i) {
    RangeRecord r;
    if (!range_at(i, &r)) continue;
    GmRangeRecord& out = g_blk->ranges[kept++];
    gm_base::copy_text(out.group, sizeof out.group, r.group);
    out.min_db = r.min_db;
    out.max_db = r.max_db;
    out.step_db = r.step_db;
    out.valid = 1;
    out.n_channels = static_cast<uint8_t>(r.channels > 255 ? 255 : r.channels);
  }
  for (uint32_t i = kept; i < GM_MAX_RANGES; ++i) g_blk->ranges[i] = GmRangeRecord{};
  g_blk->n_ranges = kept;
}

void publish_v2_locked() {
  const CfgValues cfg = cfg_snapshot();
  g_blk->injected = wing_is_injected() ? 1 : 0;
  publish_mac_locked();
  gm_base::copy_text(g_blk->device_kind, sizeof g_blk->device_kind, "box");
  g_blk->patch_age_ms = bridge_patch_age_ms();
  g_blk->read_only = bridge_read_only() ? 1 : 0;
  g_blk->resync = cfg.resync_desk ? 0 : 1;
  publish_find_locked();
  set_status_locked(status_text(bridge_status_facts()).c_str());
  publish_channels_locked(cfg.watch);
  publish_protect_locked();
  g_blk->n_ports = 0;
  publish_desk_counters_locked();
  publish_ranges_locked();
}

// A settings request from the app's menu. Returns true when one was applied.
bool take_request_locked(std::string& bank, int& base, int& watch, bool& resync_desk) {
  const uint32_t seq = __atomic_load_n(&g_blk->req_seq, __ATOMIC_ACQUIRE);
  if (seq == g_last_req_seq) return false;
  g_last_req_seq = seq;
  char req_bank[8];
  std::memcpy(req_bank, g_blk->req_bank, sizeof req_bank);
  req_bank[7] = '\0';
  const CfgValues cfg = cfg_snapshot();
  bank = req_bank[0] ? req_bank : cfg.bank;
  base = g_blk->req_base > 0 ? static_cast<int>(std::min<uint32_t>(g_blk->req_base, 64)) : cfg.base;
  watch = g_blk->req_watch > 0 ? static_cast<int>(std::min<uint32_t>(g_blk->req_watch, 64))
                               : cfg.watch;
  resync_desk = g_blk->req_resync == 0;
  return true;
}

}  // namespace

std::wstring status_block_name(const wchar_t* instance_tag) {
  std::wstring name = GM_STATUS_NAME_PREFIX;
  if (instance_tag) name += instance_tag;
  if (name.size() > GM_STATUS_NAME_MAX) name.resize(GM_STATUS_NAME_MAX);
  return name;
}

bool shm_init() {
  std::lock_guard<std::mutex> lock(g_mu);
  if (g_blk) return true;
  const std::wstring name = status_block_name(gm_instance_tag());
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      GM_STATUS_FILE_BYTES, name.c_str());
  if (!mapping) return false;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, GM_STATUS_MAP_BYTES);
  if (!view) {
    FindClose(mapping);
    return false;
  }
  g_mapping = mapping;
  g_blk = static_cast<GmConsoleStatus*>(view);
  std::memset(reinterpret_cast<char*>(g_blk) + 8, 0, GM_STATUS_MAP_BYTES - 8);
  g_blk->magic = GM_STATUS_MAGIC;
  g_blk->version = GM_STATUS_VERSION;
  g_last_req_seq = 0;
  g_last_note[0] = '\0';
  logf("[shm] status block published as %S", name.c_str());
  return true;
}

void shm_sync() {
  std::string bank;
  int base = 0, watch = 0;
  bool resync_desk = false;
  bool applied = false;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    if (!g_blk) return;
    const CfgValues cfg = cfg_snapshot();
    const BankRange range = bridge_bank_range();
    g_blk->connected = bridge_desk_answering() ? 1 : 0;
    g_blk->synced = 1;
    g_blk->bank_min = range.min_db;
    g_blk->bank_max = range.max_db;
    g_blk->bank_step = range.step_db;
    gm_base::copy_text(g_blk->bank, sizeof g_blk->bank, cfg.bank.c_str());
    g_blk->base = static_cast<uint32_t>(cfg.base);
    g_blk->watch = static_cast<uint32_t>(cfg.watch);
    publish_v2_locked();
    applied = take_request_locked(bank, base, watch, resync_desk);
  }
  if (!applied) return;
  cfg_apply_request(bank.c_str(), base, watch, resync_desk);
  logf("[shm] config applied from tray: bank=%s base=%d watch=%d resync=%s", bank.c_str(), base,
       watch, resync_desk ? "desk" : "lv1");
  save_cfg();
  bridge_request_patch();
}

void shm_publish_v2() {
  std::lock_guard<std::mutex> lock(g_mu);
  if (g_blk) publish_v2_locked();
}

void shm_publish_find() {
  std::lock_guard<std::mutex> lock(g_mu);
  if (g_blk) publish_find_locked();
}

void shm_note_searching(const char* note) {
  shm_init();  // a block that could not be mapped at start is tried again before each note
  const bool blocked = bridge_status_facts().net_blocked;
  std::lock_guard<std::mutex> lock(g_mu);
  if (!g_blk) return;
  if (blocked) {
    set_status_locked(kBlockedText);
  } else if (note && note[0]) {
    set_status_locked(note);
    gm_base::copy_text(g_last_note, sizeof g_last_note, note);
  } else if (std::strcmp(g_blk->status, kBlockedText) == 0 ||
             (g_last_note[0] && std::strcmp(g_blk->status, g_last_note) == 0)) {
    set_status_locked("");
  }
  publish_find_locked();
}

void shm_publish_candidates(const DeskFound* found, int n, const char* pinned, int choice) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (!g_blk) return;
  const int kept = n < 0 ? 0 : n > GM_MAX_CANDIDATES ? GM_MAX_CANDIDATES : n;
  for (int i = 0; i < GM_MAX_CANDIDATES; ++i) {
    GmCandidate& c = g_blk->candidates[i];
    if (i >= kept) {
      c = GmCandidate{};
      continue;
    }
    gm_base::copy_text(c.address, sizeof c.address, found[i].ip);
    gm_base::copy_text(c.name, sizeof c.name, found[i].name);
    gm_base::copy_text(c.model, sizeof c.model, found[i].model);
    gm_base::copy_text(c.identity, sizeof c.identity, found[i].id);
    c.soundgrid = found[i].card;
  }
  g_blk->n_candidates = static_cast<uint32_t>(kept);
  gm_base::copy_text(g_blk->pinned, sizeof g_blk->pinned, pinned);
  g_blk->choice = choice;
}

void shm_publish_desk(const char* ip, const char* desc) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (!g_blk) return;
  gm_base::copy_text(g_blk->desk_ip, sizeof g_blk->desk_ip, ip);
  gm_base::copy_text(g_blk->desk_desc, sizeof g_blk->desk_desc, desc);
}

void shm_publish_gain(int ch, double gain_db) {
  if (ch < 0 || ch >= kChannels) return;
  std::lock_guard<std::mutex> lock(g_mu);
  if (g_blk) g_blk->gain[ch] = gain_db;
}

void shm_publish_phantom(int ch, bool on) {
  if (ch < 0 || ch >= kChannels) return;
  std::lock_guard<std::mutex> lock(g_mu);
  if (g_blk) g_blk->phantom[ch] = on ? 1 : 0;
}

void shm_count_set(uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (!g_blk) return;
  g_blk->sets += 1;
  g_blk->last_set_ms = now_ms;
}

bool shm_phantom_shown(int ch) {
  if (ch < 0 || ch >= kChannels) return false;
  std::lock_guard<std::mutex> lock(g_mu);
  return g_blk && g_blk->phantom[ch] == 1;
}

// ---- dashboard control slots and the group-scan area ------------------------------------------
bool shm_with_block(const std::function<void(GmConsoleStatus&)>& fn) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (!g_blk) return false;
  fn(*g_blk);
  return true;
}
// ---- end of dashboard control slots -----------------------------------------------------------

void bridge_status_close() {
  std::lock_guard<std::mutex> lock(g_mu);
  if (!g_blk) return;
  g_blk->connected = 0;
  g_blk->injected = 0;
  g_blk->metering = 0;
  set_status_locked(GM_STATUS_STOPPED_TEXT);
  UnmapViewOfFile(g_blk);
  FindClose(g_mapping);
  g_blk = nullptr;
  g_mapping = nullptr;
}

std::string status_text(const StatusTextFacts& f) {
  if (f.net_blocked) return kBlockedText;
  if (f.find_state == GM_FIND_LOOKING) {
    return "Looking for " + f.desk_label + " again - did its address change?";
  }
  if (!f.patch_read && f.link_failures >= 3) {
    return "Desk refused the control link - close WING Edit / the WING app, or check the "
           "firewall";
  }
  if (f.patch_read) {
    return f.tcp_lock ? "The desk refuses changes from the network (TCP lock in its Setup)" : "";
  }
  return "Reading the desk patch...";
}

}  // namespace gm
