// Bytes waiting to leave on one non-blocking stream socket, each message no earlier than its
// due time; a message marked split goes out one byte at a time with short pauses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace wingsim {

class OutQueue {
 public:
  static constexpr int kSplitPauseMs = 2;

  void push(std::vector<uint8_t> bytes, int64_t due, bool split);
  // Writes what is due at `now`. False when the socket failed (the caller closes it).
  bool flush(int fd, int64_t now);
  // True when the last flush stopped because the socket would block.
  bool blocked() const { return blocked_; }
  // When a timed write is next due (Reactor::kNever when nothing waits, or when blocked).
  int64_t next_due() const;
  size_t bytes() const { return bytes_; }
  void clear();

 private:
  struct Chunk {
    std::vector<uint8_t> data;
    size_t off;
    int64_t due;
    bool split;
  };
  std::deque<Chunk> chunks_;
  size_t bytes_ = 0;
  bool blocked_ = false;
};

}  // namespace wingsim
