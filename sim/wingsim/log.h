// Logging of the virtual desk: one line per event on stderr, silenced by --quiet.
#pragma once

namespace wingsim {

void log_set_quiet(bool quiet);
// printf-style; a newline is added. Call only from the desk's event-loop thread.
void logf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace wingsim
