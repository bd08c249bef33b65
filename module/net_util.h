// net_util: the module's UDP helpers for finding desks, and the detector that notices when
// macOS blocks LV1 from the local network.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace gm {

// Notes the result of a discovery send (the bytes sent, or -1 with errno set). A success clears
// the blocked flag. Any thread.
void net_note_unicast(ssize_t send_result);
// True while sends to the local network are being refused by the system.
bool net_blocked();

// Sends one UDP datagram to ip:port from a fresh socket and notes the result. False when the
// address is not dotted IPv4 or the send failed. Never blocks beyond the send.
bool net_probe(const char* ip, int port, const void* bytes, size_t length);

}  // namespace gm
