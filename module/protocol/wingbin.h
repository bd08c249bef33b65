// wingbin: the control link to one WING over its native binary protocol on TCP 2222.
//
// A control thread connects (every 3 s while it fails, with a UDP discovery probe after each
// failure) and keeps an idle link alive; a receive thread unescapes the stream, splits it into
// records, completes the one outstanding request and delivers every other value record as a
// push. The node-hash table ties the desk's 32-bit node hashes to (group, index, leaf) names.
//
// Threads: wbin_start / wbin_stop from the bridge's threads; wbin_transact and wbin_send_only
// from any thread (one request at a time; sets share only the send mutex). Push callbacks run on
// the receive thread, with no lock of this file held. No allocation on the send and receive
// paths.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wingbin_codec.h"

namespace gm {

inline constexpr int kWbinPort = 2222;
inline constexpr int kWbinReplyBytes = 320;
inline constexpr int kWbinMaxHashes = 4096;
inline constexpr const char* kWingPreloadFirmware = "3.1-0-g9f314617";

// Keep-alive: called by the control thread after 4 s without a transmission; false drops the link.
typedef bool (*WbinProbe)();
// A push of a known node.
typedef void (*WbinPushFn)(const char* group, int index, const char* leaf, double value, bool flag);
// A push of a node that is not in the table.
typedef void (*WbinUnknownFn)(uint32_t hash, double value, bool flag, uint8_t token);

// Starts the link threads for the desk at ip (dotted IPv4). False for a null or empty address.
// While the control thread exists a second call returns true and keeps the first address.
bool wbin_start(const char* ip, WbinProbe probe);
// Stops the link: waits up to 2000 ms for each thread; one that does not end is counted as left
// running. The mutexes, event and hash table stay for a later start.
void wbin_stop();

bool wbin_connected();
long wbin_sent();
long wbin_recv();
long wbin_pushes();
long wbin_connect_failures();

// Sends a message without waiting. False when not connected or the send fails.
bool wbin_send_only(const WbinBuf& msg);

// One request and its reply. raw: the reply is a definition record; collect: the reply is the
// list of records up to DE; expected_hash: 0 = the first record of an unknown node. Blocks up to
// timeout_ms. True with the reply in out (at most out_size bytes, length in *out_len).
bool wbin_transact(const WbinBuf& msg, bool raw, uint32_t expected_hash, uint8_t* out,
                   int out_size, int* out_len, int timeout_ms, bool collect);

void wbin_on_push(WbinPushFn fn);
void wbin_on_unknown(WbinUnknownFn fn);
// Hands a record met inside a reply (hash + value token bytes) to the push path, on the
// caller's thread.
void wbin_deliver_record(uint32_t hash, const uint8_t* value, int len);

// The node-hash table (at most 4096 entries, never emptied while loaded; names compared
// ignoring case, cut to 7 characters).
void wbin_hash_learn(uint32_t hash, const char* group, int index, const char* leaf);
uint32_t wbin_known_hash(const char* group, int index, const char* leaf);
// True when the hash is known and belongs to another group or index; with a null group, true
// whenever the hash is known.
bool wbin_hash_is_elsewhere(uint32_t hash, const char* group, int index);
int wbin_hash_count();

// Preloads the firmware's node hashes from the adopted desk's discovery line, at most once per
// load. Returns false (and does nothing) while the line holds no ','; true once it has run.
bool wbin_preload(const char* identity_line);

// Test and fuzz entry: runs bytes as the desk sent them through the receive thread's own
// unescaping and record split, without a socket; the buffer and escape state carry over from one
// call to the next, as on a live link. When request is given, a request in that state is
// outstanding while the bytes are split; the result is the length of the reply it received, or
// -1 when the bytes did not complete it (also -1 without a request). Pushes are delivered on the
// caller's thread. Only while no link is started; not for concurrent use.
struct WbinTestRequest {
  bool raw;
  bool collect;
  uint32_t expected_hash;
};
int wbin_rx_feed_for_tests(const uint8_t* bytes, size_t n, const WbinTestRequest* request);

// The preload table: the real node hashes of firmware 3.1-0-g9f314617.
struct WingHashRow {
  const char* group;
  int index;
  const char* leaf;
  uint32_t hash;
};
extern const WingHashRow kWingHashes0[];
extern const int kWingHashes0Count;  // 1360

}  // namespace gm
