// Finding a WING and an X32 / M32 on the networks: the console a running module drives counts
// first; otherwise the WING is asked with "WING?" on UDP 2222 and the X32 / M32 with "/xinfo" on
// UDP 10023, through one broadcast socket and one socket tied to each broadcast-capable
// interface. What a console answers becomes one line of text: "WING,<ip>,<name>,<model>,
// <serial>,<firmware>" (the desk's own) or "X32,<ip>,<name>,<model>,<version>" (made here).
//
// Threads: any; nothing is shared between calls. Blocking: scan_consoles waits up to about 2 s
// when nothing answers (3 x 400 ms for the WING, 2 x 400 ms for the X32 / M32). Failures read as
// "not found"; nothing here logs or throws. In the build that carries the tests, with
// GAINMESH_TEST_NO_BROADCAST set and not empty nothing is sent: only a running module's console
// can be found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gm {

// One console found by a scan: its discovery reply line and the address in it.
struct Found {
  bool found = false;
  std::string reply;  // starts "WING," or "X32,"
  std::string ip;     // field(reply)
};

inline constexpr int kWingDiscoveryPort = 2222;
inline constexpr int kXinfoPort = 10023;
inline constexpr int kMaxBroadcasts = 16;  // addresses in the broadcast list, and interface sockets
inline constexpr size_t kMaxReply = 511;   // bytes of a reply that are read

// Fills both records (0 WING, 1 X32 / M32), and writes each found console's address as the
// `hint` of its settings file when Gainmesh is installed.
void scan_consoles(Found out[2]);

// The text between the first and the second "," of line, or from the first "," to the end when
// there is no second one; "" when line has no ",".
std::string field(const std::string& line);

// A WING's discovery reply: a datagram of 6 bytes or more holding "WING,". *line gets the text
// from "WING," on, up to the datagram's end or its first NUL, as one line of valid UTF-8: a CR,
// LF or other control character inside becomes a space, so the fields after it survive, and
// spaces at the end are dropped. False for anything else.
bool wing_reply_line(const uint8_t* p, size_t n, std::string* line);

// An X32 / M32 "/xinfo" reply: at least 16 bytes, addressed "/xinfo", then four OSC strings from
// byte 16 (address, name, model, version). *line gets "X32,<address>,<name>,<model>,<version>"
// as one line of valid UTF-8, as above; a missing string is empty. False for anything else.
bool xinfo_reply_line(const uint8_t* p, size_t n, std::string* line);

// Writes found->ip as the `hint` of console `which`'s settings file when `installed` and the
// address is dotted IPv4; true when it was written.
bool store_hint(int which, const Found& found, bool installed);

// The open sockets of one scan: a broadcast socket, the addresses it sends to (255.255.255.255,
// then each up, broadcast-capable, non-loopback interface's directed broadcast), and one socket
// tied to each such interface. Owned by the caller; close_scan_sockets releases them.
struct ScanSockets {
  int broadcast = -1;
  std::vector<std::string> addresses;
  std::vector<int> per_interface;
};

// Opens the broadcast socket and builds the address list; false (nothing open) when no socket
// could be made.
bool open_scan_sockets(ScanSockets* s);
// Opens one socket per broadcast-capable interface (at most 16); interfaces that refuse to be
// bound are skipped.
void open_interface_sockets(ScanSockets* s);
void close_interface_sockets(ScanSockets* s);
void close_scan_sockets(ScanSockets* s);

// Up to three attempts of "WING?" through every socket, each taking up to four 400 ms waits; true
// with *out filled once a WING answers.
bool ask_wing(const ScanSockets& s, Found* out);
// Up to two attempts of the "/xinfo" query, one 400 ms wait and one datagram each.
bool ask_x32(const ScanSockets& s, Found* out);

}  // namespace gm
