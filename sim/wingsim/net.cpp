// Socket helpers.
#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wingsim {
namespace {

int bound_socket(int type, const std::string& ip, int port, bool shared, std::string& err) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, ip.c_str(), &a.sin_addr) != 1) {
    err = "The address " + ip + " is not IPv4 text.";
    return -1;
  }
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    err = std::string("Cannot create a socket: ") + strerror(errno) + ".";
    return -1;
  }
  const int one = 1;
  // A listener may rebind over connections still in TIME_WAIT; a UDP port is shared only by
  // the broadcast listeners of desks on one machine.
  if (type == SOCK_STREAM || shared) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (type == SOCK_DGRAM) setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    err = std::string("Cannot bind ") + (type == SOCK_STREAM ? "TCP " : "UDP ") + ip + ":" +
          std::to_string(port) + ": " + strerror(errno) + ".";
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool valid_ipv4(const std::string& ip) {
  in_addr a;
  return inet_pton(AF_INET, ip.c_str(), &a) == 1;
}

int bind_udp(const std::string& ip, int port, std::string& err) {
  return bound_socket(SOCK_DGRAM, ip, port, false, err);
}

int bind_udp_shared(const std::string& broadcast, int port, std::string& err) {
  return bound_socket(SOCK_DGRAM, broadcast, port, true, err);
}

bool broadcast_network(const std::string& ip, unsigned& ifindex, std::string& directed) {
  in_addr want{};
  ifaddrs* list = nullptr;
  if (inet_pton(AF_INET, ip.c_str(), &want) != 1 || getifaddrs(&list) != 0) return false;
  bool found = false;
  for (const ifaddrs* i = list; i && !found; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_netmask) continue;
    const in_addr addr = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
    if (addr.s_addr != want.s_addr) continue;
    if ((i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_BROADCAST)) break;
    in_addr b{};
    b.s_addr = addr.s_addr | ~reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr;
    ifindex = if_nametoindex(i->ifa_name);
    directed = ip_text(b);
    found = ifindex != 0;
  }
  freeifaddrs(list);
  return found;
}

bool receive_udp(int fd, std::vector<uint8_t>& buf, Arrival& a) {
  buf.resize(2048);
  iovec iov{buf.data(), buf.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr m{};
  m.msg_name = &a.from;
  m.msg_namelen = sizeof a.from;
  m.msg_iov = &iov;
  m.msg_iovlen = 1;
  m.msg_control = control;
  m.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(fd, &m, MSG_DONTWAIT);
  if (n < 0) return false;
  buf.resize(static_cast<size_t>(n));
  a.local = in_addr{};
  a.ifindex = 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info;
    std::memcpy(&info, CMSG_DATA(c), sizeof info);
    a.local = info.ipi_spec_dst;
    a.ifindex = static_cast<unsigned>(info.ipi_ifindex);
  }
  return true;
}

void send_udp(int fd, const sockaddr_in& to, in_addr from, const void* p, size_t n) {
  iovec iov{const_cast<void*>(p), n};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr m{};
  m.msg_name = const_cast<sockaddr_in*>(&to);
  m.msg_namelen = sizeof to;
  m.msg_iov = &iov;
  m.msg_iovlen = 1;
  if (from.s_addr != INADDR_ANY) {
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst = from;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  sendmsg(fd, &m, MSG_NOSIGNAL | MSG_DONTWAIT);
}

int listen_tcp(const std::string& ip, int port, std::string& err) {
  int fd = bound_socket(SOCK_STREAM, ip, port, false, err);
  if (fd >= 0 && listen(fd, 16) != 0) {
    err = "Cannot listen on " + ip + ":" + std::to_string(port) + ": " + strerror(errno) + ".";
    close_fd(fd);
  }
  return fd;
}

std::string addr_text(const sockaddr_in& a) {
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
}

std::string ip_text(in_addr a) {
  char ip[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &a, ip, sizeof ip);
  return ip;
}

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace wingsim
