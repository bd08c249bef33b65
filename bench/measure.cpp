// Clocks, percentiles, VmRSS and CPU time for the rig benchmark.
#include "measure.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace gmbench {

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
  const size_t i = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
  return samples[std::min(i, samples.size() - 1)];
}

long rss_kib(pid_t pid) {
  char path[64];
  if (pid == 0)
    std::snprintf(path, sizeof path, "/proc/self/status");
  else
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  FILE* f = std::fopen(path, "r");
  if (!f) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmRSS:", 6) == 0) {
      kib = std::strtol(line + 6, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kib;
}

namespace {
int64_t clock_ns(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0) return -1;
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
}  // namespace

int64_t process_cpu_ns() {
  return clock_ns(CLOCK_PROCESS_CPUTIME_ID);
}
int64_t thread_cpu_ns(clockid_t clock) {
  return clock_ns(clock);
}

clockid_t this_thread_cpu_clock() {
  clockid_t c = CLOCK_THREAD_CPUTIME_ID;
  pthread_getcpuclockid(pthread_self(), &c);
  return c;
}

}  // namespace gmbench
