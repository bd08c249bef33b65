// bridge_status: publishes the module's live state in the console status block (layout in
// status_layout.h) and takes the settings requests the app posts there.
//
// The block is a file of the run folder mapped shared; the app reads it from its own process.
// Every function returns at once when the block could not be mapped. Module writes go through
// one internal mutex so that the module's threads and LV1's threads never interleave inside a
// field; the app's side takes no lock and may see a field torn.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "status_layout.h"

namespace gm {

// The block's name: "Local\GainmeshStatus" + tag, cut to 63 wide characters.
std::wstring status_block_name(const wchar_t* instance_tag);

// Maps the block once (no-op when mapped): creates the file at 262144 bytes, maps 11200, zeroes
// bytes 8.. and writes magic and version. False when it cannot be mapped. Any module thread.
bool shm_init();

// Watch thread, every 50 ms: the connection fields, shm_publish_v2, then a settings request.
void shm_sync();

// Watch thread: everything but the search and candidate fields.
void shm_publish_v2();

// Discover or watch thread: find_state, moves, forced_ip, ip_id, ip_name.
void shm_publish_find();

// Discover thread, once per sweep while no desk is adopted: the search note as status text
// (see the rules in the .cpp) plus the find fields.
void shm_note_searching(const char* note);

// Discover thread, each broadcast sweep: the consoles that answered (at most 6 kept), the
// console= pin and the choice state.
struct DeskFound;
void shm_publish_candidates(const DeskFound* found, int n, const char* pinned, int choice);

// A desk was adopted: its address and description.
void shm_publish_desk(const char* ip, const char* desc);

// LV1 threads and the watch thread: a gain or 48V the module sent (published value, sets
// counter, last_set_ms) or read.
void shm_publish_gain(int ch, double gain_db);
void shm_publish_phantom(int ch, bool on);
void shm_count_set(uint64_t now_ms);
// The 48V state the block shows for a channel (false without a block).
bool shm_phantom_shown(int ch);

// ---- dashboard control slots and the group-scan area ------------------------------------------
// Runs fn on the mapped block while holding the block mutex; false, without running fn, when there
// is no block. For the dashboard requests: the client process writes only a slot's request half
// (+0..+39), the module only its answer half and the scan area. fn must not call a shm_*
// function (the mutex is not recursive). Any module thread.
bool shm_with_block(const std::function<void(GmConsoleStatus&)>& fn);
// ---- end of dashboard control slots -----------------------------------------------------------

// m_stop: connected, injected and metering 0, status "Module stopped", unmap. The file stays.
void bridge_status_close();

// What the status text is chosen from while the watch thread runs.
struct StatusTextFacts {
  bool net_blocked = false;
  uint32_t find_state = GM_FIND_NORMAL;
  std::string desk_label;
  bool patch_read = false;
  int link_failures = 0;
  bool tcp_lock = false;
};
std::string status_text(const StatusTextFacts& facts);

inline constexpr const char* kBlockedText =
    "Blocked from the local network - allow eMotion LV1 under Local Network";

}  // namespace gm
