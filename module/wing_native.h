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

// Frame decoding, exposed for tests and the fuzzer: decodes one datagram received at now_ms
// (monotonic). Returns true when it was a frame of this report id and was decoded.
bool wnat_decode_datagram(const uint8_t* data, int len, uint32_t now_ms);
// Resets levels and peaks and sets the report id (tests; wnat_start does the same).
void wnat_reset_for(uint8_t report_id);

}  // namespace gm
