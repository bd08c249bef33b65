// Discovery, OSC and X32 / M32 answers.
#include "udp_responder.h"

#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

#include "log.h"
#include "net.h"
#include "osc.h"

namespace wingsim {
namespace {

constexpr int kDiscoveryPort = 2222;
constexpr int kOscPort = 2223;
constexpr int kXinfoPort = 10023;

// Receives one datagram; false when none is waiting.
bool receive(int fd, std::vector<uint8_t>& buf, sockaddr_in& from) {
  buf.resize(2048);
  socklen_t len = sizeof from;
  const ssize_t n =
      recvfrom(fd, buf.data(), buf.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
  if (n < 0) return false;
  buf.resize(static_cast<size_t>(n));
  return true;
}

void reply(int fd, const sockaddr_in& to, const void* p, size_t n) {
  sendto(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

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

bool UdpResponder::open(const std::string& ip, std::string& err) {
  int fds[3] = {-1, -1, -1};
  const int ports[3] = {kDiscoveryPort, kOscPort, kXinfoPort};
  for (int i = 0; i < 3; ++i) {
    if ((i == 2) != x32_) continue;
    fds[i] = bind_udp(ip, ports[i], err);
    if (fds[i] < 0) {
      for (int& fd : fds) close_fd(fd);
      return false;
    }
  }
  close();
  discovery_fd_ = fds[0];
  osc_fd_ = fds[1];
  xinfo_fd_ = fds[2];
  watch_all();
  return true;
}

void UdpResponder::watch_all() {
  if (discovery_fd_ >= 0) reactor_.watch(discovery_fd_, POLLIN, [this](short) { on_discovery(); });
  if (osc_fd_ >= 0) reactor_.watch(osc_fd_, POLLIN, [this](short) { on_osc(); });
  if (xinfo_fd_ >= 0) reactor_.watch(xinfo_fd_, POLLIN, [this](short) { on_xinfo(); });
}

void UdpResponder::close() {
  for (int* fd : {&discovery_fd_, &osc_fd_, &xinfo_fd_}) {
    if (*fd >= 0) reactor_.unwatch(*fd);
    close_fd(*fd);
  }
}

void UdpResponder::send_meter(const sockaddr_in& to, const uint8_t* p, size_t n) {
  if (discovery_fd_ >= 0) reply(discovery_fd_, to, p, n);
}

void UdpResponder::on_discovery() {
  std::vector<uint8_t> buf;
  sockaddr_in from{};
  while (receive(discovery_fd_, buf, from)) {
    if (buf.size() < 5 || memcmp(buf.data(), "WING?", 5) != 0) continue;
    ++questions_;
    const std::string line = discovery_line(id_);
    reply(discovery_fd_, from, line.data(), line.size());
  }
}

void UdpResponder::on_osc() {
  std::vector<uint8_t> buf;
  sockaddr_in from{};
  std::string address;
  while (receive(osc_fd_, buf, from)) {
    if (!osc_parse_query(buf.data(), buf.size(), address)) continue;
    const int node = desk_.tree().find(address);
    if (node == NodeTree::kNone || !desk_.tree().at(node).is_leaf()) continue;
    const std::vector<uint8_t> msg = leaf_message(address, desk_.tree().at(node));
    reply(osc_fd_, from, msg.data(), msg.size());
  }
}

void UdpResponder::on_xinfo() {
  std::vector<uint8_t> buf;
  sockaddr_in from{};
  std::string address;
  while (receive(xinfo_fd_, buf, from)) {
    if (!osc_parse_query(buf.data(), buf.size(), address) || address != "/xinfo") continue;
    ++questions_;
    const std::vector<uint8_t> msg =
        osc_message("/xinfo", {OscArg{'s', id_.ip}, OscArg{'s', id_.name}, OscArg{'s', id_.model},
                               OscArg{'s', id_.firmware}});
    reply(xinfo_fd_, from, msg.data(), msg.size());
  }
}

}  // namespace wingsim
