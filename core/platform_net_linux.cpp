// Network interfaces through getifaddrs, and SO_BINDTODEVICE standing in for the bound-interface
// socket option.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "platform.h"

namespace gm {

std::vector<NetIface> ipv4_interfaces() {
  std::vector<NetIface> list;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return list;
  for (const ifaddrs* a = all; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name) continue;
    NetIface n;
    n.index = if_nametoindex(a->ifa_name);
    if (n.index == 0) continue;
    n.addr = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
    if (a->ifa_netmask)
      n.mask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr;
    n.up = (a->ifa_flags & IFF_UP) != 0;
    n.broadcast = (a->ifa_flags & IFF_BROADCAST) != 0;
    n.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    list.push_back(n);
  }
  freeifaddrs(all);
  return list;
}

bool bind_to_interface(int fd, unsigned index) {
  char name[IF_NAMESIZE] = {};
  if (index == 0 || !if_indextoname(index, name)) return false;
  return setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name,
                    static_cast<socklen_t>(std::strlen(name) + 1)) == 0;
}

}  // namespace gm
