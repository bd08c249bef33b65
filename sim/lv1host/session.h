// The stored preamp values of an LV1 session, as the "session" command takes them: inline as
// "<ch>:<dB>[:on|off]" tokens, or from a file with one "<ch> <dB> [on|off]" line per channel
// ('#' starts a comment). Channels are 0..63; a channel not listed stored no value.
#pragma once

#include <string>
#include <vector>

#include "lv1.h"

namespace lv1host {

// False with a sentence in err for a malformed value, a channel out of range, a gain that is
// not a finite number, a channel given twice, or no channel at all.
bool parse_session_tokens(const std::vector<std::string>& tokens, Session& out, std::string& err);
bool read_session_file(const std::string& path, Session& out, std::string& err);

// A finite decimal number of dB; false for anything else.
bool parse_db(const std::string& text, double& out);

}  // namespace lv1host
