// Which of the status blocks a process holds open, without reading every one of its descriptors
// on every call: LV1 holds hundreds of files, and the app asks several times a second.
//
// The watch remembers the descriptor that held each block and looks at that one first. Only when
// a block is not found there are the others looked at, and then only when the process's list of
// descriptors changed since they were last looked at, or a second has passed: a block re-created
// or opened anew is seen by the next call after LV1's descriptors change, and within a second in
// any case.
//
// Threads: a watch is not thread-safe; its owner serialises calls. Blocks only on reading the
// process's descriptors.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace gm {

// A process's open files as the watch reads them: the platform's, or a test's.
class OpenFiles {
 public:
  virtual ~OpenFiles() = default;
  // The process's descriptors in ascending order.
  virtual std::vector<int> descriptors(uint32_t pid) = 0;
  // The path the descriptor holds open; "" for none.
  virtual std::string path(uint32_t pid, int fd) = 0;
};

// The platform's view of processes' open files.
OpenFiles& system_open_files();

class BlockWatch {
 public:
  static constexpr size_t kBlocks = 3;
  using Paths = std::array<std::string, kBlocks>;
  using Held = std::array<bool, kBlocks>;

  // Which of `paths` (resolved paths; "" for none) process `pid` holds open, as of `now_ms` (a
  // monotonic clock in milliseconds). Nothing is held by pid 0.
  Held held(OpenFiles& files, uint32_t pid, const Paths& paths, int64_t now_ms);

 private:
  static constexpr int64_t kLookAgainMs = 1000;

  uint32_t pid_ = 0;
  std::array<int, kBlocks> fd_{-1, -1, -1};  // where each block was found last
  std::vector<int> listed_;                  // the descriptors when they were last looked at
  int64_t looked_ms_ = 0;
  bool looked_ = false;
};

}  // namespace gm
