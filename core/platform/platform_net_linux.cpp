// Network interfaces through getifaddrs, SO_BINDTODEVICE standing in for the bound-interface
// socket option, and the system's release from os-release. Linux has no per-app Local Network
// permission, and says so through os_macos_major().
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <fstream>

#include "platform.h"

namespace gm {

std::vector<NetIface> ipv4_interfaces() {
  std::vector<NetIface> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_name) continue;
    NetIface n;
    n.name = i->ifa_name;
    n.index = if_nametoindex(i->ifa_name);
    if (n.index == 0) continue;
    n.addr = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    if (i->ifa_netmask) {
      n.mask = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
    }
    n.up = (i->ifa_flags & IFF_UP) != 0;
    n.broadcast = (i->ifa_flags & IFF_BROADCAST) != 0;
    n.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    out.push_back(n);
  }
  freeifaddrs(list);
  return out;
}

bool bind_to_interface(int fd, unsigned index) {
  char name[IF_NAMESIZE] = {};
  if (index == 0 || !if_indextoname(index, name)) return false;
  return setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name,
                    static_cast<socklen_t>(std::strlen(name) + 1)) == 0;
}

int os_macos_major() { return -1; }

std::string os_version_text() {
  for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
    std::ifstream in(path);
    if (!in) continue;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
      std::string value = line.substr(12);
      while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
      if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
        value = value.substr(1, value.size() - 2);
      }
      return value;
    }
    return "";
  }
  return "";
}

}  // namespace gm
