// The ordering of Gainmesh versions, as the installer needs it: "major.minor.patch", where a "-"
// right after the patch marks a pre-release. Numbers compare in order; at equal numbers a
// pre-release is lower; text that does not parse counts as major -1, below every version that
// does. Text after the patch is never compared.
//
// Threads: any; pure.
#pragma once

#include <string>

namespace gm {

// True when version text `a` orders strictly above version text `b`.
bool newer_version(const std::string& a, const std::string& b);
// True when the text is a version (its major number is 0 or more).
bool version_parses(const std::string& text);

}  // namespace gm
