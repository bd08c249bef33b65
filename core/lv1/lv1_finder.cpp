// LV1 found from the process it was last time, or from the processes that are new since.
#include "lv1_finder.h"

#include <algorithm>

#include "lv1.h"
#include "platform.h"

namespace gm {
namespace {

class SystemProcessTable : public ProcessTable {
 public:
  std::vector<uint32_t> ids() override { return process_ids(); }
  std::string name(uint32_t pid) override { return process_name(pid); }
  int64_t start_us(uint32_t pid) override {
    int64_t s = 0, us = 0;
    return process_start_time(pid, &s, &us) ? s * 1000000 + us : -1;
  }
  uint64_t creation_mark() override { return process_creation_mark(); }
};

}  // namespace

ProcessTable& system_process_table() {
  static SystemProcessTable table;
  return table;
}

Lv1Process Lv1Finder::find(ProcessTable& table, int64_t now_ms) {
  if (known_.pid != 0) {
    if (table.start_us(known_.pid) == known_.start_us && table.name(known_.pid) == kLv1ProcessName)
      return known_;
    known_ = {};
  }
  // A process first listed lately may not have its final name yet (a fork whose exec comes
  // after the listing): its name is read again on every call for a while.
  std::erase_if(young_, [&](const Young& y) {
    return now_ms < y.listed_ms || now_ms - y.listed_ms >= kYoungMs;
  });
  for (const Young& y : young_) {
    if (table.name(y.pid) == kLv1ProcessName) return found(table, y.pid);
  }
  // Read before listing: a process created meanwhile is in this listing or moves the mark again.
  const uint64_t mark = table.creation_mark();
  const bool created = mark == 0 || mark != full_scan_mark_;
  const int64_t since_full = now_ms - full_scan_ms_;
  // A clock that went back counts as time for a full scan too.
  const bool full = !scanned_ || since_full < 0 || since_full >= kQuietFullScanMs ||
                    (created && since_full >= kFullScanMs);
  if (!full && mark != 0 && mark == listed_mark_) return known_;
  std::vector<uint32_t> ids = table.ids();
  listed_mark_ = mark;
  const bool first_listing = listed_.empty();
  if (full) {
    // Which processes of a first listing are young is not known: all are looked at again once
    // they are no longer.
    full_scan_ms_ = first_listing ? now_ms - (kQuietFullScanMs - kYoungMs) : now_ms;
    full_scan_mark_ = mark;
  }
  scanned_ = true;
  for (const uint32_t pid : ids) {
    const bool listed = std::binary_search(listed_.begin(), listed_.end(), pid);
    if (!full && listed) continue;
    if (table.name(pid) == kLv1ProcessName) return found(table, pid);
    if (!listed && !first_listing) young_.push_back({pid, now_ms});
  }
  std::sort(ids.begin(), ids.end());
  listed_ = std::move(ids);
  return known_;
}

Lv1Process Lv1Finder::found(ProcessTable& table, uint32_t pid) {
  known_ = {pid, table.start_us(pid)};
  // The names after it were not read: once this LV1 is gone, the next search reads them all.
  scanned_ = false;
  listed_.clear();
  young_.clear();
  return known_;
}

}  // namespace gm
