// Finding LV1 in the process table at a cost that does not grow with the machine: a show
// computer runs hundreds of processes, and the app looks for LV1 every second.
//
// While the LV1 found last still runs (the same pid with the same start time and name) the
// answer comes from it without listing anything. Otherwise the table is listed only when a
// process was created since the previous listing, and only the processes that were not in that
// listing have their names read. All names are read again every 10 s when a process was created
// since they were last read (a process id reused between two listings, or a new process that
// became LV1 after its name was read), and every 60 s in any case (a process that became LV1
// long after it started). A process first listed in the last 2 s has its name read on every
// call, so that one listed between its fork and its exec is seen as LV1 as soon as it is one; after
// a first listing, whose young processes are not known, all names are read again 2 s later.
//
// Threads: a finder is not thread-safe; its owner serialises calls. Blocks only on reading the
// process table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gm {

// The process table as the finder reads it: the platform's, or a test's.
class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // The process ids now running, in the order the system lists them.
  virtual std::vector<uint32_t> ids() = 0;
  // The process's short name; "" when it cannot be read.
  virtual std::string name(uint32_t pid) = 0;
  // When the process started, in microseconds since the epoch; -1 when it cannot be read.
  virtual int64_t start_us(uint32_t pid) = 0;
  // A number that changes whenever a process is created; 0 when that cannot be told.
  virtual uint64_t creation_mark() { return 0; }
};

// The platform's process table.
ProcessTable& system_process_table();

struct Lv1Process {
  uint32_t pid = 0;       // 0: not running
  int64_t start_us = -1;  // -1: unknown
};

class Lv1Finder {
 public:
  // The first process named exactly "eMotion LV1" in listing order, as of `now_ms` (a monotonic
  // clock in milliseconds).
  Lv1Process find(ProcessTable& table, int64_t now_ms);

 private:
  static constexpr int64_t kFullScanMs = 10000;
  static constexpr int64_t kQuietFullScanMs = 60000;
  static constexpr int64_t kYoungMs = 2000;

  struct Young {
    uint32_t pid;
    int64_t listed_ms;
  };

  Lv1Process found(ProcessTable& table, uint32_t pid);

  Lv1Process known_;
  std::vector<uint32_t> listed_;  // the previous listing, sorted; its names were read
  uint64_t listed_mark_ = 0;      // the creation mark read just before that listing
  bool scanned_ = false;
  int64_t full_scan_ms_ = 0;
  uint64_t full_scan_mark_ = 0;  // the creation mark read just before the last full look
  std::vector<Young> young_;     // processes first listed lately, not LV1 when last read
};

}  // namespace gm
