// The app core's shared state and the pieces of start-up and housekeeping behind the entry
// points: the setup message, the last scan, the busy and guest flags, the loader-blocked flag.
//
// Threads: every function here may be called from any thread. core_mutex() guards the fields of
// CoreState; it is held only while copying or assigning them (and while logging a new message),
// never across a file read, a scan or an install.
#pragma once

#include <mutex>
#include <string>

#include "discovery.h"
#include "lv1.h"

namespace gm {

struct CoreState {
  Found found[2];
  std::string msg;  // the one-line setup message; "" for none
  bool busy = false;
  bool guest[2] = {false, false};  // LV1 uses that console only as shared from another LV1
  bool loader_blocked = false;     // LV1 started after the install, but the loader never appeared
  bool fake = false;               // demo mode
};

std::mutex& core_mutex();
CoreState& core_state();  // only under core_mutex()

// Sets the setup message; a non-empty one is logged as "setup: <text>".
void set_msg(const std::string& text);
std::string current_msg();

// The app bundle of the running executable: its path without "/Contents/MacOS/Gainmesh", or ""
// when the executable is not inside such a bundle.
std::string app_from_exe();

// Settings edits of the entry points, returning whether the console's settings file took them.
bool set_recall(int which, bool on);
bool set_resync(int which, bool lv1_wins);

// Turns the loader's live status into messages, once a second from the app's tick. The facts of
// LV1 are a parameter so that the caller decides the moment; check_blocks() reads them now.
void check_blocks(const Lv1& lv1);
void check_blocks();

// Applies what this app carries beyond the installed bundle, at most once a minute and never
// while another bundle change runs: a newer loader or Waves resources only while LV1 is closed
// (then at most every 10 minutes), new console modules at once.
void apply_carried(bool lv1_running);
// Whether apply_carried has something to do now, by the same rules, without doing it. When
// nothing is pending the next look is a minute away, as after a run. Small file reads only.
bool carried_due(bool lv1_running);

// Starts the guest watch thread once per process; it runs until the process ends.
void start_guest_watch();
// Called by the session-database watch after each change: the next pass runs 250 ms after a
// burst ends, but never later than 2 s after its first change.
void guest_session_changed();

}  // namespace gm
