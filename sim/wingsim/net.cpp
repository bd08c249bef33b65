// Socket helpers.
#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wingsim {
namespace {

int bound_socket(int type, const std::string& ip, int port, std::string& err) {
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
  // A listener may rebind over connections still in TIME_WAIT; UDP ports are never shared.
  if (type == SOCK_STREAM) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
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
  return bound_socket(SOCK_DGRAM, ip, port, err);
}

int listen_tcp(const std::string& ip, int port, std::string& err) {
  int fd = bound_socket(SOCK_STREAM, ip, port, err);
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

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace wingsim
