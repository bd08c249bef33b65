// A second client on the desk's native port that only listens. The desk pushes every value it
// applies to each of its control clients, so the time a value arrives here is when the desk had
// received and applied a set, plus the trip of the push back over loopback.
//
// Threads: start / stop / wait_value / pushes from one driving thread; a receive thread of its
// own records the pushes. It sends nothing to the desk.
#pragma once

#include <time.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gmbench {

class DeskObserver {
 public:
  DeskObserver() = default;
  ~DeskObserver() { stop(); }
  DeskObserver(const DeskObserver&) = delete;
  DeskObserver& operator=(const DeskObserver&) = delete;

  // Connects to ip:2222 and starts the receive thread. False with one sentence in err.
  bool start(const std::string& ip, std::string& err);
  void stop();

  // Waits until a push of node `hash` carrying `value` (within 0.01) arrived at or after
  // since_ns (now_ns clock); returns its arrival time, or -1 after timeout_ms.
  int64_t wait_value(uint32_t hash, double value, int64_t since_ns, int timeout_ms);
  // Value records received so far.
  long pushes() const;
  // The receive thread's CPU-time clock (valid once started).
  clockid_t cpu_clock() const { return cpu_clock_; }

 private:
  struct Seen {
    uint32_t hash;
    double value;
    int64_t at_ns;
  };
  void run();
  void take_records(std::vector<uint8_t>& buf, int64_t at);

  int fd_ = -1;
  std::thread thread_;
  clockid_t cpu_clock_ = CLOCK_THREAD_CPUTIME_ID;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Seen> seen_;
};

}  // namespace gmbench
