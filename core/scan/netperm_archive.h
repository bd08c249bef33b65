// The system's network-extension preferences archive: the per-app Local Network switches that
// macOS keeps in a keyed-archiver property list, read without any platform interface for them.
//
// Threads: the functions here keep no state and may be called from any thread at once. They
// never throw, never log and never block beyond their own computation.
#pragma once

#include <map>
#include <string>

namespace gm {

// What the archive says about one signing identifier.
enum LnSwitch : int {
  kSwitchOn = 1,
  kSwitchOff = 0,
  kSwitchUnlisted = -1,    // the archive was understood but has no entry for the identifier
  kSwitchUnreadable = -2,  // the archive is missing or not one this code understands
};

// Parses the archive's bytes (XML or binary property list) into signing identifier -> switch
// (kSwitchOn / kSwitchOff). Entries tied to a path, entries without a multicast preference and
// entries whose fields have the wrong types are left out; of two entries for one identifier the
// first in the archive counts. False (out cleared) when the bytes are not a dictionary holding an
// "$objects" array.
bool parse_switches(const std::string& bytes, std::map<std::string, int>* out);

// The switch of `id` in an archive given as bytes: kSwitchOn, kSwitchOff, kSwitchUnlisted, or
// kSwitchUnreadable when parse_switches refuses the bytes.
int ln_switch_parse(const std::string& bytes, const std::string& id);

}  // namespace gm
