// desk_choose: the pure decisions of the discover thread: which console to adopt among those that
// answered, which identity to look for after a dropout, and what to make of the address typed in
// Setup. No I/O; any thread.
#pragma once

#include <string>

#include "desk_wing.h"

namespace gm {

// Index of the console to adopt, or -1; *why: 0 none answered, 1 the only one, 2 the one chosen in
// Setup, 3 the only one with a SoundGrid card, 4 several (or one without a card) - not connecting,
// 5 the one chosen in Setup is not on the network.
int desk_choose(const DeskFound* found, int n, const char* console_id, int* why);
// The reason text logged for a choice.
const char* desk_choose_reason(int why);

// Non-empty, not "name:...", not a dotted IPv4 address.
bool desk_id_stable(const char* id);

// The identity to look for after a dropout, or "" when looking elsewhere is not allowed.
std::string refind_identity(const char* console_id, const char* adopted_id);
bool refind_due(bool stop, unsigned long down_ms, const char* identity);
int refind_choose(const DeskFound* found, int n, const char* console_id, const char* identity);
// 1 same console, 0 another console, -1 cannot tell.
int same_console_at(const DeskFound* found, const char* identity);
// 0 use it, 1 another console, 2 nothing and console= set, 3 nothing yet, 4 connect unchecked.
int manual_ip_verdict(const DeskFound* found_at_ip, const char* console_id, int silent_sweeps);

}  // namespace gm
