// The app core's monotonic clock for timers and caches, which a change of the wall clock never
// moves.
//
// Threads: any. Never blocks.
#pragma once

#include <chrono>
#include <cstdint>

namespace gm {

// Milliseconds of the monotonic clock (an arbitrary origin, never going back).
inline int64_t monotonic_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace gm
