// The poll loop.
#include "reactor.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace wingsim {

int64_t now_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Reactor::watch(int fd, short events, FdHandler handler) {
  watches_[fd] = Watch{++generation_, events, std::move(handler)};
}

void Reactor::set_events(int fd, short events) {
  auto it = watches_.find(fd);
  if (it != watches_.end()) it->second.events = events;
}

void Reactor::unwatch(int fd) {
  watches_.erase(fd);
}

void Reactor::add_ticker(Ticker ticker) {
  tickers_.push_back(std::move(ticker));
}

int64_t Reactor::run_tickers() {
  int64_t next = kNever;
  const int64_t now = now_ms();
  for (auto& t : tickers_) next = std::min(next, t(now));
  return next;
}

void Reactor::dispatch(int fd, uint64_t generation, short revents) {
  auto it = watches_.find(fd);
  if (it == watches_.end() || it->second.generation != generation) return;
  FdHandler handler = it->second.handler;  // the handler may unwatch itself
  handler(revents);
}

void Reactor::run() {
  std::vector<pollfd> fds;
  std::vector<uint64_t> generations;
  while (running_) {
    const int64_t next = run_tickers();
    if (!running_) break;
    fds.clear();
    generations.clear();
    for (const auto& [fd, w] : watches_) {
      fds.push_back(pollfd{fd, w.events, 0});
      generations.push_back(w.generation);
    }
    int timeout = 1000;
    if (next != kNever) timeout = static_cast<int>(std::clamp<int64_t>(next - now_ms(), 0, 1000));
    const int n = poll(fds.data(), fds.size(), timeout);
    if (n < 0 && errno != EINTR) break;
    for (size_t i = 0; n > 0 && i < fds.size() && running_; ++i) {
      if (fds[i].revents) dispatch(fds[i].fd, generations[i], fds[i].revents);
    }
  }
}

}  // namespace wingsim
