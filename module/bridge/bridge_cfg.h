// bridge_cfg: the module's settings file (wing.cfg, passed by the loader as GmHost.cfg_path).
//
// Read whole at start, re-read in part while running (diag / session_recall by the watch
// thread, ip / console by the discover thread), written back whole after a settings request or
// a protect-list change, and edited one key at a time to store a new hint.
//
// Thread safety: every accessor may be called from any thread; values are guarded by one mutex
// inside this file. File I/O never happens under that mutex except for the short copy of values.
//
// Discovery reads the hint and the forced address (ip=) from net_util, to which this file hands
// every change of either (net_set_named_addresses).
#pragma once

#include <cstdint>
#include <string>

namespace gm {

inline constexpr int kMaxProtect = 32;

// One entry of the 48V protect list: a desk input that must never get 48V.
struct ProtectEntry {
  char group[8];  // desk input group, NUL-terminated, at most 7 characters ("" = unused slot)
  int input;      // desk input number, > 0
};

// A snapshot of every setting.
struct CfgValues {
  std::string ip;       // at most 63 characters; may be empty or invalid (checked by the caller)
  std::string hint;     // at most 63 characters
  std::string console;  // at most 39 characters (the pin)
  std::string bank = "LCL";  // at most 7 characters
  int base = 1;
  int watch = 64;  // 1..64
  bool notify = true;
  std::string card = "MOD";  // at most 7 characters
  bool resync_desk = false;  // false: LV1 wins after a dropout
  bool session_recall = true;
  ProtectEntry protect[kMaxProtect] = {};
  int n_protect = 0;
  bool diag = false;
};

// Reads the whole file named by the host (gm_cfg_path()) into the settings; a missing file keeps
// the defaults. Called by bridge_start before any module thread runs. Sets the detail level.
void load_cfg();

// Rewrites the whole file (other lines and comments are lost): the settings this module changed
// since its last save (bank, base, watch and resync by a settings request, the protect entries
// added and removed) put over the settings the file holds now, so that the app's and the user's
// edits since the file was read are kept; from the current values when the file cannot be read.
// No-op without a path. Logs the outcome.
//
// Writes hold the advisory lock on "<file>.lock" that the app's edits hold, waiting at most 2 s
// for it; a write that cannot get it in time is logged and not made.
void save_cfg();

// Changes one key in place, keeping every other line. False for an empty key or a null value,
// when the file is too large to edit (16384 bytes), its lock is not had in time or it cannot be
// written.
bool cfg_set_key(const char* key, const char* value);

// Watch thread, every cycle: at most every 3000 ms, picks up diag and session_recall edits.
// now_ms is the monotonic clock.
void cfg_refresh_live(uint64_t now_ms);

// Discover thread, each sweep: picks up ip and console edits.
void cfg_reload_pin();

// A copy of every value.
CfgValues cfg_snapshot();

// Single values, for hot paths.
int cfg_base();
int cfg_watch();
bool cfg_notify();
bool cfg_resync_desk();
bool cfg_session_recall();
std::string cfg_bank();
std::string cfg_card();
std::string cfg_ip();
std::string cfg_console();
std::string cfg_hint();

// Changes made by the settings request of the status block and the dashboard. They change the
// values in memory only; the caller saves with save_cfg() when it wants them kept.
void cfg_apply_request(const char* bank, int base, int watch, bool resync_desk);
void cfg_set_hint(const char* hint);  // memory only; cfg_set_key stores it

// The protect list. Group comparison ignores case. cfg_protect_add returns false when the list
// is full, the entry is already there or the group cannot be stored (cfg_group_storable);
// cfg_protect_remove false when it was not there.
bool cfg_is_protected(const char* group, int input);
// Whether a group name can stand in a protect= line: not empty and none of ",:;" or white space.
bool cfg_group_storable(const char* group);
bool cfg_protect_add(const char* group, int input);
bool cfg_protect_remove(const char* group, int input);
int cfg_protect_copy(ProtectEntry out[kMaxProtect]);  // returns the count

// Back to the built-in defaults and no path (a later load_cfg starts afresh). Tests and a
// re-armed bridge use it.
void cfg_reset();

}  // namespace gm
