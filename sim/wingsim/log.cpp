// Logging to stderr.
#include "log.h"

#include <cstdarg>
#include <cstdio>

namespace wingsim {
namespace {
bool g_quiet = false;
}

void log_set_quiet(bool quiet) {
  g_quiet = quiet;
}

void logf(const char* fmt, ...) {
  if (g_quiet) return;
  char line[512];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(line, sizeof line, fmt, ap);
  va_end(ap);
  fprintf(stderr, "wingsim: %s\n", line);
}

}  // namespace wingsim
