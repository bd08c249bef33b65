// A sequence counter for records that one writer at a time changes and any thread reads without
// a lock: the counter is odd while a write is under way, and a reader retries its copy until it
// saw the same even count before and after.
//
// Threads: writers must be serialised by the caller (one mutex per record or per table); read()
// may run on any thread at any time and never blocks, but yields after 16 failed tries. The
// fields a reader copies should themselves be atomics, so that a torn copy is only ever thrown
// away, never undefined.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace gm_base {

class SeqCount {
 public:
  void begin() { seq_.fetch_add(1); }
  void end() { seq_.fetch_add(1); }

  // Calls copy() until it ran without a write in between, and returns what it returned.
  template <typename F>
  auto read(F copy) const {
    for (int tries = 0;; ++tries) {
      const uint32_t before = seq_.load();
      if ((before & 1) == 0) {
        auto v = copy();
        if (seq_.load() == before) return v;
      }
      if (tries >= 16) std::this_thread::yield();
    }
  }

 private:
  std::atomic<uint32_t> seq_{0};
};

}  // namespace gm_base
