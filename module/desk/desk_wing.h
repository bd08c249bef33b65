// desk_wing: the WING as a desk backend. The bridge reaches the desk only through the table that
// desk() returns; this file fills it with the control operations, metering, and the WING-specific
// operations: discovery, the adopted desk, stereo legs, input names, head amps, group sizes.
//
// Threads: wing_scan on the discover thread; the input-name, head-amp and group helpers on the
// watch thread (their caches are not locked); the rest as their wctl_/wnat_ counterparts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gm {

// One console that answered discovery. Text fields are cut to their size minus one.
struct DeskFound {
  char ip[48];     // the address the reply came from
  char name[40];   // field 2 of the reply (may contain commas)
  char model[24];  // field 3
  char id[40];     // field 4 (serial); the address text when that is empty
  char line[160];  // the reply line as received
  int32_t card;    // SoundGrid card: 1 present, 0 absent, -1 unknown
};

// fn(group, index, leaf, value, flag, extra text): a push of a known node; extra is always null
// for this desk.
typedef void (*DeskPushFn)(const char* group, int index, const char* leaf, double value, bool flag,
                           const char* extra);

// The backend table. Field order is the slot order the bridge relies on.
struct DeskBackend {
  const char* family;  // 0 "Behringer WING"
  const char* maker;   // 1 "Music Tribe"
  const char* (*describe)();
  bool (*start)(const char* ip);
  void (*stop)();
  bool (*connected)();
  int (*scan)(const char* ip, DeskFound* out, int max, int timeout_ms);
  void (*adopt)(const DeskFound* desk);
  bool (*get_channel)(const char* grp, int n, double* db, bool* phantom, bool* gain_found,
                      bool* phantom_found);
  bool (*get_gain)(const char* grp, int n, double* db);
  bool (*get_phantom)(const char* grp, int n, bool* on);  // 10
  bool (*get_mute)(const char* grp, int n, int* state);
  bool (*get_stereo_leg)(const char* grp, int n, int* leg);
  int (*gain_index)(const char* grp, int n);
  bool (*get_patch)(const char* out_grp, int n, char* grp_buf, size_t size, int* input);
  bool (*set_patch)(const char* out_grp, int n, const char* src_grp, int src_input);
  bool (*probe_hash_out)(const char* out_grp, int n, const char* leaf, uint32_t* hash, char* buf,
                         size_t size);
  bool (*get_input_name)(const char* grp, int n, char* buf, size_t size);
  bool (*get_range)(const char* grp, int n, double* min_db, double* max_db, double* step_db);
  bool (*group_has_preamp)(const char* grp);
  bool (*set_gain)(const char* grp, int n, double db);  // 20
  bool (*set_phantom)(const char* grp, int n, bool on);
  bool (*set_mode)(const char* grp, int n, const char* text);
  void (*on_push)(DeskPushFn fn);
  bool (*meter_start)(const char* ip);  // 24
  void (*meter_stop)();
  bool (*metering)();
  uint64_t (*meter_frames)();
  bool (*input_level)(const char* group, int input, double* db);
  bool (*input_peak)(const char* group, int input, double* db);
  bool (*input_clipped)(const char* group, int input);  // 30
  long (*sent)();
  long (*received)();
  long (*pushes)();
  bool (*get_slot_type)(const char* slot, char* buf, size_t size);
  bool (*get_headamp)(const char* grp, int n, int* type);
  bool (*get_port_device)(const char* port, char* buf, size_t size);
  bool (*get_ha_remote)(const char* port, bool* on);
  int (*device_preamps)(const char* text);
  uint32_t caps;  // 39: 0x1F
  int (*group_size)(const char* grp);  // 40
  bool (*get_tcplock)(bool* on);
  void* reserved42;
  void* reserved43;
};

const DeskBackend* desk();
// Failed connect attempts of the control link since its last start or success.
long desk_link_failures();

// The adopted desk's line ("" before the first adoption), in a buffer of the calling thread that
// the next call on that thread rewrites.
const char* wing_describe();
// wctl_start, then the firmware hash preload (once per load) from the adopted line.
bool wing_start(const char* ip);
// Discovery: unicast to ip, or broadcast when ip is null. Blocks for timeout_ms plus up to 1 s
// per console found for its card check, which stops once `stopping` (wing_scan_stops_when) says
// so. At most min(max, 8) consoles.
int wing_scan(const char* ip, DeskFound* out, int max, int timeout_ms);
// Names what tells wing_scan that the module is shutting down (null: nothing does). The bridge
// names it before it starts a thread. Any thread.
void wing_scan_stops_when(bool (*stopping)());
// Remembers the desk's line; logs when its firmware differs from the one adopted before.
void wing_adopt(const DeskFound* desk);
void wing_on_push(DeskPushFn fn);
// Leg 0 for mode "M"; "ST": 1 (odd n) or 2 (even n); "M/S": 3 (odd) or 4 (even).
bool wing_get_stereo_leg(const char* grp, int n, int* leg);
bool wing_get_input_name(const char* grp, int n, char* buf, size_t size);
bool wing_group_has_preamp(const char* grp);
bool wing_get_headamp(const char* grp, int n, int* type);
int wing_device_preamps(const char* text);
int wing_group_size(const char* grp);

// Parses a discovery reply datagram from `sender` into a record (card -1). False when the
// datagram does not begin with "WING". Exposed for tests and the fuzzer.
bool wing_parse_reply(const char* datagram, size_t len, const char* sender, DeskFound* out);

}  // namespace gm
