// Timed output of a stream socket.
#include "out_queue.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "reactor.h"

namespace wingsim {

void OutQueue::push(std::vector<uint8_t> bytes, int64_t due, bool split) {
  if (bytes.empty()) return;
  bytes_ += bytes.size();
  chunks_.push_back(Chunk{std::move(bytes), 0, due, split});
}

bool OutQueue::flush(int fd, int64_t now) {
  blocked_ = false;
  while (!chunks_.empty() && chunks_.front().due <= now) {
    Chunk& c = chunks_.front();
    const size_t want = c.split ? 1 : c.data.size() - c.off;
    const ssize_t n = send(fd, c.data.data() + c.off, want, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      blocked_ = true;
      return true;
    }
    if (n <= 0) return false;
    c.off += static_cast<size_t>(n);
    bytes_ -= static_cast<size_t>(n);
    if (c.off < c.data.size()) {
      if (c.split) c.due = now + kSplitPauseMs;
      continue;
    }
    const bool was_split = c.split;
    chunks_.pop_front();
    if (was_split && !chunks_.empty()) {
      chunks_.front().due = std::max(chunks_.front().due, now + kSplitPauseMs);
    }
  }
  return true;
}

int64_t OutQueue::next_due() const {
  if (blocked_ || chunks_.empty()) return Reactor::kNever;
  return chunks_.front().due;
}

void OutQueue::clear() {
  chunks_.clear();
  bytes_ = 0;
  blocked_ = false;
}

}  // namespace wingsim
