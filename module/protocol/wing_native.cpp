// The metering client: a thread that keeps a meter request open with the desk over its own TCP
// connection, receives the input meter frames on a local UDP port and decodes them into
// per-input levels, held peaks and clip times for the status publisher.
#include "wing_native.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "base/text.h"
#include "gm_win32.h"
#include "host_services.h"

namespace gm {
namespace {

struct MeterSource {
  const char* group;
  int words;
};

// The sources in the order the request names them and the frame carries them.
constexpr MeterSource kSources[kWnatSources] = {
    {"LCL", 24}, {"AUX", 8},  {"A", 48},   {"B", 48},   {"C", 48},  {"SC", 32},
    {"USB", 48}, {"CRD", 64}, {"MOD", 64}, {"PLAY", 4}, {"AES", 2}, {"USR", 56},
};

constexpr int frame_words() {
  int n = 0;
  for (const MeterSource& s : kSources) n += s.words;
  return n;
}
static_assert(4 + 2 * frame_words() == kWnatFrameBytes, "frame size follows the source table");

constexpr int kSlots = 64;
constexpr double kSilenceDb = -144.0;
constexpr double kClipDb = -0.5;
constexpr uint32_t kPeakHoldMs = 1600;
constexpr double kPeakFallDbPerMs = 0.02;
constexpr uint32_t kClipHoldMs = 2500;
constexpr int kSizeComplaints = 3;

constexpr uint16_t kDeskPort = 2222;
constexpr uint8_t kEscape = 0xDF;
constexpr uint64_t kRetryMs = 3000;
constexpr uint64_t kRenewMs = 3000;
constexpr uint64_t kSilenceMs = 6000;
constexpr int kConnectLimitMs = 2000;
constexpr int kSliceMs = 20;
constexpr uint32_t kRecvTimeoutMs = 200;
constexpr uint32_t kSendTimeoutMs = 1000;
constexpr uint32_t kStopWaitMs = 2000;

// One input's meter state. Written by the decoding thread, read by any thread without a lock;
// each value is a relaxed atomic so that a reader never sees a torn double.
struct Slot {
  std::atomic<double> level{kSilenceDb};
  std::atomic<double> peak{kSilenceDb};
  std::atomic<uint32_t> peak_ms{0};
  std::atomic<uint32_t> clip_ms{0};  // 0 = never
};

Slot g_slots[kWnatSources][kSlots];
std::atomic<uint8_t> g_report_id{32};
std::atomic<bool> g_metering{false};
std::atomic<uint64_t> g_frames{0};
std::atomic<int> g_size_complaints{0};

// Lifecycle. A thread keeps running while g_running is set and g_gen still holds the generation
// it was started with, so a thread left over from an earlier stop never runs beside a new one.
std::mutex g_life_mu;
HANDLE g_thread = nullptr;  // guarded by g_life_mu
std::atomic<bool> g_running{false};
std::atomic<uint32_t> g_gen{0};

constexpr auto kRelaxed = std::memory_order_relaxed;

int source_index(const char* group) {
  if (!group) return -1;
  for (int i = 0; i < kWnatSources; ++i) {
    if (strcasecmp(group, kSources[i].group) == 0) return i;
  }
  return -1;
}

uint32_t now32() {
  return static_cast<uint32_t>(gm_now_ms());
}

// The held peak at now_ms: after 1600 ms it falls by 0.02 dB for every further millisecond.
// The stored peak is left as it is, so the fall is measured from the moment it was taken.
double held_peak(const Slot& s, uint32_t now_ms) {
  const double peak = s.peak.load(kRelaxed);
  const uint32_t age = now_ms - s.peak_ms.load(kRelaxed);
  return age > kPeakHoldMs ? peak - kPeakFallDbPerMs * (age - kPeakHoldMs) : peak;
}

void store_value(Slot& s, double db, uint32_t now_ms) {
  s.level.store(db, kRelaxed);
  if (db >= held_peak(s, now_ms)) {
    s.peak.store(db, kRelaxed);
    s.peak_ms.store(now_ms, kRelaxed);
  }
  if (db >= kClipDb) s.clip_ms.store(now_ms ? now_ms : 1, kRelaxed);
}

double word_db(const uint8_t* p) {
  const int16_t v = static_cast<int16_t>(static_cast<uint16_t>(p[0] << 8 | p[1]));
  return v / 256.0;
}

void decode_frame(const uint8_t* words, uint32_t now_ms) {
  for (int s = 0; s < kWnatSources; ++s) {
    const int used = std::min(kSources[s].words, kSlots);
    for (int i = 0; i < used; ++i) store_value(g_slots[s][i], word_db(words + 2 * i), now_ms);
    words += 2 * kSources[s].words;
  }
}

void note_wrong_size(int len) {
  g_metering.store(false);
  if (g_size_complaints.load() >= kSizeComplaints) return;
  if (g_size_complaints.fetch_add(1) >= kSizeComplaints) return;
  logf(
      "[nat] meter frame is %d bytes, expected %d - channel counts have changed (sample rate or "
      "card?). Not decoding rather than showing wrong levels.",
      len, kWnatFrameBytes);
}

// The slot behind a reader's question, or null when there is no value to give.
const Slot* readable(const char* group, int input) {
  if (!g_metering.load()) return nullptr;
  const int s = source_index(group);
  if (s < 0 || input < 1 || input > std::min(kSlots, kSources[s].words)) return nullptr;
  return &g_slots[s][input - 1];
}

int escape_into(const uint8_t* in, int n, uint8_t* out) {
  int k = 0;
  for (int i = 0; i < n; ++i) {
    out[k++] = in[i];
    if (in[i] == kEscape) out[k++] = 0xDE;
  }
  return k;
}

// ---- the metering thread --------------------------------------------------------------------

// What one metering thread owns. Allocated by wnat_start, freed by the thread when it ends.
struct Link {
  uint32_t gen = 0;
  char ip[64] = "";
  sockaddr_in desk{};  // the desk's address, port 2222 (TCP and UDP alike)
  bool desk_ok = false;
  SOCKET udp = INVALID_SOCKET;
  uint16_t udp_port = 0;
  SOCKET tcp = INVALID_SOCKET;
  bool attempted = false;
  uint64_t last_attempt = 0;
  uint64_t last_renew = 0;
  uint64_t last_data = 0;  // last decoded frame or priming
};

bool live(const Link& l) {
  return g_running.load() && g_gen.load() == l.gen;
}

// Sleeps up to ms in short slices; returns early once the thread should end.
void pause_ms(const Link& l, int ms) {
  for (int waited = 0; waited < ms && live(l); waited += kSliceMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
  }
}

bool open_meter_socket(Link& l) {
  const SOCKET s = gm_socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t len = sizeof any;
  auto* addr = reinterpret_cast<sockaddr*>(&any);
  if (bind(s, addr, sizeof any) != 0 || getsockname(s, addr, &len) != 0 ||
      gm_setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &kRecvTimeoutMs, sizeof kRecvTimeoutMs) != 0) {
    gm_closesocket(s);
    return false;
  }
  l.udp = s;
  l.udp_port = ntohs(any.sin_port);
  logf("[nat] meter socket on udp/%d", l.udp_port);
  return true;
}

// Waits for a non-blocking connect in short slices, so that a stop is never held up by it.
bool await_connect(const Link& l, SOCKET s) {
  for (int waited = 0; waited < kConnectLimitMs && live(l); waited += kSliceMs) {
    pollfd p{s, POLLOUT, 0};
    const int r = poll(&p, 1, kSliceMs);
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
    int err = 0;
    socklen_t len = sizeof err;
    return gm_getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
  }
  return false;
}

// A connected, blocking TCP socket to the desk (sends time out after 1 s), or INVALID_SOCKET.
SOCKET connect_desk(const Link& l) {
  if (!l.desk_ok) return INVALID_SOCKET;
  const SOCKET s = gm_socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return s;
  const int flags = fcntl(s, F_GETFL, 0);
  bool ok = flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
  if (ok && connect(s, reinterpret_cast<const sockaddr*>(&l.desk), sizeof l.desk) != 0) {
    ok = errno == EINPROGRESS && await_connect(l, s);
  }
  ok = ok && fcntl(s, F_SETFL, flags) == 0 &&
       gm_setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &kSendTimeoutMs, sizeof kSendTimeoutMs) == 0;
  if (ok) return s;
  gm_closesocket(s);
  return INVALID_SOCKET;
}

bool send_all(SOCKET s, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t r = gm_send(s, p, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool send_prime(const Link& l) {
  const auto* to = reinterpret_cast<const sockaddr*>(&l.desk);
  return l.desk_ok && gm_sendto(l.udp, "WING?", 5, 0, to, sizeof l.desk) == 5;
}

void drop_tcp(Link& l) {
  gm_closesocket(l.tcp);
  l.tcp = INVALID_SOCKET;
  g_metering.store(false);
}

void attempt_connection(Link& l, uint64_t now) {
  if (l.udp == INVALID_SOCKET && !open_meter_socket(l)) {
    pause_ms(l, 500);
    return;
  }
  l.attempted = true;
  l.last_attempt = now;
  l.tcp = connect_desk(l);
  if (l.tcp == INVALID_SOCKET) {
    dlogf("[nat] connect %s:2222 failed", l.ip);
    return;
  }
  uint8_t req[kWnatRequestMaxBytes];
  const int n = wnat_meter_request(l.udp_port, g_report_id.load(), req, sizeof req);
  if (!send_prime(l) || !send_all(l.tcp, req, static_cast<size_t>(n))) {
    drop_tcp(l);
    pause_ms(l, 150);
    return;
  }
  logf("[nat] connected %s:2222, meters requested (%d source devices)", l.ip, kWnatSources);
  l.last_renew = l.last_data = gm_now_ms();
}

void renew_if_due(Link& l, uint64_t now) {
  if (now - l.last_renew <= kRenewMs) return;
  l.last_renew = now;
  const uint8_t renew[5] = {0xD4, 0, 0, 0, g_report_id.load()};
  uint8_t wire[10];
  if (send_all(l.tcp, wire, static_cast<size_t>(escape_into(renew, 5, wire)))) return;
  logf("[nat] renew failed, reconnecting");
  drop_tcp(l);
}

// Discards what the desk may send on the request connection, so that its side never stalls.
void drain_tcp(const Link& l) {
  uint8_t sink[512];
  for (int i = 0; i < 8 && recv(l.tcp, sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
  }
}

void reprime_if_silent(Link& l, uint64_t now) {
  if (l.tcp == INVALID_SOCKET || now - l.last_data <= kSilenceMs) return;
  logf("[nat] no meter data for 6 s, re-priming");
  g_metering.store(false);
  send_prime(l);
  l.last_data = now;
}

void receive_one(Link& l) {
  uint8_t buf[2048];
  const ssize_t n = recv(l.udp, buf, sizeof buf, 0);
  const int err = errno;
  const uint64_t now = gm_now_ms();
  if (n >= 0) {
    if (wnat_decode_datagram(buf, static_cast<int>(n), static_cast<uint32_t>(now))) {
      l.last_data = now;
    }
    return;
  }
  const bool timed_out = err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
  reprime_if_silent(l, now);
  if (!timed_out) pause_ms(l, static_cast<int>(kRecvTimeoutMs));
}

void step(Link& l) {
  const uint64_t now = gm_now_ms();
  if (l.tcp == INVALID_SOCKET) {
    if (!l.attempted || now - l.last_attempt >= kRetryMs) attempt_connection(l, now);
  } else {
    renew_if_due(l, now);
  }
  if (l.tcp != INVALID_SOCKET) drain_tcp(l);
  if (l.udp != INVALID_SOCKET && live(l)) receive_one(l);
}

DWORD meter_main(void* arg) {
  Link* l = static_cast<Link*>(arg);
  while (live(*l)) step(*l);
  if (l->tcp != INVALID_SOCKET) gm_closesocket(l->tcp);
  if (l->udp != INVALID_SOCKET) gm_closesocket(l->udp);
  if (g_gen.load() == l->gen) g_metering.store(false);
  delete l;
  return 0;
}

Link* make_link(const char* ip, uint32_t gen) {
  Link* l = new (std::nothrow) Link;
  if (!l) return nullptr;
  l->gen = gen;
  gm_base::copy_text(l->ip, sizeof l->ip, ip);
  l->desk.sin_family = AF_INET;
  l->desk.sin_port = htons(kDeskPort);
  l->desk_ok = inet_pton(AF_INET, l->ip, &l->desk.sin_addr) == 1;
  return l;
}

}  // namespace

bool wnat_start(const char* ip) {
  if (!ip || !*ip) return false;
  std::lock_guard<std::mutex> lock(g_life_mu);
  if (g_running.load()) return true;
  wnat_reset_for(static_cast<uint8_t>(32 + gm_now_ms() % 128));
  Link* l = make_link(ip, g_gen.fetch_add(1) + 1);
  if (!l) return false;
  g_running.store(true);
  g_thread = CreateThread(nullptr, 0, meter_main, l, 0, nullptr);
  if (g_thread) return true;
  g_running.store(false);
  delete l;
  logf("[nat] could not start the metering thread (error %u)", GetLastError());
  return false;
}

void wnat_stop() {
  std::lock_guard<std::mutex> lock(g_life_mu);
  g_running.store(false);
  if (!g_thread) return;
  if (WaitForSingleObject(g_thread, kStopWaitMs) != WAIT_OBJECT_0) note_thread_left_running();
  FindClose(g_thread);
  g_thread = nullptr;
  g_metering.store(false);
}

bool wnat_metering() {
  return g_metering.load();
}
uint64_t wnat_frames() {
  return g_frames.load();
}

int wnat_group_inputs(const char* group) {
  const int s = source_index(group);
  return s < 0 ? 0 : kSources[s].words;
}

bool wnat_input_level(const char* group, int input, double* db) {
  const Slot* s = readable(group, input);
  if (!s || !db) return false;
  *db = s->level.load(kRelaxed);
  return true;
}

bool wnat_input_peak(const char* group, int input, double* db) {
  const Slot* s = readable(group, input);
  if (!s || !db) return false;
  *db = std::max(s->level.load(kRelaxed), held_peak(*s, now32()));
  return true;
}

bool wnat_input_clipped(const char* group, int input) {
  const Slot* s = readable(group, input);
  if (!s) return false;
  const uint32_t clip = s->clip_ms.load(kRelaxed);
  return clip != 0 && now32() - clip < kClipHoldMs;
}

bool wnat_decode_datagram(const uint8_t* data, int len, uint32_t now_ms) {
  if (!data || len < 4) return false;
  if (len >= 5 && std::memcmp(data, "WING", 4) == 0) return false;
  if (len != kWnatFrameBytes) {
    note_wrong_size(len);
    return false;
  }
  const uint32_t id = static_cast<uint32_t>(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3];
  if (id != g_report_id.load()) return false;
  decode_frame(data + 4, now_ms);
  g_frames.fetch_add(1);
  if (!g_metering.load()) {
    logf("[nat] meter data flowing: %d bytes, %d words, LCL 1 = %.1f dB", len, (len - 4) / 2,
         g_slots[0][0].level.load(kRelaxed));
    g_metering.store(true);
  }
  return true;
}

void wnat_reset_for(uint8_t report_id) {
  g_metering.store(false);
  g_report_id.store(report_id);
  g_size_complaints.store(0);
  for (auto& source : g_slots) {
    for (Slot& s : source) {
      s.level.store(kSilenceDb, kRelaxed);
      s.peak.store(kSilenceDb, kRelaxed);
      s.peak_ms.store(0, kRelaxed);
      s.clip_ms.store(0, kRelaxed);
    }
  }
}

int wnat_meter_request(uint16_t udp_port, uint8_t report_id, uint8_t* out, int cap) {
  if (!out || cap < kWnatRequestMaxBytes) return 0;
  uint8_t req[23] = {0xD3,
                     static_cast<uint8_t>(udp_port >> 8),
                     static_cast<uint8_t>(udp_port),
                     0xD4,
                     0,
                     0,
                     0,
                     report_id,
                     0xDC,
                     0xA7};
  for (int i = 0; i < kWnatSources; ++i) req[10 + i] = static_cast<uint8_t>(i);
  req[22] = 0xDE;
  out[0] = kEscape;
  out[1] = 0xD3;
  return 2 + escape_into(req, sizeof req, out + 2);
}

}  // namespace gm
