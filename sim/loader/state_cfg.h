// The install state file state.cfg as the loader reads it: which console types run, and which
// are handed off because this LV1 uses them as a guest.
//
// Syntax: lines "key=value"; the key is matched ignoring letter case and must be followed by "="
// at once (no spaces are trimmed); the value ends at ";", CR or LF; the last matching line wins.
#pragma once

#include <string>
#include <string_view>

namespace gm_loader {

struct ConsoleState {
  bool enabled = true;  // key absent, or a value not starting with "off" in any case
  bool guest = false;   // "<key>.guest" is exactly "1"

  bool wanted() const { return enabled && !guest; }
};

// The state of console type `key` ("wing", "x32") in the text of a state.cfg.
ConsoleState parse_console_state(std::string_view text, std::string_view key);

// Reads the file (at most 1 MiB); a missing or unreadable file leaves every type on and no
// guest.
ConsoleState read_console_state(const std::string& path, std::string_view key);

}  // namespace gm_loader
