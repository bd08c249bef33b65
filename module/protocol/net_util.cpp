// net_util: the module's UDP helpers for finding desks (broadcast lists, per-interface sockets,
// one-question exchanges, OSC card queries) and the detector that tells whether the system
// refuses the module's sends to the local network.
#include "net_util.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "gm_win32.h"

namespace gm {
namespace {

constexpr uint64_t kRetestMs = 5000;
constexpr uint64_t kNeverTested = UINT64_MAX;
constexpr int kDiscardPort = 9;
constexpr int kMaxInterfaces = 64;

// The hint and the forced address, as the settings last handed them over.
struct NamedAddresses {
  std::string hint, forced;
};
std::mutex g_named_mu;  // guards g_named
NamedAddresses g_named;

NamedAddresses named_addresses() {
  std::lock_guard<std::mutex> lock(g_named_mu);
  return g_named;
}

// ---- addresses ----------------------------------------------------------------------------------

bool parse_ipv4(const char* text, in_addr* out) {
  return text && inet_pton(AF_INET, text, out) == 1;
}

bool make_addr(const char* ip, int port, sockaddr_in* to) {
  *to = sockaddr_in{};
  to->sin_family = AF_INET;
  if (!parse_ipv4(ip, &to->sin_addr) || port <= 0 || port > 65535) return false;
  to->sin_port = htons(static_cast<uint16_t>(port));
  return true;
}

void put_text(char (*addrs)[16], int* n, in_addr a) {
  if (!inet_ntop(AF_INET, &a, addrs[*n], 16)) return;
  ++*n;
}

uint32_t prefix_mask(int prefix) {
  return prefix <= 0 ? 0 : ~uint32_t{0} << (32 - prefix);
}

// Every IPv4 address of every interface that is up and not loopback; empty on failure.
std::vector<IP_ADAPTER_ADDRESSES> adapter_list() {
  try {
    for (int attempt = 0; attempt < 3; ++attempt) {
      ULONG size = 0;
      if (GetAdaptersAddresses(AF_INET, 0, nullptr, nullptr, &size) != ERROR_BUFFER_OVERFLOW)
        return {};
      std::vector<IP_ADAPTER_ADDRESSES> buf(size / sizeof(IP_ADAPTER_ADDRESSES) + 1);
      size = static_cast<ULONG>(buf.size() * sizeof(IP_ADAPTER_ADDRESSES));
      const ULONG rc = GetAdaptersAddresses(AF_INET, 0, nullptr, buf.data(), &size);
      if (rc == ERROR_BUFFER_OVERFLOW) continue;
      if (rc != NO_ERROR) return {};
      std::vector<IP_ADAPTER_ADDRESSES> list;
      for (const IP_ADAPTER_ADDRESSES* a = buf.data(); a; a = a->Next) list.push_back(*a);
      return list;
    }
  } catch (const std::exception&) {
  }
  return {};
}

// ---- the blocked detector -----------------------------------------------------------------------

int system_list(NetIfAddr* out, int max) {
  int n = 0;
  for (const IP_ADAPTER_ADDRESSES& a : adapter_list()) {
    if (n >= max) break;
    out[n++] = NetIfAddr{ntohl(a.Address.sin_addr.s_addr), a.PrefixLength, a.Flags};
  }
  return n;
}

int system_send_probe(uint32_t addr) {
  if (!net_broadcast_allowed()) return EHOSTDOWN;  // a test outside its own namespace: send nothing
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(addr);
  to.sin_port = htons(kDiscardPort);
  const SOCKET s = gm_socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return errno ? errno : EIO;
  const char zero = 0;
  const ssize_t sent = gm_sendto(s, &zero, 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const int err = sent == 1 ? 0 : (errno ? errno : EIO);
  gm_closesocket(s);
  return err;
}

uint64_t system_now_ms() {
  return gm_now_ms();
}

const NetDetectorIo kSystemIo{system_list, system_send_probe, system_now_ms};

std::atomic<const NetDetectorIo*> g_io{&kSystemIo};
std::atomic<bool> g_blocked{false};
std::atomic<bool> g_verdict{false};
std::atomic<uint64_t> g_tested_at{kNeverTested};

bool refused(int err) {
  return err == EPERM || err == EHOSTUNREACH;
}

// A host on the interface's subnet that is not the interface itself; false when the interface
// is not one to probe.
bool probe_target(const NetIfAddr& a, uint32_t* host) {
  if (!(a.flags & IFF_UP) || !(a.flags & IFF_BROADCAST)) return false;
  if (a.prefix < 1 || a.prefix > 31) return false;
  const uint32_t network = a.addr & prefix_mask(a.prefix);
  *host = network + 1 == a.addr ? network + 2 : network + 1;
  return true;
}

// Blocked when no probe got out and at least one was refused by the system.
bool detect_blocked(const NetDetectorIo& io) {
  NetIfAddr list[kMaxInterfaces];
  const int n = io.list(list, kMaxInterfaces);
  bool any_refused = false;
  for (int i = 0; i < n && i < kMaxInterfaces; ++i) {
    uint32_t host;
    if (!probe_target(list[i], &host)) continue;
    const int err = io.send_probe(host);
    if (err == 0) return false;
    any_refused = any_refused || refused(err);
  }
  return any_refused;
}

// The last verdict, tested afresh when the last test is 5000 ms old. One thread tests at a
// time; the others take the verdict it replaces.
bool current_verdict() {
  const NetDetectorIo& io = *g_io.load();
  const uint64_t now = io.now_ms();
  uint64_t last = g_tested_at.load();
  const bool due = last == kNeverTested || now - last >= kRetestMs;
  if (!due || !g_tested_at.compare_exchange_strong(last, now)) return g_verdict.load();
  const bool verdict = detect_blocked(io);
  g_verdict.store(verdict);
  return verdict;
}

// ---- per-interface sockets ----------------------------------------------------------------------

bool broadcast_interface(const IP_ADAPTER_ADDRESSES& a) {
  const uint32_t need = IFF_UP | IFF_RUNNING | IFF_BROADCAST;
  return (a.Flags & need) == need && !(a.Flags & IFF_LOOPBACK);
}

// A UDP socket allowed to broadcast, bound to the named interface and to any address, port 0.
SOCKET interface_socket(const char* name) {
  const SOCKET s = gm_socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return INVALID_SOCKET;
  const int on = 1;
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool ok = gm_setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
                  gm_setsockopt(s, SOL_SOCKET, SO_BINDTODEVICE, name,
                                static_cast<socklen_t>(strnlen(name, IFNAMSIZ - 1) + 1)) == 0 &&
                  bind(s, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
  if (ok) return s;
  gm_closesocket(s);
  return INVALID_SOCKET;
}

// Remembers an interface index; false when it was seen before.
bool first_sight(uint32_t index, uint32_t* seen, int* n_seen) {
  for (int i = 0; i < *n_seen; ++i) {
    if (seen[i] == index) return false;
  }
  if (*n_seen < kMaxInterfaces) seen[(*n_seen)++] = index;
  return true;
}

}  // namespace

bool net_broadcast_allowed() {
#ifdef GM_TEST_HOOKS
  const char* off = getenv("GAINMESH_TEST_NO_BROADCAST");
  return !off || !*off;
#else
  return true;
#endif
}

void net_note_unicast(ssize_t send_result) {
  const int err = errno;
  if (send_result >= 0) {
    g_blocked.store(false);
  } else if (refused(err)) {
    g_blocked.store(current_verdict());
  }
  errno = err;
}

bool net_blocked() {
  return g_blocked.load();
}

void net_detector_set_io(const NetDetectorIo* io) {
  g_io.store(io ? io : &kSystemIo);
  g_tested_at.store(kNeverTested);
  g_verdict.store(false);
  g_blocked.store(false);
}

bool net_probe(const char* ip, int port, const void* bytes, size_t length) {
  sockaddr_in to;
  if (!make_addr(ip, port, &to) || (!bytes && length > 0)) return false;
  const SOCKET s = gm_socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return false;
  const ssize_t sent =
      gm_sendto(s, bytes, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const int err = errno;
  net_note_unicast(sent);
  gm_closesocket(s);
  errno = err;
  return sent >= 0 && static_cast<size_t>(sent) == length;
}

int gather_broadcasts(char (*addrs)[16], int max) {
  if (!addrs || max < 1) return 0;
  int n = 0;
  put_text(addrs, &n, in_addr{htonl(INADDR_BROADCAST)});
  const NamedAddresses named = named_addresses();
  const std::string &hint = named.hint, &forced = named.forced;
  in_addr a;
  if (n < max && parse_ipv4(hint.c_str(), &a)) put_text(addrs, &n, a);
  if (n < max && forced != hint && parse_ipv4(forced.c_str(), &a)) put_text(addrs, &n, a);
  for (const IP_ADAPTER_ADDRESSES& ad : adapter_list()) {
    if (n >= max) break;
    if (ad.OperStatus != IfOperStatusUp || ad.PrefixLength < 1 || ad.PrefixLength > 30) continue;
    const uint32_t host = ntohl(ad.Address.sin_addr.s_addr);
    put_text(addrs, &n, in_addr{htonl(host | ~prefix_mask(ad.PrefixLength))});
  }
  return n;
}

int net_adapter_sockets(int* fds, char (*addrs)[16], int max) {
  if (!fds || max < 1) return 0;
  uint32_t seen[kMaxInterfaces];
  int n_seen = 0, n = 0;
  for (const IP_ADAPTER_ADDRESSES& ad : adapter_list()) {
    if (n >= max) break;
    if (!broadcast_interface(ad) || !first_sight(ad.IfIndex, seen, &n_seen)) continue;
    const SOCKET s = interface_socket(ad.AdapterName);
    if (s == INVALID_SOCKET) continue;
    if (addrs && !inet_ntop(AF_INET, &ad.Address.sin_addr, addrs[n], 16)) addrs[n][0] = '\0';
    fds[n++] = s;
  }
  return n;
}

// poll rather than select: a descriptor numbered past FD_SETSIZE, as a busy host process can
// hand out, must not write beyond an fd_set.
int net_wait_any(const int* fds, int n, int timeout_ms) {
  if (!fds || n < 1) return -1;
  std::vector<pollfd> set;
  try {
    set.resize(static_cast<size_t>(n));
  } catch (const std::exception&) {
    return -1;
  }
  for (int i = 0; i < n; ++i) set[i] = pollfd{fds[i], POLLIN, 0};
  const uint64_t deadline = gm_now_ms() + static_cast<uint64_t>(timeout_ms > 0 ? timeout_ms : 0);
  for (;;) {
    const uint64_t now = gm_now_ms();
    const int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
    const int rc = poll(set.data(), set.size(), left);
    if (rc < 0 && errno == EINTR && left > 0) continue;
    if (rc <= 0) return -1;
    for (int i = 0; i < n; ++i) {
      if (set[i].revents & POLLNVAL) return -1;
    }
    for (int i = 0; i < n; ++i) {
      if (set[i].revents & (POLLIN | POLLERR | POLLHUP)) return i;
    }
    return -1;
  }
}

void net_set_named_addresses(const char* hint, const char* forced) {
  std::lock_guard<std::mutex> lock(g_named_mu);
  g_named.hint = hint ? hint : "";
  g_named.forced = forced ? forced : "";
}

bool net_is_hint(const char* addr) {
  if (!addr || !*addr) return false;
  const NamedAddresses named = named_addresses();
  return named.hint == addr || named.forced == addr;
}

int udp_ask(const char* ip, int port, const void* msg, size_t length, char* buf, size_t size,
            int timeout_ms) {
  if (!buf || size < 1) return 0;
  buf[0] = '\0';
  sockaddr_in to;
  if (!make_addr(ip, port, &to) || (!msg && length > 0)) return 0;
  const SOCKET s = gm_socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return 0;
  // A zero time-out would make the receive wait for ever.
  const DWORD wait = static_cast<DWORD>(timeout_ms > 0 ? timeout_ms : 1);
  int got = 0;
  if (gm_setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0) {
    const ssize_t sent =
        gm_sendto(s, msg, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    net_note_unicast(sent);
    if (sent >= 0 && static_cast<size_t>(sent) == length) {
      const ssize_t r = recv(s, buf, size - 1 < 65536 ? size - 1 : 65536, 0);
      got = r > 0 ? static_cast<int>(r) : 0;
    }
  }
  buf[got] = '\0';
  gm_closesocket(s);
  return got;
}

size_t osc_query_msg(char* buf, size_t size, const char* path) {
  if (!buf || !path) return 0;
  const size_t len = strlen(path);
  const size_t padded = (len & ~size_t{3}) + 4;
  if (size < padded + 4) return 0;
  memcpy(buf, path, len);
  memset(buf + len, 0, padded - len);
  memcpy(buf + padded, ",\0\0\0", 4);
  return padded + 4;
}

namespace {

// Length of the NUL-padded OSC string that starts at msg[at], or 0 when its NUL is not inside
// the message.
size_t osc_string_span(const char* msg, size_t length, size_t at) {
  if (at >= length) return 0;
  const void* nul = memchr(msg + at, 0, length - at);
  if (!nul) return 0;
  const size_t len = static_cast<size_t>(static_cast<const char*>(nul) - (msg + at));
  return (len & ~size_t{3}) + 4;
}

uint32_t big_endian_word(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

}  // namespace

char osc_first_arg(const char* msg, size_t length, char* str_buf, size_t str_size, uint32_t* word) {
  if (str_buf && str_size > 0) str_buf[0] = '\0';
  if (!msg) return 0;
  const size_t tags = osc_string_span(msg, length, 0);
  if (tags == 0 || tags >= length || msg[tags] != ',') return 0;
  const size_t tags_span = osc_string_span(msg, length, tags);
  if (tags_span == 0) return 0;
  const char type = msg[tags + 1];
  const size_t arg = tags + tags_span;
  if (type == 's') {
    if (osc_string_span(msg, length, arg) == 0) return 0;
    if (str_buf && str_size > 0) {
      const size_t len = strnlen(msg + arg, str_size - 1);
      memcpy(str_buf, msg + arg, len);
      str_buf[len] = '\0';
    }
    return 's';
  }
  if ((type == 'i' || type == 'f') && arg <= length && length - arg >= 4) {
    if (word) *word = big_endian_word(msg + arg);
    return type;
  }
  return 0;
}

}  // namespace gm
