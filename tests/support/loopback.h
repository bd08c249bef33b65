// Loopback addresses for tests: each desk in a test gets its own 127.x.y.z, so tests that use
// the desk's fixed ports run in parallel without meeting. Beside them, the socket helpers the
// suites share.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace gmtest {

// A fresh address in 127.0.0.0/8, different for every call in this process and, with high
// probability, from every other test process (derived from the process id).
std::string unique_loopback();

// ip:port as a socket address.
inline sockaddr_in ipv4(const std::string& ip, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
  return a;
}

// A dotted address in host byte order; 0 when it is none.
inline uint32_t ip4(const char* text) {
  in_addr a{};
  return inet_pton(AF_INET, text, &a) == 1 ? ntohl(a.s_addr) : 0;
}

// A socket of the given type bound to ip:port (0: any port), close-on-exec; -1 when it cannot be
// bound.
inline int bound_socket(const std::string& ip, int port = 0, int type = SOCK_DGRAM) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  const sockaddr_in a = ipv4(ip, port);
  if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// The address a socket is bound to.
inline sockaddr_in local_address(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return a;
}

// Whether a TCP connection from fd to ip:port is accepted.
inline bool connect_to(int fd, const std::string& ip, int port) {
  const sockaddr_in a = ipv4(ip, port);
  return connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

}  // namespace gmtest
