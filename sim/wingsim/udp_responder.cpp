// Discovery, OSC and X32 / M32 answers.
#include "udp_responder.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

#include "log.h"
#include "osc.h"

namespace wingsim {
namespace {

constexpr int kDiscoveryPort = 2222;
constexpr int kOscPort = 2223;
constexpr int kXinfoPort = 10023;

const char kLimitedBroadcast[] = "255.255.255.255";

// The OSC answer to a query of a leaf: its value as the one argument.
std::vector<uint8_t> leaf_message(const std::string& address, const Node& leaf) {
  OscArg arg{'s', {}, 0, 0};
  if (leaf.kind == Kind::kFloat) arg = OscArg{'f', {}, 0, static_cast<float>(leaf.num)};
  if (leaf.kind == Kind::kInt) arg = OscArg{'i', {}, static_cast<int32_t>(leaf.num), 0};
  if (leaf.kind == Kind::kString || leaf.kind == Kind::kEnum) arg.s = leaf.text;
  return osc_message(address, {arg});
}

}  // namespace

std::string discovery_line(const Identity& id) {
  return "WING," + id.ip + "," + id.name + "," + id.model + "," + id.serial + "," + id.firmware;
}

UdpResponder::UdpResponder(Reactor& reactor, const Identity& id, const Desk& desk, bool x32)
    : reactor_(reactor), id_(id), desk_(desk), x32_(x32) {}

UdpResponder::~UdpResponder() {
  close();
}

bool UdpResponder::open_sockets(const std::string& ip, Sockets& s, std::string& err) {
  const int port = x32_ ? kXinfoPort : kDiscoveryPort;
  if (x32_) {
    s.xinfo = bind_udp(ip, kXinfoPort, err);
    if (s.xinfo < 0) return false;
  } else {
    s.discovery = bind_udp(ip, kDiscoveryPort, err);
    s.osc = s.discovery < 0 ? -1 : bind_udp(ip, kOscPort, err);
    if (s.osc < 0) return false;
  }
  std::string directed;
  if (!broadcast_network(ip, s.heard_ifindex, directed)) return true;
  for (const std::string& b : {std::string(kLimitedBroadcast), directed}) {
    const int fd = bind_udp_shared(b, port, err);
    if (fd < 0) return false;
    s.heard.push_back(fd);
  }
  logf("hearing broadcasts to %s and %s on port %d", kLimitedBroadcast, directed.c_str(), port);
  return true;
}

bool UdpResponder::open(const std::string& ip, std::string& err) {
  Sockets next;
  in_addr addr{};
  if (inet_pton(AF_INET, ip.c_str(), &addr) != 1) {
    err = "The address " + ip + " is not IPv4 text.";
    return false;
  }
  if (!open_sockets(ip, next, err)) {
    for (int* fd : {&next.discovery, &next.osc, &next.xinfo}) close_fd(*fd);
    for (int& fd : next.heard) close_fd(fd);
    return false;
  }
  close();
  fds_ = next;
  bound_ = addr;
  watch_all();
  return true;
}

void UdpResponder::watch_all() {
  const int d = fds_.discovery, x = fds_.xinfo;
  if (d >= 0) reactor_.watch(d, POLLIN, [this, d](short) { on_discovery(d); });
  if (fds_.osc >= 0) reactor_.watch(fds_.osc, POLLIN, [this](short) { on_osc(); });
  if (x >= 0) reactor_.watch(x, POLLIN, [this, x](short) { on_xinfo(x); });
  for (const int fd : fds_.heard) {
    reactor_.watch(fd, POLLIN, [this, fd](short) { x32_ ? on_xinfo(fd) : on_discovery(fd); });
  }
}

void UdpResponder::close() {
  for (int* fd : {&fds_.discovery, &fds_.osc, &fds_.xinfo}) {
    if (*fd >= 0) reactor_.unwatch(*fd);
    close_fd(*fd);
  }
  for (int& fd : fds_.heard) {
    reactor_.unwatch(fd);
    close_fd(fd);
  }
  fds_.heard.clear();
}

void UdpResponder::send_meter(const sockaddr_in& to, const uint8_t* p, size_t n) {
  if (fds_.discovery >= 0) send_udp(fds_.discovery, to, in_addr{}, p, n);
}

bool UdpResponder::answer_as(int fd, const Arrival& a, in_addr& self) const {
  if (bound_.s_addr == INADDR_ANY) {
    self = a.local;
    return self.s_addr != INADDR_ANY;
  }
  self = bound_;
  const bool heard = fd != fds_.discovery && fd != fds_.xinfo;
  return !heard || a.ifindex == fds_.heard_ifindex;
}

void UdpResponder::on_discovery(int fd) {
  std::vector<uint8_t> buf;
  Arrival a;
  in_addr self{};
  while (receive_udp(fd, buf, a)) {
    if (buf.size() < 5 || memcmp(buf.data(), "WING?", 5) != 0) continue;
    ++questions_;
    if (!answer_as(fd, a, self)) continue;
    Identity id = id_;
    id.ip = ip_text(self);
    const std::string line = discovery_line(id);
    send_udp(fds_.discovery, a.from, self, line.data(), line.size());
  }
}

void UdpResponder::on_osc() {
  std::vector<uint8_t> buf;
  Arrival a;
  std::string address;
  while (receive_udp(fds_.osc, buf, a)) {
    if (!osc_parse_query(buf.data(), buf.size(), address)) continue;
    const int node = desk_.tree().find(address);
    if (node == NodeTree::kNone || !desk_.tree().at(node).is_leaf()) continue;
    const std::vector<uint8_t> msg = leaf_message(address, desk_.tree().at(node));
    send_udp(fds_.osc, a.from, a.local, msg.data(), msg.size());
  }
}

void UdpResponder::on_xinfo(int fd) {
  std::vector<uint8_t> buf;
  Arrival a;
  in_addr self{};
  std::string address;
  while (receive_udp(fd, buf, a)) {
    if (!osc_parse_query(buf.data(), buf.size(), address) || address != "/xinfo") continue;
    ++questions_;
    if (!answer_as(fd, a, self)) continue;
    const std::vector<uint8_t> msg =
        osc_message("/xinfo", {OscArg{'s', ip_text(self)}, OscArg{'s', id_.name},
                               OscArg{'s', id_.model}, OscArg{'s', id_.firmware}});
    send_udp(fds_.xinfo, a.from, self, msg.data(), msg.size());
  }
}

}  // namespace wingsim
