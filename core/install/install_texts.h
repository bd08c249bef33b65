// The texts the installer writes into Gainmesh.bundle, byte for byte: the property list, the
// first state.cfg, the default console settings, the merged device list and the rewritten
// assignment priority.
//
// Threads: any; pure functions of their arguments.
#pragma once

#include <string>

namespace gm {

// Contents/Info.plist: an XML property list that names the loader and this app's version, each
// key and its value on one line so that the version can be found by plain text search.
std::string bundle_info_plist();

// state.cfg of a first install: `only` 0 switches only WING on, 1 only X32 / M32, -1 both.
std::string first_state_text(int only);

// wing.cfg and x32.cfg when the bundle has none yet.
std::string default_settings_text();

// `ours` with every line of `theirs` added that it does not hold yet: lines taken without
// trailing spaces and carriage returns, empty ones skipped, each ending in a line feed. Lines of
// `ours` are compared without their trailing carriage returns.
std::string merge_device_list(const std::string& ours, const std::string& theirs);

// Every line that begins with "assignment_priority:" and whose value holds a "." gets the whole
// number before that "." replaced by 600 ("assignment_priority: 100.0" becomes
// "assignment_priority: 600.0"); all other bytes stay.
std::string rewrite_assignment_priority(const std::string& yaml);

}  // namespace gm
