// Polling for something another thread or process makes true, without timed assertions.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace gmtest {

// Polls pred every 20 ms until it holds or `limit` passes; the last answer of pred.
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(3)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return pred();
}

// The same with the limit in milliseconds, for callers that keep their timeouts as numbers.
inline bool wait_for(const std::function<bool()>& done, int timeout_ms) {
  return eventually(done, std::chrono::milliseconds(timeout_ms));
}

}  // namespace gmtest
