// wing_ctl: every question and change the bridge puts to the desk, as native requests on the
// control link (wingbin). Each read checks the kind of its answer before believing it and
// learns the node hash it was answered with.
//
// All functions run on their caller's thread and block for at most one or a few request
// time-outs (400 ms each unless said). They return true when the desk answered and the answer
// passed its checks; a null or empty required argument, or an index below 1 (above 64 where
// said, above 65536 elsewhere), returns false without sending. Sets return whether the message
// left the module; the desk's push of the new value confirms it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wingbin.h"

namespace gm {

// Link and counters.
bool wctl_start(const char* ip);  // wbin_start with the keep-alive probe (gain of LCL 1)
void wctl_stop();
bool wctl_connected();
long wctl_sent();
long wctl_recv();
long wctl_pushes();
void wctl_on_push(WbinPushFn fn);
void wctl_on_unknown_push(WbinUnknownFn fn);

// The group name as sent: "BUS", "MAIN", "MTX", "SEND", "MON" (any case) become "$BUS" ...
// Writes into out (at least 8 bytes).
void wctl_wire_group(const char* grp, char* out, size_t size);

// One leaf of /io/in/<grp>/<n>/<leaf>, with its value type checked ("g" float; "vph", "mute"
// 0/1; "$mute", "$ha" small integer). Learns the hash on success.
bool read_leaf(const char* grp, int n, const char* leaf, double* value, bool* flag);

bool wctl_get_gain(const char* grp, int n, double* db);
bool wctl_get_phantom(const char* grp, int n, bool* on);
// 1: "mute" is on; 2: only "$mute" is nonzero; 0: not muted. True when either read answered.
bool wctl_get_mute(const char* grp, int n, int* state);
bool wctl_get_headamp(const char* grp, int n, int* id);
bool wctl_get_mode(const char* grp, int n, char* buf, size_t size);  // "M", "ST" or "M/S"
bool wctl_get_input_leaf_str(const char* grp, int n, const char* leaf, char* buf, size_t size);
bool wctl_get_input_leaf_bool(const char* grp, int n, const char* leaf, bool* flag);

// The input whose gain leaf controls input n: n - 1 for an even n >= 2 whose mode reads "ST",
// else n (also when the mode cannot be read).
int wctl_gain_index(const char* grp, int n);

// The gain range from the gain node's definition (600 ms).
bool wctl_get_range(const char* grp, int n, double* min_db, double* max_db, double* step_db);
// Parses a definition reply; exposed for tests and the fuzzer.
bool wctl_parse_range(const uint8_t* r, int len, double* min_db, double* max_db, double* step_db);

// Gain and 48V of an input in one list request (500 ms). Records of other known nodes met in
// the list are delivered as pushes. *db and *phantom are written only when found (so a caller
// may preset them); gain_found and phantom_found say which were, and may be null.
bool wctl_get_channel(const char* grp, int n, double* db, bool* phantom, bool* gain_found,
                      bool* phantom_found = nullptr);

// The walk over a list reply behind wctl_get_channel, free of side effects; exposed for tests
// and the fuzzer. Records for which is_foreign is true go to deliver and are not counted. Of
// the rest, the one with gain_hash (with none known: the second) and a float is the gain, the
// one with vph_hash (with none known: the third) and 0/1 is the 48V. Stops at a cut record.
struct WctlRecordSink {
  void* ctx;
  bool (*is_foreign)(void* ctx, uint32_t hash);
  void (*deliver)(void* ctx, uint32_t hash, const uint8_t* value, int len);
};
struct WctlChannelScan {
  int counted = 0;  // records of this node
  bool gain_found = false;
  double db = 0;
  uint32_t gain_hash = 0;
  bool phantom_found = false;
  bool phantom = false;
  uint32_t phantom_hash = 0;
};
WctlChannelScan wctl_scan_channel(const uint8_t* r, int len, uint32_t gain_hash, uint32_t vph_hash,
                                  const WctlRecordSink& sink);

bool wctl_set_gain(const char* grp, int n, double db);
bool wctl_set_phantom(const char* grp, int n, bool on);
bool wctl_set_mode(const char* grp, int n, const char* text);

// The source patched to output n (1..64) of the slot "MOD" or "CRD".
bool wctl_get_patch(const char* out_grp, int n, char* grp_buf, size_t size, int* input);
bool wctl_set_patch(const char* out_grp, int n, const char* src_grp, int src_input);

// A channel strip's (1..64) name and source; group "" or "OFF" gives input 0 and success.
bool wctl_get_ch_source(int ch, char* name_buf, size_t name_size, char* grp_buf, size_t grp_size,
                        int* input);

// Read a leaf without a known hash; report the hash answered and, when a string, its text.
// Nothing is learned. Either out-argument may be null.
bool wctl_probe_hash(const char* grp, int n, const char* leaf, uint32_t* hash, char* buf,
                     size_t size);
bool wctl_probe_hash_out(const char* out_grp, int n, const char* leaf, uint32_t* hash, char* buf,
                         size_t size);

bool wctl_get_slot_type(const char* slot, char* buf, size_t size);    // "MOD" or "CRD"
bool wctl_get_port_device(const char* port, char* buf, size_t size);  // "SC", "A", "B", "C"
bool wctl_get_ha_remote(const char* port, bool* on);                  // "A", "B", "C"
bool wctl_get_tcplock(bool* on);

}  // namespace gm
