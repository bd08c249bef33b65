// What the module's suites (tests/module, tests/desk, tests/bridge) share beside tests/support:
// loopback sockets, byte strings, a record of the desk's pushes and checks of the host's log.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "support/host_harness.h"

namespace gmtest {

// ip:port as a socket address.
inline sockaddr_in ipv4(const std::string& ip, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
  return a;
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

inline long ms_since(std::chrono::steady_clock::time_point t) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t)
          .count());
}

// The parts one after another.
template <class T>
T cat(std::initializer_list<T> parts) {
  T out;
  for (const T& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The desk's pushes as "group index/leaf=value" lines, from any thread. The push callbacks carry
// no context, so there is one record per test process: pushes().
class PushLog {
 public:
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mu_);
    lines_.clear();
  }
  // The callback for the link's push registrations.
  static void record(const char* group, int index, const char* leaf, double value, bool);

 private:
  mutable std::mutex mu_;
  std::vector<std::string> lines_;
};

inline PushLog& pushes() {
  static PushLog log;
  return log;
}
inline void PushLog::record(const char* group, int index, const char* leaf, double value, bool) {
  char line[128];
  std::snprintf(line, sizeof line, "%s %d/%s=%g", group, index, leaf, value);
  std::lock_guard<std::mutex> lock(pushes().mu_);
  pushes().lines_.push_back(line);
}

// Every one of the lines was logged.
inline void expect_lines(const FakeHost& host, const std::vector<std::string>& lines) {
  for (const std::string& l : lines) EXPECT_TRUE(host.has_line(l)) << l;
}

// Each line was logged exactly that many times.
inline void expect_counts(const FakeHost& host,
                          const std::vector<std::pair<std::string, int>>& counts) {
  for (const auto& [line, n] : counts) EXPECT_EQ(host.count_lines(line), n) << line;
}

}  // namespace gmtest
