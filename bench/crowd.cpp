// Extra idle processes for the crowded half of a benchmark.
#include "crowd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "drive/child.h"

namespace gmbench {

Crowd::Crowd(int n) {
  rig::ChildSpec spec;
  spec.argv = {"/bin/sleep", "86400"};
  spec.stdout_path = spec.stderr_path = "/dev/null";
  try {
    for (int i = 0; i < n; ++i) pids_.push_back(rig::spawn_child(spec));
  } catch (...) {
    for (pid_t& pid : pids_) rig::kill_child(pid);
    throw;
  }
}

Crowd::~Crowd() {
  for (pid_t& pid : pids_) rig::kill_child(pid);
}

int crowd_argument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--crowd") != 0) continue;
    char* end = nullptr;
    const long n = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
    return (end && *end == '\0' && n >= 1 && n <= 5000) ? static_cast<int>(n) : -1;
  }
  return 0;
}

std::string ratio_text(double quiet, double crowded) {
  if (quiet <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", crowded / quiet);
  return text;
}

}  // namespace gmbench
