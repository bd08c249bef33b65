// The control link to the desk: connect and keep-alive thread, receive thread with record
// split, the one outstanding request, push delivery and the node-hash table.
#include "wingbin.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/text.h"
#include "gm_win32.h"
#include "host_services.h"
#include "net_util.h"

namespace gm {
namespace {

constexpr int kRetryMs = 3000;
constexpr int kConnectLimitMs = 2000;
constexpr DWORD kSendTimeoutMs = 250;
constexpr uint64_t kIdleMs = 4000;
constexpr int kPassMs = 120;
constexpr uint64_t kLateGuardMs = 400;
constexpr uint64_t kLateGuardMaxWaitMs = 600;
constexpr DWORD kStopWaitMs = 2000;
constexpr size_t kRxBytes = 8191;
constexpr size_t kRxChunk = 2048;
constexpr size_t kRxResyncBytes = 6144;
constexpr int kNameChars = 7;
constexpr char kDiscovery[] = "WING?";

// ---- node-hash table ------------------------------------------------------------------------
// Entries are only appended. A writer fills the entry under the table mutex, then publishes it
// by raising the count (release); readers load the count (acquire) and never look further.

struct HashEntry {
  uint32_t hash;
  char group[kNameChars + 1];
  int index;
  char leaf[kNameChars + 1];
};

std::mutex g_table_mu;
HashEntry g_table[kWbinMaxHashes];
std::atomic<int> g_hash_count{0};
bool g_table_full_logged = false;  // guarded by g_table_mu
std::atomic<bool> g_preloaded{false};

void copy_name(char* dst, const char* src) {
  gm_base::copy_text(dst, kNameChars + 1, src);
}

bool same_name(const char* stored, const char* name) {
  char cut[kNameChars + 1];
  copy_name(cut, name);
  return strcasecmp(stored, cut) == 0;
}

const HashEntry* find_hash(uint32_t hash) {
  const int n = g_hash_count.load(std::memory_order_acquire);
  for (int i = 0; i < n; ++i) {
    if (g_table[i].hash == hash) return &g_table[i];
  }
  return nullptr;
}

// ---- link state -----------------------------------------------------------------------------
// Lock order: g_life_mu, then g_req_mu, then g_send_mu, then g_pend_mu. Push callbacks, the
// keep-alive probe and log lines run with none of the last three held.

std::mutex g_life_mu;  // wbin_start / wbin_stop
std::mutex g_req_mu;   // one request at a time, held across its send and wait
std::mutex g_send_mu;  // socket writes and socket replacement
std::mutex g_pend_mu;  // the pending request, between the requester and the receive thread

HANDLE g_ctl_thread = nullptr;  // guarded by g_life_mu
HANDLE g_rx_thread = nullptr;   // guarded by g_life_mu
std::once_flag g_init_once;
std::atomic<HANDLE> g_event{nullptr};  // manual-reset: the pending request has ended

std::atomic<bool> g_run{false};
std::atomic<unsigned> g_gen{0};  // raised by every start; older threads end when it moves on
std::atomic<SOCKET> g_sock{INVALID_SOCKET};
std::atomic<bool> g_connected{false};
std::atomic<bool> g_drop{false};
std::atomic<uint64_t> g_last_tx{0};
std::atomic<uint64_t> g_late_guard{0};
std::atomic<WbinProbe> g_probe{nullptr};
std::atomic<WbinPushFn> g_on_push{nullptr};
std::atomic<WbinUnknownFn> g_on_unknown{nullptr};
std::atomic<long> g_sent{0};
std::atomic<long> g_recv{0};
std::atomic<long> g_pushes{0};
std::atomic<long> g_failures{0};

struct Pending {
  bool active = false;
  bool raw = false;
  bool collect = false;
  bool done = false;
  uint32_t expected = 0;
  uint8_t reply[kWbinReplyBytes];
  int len = 0;
};
Pending g_pend;  // guarded by g_pend_mu

void ensure_init() {
  std::call_once(g_init_once, [] { g_event.store(CreateEventW(nullptr, TRUE, FALSE, nullptr)); });
}

bool running(unsigned gen) {
  return g_run.load() && g_gen.load() == gen;
}

void sleep_ms(uint64_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// Sleeps up to ms, in short slices, returning early once the link is stopped.
void nap(uint64_t ms, unsigned gen) {
  const uint64_t end = gm_now_ms() + ms;
  while (running(gen)) {
    const uint64_t now = gm_now_ms();
    if (now >= end) return;
    sleep_ms(end - now < 50 ? end - now : 50);
  }
}

// ---- pending request ------------------------------------------------------------------------

void arm_pending(bool raw, bool collect, uint32_t expected) {
  std::lock_guard<std::mutex> lock(g_pend_mu);
  g_pend.active = true;
  g_pend.raw = raw;
  g_pend.collect = collect;
  g_pend.done = false;
  g_pend.expected = expected;
  g_pend.len = 0;
}

// Ends the pending request with `len` bytes of reply (caller holds g_pend_mu).
void finish_pending_locked(const uint8_t* bytes, size_t len) {
  const size_t n = len < kWbinReplyBytes ? len : kWbinReplyBytes;
  if (n) std::memcpy(g_pend.reply, bytes, n);
  g_pend.len = static_cast<int>(n);
  g_pend.done = true;
  if (HANDLE ev = g_event.load()) SetEvent(ev);
}

bool awaiting_locked() {
  return g_pend.active && !g_pend.done;
}

void end_pending_empty() {
  std::lock_guard<std::mutex> lock(g_pend_mu);
  if (awaiting_locked()) finish_pending_locked(nullptr, 0);
}

// Copies a completed reply out and clears the request; a request without one arms the
// late-reply guard.
bool take_reply(uint8_t* out, int out_size, int* out_len) {
  std::lock_guard<std::mutex> lock(g_pend_mu);
  const bool ok = g_pend.done && g_pend.len > 0;
  if (ok) {
    int n = out ? (g_pend.len < out_size ? g_pend.len : out_size) : 0;
    if (n < 0) n = 0;
    if (n > 0) std::memcpy(out, g_pend.reply, static_cast<size_t>(n));
    if (out_len) *out_len = n;
  } else {
    g_late_guard.store(gm_now_ms() + kLateGuardMs);
  }
  g_pend.active = false;
  g_pend.done = false;
  return ok;
}

void wait_out_late_guard() {
  const uint64_t until = g_late_guard.load();
  const uint64_t now = gm_now_ms();
  if (until > now) sleep_ms(until - now < kLateGuardMaxWaitMs ? until - now : kLateGuardMaxWaitMs);
  g_late_guard.store(0);
}

// ---- push delivery --------------------------------------------------------------------------

void deliver_push(uint32_t hash, const uint8_t* value, int len) {
  g_pushes.fetch_add(1);
  double v = 0;
  bool flag = false;
  const bool decoded = value && len > 0 && wbin_value_of(value, len, &v, &flag);
  const HashEntry* e = find_hash(hash);
  if (!e) {
    const uint8_t token = value && len > 0 ? value[0] : 0;
    if (WbinUnknownFn fn = g_on_unknown.load()) fn(hash, v, flag, token);
    dlogf("[ctl] push for an unlearned node: hash=%08X token=%02X decoded=%d value=%.3f", hash,
          token, decoded ? 1 : 0, v);
    return;
  }
  if (WbinPushFn fn = g_on_push.load()) fn(e->group, e->index, e->leaf, v, flag);
}

// ---- record split ---------------------------------------------------------------------------

struct RxState {
  WbinUnescaper unesc;
  uint8_t buf[kRxBytes];
  size_t len = 0;
  // The last record handled was a definition: the desk ends its definition reply with DE, and
  // that DE must not end a list request sent after the definition arrived.
  bool after_definition = false;
  void clear() {
    len = 0;
    unesc.pending = false;
    after_definition = false;
  }
};

// A hash record (D7, hash, one value token): part of a list reply, the reply, or a push.
void on_hash_record(const uint8_t* rec, size_t len) {
  const uint32_t hash = wbin_be32(rec + 1);
  {
    std::lock_guard<std::mutex> lock(g_pend_mu);
    if (awaiting_locked() && g_pend.collect) {
      const size_t have = static_cast<size_t>(g_pend.len);
      if (have + len <= kWbinReplyBytes) {
        std::memcpy(g_pend.reply + have, rec, len);
        g_pend.len = static_cast<int>(have + len);
      }
      return;
    }
    const bool reply = awaiting_locked() && !g_pend.raw &&
                       (g_pend.expected ? g_pend.expected == hash : !find_hash(hash));
    if (reply) {
      finish_pending_locked(rec, len);
      return;
    }
  }
  deliver_push(hash, rec + 5, static_cast<int>(len - 5));
}

void on_definition(const uint8_t* rec, size_t len) {
  std::lock_guard<std::mutex> lock(g_pend_mu);
  if (awaiting_locked() && g_pend.raw) finish_pending_locked(rec, len);
}

void on_end_of_list() {
  std::lock_guard<std::mutex> lock(g_pend_mu);
  if (awaiting_locked() && g_pend.collect) {
    g_pend.done = true;
    if (HANDLE ev = g_event.load()) SetEvent(ev);
  }
}

// Length of the complete record at p, 0 while it is incomplete, -1 for a byte that starts none.
long record_len(const uint8_t* p, size_t avail) {
  const int have = static_cast<int>(avail < kRxBytes ? avail : kRxBytes);
  if (p[0] == kWbinHashRec) {
    if (have < 6) return 0;
    const int vlen = wbin_token_len(p + 5, have - 5);
    return vlen < 0 || 5 + vlen > have ? 0 : 5 + vlen;
  }
  if (p[0] == kWbinEscape) {
    if (have < 3) return 0;
    // An empty definition (length 0) is a complete three-byte record like any other, so that it
    // cannot hold up the records behind it.
    const long n = 3 + wbin_be16(p + 1);
    return n > have ? 0 : n;
  }
  return -1;
}

// Splits the decoded bytes into records; returns how many bytes were consumed.
size_t split_records(const uint8_t* buf, size_t len, bool& after_definition) {
  size_t i = 0;
  while (i < len) {
    const long n = record_len(buf + i, len - i);
    if (n == 0) break;
    if (n < 0) {
      if (buf[i] == kWbinEndList && !after_definition) on_end_of_list();
      after_definition = false;
      ++i;
      continue;
    }
    after_definition = buf[i] != kWbinHashRec;
    if (buf[i] == kWbinHashRec) {
      on_hash_record(buf + i, static_cast<size_t>(n));
    } else {
      on_definition(buf + i, static_cast<size_t>(n));
    }
    i += static_cast<size_t>(n);
  }
  return i;
}

// Unescapes received bytes into the buffer and handles every complete record in it.
void rx_take(RxState& st, const uint8_t* in, size_t n) {
  st.len += st.unesc.feed(in, n, st.buf + st.len, kRxBytes - st.len);
  const size_t used = split_records(st.buf, st.len, st.after_definition);
  const size_t rest = st.len - used;
  if (used && rest) std::memmove(st.buf, st.buf + used, rest);
  st.len = rest;
  if (rest > kRxResyncBytes) {
    dlogf("[ctl] rx resync");
    st.len = 0;
  }
}

// ---- receive thread -------------------------------------------------------------------------

// The socket failed or was dropped: close it if it is still the link's, end any request.
void close_link(SOCKET fd) {
  g_drop.store(false);
  {
    std::lock_guard<std::mutex> lock(g_send_mu);
    if (g_sock.load() == fd) {
      gm_closesocket(fd);
      g_sock.store(INVALID_SOCKET);
      g_connected.store(false);
    }
  }
  end_pending_empty();
}

DWORD rx_main(void* arg) {
  const unsigned gen = static_cast<unsigned>(reinterpret_cast<uintptr_t>(arg));
  RxState st;
  uint8_t in[kRxChunk];
  while (running(gen)) {
    const SOCKET fd = g_sock.load();
    if (fd == INVALID_SOCKET) {
      nap(100, gen);
      st.clear();
      continue;
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, 100);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0 && !g_drop.load()) continue;
    const ssize_t n = ready > 0 ? recv(fd, in, sizeof in, 0) : -1;
    if (n < 0 && errno == EINTR && !g_drop.load()) continue;
    if (n <= 0 || g_drop.load()) {
      close_link(fd);
      st.clear();
      continue;
    }
    g_recv.fetch_add(1);
    rx_take(st, in, static_cast<size_t>(n));
  }
  return 0;
}

// ---- control thread -------------------------------------------------------------------------

struct CtlArgs {
  unsigned gen;
  char ip[64];
};

bool wait_writable(SOCKET s, int limit_ms, unsigned gen) {
  const uint64_t end = gm_now_ms() + static_cast<uint64_t>(limit_ms);
  while (running(gen)) {
    const uint64_t now = gm_now_ms();
    if (now >= end) return false;
    pollfd p{s, POLLOUT, 0};
    const int r = poll(&p, 1, end - now < 100 ? static_cast<int>(end - now) : 100);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return true;  // SO_ERROR tells what went wrong
  }
  return false;
}

// Connects without blocking for longer than the limit; the socket is left blocking on success.
bool connect_within(SOCKET s, const in_addr& addr, unsigned gen, int* err, bool* timed_out) {
  const int flags = fcntl(s, F_GETFL, 0);
  fcntl(s, F_SETFL, flags | O_NONBLOCK);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kWbinPort);
  to.sin_addr = addr;
  if (connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    if (errno != EINPROGRESS) {
      *err = errno;
      return false;
    }
    if (!wait_writable(s, kConnectLimitMs, gen)) {
      *timed_out = true;
      *err = ETIMEDOUT;
      return false;
    }
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (gm_getsockopt(s, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) so_error = errno;
    if (so_error != 0) {
      *err = so_error;
      return false;
    }
  }
  fcntl(s, F_SETFL, flags);
  return true;
}

void note_connect_failure(const char* ip, int err, bool timed_out) {
  const long attempt = g_failures.fetch_add(1) + 1;
  if (attempt == 1 || attempt % 20 == 0) {
    logf(
        "[ctl] cannot connect to %s:2222 (attempt %ld, %s %d) - the desk answers discovery but "
        "refuses control: WING Edit / the WING app may hold its connections, or a firewall "
        "blocks TCP 2222",
        ip, attempt, timed_out ? "timed out" : "socket error", err);
  }
}

// Makes a connected socket the link's. False (socket closed) when the link was stopped meanwhile.
bool adopt_socket(SOCKET s, const char* ip, unsigned gen) {
  gm_setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &kSendTimeoutMs, sizeof kSendTimeoutMs);
  {
    std::lock_guard<std::mutex> lock(g_send_mu);
    if (!running(gen)) {
      gm_closesocket(s);
      return false;
    }
    g_drop.store(false);
    g_sock.store(s);
    g_connected.store(true);
    g_last_tx.store(gm_now_ms());
  }
  logf("[ctl] connected %s:2222 (native control)", ip);
  g_failures.store(0);
  return true;
}

void try_connect(const CtlArgs& a) {
  in_addr addr;
  if (inet_pton(AF_INET, a.ip, &addr) != 1) {
    nap(1000, a.gen);
    return;
  }
  const SOCKET s = gm_socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    nap(500, a.gen);
    return;
  }
  int err = 0;
  bool timed_out = false;
  if (connect_within(s, addr, a.gen, &err, &timed_out)) {
    adopt_socket(s, a.ip, a.gen);
    return;
  }
  gm_closesocket(s);
  if (!running(a.gen)) return;
  note_connect_failure(a.ip, err, timed_out);
  net_probe(a.ip, kWbinPort, kDiscovery, sizeof kDiscovery - 1);
}

// After 4 s without a transmission, asks the probe; a failed probe drops the link. The probe is
// asked again only after another 4 s, whether or not it transmitted anything itself.
void keep_alive(uint64_t* last_probe) {
  const WbinProbe probe = g_probe.load();
  if (!probe) return;
  const uint64_t now = gm_now_ms();
  const uint64_t tx = g_last_tx.load();
  const uint64_t since = tx > *last_probe ? tx : *last_probe;
  if (now <= since || now - since <= kIdleMs) return;
  *last_probe = now;
  if (probe() || !g_connected.load()) return;
  logf("[ctl] keep-alive failed, dropping");
  std::lock_guard<std::mutex> lock(g_send_mu);
  const SOCKET fd = g_sock.load();
  if (fd != INVALID_SOCKET) shutdown(fd, SHUT_RDWR);
  g_drop.store(true);
  g_connected.store(false);
}

DWORD ctl_main(void* arg) {
  CtlArgs* a = static_cast<CtlArgs*>(arg);
  bool tried = false;
  uint64_t last_attempt = 0;
  uint64_t last_probe = 0;
  while (running(a->gen)) {
    if (g_connected.load()) {
      keep_alive(&last_probe);
      nap(kPassMs, a->gen);
      continue;
    }
    // A dropped socket is closed by the receive thread before the next one is made.
    const bool waiting = tried && gm_now_ms() - last_attempt < kRetryMs;
    if (waiting || g_sock.load() != INVALID_SOCKET) {
      nap(150, a->gen);
      continue;
    }
    tried = true;
    last_attempt = gm_now_ms();
    try_connect(*a);
  }
  delete a;
  return 0;
}

// ---- sending --------------------------------------------------------------------------------

bool send_whole(SOCKET fd, const WbinBuf& msg) {
  size_t off = 0;
  const size_t total = msg.n < kWbinMsgBytes ? msg.n : kWbinMsgBytes;
  if (total == 0) return false;
  while (off < total) {
    const ssize_t n = gm_send(fd, msg.b + off, total - off, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  g_last_tx.store(gm_now_ms());
  g_sent.fetch_add(1);
  return true;
}

void stop_thread(HANDLE* h, bool* left) {
  if (!*h) return;
  if (WaitForSingleObject(*h, kStopWaitMs) != WAIT_OBJECT_0) {
    note_thread_left_running();
    *left = true;
  }
  FindClose(*h);
  *h = nullptr;
}

}  // namespace

bool wbin_start(const char* ip, WbinProbe probe) {
  if (!ip || !*ip) return false;
  ensure_init();
  std::lock_guard<std::mutex> life(g_life_mu);
  if (g_ctl_thread) return true;
  auto* args = new CtlArgs{g_gen.fetch_add(1) + 1, {}};
  std::strncpy(args->ip, ip, sizeof args->ip - 1);
  g_probe.store(probe);
  g_failures.store(0);
  g_run.store(true);
  void* gen_arg = reinterpret_cast<void*>(static_cast<uintptr_t>(args->gen));
  g_rx_thread = CreateThread(nullptr, 0, rx_main, gen_arg, 0, nullptr);
  if (g_rx_thread) g_ctl_thread = CreateThread(nullptr, 0, ctl_main, args, 0, nullptr);
  if (g_ctl_thread) return true;
  logf("[ctl] could not start the link threads (error %u)", GetLastError());
  delete args;
  g_run.store(false);
  bool left = false;
  stop_thread(&g_rx_thread, &left);
  return false;
}

void wbin_stop() {
  std::lock_guard<std::mutex> life(g_life_mu);
  g_run.store(false);
  {
    std::lock_guard<std::mutex> lock(g_send_mu);
    const SOCKET fd = g_sock.load();
    if (fd != INVALID_SOCKET) shutdown(fd, SHUT_RDWR);
  }
  if (HANDLE ev = g_event.load()) SetEvent(ev);
  bool left = false;
  stop_thread(&g_ctl_thread, &left);
  stop_thread(&g_rx_thread, &left);
  {
    // A thread that did not end may still hold the socket: it is let go, not closed under it.
    std::lock_guard<std::mutex> lock(g_send_mu);
    const SOCKET fd = g_sock.exchange(INVALID_SOCKET);
    if (fd != INVALID_SOCKET && !left) gm_closesocket(fd);
  }
  g_connected.store(false);
}

bool wbin_connected() {
  return g_connected.load();
}
long wbin_sent() {
  return g_sent.load();
}
long wbin_recv() {
  return g_recv.load();
}
long wbin_pushes() {
  return g_pushes.load();
}
long wbin_connect_failures() {
  return g_failures.load();
}

bool wbin_send_only(const WbinBuf& msg) {
  std::lock_guard<std::mutex> lock(g_send_mu);
  const SOCKET fd = g_sock.load();
  if (!g_connected.load() || fd == INVALID_SOCKET) return false;
  return send_whole(fd, msg);
}

bool wbin_transact(const WbinBuf& msg, bool raw, uint32_t expected_hash, uint8_t* out, int out_size,
                   int* out_len, int timeout_ms, bool collect) {
  if (out_len) *out_len = 0;
  const HANDLE ev = g_event.load();
  if (!g_run.load() || !ev || g_sock.load() == INVALID_SOCKET) return false;
  if (expected_hash == 0) wait_out_late_guard();
  std::lock_guard<std::mutex> request(g_req_mu);
  {
    std::lock_guard<std::mutex> lock(g_send_mu);
    const SOCKET fd = g_sock.load();
    if (fd == INVALID_SOCKET) return false;
    ResetEvent(ev);
    arm_pending(raw, collect, expected_hash);
    if (!send_whole(fd, msg)) {
      std::lock_guard<std::mutex> pend(g_pend_mu);
      g_pend.active = false;
      return false;
    }
  }
  WaitForSingleObject(ev, timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : 0);
  return take_reply(out, out_size, out_len);
}

void wbin_on_push(WbinPushFn fn) {
  g_on_push.store(fn);
}
void wbin_on_unknown(WbinUnknownFn fn) {
  g_on_unknown.store(fn);
}

void wbin_deliver_record(uint32_t hash, const uint8_t* value, int len) {
  deliver_push(hash, value, value ? len : 0);
}

void wbin_hash_learn(uint32_t hash, const char* group, int index, const char* leaf) {
  if (hash == 0) return;
  long full_at = 0;
  {
    std::lock_guard<std::mutex> lock(g_table_mu);
    const int n = g_hash_count.load(std::memory_order_relaxed);
    if (find_hash(hash)) return;
    if (n < kWbinMaxHashes) {
      HashEntry& e = g_table[n];
      e.hash = hash;
      copy_name(e.group, group);
      e.index = index;
      copy_name(e.leaf, leaf);
      g_hash_count.store(n + 1, std::memory_order_release);
      return;
    }
    if (g_table_full_logged) return;
    g_table_full_logged = true;
    full_at = n;
  }
  logf(
      "[bin] node-hash table is FULL (%ld) - %s %d/%s and every new leaf after it will be read "
      "UNGUARDED. Reads can be mis-attributed; restart LV1 to clear it.",
      full_at, group ? group : "?", index, leaf ? leaf : "?");
}

uint32_t wbin_known_hash(const char* group, int index, const char* leaf) {
  if (!group || !leaf) return 0;
  const int n = g_hash_count.load(std::memory_order_acquire);
  for (int i = 0; i < n; ++i) {
    const HashEntry& e = g_table[i];
    if (e.index == index && same_name(e.group, group) && same_name(e.leaf, leaf)) return e.hash;
  }
  return 0;
}

bool wbin_hash_is_elsewhere(uint32_t hash, const char* group, int index) {
  const HashEntry* e = find_hash(hash);
  if (!e) return false;
  if (!group) return true;
  return e->index != index || !same_name(e->group, group);
}

int wbin_hash_count() {
  return g_hash_count.load(std::memory_order_acquire);
}

bool wbin_preload(const char* identity_line) {
  const char* comma = identity_line ? std::strrchr(identity_line, ',') : nullptr;
  if (!comma) return false;
  bool ran = false;
  if (!g_preloaded.compare_exchange_strong(ran, true)) return true;
  char firmware[48];
  std::strncpy(firmware, comma + 1, sizeof firmware - 1);
  firmware[sizeof firmware - 1] = '\0';
  if (char* colon = std::strchr(firmware, ':')) *colon = '\0';
  if (std::strcmp(firmware, kWingPreloadFirmware) != 0) {
    logf("[bin] firmware %s: no hash table for this build - learning hashes as it reads", firmware);
    return true;
  }
  for (int i = 0; i < kWingHashes0Count; ++i) {
    const WingHashRow& r = kWingHashes0[i];
    wbin_hash_learn(r.hash, r.group, r.index, r.leaf);
  }
  logf("[bin] firmware %s: %d node hashes preloaded - no read runs on trust", firmware,
       kWingHashes0Count);
  return true;
}

int wbin_rx_feed_for_tests(const uint8_t* bytes, size_t n, const WbinTestRequest* request) {
  static RxState st;
  ensure_init();
  if (request) arm_pending(request->raw, request->collect, request->expected_hash);
  if (bytes && n) rx_take(st, bytes, n);
  if (!request) return -1;
  std::lock_guard<std::mutex> lock(g_pend_mu);
  const int got = g_pend.done ? g_pend.len : -1;
  g_pend.active = false;
  g_pend.done = false;
  return got;
}

}  // namespace gm
