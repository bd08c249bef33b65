// wing_native: input metering from the desk. A thread of its own opens a second TCP connection
// to the desk's native port, asks for input meter frames to be sent to a local UDP port, renews
// the request every 3 s, re-primes after 6 s of silence and decodes 896-byte frames into
// per-input levels, held peaks and clip times.
//
// Threads: wnat_start / wnat_stop from the bridge; the readers from any thread (the arrays are
// read without a lock; only the flags and the frame counter are atomic).
#pragma once

#include <cstdint>

namespace gm {

inline constexpr int kWnatSources = 12;
inline constexpr int kWnatFrameBytes = 896;
// DF D3 and the meter request with every data byte escaped: at most 2 + 2 * 23 bytes.
inline constexpr int kWnatRequestMaxBytes = 48;

// False for an empty address; true at once when already running.
bool wnat_start(const char* ip);
// Waits up to 2000 ms for the thread; one that does not end is counted as left running.
void wnat_stop();

bool wnat_metering();
uint64_t wnat_frames();
// The number of meter words of a group in a frame; 0 for an unknown group.
int wnat_group_inputs(const char* group);
// False unless metering, the group is known and 1 <= input <= min(64, its words).
bool wnat_input_level(const char* group, int input, double* db);
bool wnat_input_peak(const char* group, int input, double* db);
bool wnat_input_clipped(const char* group, int input);

// One received datagram, handled as the metering thread handles it (exposed for tests and the
// fuzzer): a desk reply beginning "WING" and anything under 4 bytes are ignored; a wrong size
// clears the metering flag and is logged for the first three; a frame of this report id is
// decoded at now_ms (32-bit monotonic ms) and turns metering on. Returns true when decoded.
// Called from one thread at a time.
bool wnat_decode_datagram(const uint8_t* data, int len, uint32_t now_ms);
// Resets every level, peak and time, clears the metering flag and the count of size complaints,
// and sets the report id (tests; wnat_start does the same).
void wnat_reset_for(uint8_t report_id);
// The bytes sent on a fresh TCP connection to ask for meter frames at udp_port: the channel
// select DF D3, then the escaped meter request. Returns the length, or 0 when cap is too small.
int wnat_meter_request(uint16_t udp_port, uint8_t report_id, uint8_t* out, int cap);

}  // namespace gm
