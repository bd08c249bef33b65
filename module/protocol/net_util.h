// net_util: the module's UDP helpers for finding desks, and the detector that notices when
// macOS blocks LV1 from the local network.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace gm {

// Notes the result of a discovery send (the bytes sent, or -1 with errno set). A success clears
// the blocked flag. Any thread.
void net_note_unicast(ssize_t send_result);
// True while sends to the local network are being refused by the system.
bool net_blocked();

// False when the environment variable GAINMESH_TEST_NO_BROADCAST is set and not empty: then
// broadcast sweeps and the local-network probe send nothing. The test harness sets it for every
// process it starts outside a network namespace of its own, so that a module under test can never
// reach a real network. Only the build that carries the tests reads it; elsewhere this is true.
bool net_broadcast_allowed();

// What the blocked detector needs from the system. Tests install their own so that the verdict
// logic runs without sending anything.
struct NetIfAddr {
  uint32_t addr;   // host byte order
  uint8_t prefix;  // bits set in the netmask
  uint32_t flags;  // IFF_* flags of the interface
};
struct NetDetectorIo {
  int (*list)(NetIfAddr* out, int max);  // IPv4 interface addresses; returns the count
  int (*send_probe)(uint32_t addr);      // one zero byte to UDP port 9: 0, or the errno
  uint64_t (*now_ms)();                  // monotonic milliseconds
};
// Installs io (null: the system's; it must outlive its use), forgets the last test and its
// verdict and clears the flag. Only while no other thread notes a send.
void net_detector_set_io(const NetDetectorIo* io);

// Sends one UDP datagram to ip:port from a fresh socket and notes the result. False when the
// address is not dotted IPv4 or the send failed. Never blocks beyond the send.
bool net_probe(const char* ip, int port, const void* bytes, size_t length);

// The desk addresses the settings name: the stored hint and the forced address (ip=); null counts
// as empty. The settings hand over every change of either, so that discovery reads them from
// here. Any thread.
void net_set_named_addresses(const char* hint, const char* forced);

// The addresses a discovery sweep asks, as dotted text (16 bytes each): 255.255.255.255, the
// hint, the forced address (ip=) when it differs (both as last named), then the directed
// broadcast of every IPv4 address (prefix 1..30) of every adapter that is up. Returns the count
// (at most max).
int gather_broadcasts(char (*addrs)[16], int max);

// One UDP socket with broadcast allowed per IPv4 interface that is up, running,
// broadcast-capable and not loopback, bound to that interface (SO_BINDTODEVICE) and to any
// address. addrs (may be null) receives each interface's address. Returns the count.
int net_adapter_sockets(int* fds, char (*addrs)[16], int max);

// Waits until one of the sockets is readable; its index, or -1 on time-out or error.
int net_wait_any(const int* fds, int n, int timeout_ms);

// True when addr is the hint or the forced address the settings last named.
bool net_is_hint(const char* addr);

// Sends msg to ip:port and receives one datagram into buf (at most size - 1 bytes, always
// NUL-terminated). Returns the length received, 0 on any failure. Blocks up to timeout_ms.
int udp_ask(const char* ip, int port, const void* msg, size_t length, char* buf, size_t size,
            int timeout_ms);

// An OSC message without arguments for path; returns its length, 0 when it does not fit.
size_t osc_query_msg(char* buf, size_t size, const char* path);

// The first argument of an OSC message: 's' (string copied into str_buf, cut to str_size - 1),
// 'i' or 'f' (the 4 bytes as a big-endian word in *word), or 0.
char osc_first_arg(const char* msg, size_t length, char* str_buf, size_t str_size,
                   uint32_t* word);

}  // namespace gm
