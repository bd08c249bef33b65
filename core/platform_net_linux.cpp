// The network interfaces and the system's release, standing in for the macOS interface list and
// sysctl. Linux has no per-app Local Network permission, and says so through os_macos_major().
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include "platform.h"

namespace gm {

std::vector<Ipv4Interface> ipv4_interfaces() {
  std::vector<Ipv4Interface> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    Ipv4Interface nif;
    nif.name = i->ifa_name ? i->ifa_name : "";
    nif.addr = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    if (i->ifa_netmask) {
      nif.mask = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
    }
    nif.up = (i->ifa_flags & IFF_UP) != 0;
    nif.broadcast = (i->ifa_flags & IFF_BROADCAST) != 0;
    nif.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
    out.push_back(nif);
  }
  freeifaddrs(list);
  return out;
}

int os_macos_major() {
  return -1;
}

}  // namespace gm
