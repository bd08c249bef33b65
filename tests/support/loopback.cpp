// Unique loopback addresses per test.
#include "support/loopback.h"

#include <unistd.h>

#include <atomic>

namespace gmtest {

std::string unique_loopback() {
  static std::atomic<unsigned> counter{0};
  const unsigned pid = static_cast<unsigned>(getpid());
  const unsigned n = counter.fetch_add(1);
  const unsigned a = 1 + (pid % 250);
  const unsigned b = 1 + ((pid / 250) % 250);
  const unsigned c = 2 + ((n + pid * 7) % 250);
  return "127." + std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
}

}  // namespace gmtest
