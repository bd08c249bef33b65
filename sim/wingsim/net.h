// Socket helpers of the virtual desk. Every socket is bound to the one IPv4 address the desk
// was given; none is ever allowed to broadcast.
#pragma once

#include <netinet/in.h>

#include <string>

namespace wingsim {

bool valid_ipv4(const std::string& ip);
// A non-blocking UDP socket bound to ip:port, or -1 with a one-sentence reason in err.
int bind_udp(const std::string& ip, int port, std::string& err);
// A non-blocking TCP listener on ip:port, or -1 with a reason in err.
int listen_tcp(const std::string& ip, int port, std::string& err);
// "127.0.0.1:50123"
std::string addr_text(const sockaddr_in& a);
// Closes fd when it is open and sets it to -1.
void close_fd(int& fd);

}  // namespace wingsim
