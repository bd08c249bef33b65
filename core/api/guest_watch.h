// When the guest watch reads LV1's session again, with the moment given by the caller, so that
// its rules can be driven without waiting: every 15 s, sooner when a pass asks for it, and after
// changes to the session. LV1 writes its session in bursts; a burst is read 250 ms after it
// stops, but never later than 2 s after its first change.
//
// Threads: none of its own. The guest watch keeps one under its mutex; times are milliseconds of
// the monotonic clock.
#pragma once

#include <cstdint>
#include <limits>

namespace gm {

class GuestWake {
 public:
  static constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

  // A pass begins: it reads every change made so far.
  void pass_begins();
  // The pass that began at `began` ended; it asks to run again at `own` (kNever for no wish).
  // The next pass is due then, at the latest 15 s after `began`, or sooner for a change.
  void pass_ends(int64_t began, int64_t own);
  // LV1's session changed at `now`.
  void changed(int64_t now);
  int64_t due() const { return due_; }

 private:
  int64_t due_ = kNever;
  int64_t first_ = 0;  // the first change no pass has read yet; 0 for none
};

}  // namespace gm
