// The desk's event loop: one thread polls every socket and runs the timed work (delayed
// replies, meter frames). Everything the desk does happens on this thread, so its state needs
// no locks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace wingsim {

// Milliseconds of a monotonic clock.
int64_t now_ms();

class Reactor {
 public:
  using FdHandler = std::function<void(short revents)>;
  // Called on every pass; returns the time (now_ms) at which it wants its next call, or
  // kNever.
  using Ticker = std::function<int64_t(int64_t now)>;
  static constexpr int64_t kNever = INT64_MAX;

  // Watches fd for `events` (POLLIN / POLLOUT); replaces an earlier watch of the same fd.
  void watch(int fd, short events, FdHandler handler);
  void set_events(int fd, short events);
  // Safe to call from a handler, also for the fd being handled.
  void unwatch(int fd);
  void add_ticker(Ticker ticker);

  // Runs until stop(). Returns at once when stop() was already called.
  void run();
  void stop() { running_ = false; }

 private:
  struct Watch {
    uint64_t generation;
    short events;
    FdHandler handler;
  };
  int64_t run_tickers();
  void dispatch(int fd, uint64_t generation, short revents);

  std::map<int, Watch> watches_;
  std::vector<Ticker> tickers_;
  uint64_t generation_ = 0;
  bool running_ = true;
};

}  // namespace wingsim
