// The WING as a desk backend: the constant table the bridge drives, discovery with its SoundGrid
// card check, the adopted desk, and the WING's own answers about stereo legs, input names, head
// amps and group sizes.
#include "desk_wing.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/text.h"
#include "gm_win32.h"
#include "module_log.h"
#include "net_util.h"
#include "wing_ctl.h"
#include "wing_native.h"
#include "wingbin.h"

namespace gm {
namespace {

constexpr int kDiscoveryPort = 2222;
constexpr int kOscPort = 2223;
constexpr char kQuery[] = "WING?";
constexpr size_t kQueryBytes = 5;
constexpr int kScanMost = 8;
constexpr int kMostBroadcasts = 32;
constexpr int kMostAdapterSockets = 16;
constexpr size_t kDatagramBytes = 511;
constexpr size_t kFieldChars = 63;
constexpr int kCardAskMs = 500;

constexpr size_t kLineBytes = sizeof(DeskFound::line);
constexpr size_t kModelChars = 31;
constexpr uint64_t kNameCacheMs = 5000;
constexpr int kNameStrips = 40;
constexpr int kNameEntries = 64;
constexpr int kStripMissesAbandon = 3;
constexpr int kSayOnceKeys = 96;

std::atomic<bool (*)()> g_scan_stopping{nullptr};  // see wing_scan_stops_when

bool scan_stopping() {
  bool (*stopping)() = g_scan_stopping.load();
  return stopping && stopping();
}

bool ascii_alnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// ---- the discovery reply ------------------------------------------------------------------

struct Span {
  const char* p = nullptr;
  size_t n = 0;
};

// The text in [from, to); empty when to comes first.
Span between(const char* from, const char* to) {
  return to > from ? Span{from, static_cast<size_t>(to - from)} : Span{};
}

// The last comma in [lo, hi), or null.
const char* comma_before(const char* lo, const char* hi) {
  for (const char* p = hi; p > lo;) {
    if (*--p == ',') return p;
  }
  return nullptr;
}

// Fields of "WING,<ip>,<name>,<model>,<serial>,<firmware>": 0 and 1 from the front, 5, 4 and 3
// from the back, so the name may hold commas. The back commas are searched only after the second
// one, so a short reply fills the fields from the back and the name last.
struct ReplyFields {
  Span name, model, serial;
};

ReplyFields split_reply(const char* s, size_t n) {
  ReplyFields f;
  const char* end = s + n;
  const char* c1 = static_cast<const char*>(std::memchr(s, ',', n));
  const char* c2 = c1 ? static_cast<const char*>(std::memchr(c1 + 1, ',', end - c1 - 1)) : nullptr;
  if (!c2) return f;
  const char* back[3];
  const char* hi = end;
  for (const char*& b : back) {
    const char* c = comma_before(c2 + 1, hi);
    b = c ? c : c2;
    hi = b;
  }
  if (back[0] != c2) f.serial = between(back[1] + 1, back[0]);
  if (back[1] != c2) f.model = between(back[2] + 1, back[1]);
  f.name = between(c2 + 1, back[2]);
  return f;
}

void store_field(char* out, size_t size, Span s) {
  gm_base::copy_text(out, size, s.p, std::min(s.n, kFieldChars));
}

// Text after the last comma of a line ("" without one).
const char* firmware_of(const char* line) {
  const char* c = std::strrchr(line, ',');
  return c ? c + 1 : "";
}

// ---- discovery ----------------------------------------------------------------------------

struct ScanSockets {
  SOCKET fds[1 + kMostAdapterSockets];
  int n = 0;

  ScanSockets() = default;
  ScanSockets(const ScanSockets&) = delete;
  ScanSockets& operator=(const ScanSockets&) = delete;
  ~ScanSockets() {
    for (int i = 0; i < n; ++i) gm_closesocket(fds[i]);
  }
};

// A UDP socket bound to any address and port; INVALID_SOCKET on failure.
SOCKET open_udp(bool broadcast) {
  const SOCKET s = gm_socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return s;
  const int one = 1;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  if ((broadcast && gm_setsockopt(s, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) ||
      bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
    gm_closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

// Sends "WING?" to port 2222 of ip: the bytes sent, or -1 with errno set.
ssize_t send_query(SOCKET s, const char* ip) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kDiscoveryPort);
  if (inet_pton(AF_INET, ip, &to.sin_addr) != 1) {
    errno = EINVAL;
    return -1;
  }
  return gm_sendto(s, kQuery, kQueryBytes, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool ask_unicast(const char* ip, ScanSockets& ss) {
  const SOCKET s = open_udp(false);
  if (s == INVALID_SOCKET) return false;
  ss.fds[ss.n++] = s;
  net_note_unicast(send_query(s, ip));
  return true;
}

bool ask_broadcast(ScanSockets& ss) {
  if (!net_broadcast_allowed()) return false;
  const SOCKET s = open_udp(true);
  if (s == INVALID_SOCKET) return false;
  ss.fds[ss.n++] = s;
  char addrs[kMostBroadcasts][16];
  const int n = gather_broadcasts(addrs, kMostBroadcasts);
  for (int i = 0; i < n; ++i) {
    const ssize_t sent = send_query(s, addrs[i]);
    if (net_is_hint(addrs[i])) net_note_unicast(sent);
  }
  int* adapters = ss.fds + ss.n;
  const int k = std::max(0, net_adapter_sockets(adapters, nullptr, kMostAdapterSockets));
  ss.n += k;
  for (int i = 0; i < k; ++i) send_query(adapters[i], "255.255.255.255");
  return true;
}

bool sender_known(const DeskFound* out, int n, const char* ip) {
  for (int i = 0; i < n; ++i) {
    if (std::strcmp(out[i].ip, ip) == 0) return true;
  }
  return false;
}

// Receives replies until timeout_ms have passed or `most` consoles are recorded. With `only`,
// replies from any other address are ignored.
int collect_replies(const ScanSockets& ss, const in_addr* only, DeskFound* out, int most,
                    int timeout_ms) {
  const uint64_t start = gm_now_ms();
  const uint64_t limit = timeout_ms > 0 ? static_cast<uint64_t>(timeout_ms) : 0;
  int found = 0;
  while (found < most) {
    const uint64_t spent = gm_now_ms() - start;
    if (spent >= limit) break;
    const int i = net_wait_any(ss.fds, ss.n, static_cast<int>(limit - spent));
    if (i < 0 || i >= ss.n) break;
    char buf[kDatagramBytes + 1];
    sockaddr_in from{};
    socklen_t from_len = sizeof from;
    const ssize_t got = recvfrom(ss.fds[i], buf, kDatagramBytes, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &from_len);
    if (got <= 0 || from.sin_family != AF_INET) continue;
    if (only && from.sin_addr.s_addr != only->s_addr) continue;
    char sender[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender)) continue;
    if (sender_known(out, found, sender)) continue;
    if (wing_parse_reply(buf, static_cast<size_t>(got), sender, &out[found])) ++found;
  }
  return found;
}

// Asks and collects; the sockets close on return.
int discover(const char* ip, const in_addr& only, DeskFound* out, int most, int timeout_ms) {
  ScanSockets ss;
  if (!(ip ? ask_unicast(ip, ss) : ask_broadcast(ss))) return 0;
  return collect_replies(ss, ip ? &only : nullptr, out, most, timeout_ms);
}

// The first argument of the answer to an OSC query, when it is a string.
bool ask_osc_text(const char* ip, const char* path, char* text, size_t size) {
  char msg[32];
  const size_t len = osc_query_msg(msg, sizeof msg, path);
  if (len == 0) return false;
  char answer[kDatagramBytes + 1];
  const int got = udp_ask(ip, kOscPort, msg, len, answer, sizeof answer, kCardAskMs);
  uint32_t word = 0;
  return got > 0 && osc_first_arg(answer, static_cast<size_t>(got), text, size, &word) == 's';
}

// 1 when a SoundGrid card sits in the module or the card slot, 0 when both slots said what they
// hold and neither is one, -1 when the desk did not say.
int32_t soundgrid_card(const char* ip) {
  char mod[64] = "";
  char crd[64] = "";
  const bool mod_said = ask_osc_text(ip, "/$syscfg/opt_mod", mod, sizeof mod);
  const bool crd_said = ask_osc_text(ip, "/cards/$type", crd, sizeof crd);
  if (mod_said && std::strstr(mod, "WSG")) return 1;
  if (!crd_said) return -1;
  if (std::strstr(crd, "WSG")) return 1;
  return mod_said ? 0 : -1;
}

// ---- the adopted desk and pushes ------------------------------------------------------------

std::mutex g_desc_mu;
char g_desc[kLineBytes] = "";
std::atomic<DeskPushFn> g_push{nullptr};

void desc_copy(char* out) {
  std::lock_guard<std::mutex> lock(g_desc_mu);
  std::memcpy(out, g_desc, kLineBytes);
}

void relay_push(const char* group, int index, const char* leaf, double value, bool flag) {
  if (DeskPushFn fn = g_push.load()) fn(group, index, leaf, value, flag, nullptr);
}

// The model field of a discovery line: the one before the last two.
void model_of(const char* line, char* out, size_t size) {
  const char* end = line + std::strlen(line);
  const char* c1 = comma_before(line, end);
  const char* c2 = c1 ? comma_before(line, c1) : nullptr;
  const char* c3 = c2 ? comma_before(line, c2) : nullptr;
  if (!c3) {
    out[0] = '\0';
    return;
  }
  gm_base::copy_text(out, size, c3 + 1, static_cast<size_t>(c2 - c3 - 1));
}

enum class Model { kLocal24, kFullSize, kUnknown };

// Case-sensitive words; only the whole-field comparison ignores case.
Model classify_model(const char* model) {
  if (std::strstr(model, "rack") || std::strstr(model, "compact")) return Model::kLocal24;
  if (std::strstr(model, "full") || std::strstr(model, "bk") || strcasecmp(model, "wing") == 0) {
    return Model::kFullSize;
  }
  return Model::kUnknown;
}

// ---- input names (watch thread) -------------------------------------------------------------

struct NameEntry {
  char group[8];
  int input;
  char name[20];
};

struct NameCache {
  NameEntry entries[kNameEntries];
  int n = 0;
  uint64_t filled_ms = 0;
  bool valid = false;
};

NameCache g_names;

const NameEntry* find_name(const NameEntry* entries, int n, const char* grp, int input) {
  for (int i = 0; i < n; ++i) {
    if (entries[i].input == input && strcasecmp(entries[i].group, grp) == 0) return &entries[i];
  }
  return nullptr;
}

// Reads the name and source of every channel strip; the lowest strip of a source wins. Three
// failed strip reads in a row keep the old entries.
void refill_names(uint64_t now) {
  NameCache fresh;
  int misses = 0;
  for (int ch = 1; ch <= kNameStrips && fresh.n < kNameEntries; ++ch) {
    NameEntry e{};
    if (!wctl_get_ch_source(ch, e.name, sizeof e.name, e.group, sizeof e.group, &e.input)) {
      if (++misses == kStripMissesAbandon) break;
      continue;
    }
    misses = 0;
    if (e.input <= 0 || !e.group[0]) continue;
    if (find_name(fresh.entries, fresh.n, e.group, e.input)) continue;
    fresh.entries[fresh.n++] = e;
  }
  if (misses < kStripMissesAbandon) {
    std::copy(fresh.entries, fresh.entries + fresh.n, g_names.entries);
    g_names.n = fresh.n;
  }
  g_names.filled_ms = now;
  g_names.valid = true;
}

// "PATCH" in any case followed only by spaces and digits: the desk's placeholder, not a name.
bool is_patch_placeholder(const char* name) {
  if (strncasecmp(name, "PATCH", 5) != 0) return false;
  for (const char* p = name + 5; *p; ++p) {
    if (*p != ' ' && !(*p >= '0' && *p <= '9')) return false;
  }
  return true;
}

// ---- head amps (watch thread) ---------------------------------------------------------------

char g_said[kSayOnceKeys][16];
int g_said_n = 0;

// True the first time the key (kind, group, input) is met, and always once the list is full.
bool first_time(char kind, const char* grp, int n) {
  char key[16];
  std::snprintf(key, sizeof key, "%c%s%d", kind, grp, n);
  for (int i = 0; i < g_said_n; ++i) {
    if (std::strcmp(g_said[i], key) == 0) return false;
  }
  if (g_said_n < kSayOnceKeys) std::memcpy(g_said[g_said_n++], key, sizeof key);
  return true;
}

// True when another desk drives the input's head amp over AES50; says so once per input.
bool remote_owned(const char* grp, int n) {
  char rmt[24];
  const bool rmt_read = wctl_get_input_leaf_str(grp, n, "rmt", rmt, sizeof rmt);
  if (rmt_read && strcasecmp(rmt, "OFF") == 0) return false;
  bool active = false;
  const bool flag_read = wctl_get_input_leaf_bool(grp, n, "$ract", &active);
  if (flag_read && !active) return false;
  if (!flag_read && !rmt_read) return false;
  if (!flag_read && first_time('u', grp, n)) {
    logf(
        "[patch] %s %d: remote control is enabled for this input and the desk will not say "
        "whether it is active (%d) - no knob until it does",
        grp, n, 0);
  }
  if (first_time('r', grp, n)) {
    logf("[patch] %s %d: preamp controlled remotely by another desk over AES50 - no knob here (%d)",
         grp, n, 1);
  }
  return true;
}

// ---- stage boxes ----------------------------------------------------------------------------

struct StageBox {
  const char* name;
  int preamps;
};

constexpr StageBox kStageBoxes[] = {
    {"DL251", 48}, {"DL32", 32}, {"DL16", 16},  {"DL151", 24}, {"SD16", 16}, {"SD8", 8},
    {"S32", 32},   {"S16", 16},  {"DN4816", 0}, {"DN4888", 0}, {"M32C", 0},  {"X32C", 0},
};

// Occurrences of word in text with no letter or digit on either side.
int whole_words(const char* text, const char* word) {
  const size_t len = std::strlen(word);
  int n = 0;
  for (const char* p = std::strstr(text, word); p; p = std::strstr(p + 1, word)) {
    if ((p == text || !ascii_alnum(p[-1])) && !ascii_alnum(p[len])) ++n;
  }
  return n;
}

// ---- the table ------------------------------------------------------------------------------

const DeskBackend kWing = {
    .family = "Behringer WING",
    .maker = "Music Tribe",
    .describe = wing_describe,
    .start = wing_start,
    .stop = wctl_stop,
    .connected = wctl_connected,
    .scan = wing_scan,
    .adopt = wing_adopt,
    .get_channel = wctl_get_channel,
    .get_gain = wctl_get_gain,
    .get_phantom = wctl_get_phantom,
    .get_mute = wctl_get_mute,
    .get_stereo_leg = wing_get_stereo_leg,
    .gain_index = wctl_gain_index,
    .get_patch = wctl_get_patch,
    .set_patch = wctl_set_patch,
    .probe_hash_out = wctl_probe_hash_out,
    .get_input_name = wing_get_input_name,
    .get_range = wctl_get_range,
    .group_has_preamp = wing_group_has_preamp,
    .set_gain = wctl_set_gain,
    .set_phantom = wctl_set_phantom,
    .set_mode = wctl_set_mode,
    .on_push = wing_on_push,
    .meter_start = wnat_start,
    .meter_stop = wnat_stop,
    .metering = wnat_metering,
    .meter_frames = wnat_frames,
    .input_level = wnat_input_level,
    .input_peak = wnat_input_peak,
    .input_clipped = wnat_input_clipped,
    .sent = wctl_sent,
    .received = wctl_recv,
    .pushes = wctl_pushes,
    .get_slot_type = wctl_get_slot_type,
    .get_headamp = wing_get_headamp,
    .get_port_device = wctl_get_port_device,
    .get_ha_remote = wctl_get_ha_remote,
    .device_preamps = wing_device_preamps,
    .caps = 0x1F,
    .group_size = wing_group_size,
    .get_tcplock = wctl_get_tcplock,
    .reserved42 = nullptr,
    .reserved43 = nullptr,
};

}  // namespace

const DeskBackend* desk() {
  return &kWing;
}

long desk_link_failures() {
  return wbin_connect_failures();
}

bool wing_parse_reply(const char* datagram, size_t len, const char* sender, DeskFound* out) {
  if (!datagram || !out) return false;
  const size_t n = strnlen(datagram, len);
  if (n < 4 || std::memcmp(datagram, "WING", 4) != 0) return false;
  *out = DeskFound{};
  gm_base::copy_text(out->ip, sizeof out->ip, sender ? sender : "");
  gm_base::copy_text(out->line, sizeof out->line, datagram, n);
  const ReplyFields f = split_reply(datagram, n);
  store_field(out->name, sizeof out->name, f.name);
  store_field(out->model, sizeof out->model, f.model);
  store_field(out->id, sizeof out->id, f.serial);
  if (!out->id[0]) gm_base::copy_text(out->id, sizeof out->id, out->ip);
  out->card = -1;
  return true;
}

void wing_scan_stops_when(bool (*stopping)()) {
  g_scan_stopping.store(stopping);
}

int wing_scan(const char* ip, DeskFound* out, int max, int timeout_ms) {
  if (!out || max < 1) return 0;
  in_addr only{};
  if (ip && inet_pton(AF_INET, ip, &only) != 1) return 0;
  const int found = discover(ip, only, out, std::min(max, kScanMost), timeout_ms);
  for (int i = 0; i < found && !scan_stopping(); ++i) out[i].card = soundgrid_card(out[i].ip);
  return found;
}

const char* wing_describe() {
  thread_local char line[kLineBytes];
  desc_copy(line);
  return line;
}

void wing_adopt(const DeskFound* desk) {
  if (!desk) return;
  char before[kLineBytes];
  char now[kLineBytes];
  gm_base::copy_text(now, sizeof now, desk->line);
  {
    std::lock_guard<std::mutex> lock(g_desc_mu);
    std::memcpy(before, g_desc, kLineBytes);
    std::memcpy(g_desc, now, kLineBytes);
  }
  const char* was = firmware_of(before);
  const char* is = firmware_of(now);
  if (before[0] && std::strcmp(was, is) != 0) {
    logf(
        "[desk] WING firmware is now %s (was %s) - node hashes learned for the old build stay in "
        "use",
        is, was);
  }
}

bool wing_start(const char* ip) {
  const bool started = wctl_start(ip);
  char line[kLineBytes];
  desc_copy(line);
  if (line[0]) wbin_preload(line);
  return started;
}

void wing_on_push(DeskPushFn fn) {
  g_push.store(fn);
  wctl_on_push(fn ? relay_push : nullptr);
}

bool wing_get_stereo_leg(const char* grp, int n, int* leg) {
  char mode[8];
  if (!leg || !wctl_get_mode(grp, n, mode, sizeof mode)) return false;
  const int odd = n % 2 != 0;
  if (strcasecmp(mode, "M") == 0) {
    *leg = 0;
  } else if (strcasecmp(mode, "ST") == 0) {
    *leg = odd ? 1 : 2;
  } else if (strcasecmp(mode, "M/S") == 0) {
    *leg = odd ? 3 : 4;
  } else {
    return false;
  }
  return true;
}

bool wing_get_input_name(const char* grp, int n, char* buf, size_t size) {
  if (!buf || size == 0) return false;
  buf[0] = '\0';
  if (!grp || !*grp) return false;
  const uint64_t now = gm_now_ms();
  if (!g_names.valid || now - g_names.filled_ms > kNameCacheMs) refill_names(now);
  if (const NameEntry* e = find_name(g_names.entries, g_names.n, grp, n)) {
    gm_base::copy_text(buf, size, e->name);
    return true;
  }
  char own[24];
  const bool read = wctl_get_input_leaf_str(grp, n, "name", own, sizeof own);
  if (read && own[0] && !is_patch_placeholder(own)) gm_base::copy_text(buf, size, own);
  return read;
}

bool wing_group_has_preamp(const char* grp) {
  if (!grp) return false;
  for (const char* g : {"LCL", "A", "B", "C", "SC"}) {
    if (strcasecmp(grp, g) == 0) return true;
  }
  return false;
}

bool wing_get_headamp(const char* grp, int n, int* type) {
  int t = 0;
  if (!type || !wctl_get_headamp(grp, n, &t)) return false;
  *type = t;
  if (t < 2) return true;
  if ((t == 2 || t > 3) && first_time('t', grp, n)) {
    logf("[patch] %s %d: head-amp type %d has not been seen before - counted as a head amp", grp, n,
         t);
  }
  if (remote_owned(grp, n)) *type = 0;
  return true;
}

int wing_device_preamps(const char* text) {
  if (!text || !*text) return -1;
  int total = 0;
  bool any = false;
  for (const StageBox& box : kStageBoxes) {
    const int k = whole_words(text, box.name);
    any = any || k > 0;
    total += k * box.preamps;
  }
  return any ? total : -1;
}

int wing_group_size(const char* grp) {
  if (!grp) return 0;
  char line[kLineBytes];
  desc_copy(line);
  char model[kModelChars + 1];
  model_of(line, model, sizeof model);
  const Model kind = classify_model(model);
  if (strcasecmp(grp, "LCL") == 0 && kind != Model::kUnknown) {
    return kind == Model::kLocal24 ? 24 : 8;
  }
  if (strcasecmp(grp, "AUX") == 0) return kind == Model::kFullSize ? 8 : 0;
  return wnat_group_inputs(grp);
}

}  // namespace gm
