// What the app knows of eMotion LV1: whether it runs, since when, where it is installed and
// which version it is.
//
// Threads: every function may be called from any thread. lv1_info serialises its bundle lookup
// (cached for 10 s, process-wide) under its own mutex and reads the process facts outside it;
// the others keep no state. Nothing here blocks beyond reading /proc and the bundle's
// Info.plist, logs or throws; failures read as "not running" or "not found".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gm {

// LV1's process name, exactly; a longer name that begins with it is another program.
inline constexpr const char* kLv1ProcessName = "eMotion LV1";
// Where LV1's bundle is looked for: this path, then the same below the home folder.
inline constexpr const char* kLv1AppPath = "/Applications/Waves/eMotion LV1/eMotion LV1.app";

struct Lv1 {
  uint32_t pid = 0;     // the running LV1, 0 when none
  int64_t up_ms = -1;   // since it started; -1 not running, 0 start time unreadable
  int64_t start_s = 0;  // its start in wall-clock seconds, 0 when unknown
  std::string app;      // its bundle, "" when not found
  std::string version;  // its bundle version, "" when unknown
};

// The first process, in the order the process table lists them, named exactly "eMotion LV1";
// 0 when there is none or the table cannot be read. Found at a cost that does not grow with the
// number of processes while LV1 runs (see lv1_finder.h).
uint32_t lv1_pid();
bool lv1_running();

// The running LV1's facts and the installed bundle (the bundle part cached for 10 s).
Lv1 lv1_info();

// The bundle lookup itself, uncached: the first of the two bundle paths that holds
// Contents/Info.plist, and its CFBundleVersion or, when that is empty, its
// CFBundleShortVersionString (at most 511 bytes). Both "" when none is found.
void lv1_find_bundle(std::string* app, std::string* version);

// Drops the cached bundle lookup, so that the next lv1_info looks again.
void lv1_forget_bundle();

}  // namespace gm
