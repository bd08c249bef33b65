// bridge_threads: the two module threads of the bridge and what they share with its lifecycle.
#pragma once

#include <cstdint>

#include "bridge.h"
#include "desk_wing.h"
#include "gm_win32.h"

namespace gm {

inline constexpr uint32_t kLinkUpMs = 6000;       // a desk that answered within this is up
inline constexpr uint32_t kRefindAfterMs = 20000;  // link down this long: look elsewhere

// The discover thread: finds and adopts the desk, then looks for it again while the link stays
// down. Ends on shutdown.
DWORD discover_main(void*);
// The watch thread: waits for a desk, then runs the 20 ms cycle until shutdown.
DWORD watch_main(void*);
// Starts the watch thread unless it runs.
void start_watcher_once();

bool valid_ipv4(const char* ip);
// A copy of the adopted desk's record.
DeskFound bridge_adopted();
void bridge_set_ip_answer(const IpAnswer& answer);

}  // namespace gm
