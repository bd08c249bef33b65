// The console scan: a running module's console first, then broadcasts on every network.
#include "discovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "install_state.h"
#include "lv1.h"
#include "platform.h"
#include "status.h"
#include "util.h"

namespace gm {
namespace {

constexpr int kWaitMs = 400;
constexpr int kWingAttempts = 3;
constexpr int kWingWaitsPerAttempt = 4;
constexpr int kX32Attempts = 2;
constexpr size_t kMaxInterfacesSeen = 64;
constexpr const char* kAllOnes = "255.255.255.255";
constexpr uint8_t kWingQuestion[] = {'W', 'I', 'N', 'G', '?'};
constexpr uint8_t kXinfoQuery[] = {'/', 'x', 'i', 'n', 'f', 'o', 0, 0, ',', 0, 0, 0};

// A test outside a network namespace of its own switches broadcasts off; only the build that
// carries the tests looks.
bool broadcast_allowed() {
#ifdef GM_TEST_HOOKS
  const char* off = std::getenv("GAINMESH_TEST_NO_BROADCAST");
  return !off || !off[0];
#else
  return true;
#endif
}

// The interfaces a scan broadcasts on: up, broadcast-capable, not loopback.
bool scanned(const NetIface& n) {
  return n.up && n.broadcast && !n.loopback;
}

// An IPv4 UDP socket that may broadcast, with a 400 ms receive time-out, tied to interface
// `index` unless it is 0; -1 on failure.
int udp_socket(unsigned index) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  const timeval tv{0, kWaitMs * 1000};
  sockaddr_in any{};
  any.sin_family = AF_INET;
  if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
      (index != 0 && !bind_to_interface(fd, index)) ||
      bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void send_to(int fd, const std::string& ip, int port, const uint8_t* p, size_t n) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, ip.c_str(), &to.sin_addr) != 1) return;
  sendto(fd, p, n, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// The question to every listed address from the broadcast socket, and to 255.255.255.255 from
// every interface socket.
void ask_everywhere(const ScanSockets& s, int port, const uint8_t* p, size_t n) {
  for (const std::string& a : s.addresses) send_to(s.broadcast, a, port, p, n);
  for (int fd : s.per_interface) send_to(fd, kAllOnes, port, p, n);
}

std::vector<int> all_fds(const ScanSockets& s) {
  std::vector<int> fds = {s.broadcast};
  fds.insert(fds.end(), s.per_interface.begin(), s.per_interface.end());
  return fds;
}

// Waits up to 400 ms for one of fds to be readable; its position, or -1.
int wait_any(const std::vector<int>& fds) {
  std::vector<pollfd> p;
  for (int fd : fds) p.push_back(pollfd{fd, POLLIN, 0});
  if (poll(p.data(), p.size(), kWaitMs) <= 0) return -1;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i].revents & POLLIN) return static_cast<int>(i);
  }
  return -1;
}

// One datagram of at most 511 bytes; its length, or -1.
ssize_t receive(int fd, uint8_t (&buf)[kMaxReply]) {
  return recv(fd, buf, sizeof buf, MSG_DONTWAIT);
}

bool dotted_ipv4(const std::string& ip) {
  in_addr a{};
  return inet_pton(AF_INET, ip.c_str(), &a) == 1;
}

}  // namespace

bool open_scan_sockets(ScanSockets* s) {
  *s = ScanSockets{};
  s->broadcast = udp_socket(0);
  if (s->broadcast < 0) return false;
  s->addresses.push_back(kAllOnes);
  for (const NetIface& n : ipv4_interfaces()) {
    if (s->addresses.size() >= static_cast<size_t>(kMaxBroadcasts)) break;
    if (!scanned(n)) continue;
    in_addr b{htonl(n.addr | ~n.mask)};
    char text[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &b, text, sizeof text)) s->addresses.push_back(text);
  }
  return true;
}

void open_interface_sockets(ScanSockets* s) {
  std::vector<unsigned> seen;
  for (const NetIface& n : ipv4_interfaces()) {
    if (s->per_interface.size() >= static_cast<size_t>(kMaxBroadcasts)) break;
    if (!scanned(n) || std::find(seen.begin(), seen.end(), n.index) != seen.end()) continue;
    if (seen.size() < kMaxInterfacesSeen) seen.push_back(n.index);
    const int fd = udp_socket(n.index);
    if (fd >= 0) s->per_interface.push_back(fd);
  }
}

void close_interface_sockets(ScanSockets* s) {
  for (int fd : s->per_interface) close(fd);
  s->per_interface.clear();
}

void close_scan_sockets(ScanSockets* s) {
  close_interface_sockets(s);
  if (s->broadcast >= 0) close(s->broadcast);
  s->broadcast = -1;
}

bool ask_wing(const ScanSockets& s, Found* out) {
  const std::vector<int> fds = all_fds(s);
  uint8_t buf[kMaxReply];
  for (int attempt = 0; attempt < kWingAttempts; ++attempt) {
    ask_everywhere(s, kWingDiscoveryPort, kWingQuestion, sizeof kWingQuestion);
    for (int wait = 0; wait < kWingWaitsPerAttempt; ++wait) {
      const int i = wait_any(fds);
      if (i < 0) break;
      const ssize_t n = receive(fds[static_cast<size_t>(i)], buf);
      if (n > 0 && wing_reply_line(buf, static_cast<size_t>(n), &out->reply)) {
        out->found = true;
        return true;
      }
    }
  }
  return false;
}

bool ask_x32(const ScanSockets& s, Found* out) {
  const std::vector<int> fds = all_fds(s);
  uint8_t buf[kMaxReply];
  for (int attempt = 0; attempt < kX32Attempts; ++attempt) {
    ask_everywhere(s, kXinfoPort, kXinfoQuery, sizeof kXinfoQuery);
    const int i = wait_any(fds);
    if (i < 0) continue;
    const ssize_t n = receive(fds[static_cast<size_t>(i)], buf);
    if (n > 0 && xinfo_reply_line(buf, static_cast<size_t>(n), &out->reply)) {
      out->found = true;
      return true;
    }
  }
  return false;
}

bool store_hint(int which, const Found& found, bool installed) {
  if (!installed || !found.found || !dotted_ipv4(found.ip)) return false;
  return cfg_set_line(con_cfg(which), "hint", found.ip);
}

void scan_consoles(Found out[2]) {
  const Live live = live_blocks(lv1_info());
  for (int i = 0; i < 2; ++i) {
    out[i] = Found{};
    const ConStatus st = read_con_status(i, live);
    if (st.valid && st.identity[0]) out[i] = Found{true, st.identity, ""};
  }
  ScanSockets s;
  if ((!out[0].found || !out[1].found) && broadcast_allowed() && open_scan_sockets(&s)) {
    if (!out[0].found) {
      open_interface_sockets(&s);
      ask_wing(s, &out[0]);
      close_interface_sockets(&s);
    }
    if (!out[1].found) {
      open_interface_sockets(&s);
      ask_x32(s, &out[1]);
    }
    close_scan_sockets(&s);
  }
  const bool is_installed = installed();
  for (int i = 0; i < 2; ++i) {
    if (!out[i].found) continue;
    out[i].ip = field(out[i].reply);
    store_hint(i, out[i], is_installed);
  }
}

}  // namespace gm
