// The module's UDP helpers: one-datagram probes to a desk, and the flag that records whether
// the system refuses the module's sends to the local network.
#include "net_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <atomic>
#include <cerrno>

#include "gm_win32.h"

namespace gm {
namespace {

std::atomic<bool> g_blocked{false};

}  // namespace

void net_note_unicast(ssize_t send_result) {
  if (send_result >= 0) {
    g_blocked.store(false);
    return;
  }
  // EPERM / EHOSTUNREACH would ask the local-network detector for its verdict. The detector is
  // not built yet, so for now a refused send leaves the flag as it is, like every other error.
}

bool net_blocked() {
  return g_blocked.load();
}

bool net_probe(const char* ip, int port, const void* bytes, size_t length) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  if (!ip || inet_pton(AF_INET, ip, &to.sin_addr) != 1) return false;
  if (port <= 0 || port > 65535 || (!bytes && length > 0)) return false;
  to.sin_port = htons(static_cast<uint16_t>(port));
  const SOCKET s = gm_socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return false;
  const ssize_t sent =
      gm_sendto(s, bytes, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const int err = errno;
  net_note_unicast(sent);
  gm_closesocket(s);
  errno = err;
  return sent >= 0 && static_cast<size_t>(sent) == length;
}

}  // namespace gm
