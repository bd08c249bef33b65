// The updater's timetable with the moment given by the caller, so that the 30-second, 6-hour and
// 10-minute rules can be driven without waiting; and the staged flag as the apply step sets it.
// updater_tick keeps one UpdaterTimes for the process and passes the monotonic clock.
//
// Threads: updater_tick_at runs on one thread at a time for a given UpdaterTimes (the app's
// timer thread); it starts the check thread itself. updater_set_staged may be called from any
// thread.
#pragma once

#include <cstdint>

namespace gm {

struct UpdaterTimes {
  int64_t next_check = 0;  // milliseconds of the caller's clock; 0 = the tick has never run
  int64_t next_apply = 0;
};

// One tick at `now_ms` (which must be above 0): the first sets the first check 30 s later and
// reads whether a stage waits; a due check starts on a detached thread unless one runs (then the
// next is due in 6 h); a complete stage is applied while no check runs, LV1 is closed and
// bundle_mutex() is free, at most every 10 min. `quit` becomes true when the app bundle was
// replaced and the new copy started with "--updated=<this pid>".
void updater_tick_at(UpdaterTimes& times, int64_t now_ms, bool& quit);
// The two halves of updater_tick_at: everything but the apply, returning whether the apply is due
// now; and the apply when it is due.
bool updater_poll_at(UpdaterTimes& times, int64_t now_ms);
void updater_apply_at(UpdaterTimes& times, int64_t now_ms, bool& quit);

void updater_set_staged(bool staged);

}  // namespace gm
