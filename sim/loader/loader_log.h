// The loader's log: the file gainmesh.log in the log folder, one line per call,
// "YYYY-MM-DD HH:MM:SS.mmm  [tag] text" in local time. The loader's own lines carry the tag
// "loader", a console module's lines its key ("wing", "x32"). Past 1 MiB the file becomes
// gainmesh.1.log (one older generation kept). With GAINMESH_LOG_STDERR set, lines go to standard
// error instead.
#pragma once

#include <string>

namespace gm_loader {

// The log file's path for the current home.
std::string log_path();

// Appends one line. Thread-safe; never throws; a line that cannot be written is dropped.
void log_line(const char* tag, const std::string& text);

// printf-style convenience for the loader's own lines.
void loader_logf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace gm_loader
