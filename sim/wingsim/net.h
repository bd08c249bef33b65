// Socket helpers of the virtual desk. Its sockets are bound to the one IPv4 address the desk
// was given (or the wildcard), plus listeners that hear broadcasts on that address's network;
// none is ever allowed to send a broadcast.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wingsim {

bool valid_ipv4(const std::string& ip);
// A non-blocking UDP socket bound to ip:port, or -1 with a one-sentence reason in err.
int bind_udp(const std::string& ip, int port, std::string& err);
// A non-blocking UDP socket bound to broadcast:port that shares the port with other desks on
// the same machine (SO_REUSEADDR), so that every one of them hears the broadcasts. -1 with a
// reason in err.
int bind_udp_shared(const std::string& broadcast, int port, std::string& err);
// The network of a local address: its interface index and directed broadcast address. False
// when no interface holds ip, or its interface is loopback or cannot broadcast.
bool broadcast_network(const std::string& ip, unsigned& ifindex, std::string& directed);
// A non-blocking TCP listener on ip:port, or -1 with a reason in err.
int listen_tcp(const std::string& ip, int port, std::string& err);
// A received datagram: who sent it, the local address it reached (the address of the
// interface it arrived on when it was a broadcast), and that interface.
struct Arrival {
  sockaddr_in from{};
  in_addr local{};
  unsigned ifindex = 0;
};
// Receives one datagram without blocking (every UDP socket made here reports where datagrams
// arrive); false when none is waiting.
bool receive_udp(int fd, std::vector<uint8_t>& buf, Arrival& a);
// Sends one datagram without blocking, from the local address `from` (the bound address when
// that is INADDR_ANY). Failures are ignored: a lost answer is the asker's to retry.
void send_udp(int fd, const sockaddr_in& to, in_addr from, const void* p, size_t n);
// "127.0.0.1:50123"
std::string addr_text(const sockaddr_in& a);
// "127.0.0.1"
std::string ip_text(in_addr a);
// Closes fd when it is open and sets it to -1.
void close_fd(int& fd);

}  // namespace wingsim
